#include "zorvane/market/indices.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "candlex/market_data.hpp"
#include "support/env_guard.hpp"

namespace {

using zorvane::utils::_get_indices_for_market;

std::vector<std::string> names_of(const std::string& market) {
  std::vector<std::string> out;
  for (const auto& index : _get_indices_for_market(market)) out.push_back(index.name);
  return out;
}

TEST(IndexCatalogue, OrderAndNamesPerMarket) {
  const std::vector<std::string> mainland = {"上证指数", "深证成指", "创业板指",
                                             "科创50",   "沪深300",  "中证500"};
  EXPECT_EQ(names_of("A"), mainland);
  EXPECT_EQ(names_of("etf"), mainland);
  EXPECT_EQ(names_of("Hk"), (std::vector<std::string>{"恒生指数", "恒生科技指数"}));
  EXPECT_EQ(names_of("US"), (std::vector<std::string>{"标普500", "纳斯达克", "道琼斯"}));
  EXPECT_TRUE(_get_indices_for_market("JP").empty());
  EXPECT_TRUE(_get_indices_for_market("").empty());
  EXPECT_EQ(_get_indices_for_market("A").front().code, "sh.000001");
  EXPECT_EQ(_get_indices_for_market("US").back().code, "us.DJI");
}

TEST(IndexCatalogue, EveryCodeHasBarsAndItsNameInTheSampleMarket) {
  zv_test::EnvGuard env{"CANDLEX_CENTER", nullptr};
  for (const char* market : {"A", "HK", "US"}) {
    for (const auto& index : _get_indices_for_market(market)) {
      EXPECT_FALSE(candlex::get_any_ohlc(index.code, std::nullopt, "2024-06-28").empty())
          << index.code;
      EXPECT_EQ(candlex::get_name_from_code(index.code), index.name);
    }
  }
}

}  // namespace
