#pragma once
// The radar's bar frequency when none is configured.
//
// 根据日期确定默认频率：周五及周末（weekday >= 4）默认切换为 'weekly'，其余工作日为 'daily'。
//
//   get_default_frequency("2024-01-05")  -> "weekly"   (Friday)
//   get_default_frequency("2024-01-06")  -> "weekly"   (Saturday)
//   get_default_frequency("2024-01-04")  -> "daily"    (Thursday)
//   get_default_frequency("not a date")  -> by today's local weekday, no error
//
// The clock is read only when there is no usable date.

#include <chrono>
#include <concepts>
#include <optional>
#include <string>
#include <string_view>

namespace radar {

inline constexpr const char* kDaily = "daily";
inline constexpr const char* kWeekly = "weekly";

// The general date parser: "YYYY-MM-DD", "YYYY/MM/DD", "YYYY.MM.DD" (one- or two-digit month
// and day) or "YYYYMMDD", optionally followed by a time of day after a blank, "T" or "_"
// ("2024-01-05 14:30:00", "2024-01-05T14:30", "2024-01-05_1430"); surrounding blanks are
// ignored. nullopt for anything else, or for a date that does not exist.
std::optional<std::chrono::sys_days> parse_general_date(std::string_view text);

// Today's local date.
std::string get_default_frequency();
std::string get_default_frequency(std::nullopt_t);
// A date, or a date-time value (its local calendar day).
std::string get_default_frequency(std::chrono::sys_days date_val);
std::string get_default_frequency(std::chrono::system_clock::time_point date_val);
// Text, parsed by parse_general_date; today when it cannot be parsed.
std::string get_default_frequency(std::string_view date_val);
std::string get_default_frequency(const std::string& date_val);
std::string get_default_frequency(const char* date_val);
std::string get_default_frequency(const std::optional<std::string>& date_val);
// Other values are converted to text first (20240105 reads as the date 2024-01-05).
template <std::integral T>
requires(!std::same_as<T, bool>) std::string get_default_frequency(T date_val) {
  return get_default_frequency(std::string_view(std::to_string(date_val)));
}

}  // namespace radar
