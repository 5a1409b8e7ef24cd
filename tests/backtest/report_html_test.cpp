// The backtest's table page: the headline figures above the table, decision text kept as
// text, figures sortable as numbers, a sparkline only where the span has closes.

#include "backtest/report_html.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

namespace {

std::size_t count(const std::string& text, const std::string& pattern) {
  const std::regex re(pattern);
  return static_cast<std::size_t>(
      std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

backtest::BacktestReport two_decisions() {
  backtest::BacktestReport report;
  backtest::DecisionResult win;
  win.decision.code = "sh.600519";
  win.decision.name = "<script>alert(1)</script>";
  win.decision.market = "A";
  win.decision.analysis_date = "2024-05-06";
  win.decision.plan.action = "建议买入";
  win.outcome.buy = true;
  win.outcome.status = backtest::Status::closed;
  win.outcome.filled = true;
  win.outcome.exit_reason = backtest::ExitReason::target_1;
  win.outcome.return_pct = 4.5;
  win.outcome.r_multiple = 1.2;
  win.outcome.mae_pct = -1;
  win.outcome.mfe_pct = 5;
  win.outcome.days_held = 3;
  win.span_closes = {10, 10.2, 10.45};
  backtest::DecisionResult wait;
  wait.decision.code = "sh.600000";
  wait.decision.market = "A";
  wait.decision.analysis_date = "2024-05-10";
  wait.decision.plan.action = "观望等待";
  wait.outcome.status = backtest::Status::open;
  report.results = {win, wait};
  report.aggregates = backtest::aggregate(report.results);
  return report;
}

TEST(BacktestReportHtml, HeadlineAboveOneSortableRowPerDecision) {
  const std::string page = backtest::report_html(two_decisions());

  EXPECT_EQ(page.find("<script>alert"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.find("分析日 2024-05-06 至 2024-05-10"), std::string::npos);

  // Headline lines precede the table: counts, then overall and per action.
  const auto summary = page.find("<ul class=\"summary\">");
  ASSERT_NE(summary, std::string::npos);
  EXPECT_LT(summary, page.find("<table"));
  EXPECT_NE(page.find("<li>决策 2 条：已结束 1，未成交 0，未结 (期限未到) 1"), std::string::npos);
  EXPECT_NE(page.find("<li>全部：决策 2，成交 1/1，胜率 100.0%，平均R 1.20，期望收益 +4.50%，"
                      "盈亏比 ∞"),
            std::string::npos);
  EXPECT_NE(page.find("<li>建议买入：决策 1，成交 1/1"), std::string::npos);
  EXPECT_NE(page.find("<li>观望等待：决策 1，前瞻收益 —</li>"), std::string::npos);

  // Figures carry their values as sort keys; missing ones none.
  EXPECT_NE(page.find("<td data-v=\"4.5\">+4.50%</td><td data-v=\"1.2\">1.20</td>"
                      "<td data-v=\"-1.0\">-1.00%</td><td data-v=\"5.0\">+5.00%</td>"
                      "<td data-v=\"3.0\">3</td>"),
            std::string::npos);
  EXPECT_EQ(count(page, "<td data-v="), 5u);
  EXPECT_EQ(count(page, "<tr>"), 3u);
  EXPECT_EQ(count(page, "class=\"spark\""), 3u);  // two cells, one line
}

}  // namespace
