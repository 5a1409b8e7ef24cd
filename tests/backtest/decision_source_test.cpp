// Reading stored decisions: selection, the newest of repeated analyses, rows without a
// decision, and decisions the trust gate rejected.

#include "backtest/decision_source.hpp"

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/report/sqlite_db.hpp"

namespace {

using zorvane::report::StockReport;

std::string decision(const std::string& action, double entry_low, const std::string& confidence) {
  return R"({"stock_code": "x", "analysis_time": "x", "current_price": 10.0, "direction": "看多", )"
         R"("action": ")" +
         action + R"(", "entry_price_low": )" + std::to_string(entry_low) +
         R"(, "entry_price_high": 10.2, "stop_loss": 9.5, "target_1": 11.0, "target_2": null, )"
         R"("holding_period": "5个交易日", "confidence": ")" +
         confidence + R"("})";
}

StockReport report(const std::string& code, const std::string& date, const std::string& client,
                   std::optional<std::string> decision_json) {
  return {code,        "示例", std::nullopt,
          date,        client, "m",
          "报告",      "总结", std::move(decision_json),
          std::nullopt};
}

class BacktestDecisionSource : public ::testing::Test {
 protected:
  void SetUp() override {
    zorvane::report::ReportStorage storage(dir.path());
    storage.save_stock_report(
        report("sh.600519", "2024-05-06", "offline", decision("建议买入", 9.8, "高")));
    // Re-analysed: the newer row counts.
    storage.save_stock_report(
        report("sh.600519", "2024-05-06", "offline", decision("谨慎买入", 9.7, "低")));
    storage.save_stock_report(
        report("hk.00700", "2024-05-07", "deepseek", decision("观望等待", 0, "中")));
    storage.save_stock_report(report("us.AAPL", "2024-05-08", "offline", std::nullopt));
    storage.save_stock_report(
        report("sz.000001", "2024-05-09", "offline", decision("强烈买入", 9.8, "高")));
  }
  zv_test::TempDir dir{"backtest-source"};
};

TEST_F(BacktestDecisionSource, SelectsAndKeepsTheNewestAnalysis) {
  auto all = backtest::load_decisions(dir.path(), {});
  ASSERT_EQ(all.decisions.size(), 3u);
  EXPECT_EQ(all.superseded, 1u);
  EXPECT_EQ(all.without_decision, 1u);
  const auto& first = all.decisions[0];
  EXPECT_EQ(first.code, "sh.600519");
  EXPECT_EQ(first.market, "A");  // the stored row has none: taken from the code
  EXPECT_EQ(first.plan.action, "谨慎买入");
  EXPECT_DOUBLE_EQ(first.plan.entry_low, 9.7);
  EXPECT_DOUBLE_EQ(first.plan.target_2, 0.0);  // null reads as absent
  EXPECT_EQ(first.confidence, "低");

  backtest::Selection s;
  s.code = "600519.SH";
  EXPECT_EQ(backtest::load_decisions(dir.path(), s).decisions.size(), 1u);
  s = {};
  s.from = "2024-05-07";
  s.to = "2024-05-08";
  s.market = "hk";
  auto hk = backtest::load_decisions(dir.path(), s);
  ASSERT_EQ(hk.decisions.size(), 1u);
  EXPECT_EQ(hk.decisions[0].client_type, "deepseek");
  s = {};
  s.model = "DeepSeek";
  EXPECT_EQ(backtest::load_decisions(dir.path(), s).decisions.size(), 1u);
}

TEST_F(BacktestDecisionSource, RejectedDecisionsOnlyOnRequest) {
  {
    zorvane::report::SqliteDb db(dir / "reports.db");
    db.exec("UPDATE stock_reports SET decision_status = 'rejected' WHERE code = 'sz.000001'");
  }
  auto plain = backtest::load_decisions(dir.path(), {});
  EXPECT_EQ(plain.decisions.size(), 2u);
  EXPECT_EQ(plain.rejected, 1u);
  backtest::Selection s;
  s.include_rejected = true;
  auto all = backtest::load_decisions(dir.path(), s);
  ASSERT_EQ(all.decisions.size(), 3u);
  EXPECT_EQ(all.decisions[2].decision_status, "rejected");
}

TEST_F(BacktestDecisionSource, ErrorsNameTheBadInput) {
  zv_test::TempDir empty{"backtest-empty"};
  try {
    backtest::load_decisions(empty.path(), {});
    FAIL() << "expected an error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("reports.db"), std::string::npos);
  }
  backtest::Selection s;
  s.market = "XX";
  EXPECT_THROW(backtest::load_decisions(dir.path(), s), std::invalid_argument);
  s = {};
  s.from = "2024/05/01";
  EXPECT_THROW(backtest::load_decisions(dir.path(), s), std::invalid_argument);
}

}  // namespace
