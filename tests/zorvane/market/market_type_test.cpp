#include "zorvane/market/market_type.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using zorvane::utils::get_market_type;

TEST(MarketType, ByCodeAndName) {
  struct Case {
    const char* code;
    const char* name;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"sh.600519", "", "A"},
      {"SZ.000001", "", "A"},
      {"bj.430047", "", "A"},
      {"600519.SH", "", "A"},
      {"000001.sz", "", "A"},
      {"830799.BJ", "", "A"},
      {"600519", "", "A"},
      {"sh.000001", "上证指数", "A"},  // indices are mainland too
      {" 600519 ", "", "A"},
      // exchange funds by code, whatever the spelling
      {"510050", "", "ETF"},
      {"sh.510300", "", "ETF"},
      {"159915.SZ", "", "ETF"},
      {"560010", "", "ETF"},
      {"588000", "", "ETF"},
      {"160119", "", "ETF"},
      // or by a name that says so
      {"sh.600000", "示例ETF联接", "ETF"},
      {"600000", "浦发银行", "A"},
      {"hk.00700", "", "HK"},
      {"HK.09988", "", "HK"},
      {"us.AAPL", "", "US"},
      {"us.SPY", "SPDR S&P 500 ETF", "US"},  // the name rule is for mainland codes only
      // none
      {"", "", std::nullopt},
      {"AAPL", "", std::nullopt},
      {"12345", "", std::nullopt},
      {"6005190", "", std::nullopt},
      {"00700.HK", "", std::nullopt},
      {"jp.7203", "", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(get_market_type(c.code, c.name), c.expected) << "'" << c.code << "' / " << c.name;
}

}  // namespace
