// The decision checks, one mutation of a consistent buy decision at a time.

#include "agent/gate/decision_checks.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zorvane/utils/json.hpp"

namespace gate {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const std::string kReport =
    "### 5. 交易决策\n#### 5.1 持仓者操作计划（持有该标的）\n- **操作建议**：【继续持有】\n"
    "#### 5.2 持币者操作计划（尚未入场）\n- **操作建议**：【建议买入】\n"
    "- **执行方案**：10.100～10.300 分批挂单。\n### 5.3 输出前逻辑自洽检查\n"
    "5. 持仓建议 继续持有，操作建议 观望等待；\n";

DecisionFacts facts() {
  DecisionFacts f;
  f.stock_code = "sh.600519";
  f.analysis_time = "2024-05-10";
  f.last_close = 10.2504;  // shown to the model as 10.25
  f.min_rrr = 1.8;
  f.low_250 = 8.0;
  f.high_250 = 12.0;
  f.atr = 0.3;  // band [7.1, 12.9]
  f.brief_bias = "偏多";
  return f;
}

rapidjson::Document decision(const std::string& overrides = "") {
  std::string text =
      R"({"stock_code": "sh.600519", "analysis_time": "2024-05-10", "current_price": 10.25,)"
      R"( "direction": "看多", "action": "建议买入", "entry_price_low": 10.1,)"
      R"( "entry_price_high": 10.3, "stop_loss": 9.8, "target_1": 11.2, "target_2": 11.8,)"
      R"( "rrr": 2.0, "rrr_max": 3.2, "support_price": 9.9, "resistance_price": 11.2,)"
      R"( "market_sentiment": "看多")" +
      overrides + "}";
  return zorvane::utils::parse_json(text);
}

// Later members win in find_field, so an override is a member appended at the end.
std::vector<std::string> failed(const std::string& overrides, const std::string& report = kReport,
                                const DecisionFacts& f = facts()) {
  std::vector<std::string> out;
  for (const auto& r : run_decision_checks(decision(overrides), report, f)) {
    if (!r.passed) out.push_back(r.name);
  }
  return out;
}

std::string detail(const std::string& overrides, std::string_view name) {
  for (const auto& r : run_decision_checks(decision(overrides), kReport, facts())) {
    if (r.name == name) return r.detail;
  }
  return "no such check";
}

TEST(DecisionChecks, ConsistentDecisionPassesEveryRule) {
  auto results = run_decision_checks(decision(), kReport, facts());
  ASSERT_EQ(results.size(), kDecisionRules.size());
  for (const auto& r : results) EXPECT_TRUE(r.passed) << r.name << ": " << r.detail;
  EXPECT_THROW(run_decision_checks(rapidjson::Value(rapidjson::kArrayType), kReport, facts()),
               std::invalid_argument);
}

TEST(DecisionChecks, CurrentPriceIsTheComputedLastClose) {
  EXPECT_THAT(failed(R"(, "current_price": 10.52)"), ElementsAre("decision.current_price"));
  EXPECT_EQ(detail(R"(, "current_price": 10.52)", "decision.current_price"),
            "current_price：应为最新收盘价 10.250，实际 10.520");
  EXPECT_THAT(failed(R"(, "current_price": null)"), ElementsAre("decision.current_price"));
  EXPECT_THAT(failed(R"(, "current_price": "10.25")"), IsEmpty());  // numeric text is the number
}

TEST(DecisionChecks, ModelsOwnCodeAndDateAreTheRunsAsWarnings) {
  EXPECT_THAT(failed(R"(, "stock_code": "600519.SH")"), ElementsAre("decision.stock_code"));
  EXPECT_THAT(failed(R"(, "analysis_time": "2024-05-09")"), ElementsAre("decision.analysis_time"));
  EXPECT_EQ(detail(R"(, "analysis_time": "2024-05-09")", "decision.analysis_time"),
            "analysis_time：应为「2024-05-10」，实际「2024-05-09」");
  for (const auto& r : run_decision_checks(decision(R"(, "stock_code": "x")"), kReport, facts())) {
    if (r.name == "decision.stock_code") {
      EXPECT_EQ(r.severity, Severity::warning);
    }
  }
}

TEST(DecisionChecks, BuyBelowMinimumRewardRiskIsCritical) {
  EXPECT_THAT(failed(R"(, "rrr": 1.5)"), ElementsAre("decision.min_rrr"));
  EXPECT_THAT(detail(R"(, "rrr": 1.5)", "decision.min_rrr"),
              HasSubstr("action 应为「观望等待」，实际 action 「建议买入」、rrr 1.500"));
  EXPECT_THAT(failed(R"(, "rrr": 1.8)"), IsEmpty());  // the minimum itself is allowed
  // A wait may carry any ratio; without a stated minimum nothing is compared.
  const std::string wait_report = "#### 5.2 持币者\n- **操作建议**：【观望等待】\n";
  EXPECT_THAT(failed(R"(, "action": "观望等待", "rrr": 0.0)", wait_report), IsEmpty());
  auto no_min = facts();
  no_min.min_rrr.reset();
  EXPECT_THAT(failed(R"(, "rrr": 0.5)", kReport, no_min), IsEmpty());
}

TEST(DecisionChecks, BuyPricesStayWithinThePlausibleBand) {
  EXPECT_THAT(failed(R"(, "target_2": 13.5)"), ElementsAre("decision.price_band"));
  EXPECT_EQ(detail(R"(, "target_2": 13.5)", "decision.price_band"),
            "target_2：应在 [7.100, 12.900] 内（250 日低点 − 3 ATR 至高点 + 3 ATR），实际 13.500");
  EXPECT_THAT(failed(R"(, "support_price": 7.0)"), ElementsAre("decision.price_band"));
  // Zero means "not set"; an off-tick price inside the band is no fault (three decimals asked).
  EXPECT_THAT(failed(R"(, "support_price": 0, "target_1": 11.237)"), IsEmpty());
}

TEST(DecisionChecks, MarketSentimentFollowsTheBriefsBias) {
  EXPECT_THAT(failed(R"(, "market_sentiment": "中性")"), ElementsAre("decision.market_sentiment"));
  auto f = facts();
  for (auto [bias, sentiment] : {std::pair{"偏空", "看空"}, {"震荡", "中性"}, {"避险", "中性"}}) {
    f.brief_bias = bias;
    auto results = run_decision_checks(
        decision(std::string(R"(, "market_sentiment": ")") + sentiment + "\""), kReport, f);
    EXPECT_TRUE(results[5].passed) << bias << ": " << results[5].detail;
  }
}

TEST(DecisionChecks, ActionMatchesWhatTheTextRecommends) {
  EXPECT_THAT(failed(R"(, "action": "谨慎买入")"), ElementsAre("decision.action_matches_text"));
  EXPECT_EQ(detail(R"(, "action": "谨慎买入")", "decision.action_matches_text"),
            "action（正文操作建议）：应为「建议买入」，实际「谨慎买入」");
  EXPECT_EQ(recommended_action(kReport), "建议买入");
  EXPECT_EQ(recommended_action("#### 5.2 持币者\n- **操作建议**：【观望】，等待回踩\n"),
            "观望等待");
  // Without a 5.2 section the first 操作建议 line naming an action counts; the JSON never does.
  EXPECT_EQ(recommended_action("- 操作建议：【继续持有】\n- 操作建议：【谨慎买入】\n"), "谨慎买入");
  EXPECT_EQ(recommended_action("正文\n```json\n{\"操作建议\": \"强烈买入\", \"action\": 1}\n```"),
            std::nullopt);
}

TEST(DecisionChecks, FactsReadFromPatternInfoAndBrief) {
  EXPECT_EQ(min_rrr_of_pattern_info(R"({"calculated_constraints": {"min_rrr": 1.6}})"), 1.6);
  EXPECT_EQ(min_rrr_of_pattern_info(R"({"calculated_constraints": {}})"), std::nullopt);
  EXPECT_EQ(min_rrr_of_pattern_info("not json"), std::nullopt);
  EXPECT_EQ(brief_bias("**▋ A 股大盘市场研判 · 避险 / 强**\n- x"), "避险");
  EXPECT_EQ(brief_bias("没有标题"), "");
}

}  // namespace
}  // namespace gate
