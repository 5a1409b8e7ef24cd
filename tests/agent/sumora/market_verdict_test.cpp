#include "agent/sumora/market_verdict.hpp"

#include <gtest/gtest.h>

namespace sumora {
namespace {

// A valid record with the fields the verdict reads; texts follow the numbers.
IndexPerformance rec(double pct, double ratio, double close, double ema5, double ema20,
                     double ema60, double amp_avg20 = 0.0, std::string pct_text = "",
                     std::string ratio_text = "") {
  IndexPerformance p;
  p.valid = true;
  p.pct_val = pct;
  p.ratio_val = ratio;
  p.close = close;
  p.ema5 = ema5;
  p.ema20 = ema20;
  p.ema60 = ema60;
  p.ema_bull = ema5 > ema20 && ema20 > ema60;
  p.ema_bear = ema5 < ema20 && ema20 < ema60;
  p.amp_avg20 = amp_avg20;
  p.pct = pct_text.empty() ? "x%" : pct_text;
  p.ratio = ratio_text.empty() ? "y" : ratio_text;
  return p;
}

TEST(MarketVerdict, NoValidRecordIsConservative) {
  const MarketVerdict expected{"震荡", "弱", "空仓等待", "核心指数数据不足，保守处理"};
  EXPECT_EQ(_compute_market_verdict({}), expected);
  EXPECT_EQ(_compute_market_verdict({IndexPerformance::insufficient(), IndexPerformance::error()}),
            expected);
}

TEST(MarketVerdict, StrategyTableIsCompleteAndFixed) {
  EXPECT_EQ(detail::STRATEGY_TABLE.size(), 12u);
  for (const char* s : {"强", "中", "弱"})
    EXPECT_EQ(detail::STRATEGY_TABLE.at({"避险", s}), "空仓等待");
  EXPECT_EQ(detail::STRATEGY_TABLE.at({"偏空", "弱"}), "区间震荡");
  EXPECT_EQ(detail::STRATEGY_TABLE.at({"偏多", "中"}), "趋势跟随");
  EXPECT_EQ(detail::STRATEGY_TABLE.at({"偏多", "弱"}), "区间震荡");
}

TEST(MarketVerdict, RationaleIsBuiltFromTheFirstIndex) {
  auto v = _compute_market_verdict({rec(-0.52, 0.85, 9.0, 9.5, 10.0, 9.0, 0.0, "-0.52%", "0.85")});
  EXPECT_EQ(v.rationale, "第一指数 -0.52%、量比 0.85、收盘<EMA20；强度命中 0/4 项");
  EXPECT_EQ(v.bias, "偏空");
  EXPECT_EQ(v.strength, "弱");
  EXPECT_EQ(v.strategy, "区间震荡");
}

TEST(MarketVerdict, RiskOffRules) {
  // Fall beyond 1.5 x the 20-day amplitude.
  EXPECT_EQ(_compute_market_verdict({rec(-1.6, 1.0, 10, 10, 10, 10, 1.0)}).bias, "避险");
  // Without an amplitude history rule (a) never fires.
  EXPECT_EQ(_compute_market_verdict({rec(-1.6, 1.0, 10, 10, 10, 10, 0.0)}).bias, "震荡");
  // Rule (b): below -2% and every index down.
  auto down = rec(-2.5, 1.0, 10, 10, 10, 10, 2.0);
  EXPECT_EQ(_compute_market_verdict({down, rec(-0.1, 1, 10, 10, 10, 10)}).bias, "避险");
  // One index up sends the decision to the EMA rules.
  EXPECT_EQ(_compute_market_verdict({down, rec(0.3, 1, 10, 10, 10, 10)}).bias, "震荡");
  // Exactly -2.0 never satisfies rule (b).
  EXPECT_EQ(_compute_market_verdict({rec(-2.0, 1.0, 10, 10, 10, 10, 2.0)}).bias, "震荡");
  // Risk-off always waits in cash, whatever the strength.
  auto strong =
      _compute_market_verdict({rec(-3.0, 2.0, 9, 8, 10, 11, 1.0), rec(-1.0, 1, 10, 10, 10, 10)});
  EXPECT_EQ(strong.strength, "强");
  EXPECT_EQ(strong.strategy, "空仓等待");
}

TEST(MarketVerdict, EmaRulesAreStrict) {
  auto eq = _compute_market_verdict({rec(0.1, 1.0, 10.0, 9.0, 10.0, 9.5)});
  EXPECT_EQ(eq.bias, "震荡");  // close == EMA20: neither rule holds
  EXPECT_NE(eq.rationale.find("收盘≥EMA20"), std::string::npos);
  EXPECT_EQ(_compute_market_verdict({rec(0.1, 1.0, 11.0, 10.5, 10.0, 12.0)}).bias, "偏多");
}

TEST(MarketVerdict, StrengthHits) {
  // Only the first index: at most three hits; 强 needs all three.
  auto three = _compute_market_verdict({rec(1.6, 1.6, 12, 11, 10, 9)});
  EXPECT_EQ(three.strength, "强");
  EXPECT_NE(three.rationale.find("强度命中 3/4 项"), std::string::npos);
  EXPECT_EQ(_compute_market_verdict({rec(1.6, 1.0, 12, 11, 10, 9)}).strength, "中");
  // 偏多 with two hits follows the trend, with one it ranges.
  auto two = _compute_market_verdict({rec(0.5, 1.0, 12, 11, 10, 9), rec(0.2, 1, 1, 1, 1, 1)});
  EXPECT_EQ(two.strength, "中");
  EXPECT_EQ(two.strategy, "趋势跟随");
  auto one = _compute_market_verdict({rec(0.5, 1.0, 12, 11, 10, 11), rec(0.2, 1, 1, 1, 1, 1)});
  EXPECT_EQ(one.strength, "弱");
  EXPECT_EQ(one.strategy, "区间震荡");
  // A change of exactly 0 counts as up when comparing directions.
  auto flat = _compute_market_verdict({rec(0.0, 1.0, 10, 10, 10, 10), rec(0.4, 1, 1, 1, 1, 1)});
  EXPECT_NE(flat.rationale.find("强度命中 1/4 项"), std::string::npos);
}

TEST(MarketVerdict, InvalidFirstRecordPromotesTheNextOne) {
  // Position 0 invalid: p1 and p2 are the same record, so the direction test always hits.
  auto v = _compute_market_verdict(
      {IndexPerformance::error(), rec(-0.3, 1.0, 9, 9.5, 10, 9, 0, "-0.30%", "1.00")});
  EXPECT_EQ(v.rationale, "第一指数 -0.30%、量比 1.00、收盘<EMA20；强度命中 1/4 项");
}

}  // namespace
}  // namespace sumora
