// Output forms: strict JSON (no NaN), CSV quoting, and column widths of CJK text.

#include "backtest/report_output.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "zorvane/utils/json.hpp"

namespace {

backtest::BacktestReport one_open_decision() {
  backtest::BacktestReport report;
  backtest::DecisionResult r;
  r.decision.id = 7;
  r.decision.code = "sh.600519";
  r.decision.name = "示例,\"酒业\"";
  r.decision.plan.action = "建议买入";
  r.rules = {"主板10%", 0.10, true};
  r.outcome.buy = true;
  r.outcome.status = backtest::Status::open;
  r.outcome.horizon_bars = 8;
  r.outcome.scale = 0.5;
  report.results.push_back(r);
  report.aggregates = backtest::aggregate(report.results);
  return report;
}

TEST(BacktestReportOutput, JsonIsStrictAndCsvQuotes) {
  const auto report = one_open_decision();
  std::ostringstream json;
  backtest::write_json(json, report);
  EXPECT_EQ(json.str().find("NaN"), std::string::npos);
  auto doc = zorvane::utils::parse_json(json.str());
  const auto& row = doc["decisions"][0];
  EXPECT_EQ(row["status"], "open");
  EXPECT_TRUE(row["return_pct"].IsNull());
  EXPECT_EQ(row["horizon_bars"].GetInt(), 8);
  EXPECT_DOUBLE_EQ(row["scale"].GetDouble(), 0.5);
  EXPECT_EQ(doc["counts"]["open"].GetInt(), 1);
  EXPECT_TRUE(doc["aggregates"]["overall"]["win_rate"].IsNull());

  std::ostringstream csv;
  backtest::write_csv(csv, report);
  EXPECT_NE(csv.str().find("\n7,sh.600519,\"示例,\"\"酒业\"\"\","), std::string::npos) << csv.str();
  EXPECT_NE(csv.str().find("\n\ndimension,group,"), std::string::npos);
  EXPECT_NE(csv.str().find("\noverall,全部,1,1,0,"), std::string::npos);
}

TEST(BacktestReportOutput, TableAlignsWideCharacters) {
  EXPECT_EQ(backtest::display_width("A股"), 3u);
  EXPECT_EQ(backtest::display_width("强烈买入"), 8u);
  EXPECT_EQ(backtest::display_width("∞"), 1u);
  std::ostringstream table;
  backtest::write_table(table, one_open_decision());
  EXPECT_NE(table.str().find("未结 (期限未到) 1"), std::string::npos);
  EXPECT_NE(table.str().find("置信度校准 (买入成交的胜率)：无成交"), std::string::npos);
}

}  // namespace
