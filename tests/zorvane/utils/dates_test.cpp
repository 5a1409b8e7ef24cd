#include "zorvane/utils/dates.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "support/env_guard.hpp"

namespace zu = zorvane::utils;
using zu::Day;
using namespace std::chrono;

namespace {

TEST(ParseIsoDate, AcceptsRealCalendarDates) {
  EXPECT_EQ(zu::parse_iso_date("2024-02-29"), sys_days(2024y / February / 29));
  EXPECT_EQ(zu::parse_iso_date("1999-12-31"), sys_days(1999y / December / 31));
  EXPECT_EQ(zu::parse_iso_date("1970-01-01"), sys_days{});
}

TEST(ParseIsoDate, RejectsAnythingElseNamingTheText) {
  for (const char* bad : {"2024-02-30", "2023-02-29", "2024-13-01", "2024-00-10", "2024-01-00",
                          "2024/01/01", "20240101", "", "2024-1-01", "2024-01-1", " 2024-01-01",
                          "2024-01-01 ", "2024-01-01_0930", "abcd-ef-gh", "+202-01-01"}) {
    try {
      zu::parse_iso_date(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("'" + std::string(bad) + "'"), std::string::npos)
          << e.what();
    }
  }
}

TEST(TryParseDate, DashedOrCompactForms) {
  EXPECT_EQ(zu::try_parse_date("2024-01-05"), sys_days(2024y / January / 5));
  EXPECT_EQ(zu::try_parse_date("20240105"), sys_days(2024y / January / 5));
  for (const char* bad :
       {"2024/01/05", "20241305", "20240230", "2024-1-5", "2024-1-05", "", "202401050", "2024010a"})
    EXPECT_EQ(zu::try_parse_date(bad), std::nullopt) << bad;
}

TEST(IsoDate, FormatsAndRoundTrips) {
  EXPECT_EQ(zu::iso_date(sys_days(2024y / March / 7)), "2024-03-07");
  EXPECT_EQ(zu::iso_date(sys_days(999y / January / 1)), "0999-01-01");
  for (int offset : {-40000, -1, 0, 1, 19000, 30000}) {
    sys_days day{days{offset}};
    EXPECT_EQ(zu::parse_iso_date(zu::iso_date(day)), day) << offset;
  }
}

TEST(WeekdayIndex, MondayIsZero) {
  EXPECT_EQ(zu::weekday_index(sys_days(2024y / January / 1)), 0);  // Monday
  EXPECT_EQ(zu::weekday_index(sys_days(2024y / January / 5)), 4);  // Friday
  EXPECT_EQ(zu::weekday_index(sys_days(2024y / January / 7)), 6);  // Sunday
  EXPECT_EQ(zu::weekday_index(sys_days{}), 3);                     // 1970-01-01, Thursday
}

TEST(TodayLocal, WithinADayOfUtc) {
  auto utc_today = floor<days>(system_clock::now());
  auto local = zu::today_local();
  EXPECT_LE(abs((local - utc_today).count()), 1);
}

TEST(TodayLocal, FollowsTheTzVariable) {
  // UTC+14 and UTC-12 are 26 hours apart: their dates always differ, by one or two days.
  Day east, west;
  {
    zv_test::EnvGuard tz("TZ", "Pacific/Kiritimati");
    east = zu::today_local();
  }
  {
    zv_test::EnvGuard tz("TZ", "Etc/GMT+12");
    west = zu::today_local();
  }
  const auto apart = (east - west).count();
  EXPECT_TRUE(apart == 1 || apart == 2) << apart;
  zv_test::EnvGuard utc("TZ", "UTC");
  EXPECT_EQ(zu::today_local(), floor<days>(system_clock::now()));
}

}  // namespace
