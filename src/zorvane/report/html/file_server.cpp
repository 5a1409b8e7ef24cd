#include "zorvane/report/html/file_server.hpp"

#include <httplib.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <stdexcept>
#include <vector>

#include "zorvane/report/html/html_text.hpp"
#include "zorvane/report/html/page.hpp"
#include "zorvane/utils/logger.hpp"

namespace zorvane::html {

namespace fs = std::filesystem;

namespace {

const std::pair<std::string_view, std::string_view> kTypes[] = {
    {".html", "text/html; charset=utf-8"},
    {".md", "text/plain; charset=utf-8"},
    {".txt", "text/plain; charset=utf-8"},
    {".png", "image/png"},
    {".svg", "image/svg+xml"}};

std::optional<std::string_view> content_type(const fs::path& path) {
  const std::string ext = path.extension().string();
  for (const auto& [e, type] : kTypes) {
    if (ext == e) return type;
  }
  return std::nullopt;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decodes one path segment; nullopt for a malformed escape or a decoded '/', '\' or
// NUL, which could only serve to smuggle a separator past the segment checks.
std::optional<std::string> decode_segment(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '%') {
      if (i + 2 >= s.size()) return std::nullopt;
      const int hi = hex_value(s[i + 1]), lo = hex_value(s[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
      if (c == '/' || c == '\\' || c == '\0') return std::nullopt;
    } else if (c == '\\') {
      return std::nullopt;
    }
    out += c;
  }
  return out;
}

bool inside(const fs::path& root, const fs::path& p) {
  auto [r, q] = std::mismatch(root.begin(), root.end(), p.begin(), p.end());
  return r == root.end();
}

std::string listing(const fs::path& root, const fs::path& dir) {
  std::vector<std::pair<std::string, bool>> entries;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (name.starts_with('.')) continue;
    const bool is_dir = e.is_directory(ec);
    if (!is_dir && !content_type(e.path())) continue;
    entries.emplace_back(name, is_dir);
  }
  std::sort(entries.begin(), entries.end(), std::greater<>());
  const std::string rel =
      dir == root ? "/" : "/" + dir.lexically_relative(root).generic_string() + "/";
  std::string body = "<header><h1>" + escape(rel) + "</h1></header><ul class=\"reports\">";
  if (dir != root) body += "<li><a href=\"../\">..</a></li>";
  for (const auto& [name, is_dir] : entries) {
    const std::string href = url_path(name) + (is_dir ? "/" : "");
    body +=
        "<li><a href=\"" + escape(href) + "\">" + escape(name) + (is_dir ? "/" : "") + "</a></li>";
  }
  body += "</ul>";
  return page_html({{"title", rel}}, body);
}

}  // namespace

Resolved resolve_request(const fs::path& root, std::string_view target) {
  const auto cut = target.find_first_of("?#");
  std::string_view path = target.substr(0, cut);
  if (path.empty() || path.front() != '/') return {400, {}, false};

  fs::path rel;
  std::size_t start = 1;
  while (start <= path.size()) {
    const auto slash = path.find('/', start);
    const std::string_view raw = path.substr(
        start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    start = slash == std::string_view::npos ? path.size() + 1 : slash + 1;
    auto segment = decode_segment(raw);
    if (!segment) return {400, {}, false};
    if (segment->empty()) continue;
    if (*segment == ".." || *segment == ".") return {403, {}, false};
    if (segment->starts_with('.')) return {404, {}, false};  // lock files and the like
    rel /= *segment;
  }

  std::error_code ec;
  const fs::path full = fs::canonical(root / rel, ec);
  if (ec) return {404, {}, false};
  if (!inside(root, full)) return {403, {}, false};  // a symbolic link leading out
  if (fs::is_directory(full, ec)) return {200, full, true};
  if (!fs::is_regular_file(full, ec) || !content_type(full)) return {404, {}, false};
  return {200, full, false};
}

struct FileServer::Impl {
  httplib::Server server;
};

FileServer::FileServer(const fs::path& root) : impl_(std::make_unique<Impl>()) {
  std::error_code ec;
  root_ = fs::canonical(root, ec);
  if (ec || !fs::is_directory(root_)) {
    throw std::runtime_error("报告目录不存在或不是目录: " + root.string());
  }
  auto& svr = impl_->server;
  svr.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                           {"Cache-Control", "no-cache"},
                           {"Referrer-Policy", "no-referrer"}});
  svr.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
    Resolved r = resolve_request(root_, req.target);
    if (r.status == 200 && r.directory) {
      if (!req.target.substr(0, req.target.find('?')).ends_with("/")) {
        // Relative links inside need the trailing slash.
        res.set_redirect(std::string(req.target.substr(0, req.target.find('?'))) + "/");
        return;
      }
      const fs::path index = r.path / "index.html";
      std::error_code ec;
      if (fs::is_regular_file(index, ec)) {
        r.path = index;
        r.directory = false;
      } else {
        res.set_content(listing(root_, r.path), "text/html; charset=utf-8");
        return;
      }
    }
    if (r.status != 200) {
      res.status = r.status;
      res.set_content(r.status == 400   ? "bad request\n"
                      : r.status == 403 ? "forbidden\n"
                                        : "not found\n",
                      "text/plain; charset=utf-8");
      return;
    }
    std::ifstream in(r.path, std::ios::binary);
    std::string body((std::istreambuf_iterator<char>(in)), {});
    if (!in.good() && !in.eof()) {
      res.status = 500;
      return;
    }
    res.set_content(std::move(body), std::string(*content_type(r.path)));
  });
  auto refuse = [](const httplib::Request&, httplib::Response& res) {
    res.status = 405;
    res.set_header("Allow", "GET, HEAD");
    res.set_content("method not allowed\n", "text/plain; charset=utf-8");
  };
  svr.Post(".*", refuse);
  svr.Put(".*", refuse);
  svr.Delete(".*", refuse);
  svr.Patch(".*", refuse);
  svr.Options(".*", refuse);
}

FileServer::~FileServer() = default;

int FileServer::bind(const std::string& host, int port) {
  auto& svr = impl_->server;
  if (port == 0) {
    const int bound = svr.bind_to_any_port(host);
    if (bound <= 0) throw std::runtime_error("无法监听地址: " + host + ":0");
    return bound;
  }
  if (!svr.bind_to_port(host, port)) {
    throw std::runtime_error("无法监听地址: " + host + ":" + std::to_string(port));
  }
  return port;
}

void FileServer::listen() {
  impl_->server.listen_after_bind();
}

void FileServer::stop() {
  impl_->server.stop();
}

}  // namespace zorvane::html
