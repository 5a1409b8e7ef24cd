#include "zorvane/agent/offline_writers.hpp"

namespace zorvane::agent {

// No brief writer yet: the offline client reports that it cannot answer brief prompts.
std::optional<std::string> offline_brief_reply(std::string_view /*system*/,
                                               std::string_view /*user*/) {
  return std::nullopt;
}

}  // namespace zorvane::agent
