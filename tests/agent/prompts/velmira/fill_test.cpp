#include "agent/prompts/velmira/fill.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "agent/prompts/velmira/prompts.hpp"
#include "agent/prompts/velmira/template_scan.hpp"
#include "agent/schemas/extraction.hpp"
#include "zorvane/utils/json.hpp"

namespace {

using velmira::fill;
using velmira::TemplateValues;

// Runs fill and returns the error text, or "" when it succeeded.
std::string fill_error(std::string_view text, const TemplateValues& values) {
  try {
    fill(text, values);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

TEST(Fill, ReplacesPlaceholdersAndUndoublesBraces) {
  EXPECT_EQ(fill("代码 {code}，{{\"p\": {price}}}，再次 {code}",
                 {{"code", "sh.600000"}, {"price", "9.5"}}),
            "代码 sh.600000，{\"p\": 9.5}，再次 sh.600000");
  EXPECT_EQ(fill("", {}), "");
  EXPECT_EQ(fill("{{}}{{{{", {}), "{}{{");
  // A value is inserted as it is, its braces and placeholder-like text untouched.
  EXPECT_EQ(fill("<r>\n{analysis_report}\n</r>", {{"analysis_report", "{\"action\": \"{x}\"}}"}}),
            "<r>\n{\"action\": \"{x}\"}}\n</r>");
  // Placeholder next to a doubled brace: "{{{a}}}" is brace, value, brace.
  EXPECT_EQ(fill("{{{a}}}", {{"a", "1"}}), "{1}");
}

TEST(Fill, BadTemplatesAndValueSetsAreNamed) {
  EXPECT_EQ(fill_error("价格 {current_price}", {}), "[fill] 占位符 {current_price} 缺少取值");
  EXPECT_EQ(fill_error("{a}", {{"a", "1"}, {"stock_nme", "x"}}),
            "[fill] 取值 stock_nme 在模板中没有对应的占位符");
  EXPECT_NE(fill_error("a } b", {}).find("未配对的 '}'"), std::string::npos);
  EXPECT_NE(fill_error("a {b", {{"b", "1"}}).find("没有闭合"), std::string::npos);
  EXPECT_EQ(fill_error("{ a }", {{"a", "1"}}), "[fill] 占位符 { a } 不是合法的名称");
  EXPECT_EQ(fill_error("{}", {}), "[fill] 占位符 {} 不是合法的名称");
  EXPECT_EQ(fill_error("{0}", {{"0", "x"}}), "[fill] 占位符 {0} 不是合法的名称");
  // A missing value is reported even when it is the second placeholder of the text.
  EXPECT_EQ(fill_error("{a}{b}", {{"a", "1"}}), "[fill] 占位符 {b} 缺少取值");
}

TEST(Fill, SystemTemplatesNeedNoValuesAndComeBackUnchanged) {
  for (const auto& item : velmira::export_list()) {
    if (!item.name.ends_with("SYSTEM_TEMPLATE")) continue;
    EXPECT_EQ(fill(*item.text, {}), *item.text) << item.name;
  }
}

// The ```json block that follows the 6.2 heading of a filled user template.
std::string example_json(const std::string& filled) {
  const auto heading = filled.find("#### 6.2 示例 JSON");
  const auto open = filled.find("```json\n", heading);
  const auto close = filled.find("\n```", open + 8);
  if (heading == std::string::npos || open == std::string::npos || close == std::string::npos) {
    ADD_FAILURE() << "no example block";
    return "";
  }
  return filled.substr(open + 8, close - open - 8);
}

class FilledUserTemplate : public ::testing::TestWithParam<std::string> {};

INSTANTIATE_TEST_SUITE_P(AllMarkets, FilledUserTemplate, ::testing::Values("A", "US", "HK", "ETF"));

TEST_P(FilledUserTemplate, ExampleDecisionParsesAndPassesTheDecisionChecks) {
  const auto values = velmira_test::sample_stock_values();
  const auto filled = fill(velmira::stock_templates(GetParam()).user, values);
  for (const auto& [name, value] : values) {
    EXPECT_EQ(filled.find("{" + name + "}"), std::string::npos) << name;
  }
  EXPECT_NE(filled.find("- 今日涨幅：-1.25%\n"), std::string::npos);
  EXPECT_NE(filled.find("<market_ai_brief>\n[震荡 / 中等]"), std::string::npos);

  const auto json = example_json(filled);
  const auto doc = zorvane::utils::parse_json(json);
  ASSERT_TRUE(doc.IsObject());
  EXPECT_EQ(doc.MemberCount(), 23u);
  EXPECT_STREQ(doc["stock_code"].GetString(), "sh.600519");
  EXPECT_STREQ(doc["stock_name"].GetString(), "贵州茅台");
  EXPECT_STREQ(doc["analysis_time"].GetString(), "2025-11-17");
  ASSERT_TRUE(doc["current_price"].IsNumber());
  EXPECT_DOUBLE_EQ(doc["current_price"].GetDouble(), 1456.78);
  EXPECT_TRUE(doc["position_pct"].IsInt());

  // The example as a model would echo it at the end of a report.
  const auto decision =
      schemas::extract_decision_json("……分析正文……\n\n```json\n" + json + "\n```\n");
  ASSERT_TRUE(decision.has_value());
  EXPECT_STREQ((*decision)["action"].GetString(), "观望等待");
  EXPECT_STREQ((*decision)["holder_action"].GetString(), "继续持有");
  EXPECT_DOUBLE_EQ((*decision)["stop_loss"].GetDouble(), 23.5);
}

TEST(FilledSummaryTemplate, CarriesTheReportVerbatim) {
  const std::string report = "### 6. 结构化决策摘要\n```json\n{\"action\": \"观望等待\"}\n```";
  const auto filled = fill(velmira::SUMMARY_USER_TEMPLATE(), {{"analysis_report", report}});
  EXPECT_EQ(filled, "## 输入分析报告\n<analysis_report>\n" + report +
                        "\n</analysis_report>\n\n请开始你的总结：\n");
}

}  // namespace
