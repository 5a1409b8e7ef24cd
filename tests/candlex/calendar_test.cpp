// Trading calendars and end-date normalisation with a pinned clock.

#include "candlex/calendar.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "candlex/data_center.hpp"
#include "candlex/market_data.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

using candlex::normalize_market_end_date;
using std::chrono::system_clock;
using zorvane::utils::parse_iso_date;

// A UTC instant "YYYY-MM-DD HH:MM".
system_clock::time_point utc(const std::string& day, int hour, int minute = 0) {
  return parse_iso_date(day) + std::chrono::hours{hour} + std::chrono::minutes{minute};
}

class RuleCalendar : public testing::Test {
 protected:
  zv_test::EnvGuard env{"CANDLEX_CENTER", nullptr};
};

TEST_F(RuleCalendar, NyseHolidaysByRule) {
  // Observed NYSE holidays of 2021-2026, including weekend observance, Good Friday and
  // Juneteenth's first year; each is checked against the dates around it below.
  const char* holidays[] = {
      "2021-01-01", "2021-01-18", "2021-02-15", "2021-04-02", "2021-05-31", "2021-07-05",
      "2021-09-06", "2021-11-25", "2021-12-24", "2022-01-17", "2022-06-20", "2022-12-26",
      "2023-01-02", "2023-04-07", "2023-06-19", "2024-01-01", "2024-01-15", "2024-02-19",
      "2024-03-29", "2024-05-27", "2024-06-19", "2024-07-04", "2024-09-02", "2024-11-28",
      "2024-12-25", "2025-04-18", "2026-07-03",
  };
  for (const char* d : holidays) EXPECT_TRUE(candlex::is_nyse_holiday(parse_iso_date(d))) << d;
  // Not holidays: a Saturday New Year is not made up on the Friday before; Juneteenth only
  // from 2022; the days next to holidays.
  const char* open_days[] = {"2021-12-31", "2021-06-18", "2024-03-28", "2024-07-05",
                             "2024-11-29", "2024-12-24", "2024-12-26", "2025-04-21"};
  for (const char* d : open_days) {
    EXPECT_FALSE(candlex::is_nyse_holiday(parse_iso_date(d))) << d;
    EXPECT_TRUE(candlex::is_rule_trading_day("US", parse_iso_date(d))) << d;
  }
  // 2024 has 252 NYSE sessions.
  EXPECT_EQ(
      candlex::rule_trading_days("us", parse_iso_date("2024-01-01"), parse_iso_date("2024-12-31"))
          .size(),
      252u);
}

TEST_F(RuleCalendar, MainlandAndHongKongFixedHolidays) {
  for (const char* d : {"2024-01-01", "2024-05-01", "2024-10-01", "2024-10-07", "2024-10-05"})
    EXPECT_FALSE(candlex::is_rule_trading_day("A", parse_iso_date(d))) << d;
  EXPECT_TRUE(candlex::is_rule_trading_day("ETF", parse_iso_date("2024-10-08")));
  EXPECT_FALSE(candlex::is_rule_trading_day("HK", parse_iso_date("2024-07-01")));
  EXPECT_FALSE(candlex::is_rule_trading_day("HK", parse_iso_date("2024-12-26")));
  EXPECT_TRUE(candlex::is_rule_trading_day("HK", parse_iso_date("2024-10-02")));
}

TEST_F(RuleCalendar, EndDateStepsBackOverWeekendsHolidaysAndOpenSessions) {
  struct Case {
    const char* date;
    const char* market;
    system_clock::time_point now;
    const char* expected;
  };
  const auto later = utc("2030-01-01", 0);
  const Case cases[] = {
      {"2024-06-29", "A", later, "2024-06-28"},  // Saturday
      {"2024-06-30", "a", later, "2024-06-28"},  // Sunday, market in lower case
      {"2024-10-03", "A", later, "2024-09-30"},  // National Day week
      {"2024-06-28", "A", later, "2024-06-28"},
      // Shanghai closes at 15:00 (07:00 UTC)
      {"2024-06-28", "A", utc("2024-06-28", 6, 59), "2024-06-27"},
      {"2024-06-28", "ETF", utc("2024-06-28", 7, 0), "2024-06-28"},
      // Hong Kong closes at 16:00 (08:00 UTC)
      {"2024-06-28", "HK", utc("2024-06-28", 7, 59), "2024-06-27"},
      {"2024-06-28", "HK", utc("2024-06-28", 8, 0), "2024-06-28"},
      // New York, 16:00 EDT = 20:00 UTC; the Monday after a Friday holiday
      {"2024-07-05", "US", utc("2024-07-05", 19, 59), "2024-07-03"},
      {"2024-07-05", "US", utc("2024-07-05", 20, 0), "2024-07-05"},
      // After the Shanghai close but before midnight UTC the local date is already the next
      // day: a date beyond the market's today is cut to today
      {"2024-07-01", "A", utc("2024-06-28", 23, 0), "2024-06-28"},
      {"2099-01-01", "A", utc("2024-07-01", 8, 0), "2024-07-01"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(normalize_market_end_date(c.date, c.market, c.now), c.expected)
        << c.date << " " << c.market;
}

TEST_F(RuleCalendar, BadDatesAndMarketsAreValueErrorsNamingTheText) {
  const auto now = utc("2024-07-01", 0);
  for (const char* bad : {"2024-13-01", "2024-02-30", "2024/01/01", "", "20240101", "2024-1-1"}) {
    try {
      normalize_market_end_date(bad, "A", now);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const std::invalid_argument& e) {
      EXPECT_THAT(e.what(), testing::HasSubstr("'" + std::string(bad) + "'"));
    }
  }
  EXPECT_THROW(normalize_market_end_date("2024-06-28", "JP", now), std::invalid_argument);
}

TEST(CenterCalendar, IndexDatesDefineTradingDaysWithinTheirRange) {
  zv_test::TempDir dir{"candlex-calendar"};
  zv_test::EnvGuard env{"CANDLEX_CENTER", dir.str()};
  candlex::clear_center_cache();
  std::filesystem::create_directories(dir / "daily");
  // Trading on 2024-06-24, 25, 27 (26 is a one-off closure the rules do not know) and 28.
  std::ofstream(dir / "daily/sh.000001.csv") << "date,open,high,low,close,volume\n"
                                                "2024-06-24,1,1,1,1,1\n2024-06-25,1,1,1,1,1\n"
                                                "2024-06-27,1,1,1,1,1\n2024-06-28,1,1,1,1,1\n";
  const auto later = utc("2030-01-01", 0);
  EXPECT_EQ(normalize_market_end_date("2024-06-26", "A", later), "2024-06-25");
  EXPECT_FALSE(candlex::is_trading_day("A", parse_iso_date("2024-06-26")));
  // Beyond the file's last bar the rules apply (the data may simply be older than the day).
  EXPECT_EQ(normalize_market_end_date("2024-07-02", "A", later), "2024-07-02");
  // Other markets keep their rule calendars when their index file is absent.
  EXPECT_EQ(normalize_market_end_date("2024-06-26", "HK", later), "2024-06-26");
}

TEST(CloseInstant, FollowsNewYorkDaylightSaving) {
  // EST (UTC-5) before 2024-03-10, EDT (UTC-4) from it; back to EST from 2024-11-03.
  EXPECT_EQ(candlex::market_close("US", parse_iso_date("2024-03-08")), utc("2024-03-08", 21));
  EXPECT_EQ(candlex::market_close("US", parse_iso_date("2024-03-11")), utc("2024-03-11", 20));
  EXPECT_EQ(candlex::market_close("US", parse_iso_date("2024-11-01")), utc("2024-11-01", 20));
  EXPECT_EQ(candlex::market_close("US", parse_iso_date("2024-11-04")), utc("2024-11-04", 21));
  EXPECT_EQ(candlex::market_close("A", parse_iso_date("2024-11-04")), utc("2024-11-04", 7));
}

}  // namespace
