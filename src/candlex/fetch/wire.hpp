#pragma once
// Small text helpers shared by the source parsers.

#include <optional>
#include <string>
#include <string_view>

#include "candlex/bar_table.hpp"

namespace candlex::fetch {

// A finite decimal number ("1304.000", "-2.00", "1e3"); nullopt for "-", "" or other text.
std::optional<double> parse_number(std::string_view text);

// "YYYY-MM-DD" at the start of `text` (a time may follow); nullopt otherwise.
std::optional<Day> parse_bar_date(std::string_view text);

// "YYYYMMDD" of a day.
std::string compact_date(Day day);

// The JSON object inside a body that may be wrapped as "NAME={...}" or "cb({...});".
std::string_view unwrap_json(std::string_view body);

}  // namespace candlex::fetch
