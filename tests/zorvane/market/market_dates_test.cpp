#include "zorvane/market/market_dates.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/env_guard.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

using std::chrono::system_clock;
using zorvane::utils::normalize_end_date_for_market;
using zorvane::utils::normalize_us_market_end_date;

system_clock::time_point utc(const std::string& day, int hour, int minute = 0) {
  return zorvane::utils::parse_iso_date(day) + std::chrono::hours{hour} +
         std::chrono::minutes{minute};
}

class UsEndDate : public testing::Test {
 protected:
  zv_test::EnvGuard env{"CANDLEX_CENTER", nullptr};
};

TEST_F(UsEndDate, HolidaysAndWeekendsStepBack) {
  const auto later = utc("2030-01-01", 0);
  EXPECT_EQ(normalize_us_market_end_date("2024-07-04", later), "2024-07-03");  // Independence Day
  EXPECT_EQ(normalize_us_market_end_date("2024-03-29", later), "2024-03-28");  // Good Friday
  EXPECT_EQ(normalize_us_market_end_date("2024-11-28", later), "2024-11-27");  // Thanksgiving
  EXPECT_EQ(normalize_us_market_end_date("2024-01-15", later), "2024-01-12");  // MLK + weekend
  EXPECT_EQ(normalize_us_market_end_date("2026-07-03", later), "2026-07-02");  // 4 July on Saturday
  EXPECT_EQ(normalize_us_market_end_date("2022-01-02", later),
            "2021-12-31");  // Sat New Year kept open
  EXPECT_EQ(normalize_us_market_end_date("2024-06-28", later), "2024-06-28");
}

TEST_F(UsEndDate, CloseAtFourInNewYorkAcrossDaylightSaving) {
  // Winter (EST, UTC-5): close at 21:00 UTC.
  EXPECT_EQ(normalize_us_market_end_date("2024-03-08", utc("2024-03-08", 20, 59)), "2024-03-07");
  EXPECT_EQ(normalize_us_market_end_date("2024-03-08", utc("2024-03-08", 21, 0)), "2024-03-08");
  // First Monday of summer time (EDT, UTC-4): close at 20:00 UTC.
  EXPECT_EQ(normalize_us_market_end_date("2024-03-11", utc("2024-03-11", 19, 59)), "2024-03-08");
  EXPECT_EQ(normalize_us_market_end_date("2024-03-11", utc("2024-03-11", 20, 0)), "2024-03-11");
  // Last Friday of summer time, first Monday after it.
  EXPECT_EQ(normalize_us_market_end_date("2024-11-01", utc("2024-11-01", 20, 0)), "2024-11-01");
  EXPECT_EQ(normalize_us_market_end_date("2024-11-04", utc("2024-11-04", 20, 30)), "2024-11-01");
  EXPECT_EQ(normalize_us_market_end_date("2024-11-04", utc("2024-11-04", 21, 0)), "2024-11-04");
  // Early on a UTC day it is still the previous evening in New York.
  EXPECT_EQ(normalize_us_market_end_date("2024-06-28", utc("2024-06-28", 3, 0)), "2024-06-27");
}

TEST_F(UsEndDate, BadTextIsAValueErrorNamingIt) {
  for (const char* bad : {"2024-13-01", "2024-02-30", "2024/01/01", "", "yesterday"}) {
    try {
      normalize_us_market_end_date(bad, utc("2024-07-01", 0));
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const std::invalid_argument& e) {
      EXPECT_THAT(e.what(), testing::HasSubstr("'" + std::string(bad) + "'"));
    }
  }
}

TEST_F(UsEndDate, EachMarketTypeOnItsOwnCalendar) {
  const auto later = utc("2030-01-01", 0);
  // 2024-07-01 is a Hong Kong holiday only; 2024-07-04 a US one only.
  EXPECT_EQ(normalize_end_date_for_market("2024-07-01", "HK", later), "2024-06-28");
  EXPECT_EQ(normalize_end_date_for_market("2024-07-01", "A", later), "2024-07-01");
  EXPECT_EQ(normalize_end_date_for_market("2024-07-04", "US", later), "2024-07-03");
  EXPECT_EQ(normalize_end_date_for_market("2024-07-04", "HK", later), "2024-07-04");
  // Funds and codes of no known market close with Shanghai (National Day week).
  for (const char* other : {"A", "ETF", "UNKNOWN", ""})
    EXPECT_EQ(normalize_end_date_for_market("2024-10-03", other, later), "2024-09-30") << other;
  // Each at its own close: Shanghai 07:00 UTC, Hong Kong 08:00 UTC, New York 20:00 UTC (EDT).
  const auto at = utc("2024-06-28", 7, 30);
  EXPECT_EQ(normalize_end_date_for_market("2024-06-28", "A", at), "2024-06-28");
  EXPECT_EQ(normalize_end_date_for_market("2024-06-28", "HK", at), "2024-06-27");
  EXPECT_EQ(normalize_end_date_for_market("2024-06-28", "US", at), "2024-06-27");
  EXPECT_THROW(normalize_end_date_for_market("2024/06/28", "HK", at), std::invalid_argument);
}

}  // namespace
