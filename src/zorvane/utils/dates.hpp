#pragma once
// Calendar dates as ISO texts.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zorvane::utils {

using Day = std::chrono::sys_days;

// Strict "YYYY-MM-DD" (a real calendar date). Throws std::invalid_argument naming the text.
Day parse_iso_date(std::string_view text);

// "YYYY-MM-DD" or "YYYYMMDD"; nullopt when the text is neither or not a real date.
std::optional<Day> try_parse_date(std::string_view text);

// "YYYY-MM-DD".
std::string iso_date(Day day);

// Today's date in the process's local time zone: TZ when set, else the system zone.
Day today_local();

// Monday = 0 ... Sunday = 6.
int weekday_index(Day day);

}  // namespace zorvane::utils
