// Holding periods in bars and the market rules per board.

#include "backtest/trade_rules.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(BacktestTradeRules, HoldingPeriodTexts) {
  const struct {
    const char* text;
    std::optional<int> bars;
  } cases[] = {
      {"10个交易日", 10},
      {"1-3日", 3},
      {"3-5天", 5},
      {"1-2周", 10},
      {"2周", 10},
      {"１０个交易日", 10},
      {"3～5 天", 5},
      {"5至8日", 8},
      {"1个月", 21},
      {"5 days", 5},
      {"7", 7},
      {"无", std::nullopt},
      {"", std::nullopt},
      {"0日", std::nullopt},
      {"约两周", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(backtest::holding_period_bars(c.text), c.bars) << c.text;
  }
}

TEST(BacktestTradeRules, LimitRulePerBoard) {
  const struct {
    const char* code;
    const char* name;
    const char* market;
    const char* rule;
    double pct;
    bool t1;
  } cases[] = {
      {"sh.600519", "贵州茅台", "A", "主板10%", 0.10, true},
      {"sz.000001", "平安银行", "A", "主板10%", 0.10, true},
      {"sz.300750", "宁德时代", "A", "创业板20%", 0.20, true},
      {"sh.688981", "中芯国际", "A", "科创板20%", 0.20, true},
      {"bj.430047", "诺思兰德", "A", "北交所30%", 0.30, true},
      {"sz.300123", "*ST亚光", "A", "ST5%", 0.05, true},
      {"510050", "上证50ETF", "ETF", "无", 0, true},
      {"hk.00700", "腾讯控股", "HK", "无", 0, false},
      {"us.AAPL", "Apple", "US", "无", 0, false},
  };
  for (const auto& c : cases) {
    auto r = backtest::market_rules(c.code, c.name, c.market);
    EXPECT_EQ(r.limit_rule, c.rule) << c.code;
    EXPECT_DOUBLE_EQ(r.limit_pct, c.pct) << c.code;
    EXPECT_EQ(r.t_plus_one, c.t1) << c.code;
  }
}

}  // namespace
