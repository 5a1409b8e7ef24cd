// The automatic daily/weekly rule and the date texts it understands.

#include "strategy/radar/frequency.hpp"

#include <gtest/gtest.h>

#include <chrono>

#include "zorvane/utils/dates.hpp"

namespace {

using radar::get_default_frequency;
using radar::parse_general_date;
using namespace std::chrono;

std::string today_rule() {
  return zorvane::utils::weekday_index(zorvane::utils::today_local()) >= 4 ? "weekly" : "daily";
}

TEST(DefaultFrequency, FridayAndWeekendAreWeekly) {
  EXPECT_EQ(get_default_frequency("2024-01-01"), "daily");   // Monday
  EXPECT_EQ(get_default_frequency("2024-01-04"), "daily");   // Thursday
  EXPECT_EQ(get_default_frequency("2024-01-05"), "weekly");  // Friday
  EXPECT_EQ(get_default_frequency("2024-01-06"), "weekly");  // Saturday
  EXPECT_EQ(get_default_frequency("2024-01-07"), "weekly");  // Sunday
  EXPECT_EQ(get_default_frequency(sys_days(2024y / January / 5)), "weekly");
  EXPECT_EQ(get_default_frequency(sys_days(2024y / January / 4)), "daily");
  // A date-time value counts by its calendar day (noon keeps the day in any zone within 12 h).
  EXPECT_EQ(get_default_frequency(system_clock::time_point(sys_days(2024y / January / 5)) + 12h),
            "weekly");
  EXPECT_EQ(get_default_frequency(system_clock::time_point(sys_days(2024y / January / 4)) + 12h),
            "daily");
  // Other values are read as their text.
  EXPECT_EQ(get_default_frequency(20240105), "weekly");
  EXPECT_EQ(get_default_frequency(20240104L), "daily");
}

TEST(DefaultFrequency, NoUsableDateMeansToday) {
  const std::string expected = today_rule();
  EXPECT_EQ(get_default_frequency(), expected);
  EXPECT_EQ(get_default_frequency(std::nullopt), expected);
  EXPECT_EQ(get_default_frequency(std::optional<std::string>()), expected);
  EXPECT_EQ(get_default_frequency(static_cast<const char*>(nullptr)), expected);
  for (const char* text : {"", "not a date", "2024-02-30", "2024-13-01", "2024-01-05x", "1/5/2024",
                           "2024-01-05 noon"}) {
    EXPECT_EQ(get_default_frequency(text), expected) << text;
  }
}

TEST(GeneralDateParser, AcceptedForms) {
  const auto friday = sys_days(2024y / January / 5);
  for (const char* text :
       {"2024-01-05", "2024/01/05", "2024.1.5", "20240105", " 2024-01-05 ", "2024-01-05 14:30:00",
        "2024-01-05T14:30", "2024-01-05_1430", "2024-01-05 09:30:00.250"}) {
    EXPECT_EQ(parse_general_date(text), friday) << text;
  }
  EXPECT_EQ(parse_general_date("2024-02-29"), sys_days(2024y / February / 29));
  for (const char* text : {"2023-02-29", "2024-1", "24-01-05", "2024-01-05T", "2024-01-05 x",
                           "2024-001-05", "abcdefgh"}) {
    EXPECT_FALSE(parse_general_date(text)) << text;
  }
}

}  // namespace
