// Outcome rules on hand-built bar series whose outcomes are known.

#include "backtest/outcome.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "backtest/bars_fixture.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

using backtest::Bars;
using backtest::DecisionPlan;
using backtest::EvalSettings;
using backtest::ExitReason;
using backtest::MarketRules;
using backtest::Outcome;
using backtest::Status;
using zorvane::utils::iso_date;

using backtest_test::Ohlc;
const backtest::Day kDay0 = zorvane::utils::parse_iso_date("2024-03-01");
const MarketRules kUs{"无", 0, false};  // no limits, exits on the fill day allowed
const MarketRules kMainBoard{"主板10%", 0.10, true};

// Bar 0 is the analysis day; bar i is i calendar days later.
candlex::BarTable table_of(const std::vector<Ohlc>& rows) {
  return backtest_test::table_of(rows, kDay0);
}

std::string day(int i) {
  return iso_date(kDay0 + std::chrono::days{i});
}

// A buy at 10.0 on a 10.0 close: entry 9.8-10.2, stop 9.5, targets 11 and 12, 5 bars held.
DecisionPlan buy_plan() {
  return {"建议买入", 10.0, 9.8, 10.2, 9.5, 11.0, 12.0, "5个交易日"};
}

Outcome run(const std::vector<Ohlc>& rows, const DecisionPlan& plan = buy_plan(),
            const MarketRules& rules = kUs, EvalSettings settings = {},
            const candlex::BarTable* index = nullptr) {
  auto t = table_of(rows);
  auto bars = Bars::of(t, "test");
  std::optional<Bars> index_bars;
  if (index) index_bars = Bars::of(*index, "index");
  return backtest::evaluate(plan, kDay0, bars, rules, settings,
                            index_bars ? &*index_bars : nullptr);
}

TEST(BacktestOutcome, TargetOneHalfThenTargetTwo) {
  auto o = run({{10, 10, 10, 10},
                {10.0, 10.3, 9.9, 10.1},     // fills at the open
                {10.2, 11.2, 10.1, 11.0},    // target 1: half at 11
                {11.0, 12.5, 10.9, 12.2}});  // target 2: rest at 12
  ASSERT_EQ(o.status, Status::closed);
  EXPECT_EQ(iso_date(*o.fill_date), day(1));
  EXPECT_DOUBLE_EQ(o.fill_price, 10.0);
  EXPECT_EQ(iso_date(*o.partial_date), day(2));
  EXPECT_DOUBLE_EQ(o.partial_price, 11.0);
  EXPECT_EQ(o.exit_reason, ExitReason::target_2);
  EXPECT_DOUBLE_EQ(o.exit_price, 12.0);
  EXPECT_NEAR(o.return_pct, 15.0, 1e-9);       // (0.5*11 + 0.5*12) / 10 - 1
  EXPECT_NEAR(o.r_multiple, 1.5 / 0.5, 1e-9);  // 1.5 gained over 0.5 at risk
  EXPECT_EQ(o.days_held, 2);
  EXPECT_NEAR(o.mae_pct, -1.0, 1e-9);  // low 9.9 while held
  EXPECT_NEAR(o.mfe_pct, 20.0, 1e-9);  // best price sold: 12
}

TEST(BacktestOutcome, StopFirstAndGapThroughStop) {
  auto stop = run({{10, 10, 10, 10}, {10.5, 10.6, 10.1, 10.3}, {10.3, 10.4, 9.4, 9.6}});
  EXPECT_DOUBLE_EQ(stop.fill_price, 10.2);  // opened above the range, touched its top
  EXPECT_EQ(stop.exit_reason, ExitReason::stop);
  EXPECT_DOUBLE_EQ(stop.exit_price, 9.5);
  EXPECT_NEAR(stop.r_multiple, -1.0, 1e-9);

  auto gap = run({{10, 10, 10, 10}, {10.0, 10.1, 9.9, 10.0}, {9.0, 9.3, 8.8, 9.1}});
  EXPECT_EQ(gap.exit_reason, ExitReason::stop);
  EXPECT_DOUBLE_EQ(gap.exit_price, 9.0);  // opened below the stop: sold at the open
  EXPECT_NEAR(gap.r_multiple, -2.0, 1e-9);
  EXPECT_NEAR(gap.mae_pct, -10.0, 1e-9);
}

TEST(BacktestOutcome, StopAndTargetInOneBarCountsTheStop) {
  auto o = run({{10, 10, 10, 10}, {10.0, 10.1, 9.9, 10.0}, {10.0, 12.5, 9.4, 10.0}});
  EXPECT_EQ(o.exit_reason, ExitReason::stop);
  EXPECT_FALSE(o.partial_date);
  EXPECT_DOUBLE_EQ(o.exit_price, 9.5);
}

TEST(BacktestOutcome, NoFillWithinTheEntryWindow) {
  std::vector<Ohlc> rows{{10, 10, 10, 10}};
  for (int i = 0; i < 5; ++i) rows.push_back({10.5, 10.8, 10.3, 10.6});
  auto o = run(rows);
  EXPECT_EQ(o.status, Status::not_filled);
  EXPECT_FALSE(o.filled);
  // One bar short of the window: the order may still fill, so the decision is open.
  rows.pop_back();
  EXPECT_EQ(run(rows).status, Status::open);
}

TEST(BacktestOutcome, TPlusOneForbidsAnExitOnTheFillDay) {
  const std::vector<Ohlc> rows{
      {10, 10, 10, 10},
      {10.0, 10.1, 9.0, 9.2},  // fills at the open, then falls below the stop
      {9.6, 9.8, 9.55, 9.7}};  // stays above the stop
  auto a_share = run(rows, buy_plan(), kMainBoard);
  EXPECT_EQ(a_share.status, Status::open);  // still held: no stop on the fill day, none since
  auto us = run(rows, buy_plan(), kUs);
  EXPECT_EQ(us.exit_reason, ExitReason::stop);
  EXPECT_EQ(us.days_held, 0);
}

TEST(BacktestOutcome, LimitRulesOfMainlandShares) {
  // Bar 1 opens at the limit-up price (11.0 on a 10.0 close) and stays there: no fill; bar 2
  // trades in the range and fills.
  DecisionPlan plan{"强烈买入", 10.0, 10.5, 11.0, 9.5, 13.0, 14.0, "5日"};
  auto o =
      run({{10, 10, 10, 10}, {11.0, 11.0, 11.0, 11.0}, {10.9, 11.2, 10.6, 10.8}}, plan, kMainBoard);
  ASSERT_TRUE(o.filled);
  EXPECT_EQ(iso_date(*o.fill_date), day(2));
  EXPECT_DOUBLE_EQ(o.fill_price, 10.9);
  // The same bar 1 without limits fills at its open.
  auto free = run({{10, 10, 10, 10}, {11.0, 11.0, 11.0, 11.0}}, plan, kUs);
  EXPECT_EQ(iso_date(*free.fill_date), day(1));

  // Locked at limit-down below the stop: no exit there; sold at the next bar's open.
  auto locked = run({{10, 10, 10, 10},
                     {10.0, 10.1, 9.9, 10.0},
                     {9.0, 9.0, 9.0, 9.0},  // -10% all day
                     {8.7, 9.2, 8.5, 9.0}},
                    buy_plan(), kMainBoard);
  EXPECT_EQ(locked.exit_reason, ExitReason::stop);
  EXPECT_EQ(iso_date(*locked.exit_date), day(3));
  EXPECT_DOUBLE_EQ(locked.exit_price, 8.7);
}

TEST(BacktestOutcome, HorizonExitAtThatBarsClose) {
  std::vector<Ohlc> rows{{10, 10, 10, 10}};
  for (int i = 1; i <= 8; ++i) rows.push_back({10.0, 10.4, 9.8, 10.0 + 0.05 * i});
  auto o = run(rows);  // 5 bars held from the fill on bar 1
  EXPECT_EQ(o.exit_reason, ExitReason::horizon);
  EXPECT_EQ(iso_date(*o.exit_date), day(6));
  EXPECT_DOUBLE_EQ(o.exit_price, 10.3);
  EXPECT_EQ(o.days_held, 5);
  // With fewer bars the horizon has not passed: open.
  rows.resize(6);
  EXPECT_EQ(run(rows).status, Status::open);
}

TEST(BacktestOutcome, PricesScaleToTheFilesLevelAndUnmatchedDays) {
  // Decided on a close of 20.0 (before a 2:1 restatement): every level halves.
  DecisionPlan plan{"谨慎买入", 20.0, 19.6, 20.4, 19.0, 22.0, 24.0, "3天"};
  auto o = run({{10, 10, 10, 10}, {10.0, 10.1, 9.9, 10.0}, {10.0, 11.1, 9.9, 11.0}}, plan);
  EXPECT_DOUBLE_EQ(o.scale, 0.5);
  EXPECT_DOUBLE_EQ(o.partial_price, 11.0);

  auto t = table_of({{10, 10, 10, 10}});
  auto bars = Bars::of(t, "t");
  auto unmatched = backtest::evaluate(plan, kDay0 - std::chrono::days{1}, bars, kUs, {});
  EXPECT_EQ(unmatched.status, Status::unmatched);
}

TEST(BacktestOutcome, NonBuyForwardReturnAndBaselines) {
  DecisionPlan wait{"观望等待", 10.0, 0, 0, 0, 0, 0, "无"};
  EvalSettings settings;
  settings.default_horizon = 3;
  std::vector<Ohlc> rows{
      {10, 10, 10, 10}, {10.5, 10.6, 10.2, 10.4}, {10, 10, 10, 9.8}, {9, 9.5, 8.9, 9.0}};
  auto index =
      table_of({{100, 100, 100, 100}, {200, 205, 199, 204}, {1, 1, 1, 1}, {210, 211, 209, 210}});
  auto o = run(rows, wait, kUs, settings, &index);
  EXPECT_EQ(o.status, Status::closed);
  EXPECT_EQ(o.horizon_bars, 3);
  EXPECT_NEAR(o.forward_return_pct, -10.0, 1e-9);             // 10.0 -> 9.0
  EXPECT_NEAR(o.baseline_pct, (9.0 / 10.5 - 1) * 100, 1e-9);  // next open -> horizon close
  EXPECT_NEAR(o.index_pct, 5.0, 1e-9);                        // index open 200 -> close 210
  rows.pop_back();
  EXPECT_EQ(run(rows, wait, kUs, settings).status, Status::open);
}

}  // namespace
