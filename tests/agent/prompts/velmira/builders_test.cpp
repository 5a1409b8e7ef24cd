#include "agent/prompts/velmira/builders.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "agent/prompts/velmira/prompts.hpp"
#include "agent/prompts/velmira/sections.hpp"
#include "agent/prompts/velmira/template_scan.hpp"

namespace {

using velmira_test::count_of;
namespace d = velmira::detail;

// Labels of the A-share market, as the catalogue uses them.
struct Labels {
  std::string code = "股票代码", name = "股票名称", daily = "日线数据", weekly = "周线数据",
              entity = "个股";
};

std::string derive(const std::string& full, const Labels& l = {}) {
  return velmira::_derive_system_template(full, l.code, l.name, l.daily, l.weekly, l.entity);
}

std::string without_first(std::string text, const std::string& piece) {
  const auto pos = text.find(piece);
  EXPECT_NE(pos, std::string::npos) << piece.substr(0, 60);
  if (pos != std::string::npos) text.erase(pos, piece.size());
  return text;
}

TEST(Builders, InputHeaderIsTheFixedTextAroundTheLabels) {
  const auto header =
      velmira::_build_input_header("ETF代码", "ETF名称", "日交易数据", "周交易数据");
  EXPECT_EQ(header,
            "\n## 输入数据\n### 1. 标的信息\n- ETF代码：{stock_code}\n- ETF名称：{stock_name}\n"
            "- 分析时间：{analysis_time}\n- 当前价格：{current_price}\n"
            "- 今日涨幅：{pct_change}%\n\n### 2. 标的交易数据\n"
            "**日交易数据 (Daily Data - 60 days):**\n<daily_data>\n{stock_data}\n</daily_data>\n\n"
            "**周交易数据 (Weekly Data - 20 weeks):**\n<weekly_data>\n{stock_week_data}\n"
            "</weekly_data>\n\n");
}

TEST(Builders, LabelsCompleteTheirSentences) {
  EXPECT_NE(velmira::_build_data_fields("9.99, 10.10, 9.90, 10.00")
                .find("| open/high/low/close | OHLC价格 | 9.99, 10.10, 9.90, 10.00 |\n"
                      "| volume | 成交量 | 3066412 |"),
            std::string::npos);

  const auto env = velmira::_build_input_env_section("基金");
  EXPECT_NE(env.find("同一市场、同一日期下的所有基金\n> 共享同一份判断口径。"), std::string::npos);
  EXPECT_LT(env.find("{pattern_info}"), env.find("### 4. 大盘 AI 预分析"));
  EXPECT_LT(env.find("### 4. 大盘 AI 预分析"), env.find("{market_ai_brief}"));

  EXPECT_TRUE(
      velmira::_build_framework_header("基金代码、名称")
          .ends_with("### 0. 标的信息\n在报告开头输出基金代码、名称、分析时间和当前价格。\n"));

  const auto both = velmira::_build_env_and_framework_header("个股", "股票代码、名称");
  EXPECT_EQ(both, velmira::_build_input_env_section("个股") + "\n---\n" +
                      velmira::_build_framework_header("股票代码、名称"));
}

TEST(Builders, NotesPutTheMarketBlockBetweenItemsFourAndNine) {
  const auto notes = velmira::_build_notes("5. 甲\n6. 乙\n7. 丙\n8. 丁\n");
  EXPECT_NE(notes.find("4. **禁止编造形态**：基于 K 线事实描述价格行为。\n5. 甲\n6. 乙\n7. 丙\n"
                       "8. 丁\n9. **置信度与约束引擎说明**"),
            std::string::npos);
  EXPECT_TRUE(notes.starts_with("\n## 注意事项\n1. "));
  EXPECT_TRUE(notes.ends_with("\n请开始你的分析：\n"));
}

TEST(Builders, Step6PutsTheExampleBetweenTheTableAndTheRequirements) {
  const auto section = velmira::_build_step6_json_section(
      "### 6\n#### 6.1 表\n| a |\n\n#### 6.3 输出要求\n- 规则\n", "\n\n#### 6.2 示例\n```json\n");
  EXPECT_EQ(section,
            "### 6\n#### 6.1 表\n| a |\n\n#### 6.2 示例\n```json\n#### 6.3 输出要求\n- 规则\n");
  EXPECT_EQ(d::STEP6_JSON_SECTION(),
            velmira::_build_step6_json_section(d::STEP6_SCHEMA_SYSTEM, d::STEP6_EXAMPLE_USER));
  EXPECT_EQ(count_of(d::STEP6_SCHEMA_SYSTEM, "#### 6.3 输出要求"), 1u);

  try {
    velmira::_build_step6_json_section("#### 6.1 表\n#### 6.4 输出要求\n", "#### 6.2\n");
    ADD_FAILURE() << "accepted a schema without the 6.3 heading";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("#### 6.3 输出要求"), std::string::npos) << e.what();
  }
}

TEST(Builders, NullArgumentsAreRejectedByParameterName) {
  const char* null = nullptr;
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"[_build_input_header] 参数 code_lbl 必须是文本",
       [&] { velmira::_build_input_header(null, "b", "c", "d"); }},
      {"[_build_input_header] 参数 weekly_lbl 必须是文本",
       [&] { velmira::_build_input_header("a", "b", "c", null); }},
      {"[_build_data_fields] 参数 ohlc_example 必须是文本",
       [&] { velmira::_build_data_fields(null); }},
      {"[_build_input_env_section] 参数 env_entity 必须是文本",
       [&] { velmira::_build_input_env_section(null); }},
      {"[_build_framework_header] 参数 step0_label 必须是文本",
       [&] { velmira::_build_framework_header(null); }},
      {"[_build_env_and_framework_header] 参数 step0_label 必须是文本",
       [&] { velmira::_build_env_and_framework_header("个股", null); }},
      {"[_build_notes] 参数 mid 必须是文本", [&] { velmira::_build_notes(null); }},
      {"[_build_user_template] 参数 env_entity 必须是文本",
       [&] { velmira::_build_user_template("a", "b", "c", "d", null); }},
      {"[_derive_system_template] 参数 full_prompt 必须是文本",
       [&] { velmira::_derive_system_template(null, "a", "b", "c", "d", "e"); }},
      {"[_derive_system_template] 参数 name_label 必须是文本",
       [&] { velmira::_derive_system_template("x", "a", null, "c", "d", "e"); }},
      {"[_derive_summary_system_template] 参数 user_block 必须是文本",
       [&] { velmira::_derive_summary_system_template("x", null); }},
  };
  for (const auto& [message, call] : cases) {
    try {
      call();
      ADD_FAILURE() << "no error for: " << message;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
  // An empty text is still text.
  EXPECT_NO_THROW(velmira::_build_notes(""));
}

TEST(SystemDerivation, EachMissingAnchorFailsWithItsOwnMessage) {
  const std::string full = velmira::A_STOCK_PROMPT();
  const Labels labels;
  const auto header =
      velmira::_build_input_header(labels.code, labels.name, labels.daily, labels.weekly);
  const auto env = velmira::_build_input_env_section(labels.entity);
  const std::string example(d::STEP6_EXAMPLE_USER.substr(1));
  const std::string kickoff(d::USER_KICKOFF);

  const std::vector<std::pair<std::string, std::string>> cases = {
      {without_first(full, header), "input_header 段"},
      {without_first(full, env), "input_env 段"},
      {without_first(full, example), "6.2 示例块"},
      {without_first(full, kickoff), "_USER_KICKOFF"},
  };
  for (const auto& [broken, anchor] : cases) {
    try {
      derive(broken);
      ADD_FAILURE() << "no error for a prompt without " << anchor;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()),
                "[_derive_system_template] 未在 full_prompt 中找到 " + anchor);
    }
  }
  // Labels of another market do not match the A-share header.
  Labels etf{"ETF代码", "ETF名称", "日交易数据", "周交易数据", "ETF"};
  EXPECT_THROW(derive(full, etf), std::invalid_argument);
}

TEST(SystemDerivation, OnlyTheFirstOccurrenceOfEachAnchorIsRemoved) {
  const Labels labels;
  const auto header =
      velmira::_build_input_header(labels.code, labels.name, labels.daily, labels.weekly);
  const std::string kickoff(d::USER_KICKOFF);
  const std::string full = velmira::A_STOCK_PROMPT();

  const auto system = derive(full + header + kickoff);
  EXPECT_EQ(system, velmira::A_STOCK_SYSTEM_TEMPLATE() + header + kickoff);
  EXPECT_EQ(count_of(system, "## 输入数据"), 1u);
}

TEST(SystemDerivation, SummaryBlockMustBePresent) {
  const std::string block(d::SUMMARY_USER_BLOCK);
  EXPECT_EQ(velmira::_derive_summary_system_template("头\n" + block + "尾\n" + block, block),
            "头\n尾\n" + block);
  try {
    // One character off: the anchor must match exactly.
    velmira::_derive_summary_system_template(
        "# 角色\n## 输入分析报告\n<analysis_report>\n{analysis_report}\n</analysis_report>\n",
        block);
    ADD_FAILURE() << "accepted a summary without its user block";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "SUMMARY_PROMPT 的 user 块锚定失败，请检查 _SUMMARY_USER_BLOCK 文本");
  }
}

}  // namespace
