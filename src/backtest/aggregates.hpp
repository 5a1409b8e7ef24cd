#pragma once
// Aggregates of evaluated decisions, overall and per group.
//
// Trade figures come from buy decisions: fill rate over those whose entry window passed;
// win rate, R, expectancy (mean return per filled trade, in percent), profit factor (gains
// over losses, in return percent) and days held over filled trades that closed. Forward
// figures come from every decision whose horizon passed; a non-buy call counts as right when
// the stock did not rise over its horizon. Baselines are means over the same decisions:
// buying at the next open and holding to the horizon, and the main index over those dates.
// Open and unmatched decisions are counted apart and enter no figure.

#include <cstddef>
#include <string>
#include <vector>

#include "backtest/evaluation.hpp"

namespace backtest {

struct GroupStats {
  std::string group;          // the group's value ("强烈买入", "高", "A", "offline", "全部")
  std::size_t decisions = 0;  // every selected decision of the group
  std::size_t open = 0, unmatched = 0;
  std::size_t buys = 0;    // buy decisions whose entry window passed (filled or not)
  std::size_t filled = 0;  // filled buys that closed
  std::size_t wins = 0;
  double fill_rate = kNaN, win_rate = kNaN;
  double avg_r = kNaN, median_r = kNaN;
  double expectancy_pct = kNaN, profit_factor = kNaN, avg_days_held = kNaN;
  std::size_t forward = 0;  // decisions with a forward return
  double avg_forward_pct = kNaN, median_forward_pct = kNaN;
  std::size_t non_buys = 0;  // non-buy decisions with a forward return
  double non_buy_right_rate = kNaN;
  double baseline_pct = kNaN, index_pct = kNaN;
};

struct Aggregates {
  GroupStats overall;
  std::vector<GroupStats> by_action, by_confidence, by_market, by_model, by_holder_action;
  // Win rate of filled buys per confidence level, in the order 高, 中, 低 (then any other).
  std::vector<GroupStats> calibration;
  bool calibration_monotonic = true;  // higher confidence never won less often
};

GroupStats group_stats(const std::string& group, const std::vector<const DecisionResult*>& rows);

Aggregates aggregate(const std::vector<DecisionResult>& results);

}  // namespace backtest
