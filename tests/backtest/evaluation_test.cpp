// Evaluating a set of stored decisions: bars loaded once per code, the market's index as the
// baseline, decisions without bars unmatched.

#include "backtest/evaluation.hpp"

#include <gtest/gtest.h>

#include <map>

#include "backtest/bars_fixture.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

candlex::BarTable rising(double from, std::size_t n) {
  std::vector<backtest_test::Ohlc> rows;
  for (std::size_t i = 0; i < n; ++i) {
    const double p = from + static_cast<double>(i);
    rows.push_back({p, p + 0.5, p - 0.5, p + 0.25});
  }
  return backtest_test::table_of(rows, zorvane::utils::parse_iso_date("2024-03-01"));
}

backtest::StoredDecision wait_on(const std::string& code, const std::string& market,
                                 const std::string& date) {
  backtest::StoredDecision d;
  d.code = code;
  d.market = market;
  d.analysis_date = date;
  d.plan.action = "观望等待";
  d.plan.holding_period = "2日";
  return d;
}

TEST(BacktestEvaluation, BarsOncePerCodeIndexBaselineAndUnmatched) {
  std::map<std::string, int> loads;
  const backtest::BarLoader loader = [&](const std::string& code) {
    ++loads[code];
    if (code == "us.AAPL") return rising(100, 10);
    if (code == "us.SPX") return rising(1000, 10);
    return candlex::BarTable{};
  };
  auto results = backtest::evaluate_all(
      {wait_on("us.AAPL", "US", "2024-03-01"), wait_on("us.AAPL", "US", "2024-03-03"),
       wait_on("us.MSFT", "US", "2024-03-01"), wait_on("us.AAPL", "XX", "2024-03-02"),
       wait_on("us.AAPL", "US", "not a date")},
      {}, loader);
  ASSERT_EQ(results.size(), 5u);
  EXPECT_EQ(loads["us.AAPL"], 1);
  EXPECT_EQ(loads["us.SPX"], 1);
  EXPECT_EQ(results[0].rules.limit_rule, "无");
  EXPECT_NEAR(results[0].outcome.forward_return_pct, (102.25 / 100.25 - 1) * 100, 1e-9);
  EXPECT_NEAR(results[0].outcome.index_pct, (1002.25 / 1001 - 1) * 100, 1e-9);
  EXPECT_EQ(results[1].outcome.status, backtest::Status::closed);
  EXPECT_EQ(results[2].outcome.status, backtest::Status::unmatched);  // no bars at all
  EXPECT_EQ(results[3].outcome.status, backtest::Status::closed);
  EXPECT_TRUE(std::isnan(results[3].outcome.index_pct));  // no index for an unknown market
  EXPECT_EQ(results[4].outcome.status, backtest::Status::unmatched);
  // The closes the outcome was judged on: the analysis day through the horizon (2 bars).
  EXPECT_EQ(results[0].span_closes, (std::vector<double>{100.25, 101.25, 102.25}));
  EXPECT_TRUE(results[2].span_closes.empty());
}

TEST(BacktestEvaluation, SpanOfAFilledBuyEndsAtItsExit) {
  backtest::StoredDecision d = wait_on("us.AAPL", "US", "2024-03-01");
  d.plan = {"建议买入", 100.25, 100.8, 101.2, 99, 103.9, 0, "20日"};
  const backtest::BarLoader loader = [](const std::string&) { return rising(100, 30); };
  const auto results = backtest::evaluate_all({d}, {}, loader);
  ASSERT_EQ(results.size(), 1u);
  // Filled on day 1 at its open, out at day 4's open above target 1; not the 20-bar horizon.
  ASSERT_EQ(results[0].outcome.exit_reason, backtest::ExitReason::target_1);
  EXPECT_EQ(results[0].span_closes, (std::vector<double>{100.25, 101.25, 102.25, 103.25, 104.25}));
}

}  // namespace
