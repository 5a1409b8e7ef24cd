#include "zorvane/agent/reasoning.hpp"

#include "zorvane/utils/text.hpp"

namespace zorvane::agent {

std::string strip_reasoning(std::string_view content) {
  static constexpr std::string_view kOpen = "<think>";
  static constexpr std::string_view kClose = "</think>";
  std::string out;
  std::size_t from = 0;
  for (;;) {
    auto open = content.find(kOpen, from);
    if (open == std::string_view::npos) break;
    auto close = content.find(kClose, open + kOpen.size());
    if (close == std::string_view::npos) break;
    out.append(content.substr(from, open - from));
    from = close + kClose.size();
  }
  out.append(content.substr(from));
  return std::string(utils::trim(out));
}

}  // namespace zorvane::agent
