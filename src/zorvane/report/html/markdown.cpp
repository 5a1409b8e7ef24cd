#include "zorvane/report/html/markdown.hpp"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace zorvane::html {

namespace {

constexpr int kOptions = CMARK_OPT_DEFAULT | CMARK_OPT_VALIDATE_UTF8;

struct ParserFree {
  void operator()(cmark_parser* p) const { cmark_parser_free(p); }
};
struct NodeFree {
  void operator()(cmark_node* n) const { cmark_node_free(n); }
};

// The node that replaces raw HTML: inline HTML becomes text, a block a code block, so the
// renderer escapes it.
cmark_node* inert_copy(cmark_node* html) {
  const bool block = cmark_node_get_type(html) == CMARK_NODE_HTML_BLOCK;
  cmark_node* repl = cmark_node_new(block ? CMARK_NODE_CODE_BLOCK : CMARK_NODE_TEXT);
  const char* literal = cmark_node_get_literal(html);
  cmark_node_set_literal(repl, literal != nullptr ? literal : "");
  return repl;
}

// An image becomes a link to the same address with the same children (its alt text).
cmark_node* link_copy(cmark_node* image) {
  cmark_node* link = cmark_node_new(CMARK_NODE_LINK);
  const char* url = cmark_node_get_url(image);
  const char* title = cmark_node_get_title(image);
  cmark_node_set_url(link, url != nullptr ? url : "");
  cmark_node_set_title(link, title != nullptr ? title : "");
  while (cmark_node* child = cmark_node_first_child(image)) {
    cmark_node_unlink(child);
    cmark_node_append_child(link, child);
  }
  return link;
}

void neutralise(cmark_node* doc) {
  std::vector<cmark_node*> targets;
  cmark_iter* iter = cmark_iter_new(doc);
  while (cmark_iter_next(iter) != CMARK_EVENT_DONE) {
    if (cmark_iter_get_event_type(iter) != CMARK_EVENT_ENTER) continue;
    cmark_node* node = cmark_iter_get_node(iter);
    const auto type = cmark_node_get_type(node);
    if (type == CMARK_NODE_HTML_BLOCK || type == CMARK_NODE_HTML_INLINE ||
        type == CMARK_NODE_IMAGE) {
      targets.push_back(node);
    }
  }
  cmark_iter_free(iter);
  // Replaced after the walk; an image inside an image is moved with its parent's children,
  // so the outer one is replaced first and the inner one keeps its (new) place.
  for (cmark_node* node : targets) {
    cmark_node* repl =
        cmark_node_get_type(node) == CMARK_NODE_IMAGE ? link_copy(node) : inert_copy(node);
    cmark_node_replace(node, repl);
    cmark_node_free(node);
  }
}

}  // namespace

std::string markdown_to_html(std::string_view markdown) {
  static std::once_flag registered;
  std::call_once(registered, [] { cmark_gfm_core_extensions_ensure_registered(); });

  std::unique_ptr<cmark_parser, ParserFree> parser(cmark_parser_new(kOptions));
  for (const char* name : {"table", "strikethrough"}) {
    cmark_syntax_extension* ext = cmark_find_syntax_extension(name);
    if (ext == nullptr) throw std::runtime_error(std::string("cmark-gfm 缺少扩展: ") + name);
    cmark_parser_attach_syntax_extension(parser.get(), ext);
  }
  cmark_parser_feed(parser.get(), markdown.data(), markdown.size());
  std::unique_ptr<cmark_node, NodeFree> doc(cmark_parser_finish(parser.get()));
  neutralise(doc.get());
  char* html =
      cmark_render_html(doc.get(), kOptions, cmark_parser_get_syntax_extensions(parser.get()));
  std::string out(html != nullptr ? html : "");
  cmark_get_default_mem_allocator()->free(html);
  return out;
}

}  // namespace zorvane::html
