#pragma once
// Removal of reasoning blocks from a model reply.

#include <string>
#include <string_view>

namespace zorvane::agent {

// `content` with every "<think>...</think>" span removed (shortest spans, across lines) and
// surrounding white space trimmed. An unclosed "<think>" stays.
std::string strip_reasoning(std::string_view content);

}  // namespace zorvane::agent
