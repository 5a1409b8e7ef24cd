#include "zorvane/agent/offline_writers.hpp"

namespace zorvane::agent {

// No analysis or summary writer yet: the offline client reports that it cannot answer them.
std::optional<std::string> offline_analysis_reply(std::string_view /*system*/,
                                                  std::string_view /*user*/) {
  return std::nullopt;
}

std::optional<std::string> offline_summary_reply(std::string_view /*system*/,
                                                 std::string_view /*user*/) {
  return std::nullopt;
}

}  // namespace zorvane::agent
