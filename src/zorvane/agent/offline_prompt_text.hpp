#pragma once
// Internal to the offline writers: reading the tagged blocks and labelled lines of a prompt.
// Not part of the library's contract.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvane::agent::offline {

// The text between the first "<tag>" and the "</tag>" after it, as it stands; nullopt when
// either is missing.
std::optional<std::string_view> tag_block(std::string_view text, std::string_view tag);
// As tag_block, trimmed.
std::optional<std::string_view> tagged(std::string_view text, std::string_view tag);

// The lines of `text` without their '\n' (a text ending in '\n' ends with an empty line).
std::vector<std::string_view> lines_of(std::string_view text);

// The rest, trimmed, of the first line that starts with `label` once trimmed; "" when no
// line does.
std::string line_value(std::string_view text, std::string_view label);

}  // namespace zorvane::agent::offline
