#include "zorvane/agent/offline_prompt_text.hpp"

#include "zorvane/utils/text.hpp"

namespace zorvane::agent::offline {

std::optional<std::string_view> tag_block(std::string_view text, std::string_view tag) {
  const std::string open = "<" + std::string(tag) + ">";
  const std::string close = "</" + std::string(tag) + ">";
  auto b = text.find(open);
  if (b == std::string_view::npos) return std::nullopt;
  b += open.size();
  auto e = text.find(close, b);
  if (e == std::string_view::npos) return std::nullopt;
  return text.substr(b, e - b);
}

std::optional<std::string_view> tagged(std::string_view text, std::string_view tag) {
  auto block = tag_block(text, tag);
  if (!block) return std::nullopt;
  return utils::trim(*block);
}

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    auto nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      out.push_back(text.substr(pos));
      break;
    }
    out.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return out;
}

std::string line_value(std::string_view text, std::string_view label) {
  for (auto line : lines_of(text)) {
    auto t = utils::trim(line);
    if (t.starts_with(label)) return std::string(utils::trim(t.substr(label.size())));
  }
  return {};
}

}  // namespace zorvane::agent::offline
