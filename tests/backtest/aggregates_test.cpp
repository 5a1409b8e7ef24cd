// Aggregates and calibration over a small set of outcomes whose figures are worked out by hand.

#include "backtest/aggregates.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using backtest::DecisionResult;
using backtest::Status;

DecisionResult trade(const char* action, const char* confidence, double return_pct, double r,
                     int days) {
  DecisionResult d;
  d.decision.plan.action = action;
  d.decision.confidence = confidence;
  d.decision.market = "A";
  d.decision.client_type = "offline";
  d.outcome.buy = true;
  d.outcome.status = Status::closed;
  d.outcome.filled = true;
  d.outcome.return_pct = return_pct;
  d.outcome.r_multiple = r;
  d.outcome.days_held = days;
  d.outcome.baseline_pct = 1.0;
  d.outcome.index_pct = 0.5;
  return d;
}

DecisionResult with_status(const char* action, Status status, double forward = NAN) {
  DecisionResult d;
  d.decision.plan.action = action;
  d.decision.confidence = "中";
  d.decision.market = "HK";
  d.decision.client_type = "deepseek";
  d.outcome.buy = backtest::is_buy_action(action);
  d.outcome.status = status;
  d.outcome.forward_return_pct = forward;
  return d;
}

TEST(BacktestAggregates, FiguresOverAKnownSet) {
  std::vector<DecisionResult> rs{
      trade("强烈买入", "高", 10.0, 2.0, 4),        trade("强烈买入", "高", -5.0, -1.0, 2),
      trade("建议买入", "中", 4.0, 1.0, 6),         trade("建议买入", "低", 6.0, 1.5, 3),
      with_status("建议买入", Status::not_filled),  with_status("观望等待", Status::closed, -2.0),
      with_status("观望等待", Status::closed, 3.0), with_status("观望等待", Status::open),
      with_status("谨慎买入", Status::unmatched),
  };
  auto a = backtest::aggregate(rs);
  const auto& g = a.overall;
  EXPECT_EQ(g.decisions, 9u);
  EXPECT_EQ(g.open, 1u);
  EXPECT_EQ(g.unmatched, 1u);
  EXPECT_EQ(g.buys, 5u);
  EXPECT_EQ(g.filled, 4u);
  EXPECT_DOUBLE_EQ(g.fill_rate, 0.8);
  EXPECT_DOUBLE_EQ(g.win_rate, 0.75);
  EXPECT_DOUBLE_EQ(g.avg_r, 3.5 / 4);
  EXPECT_DOUBLE_EQ(g.median_r, 1.25);
  EXPECT_DOUBLE_EQ(g.expectancy_pct, 15.0 / 4);
  EXPECT_DOUBLE_EQ(g.profit_factor, 20.0 / 5.0);
  EXPECT_DOUBLE_EQ(g.avg_days_held, 15.0 / 4);
  EXPECT_EQ(g.non_buys, 2u);
  EXPECT_DOUBLE_EQ(g.non_buy_right_rate, 0.5);
  EXPECT_DOUBLE_EQ(g.avg_forward_pct, 0.5);
  EXPECT_DOUBLE_EQ(g.baseline_pct, 1.0);

  ASSERT_EQ(a.by_market.size(), 2u);
  EXPECT_EQ(a.by_market[0].group, "A");
  EXPECT_EQ(a.by_market[0].filled, 4u);
  EXPECT_EQ(a.by_market[1].group, "HK");
  EXPECT_TRUE(std::isnan(a.by_market[1].win_rate));  // no filled trade

  // 高 won 1 of 2, 中 1 of 1, 低 1 of 1: a higher level won less often.
  ASSERT_EQ(a.calibration.size(), 3u);
  EXPECT_EQ(a.calibration[0].group, "高");
  EXPECT_DOUBLE_EQ(a.calibration[0].win_rate, 0.5);
  EXPECT_EQ(a.calibration[2].group, "低");
  EXPECT_FALSE(a.calibration_monotonic);
}

TEST(BacktestAggregates, ProfitFactorWithoutLossesAndEmptyGroups) {
  auto only_wins = backtest::aggregate({trade("建议买入", "高", 3.0, 1.0, 1)});
  EXPECT_TRUE(std::isinf(only_wins.overall.profit_factor));
  EXPECT_TRUE(only_wins.calibration_monotonic);
  auto none = backtest::aggregate({});
  EXPECT_EQ(none.overall.decisions, 0u);
  EXPECT_TRUE(std::isnan(none.overall.expectancy_pct));
  EXPECT_TRUE(none.calibration.empty());
}

}  // namespace
