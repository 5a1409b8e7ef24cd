#include "candlex/codes.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(NormalizeCode, AcceptsCommonSpellingsOfOneSecurity) {
  struct Case {
    const char* input;
    const char* canonical;
  };
  const Case cases[] = {
      // mainland shares: prefix, suffix, bare, no dot, any case, surrounding spaces
      {"600519", "sh.600519"},
      {"sh.600519", "sh.600519"},
      {"SH.600519", "sh.600519"},
      {"600519.SH", "sh.600519"},
      {"600519.sh", "sh.600519"},
      {"sh600519", "sh.600519"},
      {" 600519 ", "sh.600519"},
      {"000001", "sz.000001"},
      {"300750.SZ", "sz.300750"},
      {"688981", "sh.688981"},
      {"430047", "bj.430047"},
      {"920001", "bj.920001"},
      {"830799.BJ", "bj.830799"},
      // index identifiers keep their exchange
      {"sh.000001", "sh.000001"},
      {"000001.SH", "sh.000001"},
      {"399006", "sz.399006"},
      // exchange funds stay bare whatever the spelling
      {"510050", "510050"},
      {"sh.510050", "510050"},
      {"159915.SZ", "159915"},
      {"sz159915", "159915"},
      {"588000", "588000"},
      {"563300", "563300"},
      // Hong Kong: padded to five digits; index letters upper case
      {"hk.00700", "hk.00700"},
      {"HK.700", "hk.00700"},
      {"0700.HK", "hk.00700"},
      {"hk.hsi", "hk.HSI"},
      {"hk.HSTECH", "hk.HSTECH"},
      // United States
      {"us.AAPL", "us.AAPL"},
      {"us.aapl", "us.AAPL"},
      {"AAPL.US", "us.AAPL"},
      {"us.SPX", "us.SPX"},
      {"us.BRK.B", "us.BRK.B"},
      // unknown forms pass through trimmed
      {"AAPL", "AAPL"},
      {"12345", "12345"},
  };
  for (const auto& c : cases) EXPECT_EQ(candlex::normalize_code(c.input), c.canonical) << c.input;
}

TEST(NormalizeCode, RejectsEmptyAndPathLikeCodes) {
  for (const char* bad :
       {"", "   ", "../etc/passwd", "daily/sh.600519", "a\\b", "sh..600519", "x\ny"}) {
    try {
      candlex::normalize_code(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("code"), std::string::npos) << e.what();
    }
  }
}

TEST(FundCodes, SixDigitsWithFundPrefixOnly) {
  for (const char* fund : {"510050", "560010", "588000", "159915", "160119"})
    EXPECT_TRUE(candlex::is_fund_code(fund)) << fund;
  for (const char* other : {"600519", "000001", "51005", "5100500", "52a050", "sh.510050"})
    EXPECT_FALSE(candlex::is_fund_code(other)) << other;
}

TEST(CalendarMarket, FollowsTheExchange) {
  EXPECT_EQ(candlex::calendar_market_of("sh.600519"), "A");
  EXPECT_EQ(candlex::calendar_market_of("bj.430047"), "A");
  EXPECT_EQ(candlex::calendar_market_of("510050"), "A");
  EXPECT_EQ(candlex::calendar_market_of("hk.HSI"), "HK");
  EXPECT_EQ(candlex::calendar_market_of("us.AAPL"), "US");
  EXPECT_EQ(candlex::calendar_market_of("AAPL"), "");
}

}  // namespace
