#include "agent/prompts/velmira/prompts.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "agent/prompts/velmira/sections.hpp"
#include "agent/prompts/velmira/template_scan.hpp"

namespace {

using velmira_test::count_of;
using velmira_test::placeholder_counts;

const std::vector<std::string> kMarkets = {"A", "US", "HK", "ETF"};

// Positions of `needles` in `text`, each searched after the previous one; fails the test
// naming the first needle that is missing or out of order.
void expect_in_order(const std::string& text, const std::vector<std::string>& needles,
                     std::size_t from = 0) {
  std::size_t pos = from;
  for (const auto& needle : needles) {
    const auto found = text.find(needle, pos);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << needle;
    pos = found + needle.size();
  }
}

class MarketTemplates : public ::testing::TestWithParam<std::string> {
 protected:
  const velmira::StockTemplates& t() const { return velmira::stock_templates(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(AllMarkets, MarketTemplates, ::testing::ValuesIn(kMarkets));

TEST_P(MarketTemplates, SystemTemplateHasNoBraceAtAll) {
  EXPECT_EQ(t().system.find('{'), std::string::npos);
  EXPECT_EQ(t().system.find('}'), std::string::npos);
}

TEST_P(MarketTemplates, UserTemplateHasExactlyTheNinePlaceholdersAndTheExampleBraces) {
  const std::map<std::string, int> expected = {
      {"stock_code", 2},      {"stock_name", 2},   {"analysis_time", 2},
      {"current_price", 2},   {"pct_change", 1},   {"stock_data", 1},
      {"stock_week_data", 1}, {"pattern_info", 1}, {"market_ai_brief", 1},
  };
  EXPECT_EQ(placeholder_counts(t().user), expected);
  EXPECT_EQ(count_of(t().user, "{{"), 1u);
  EXPECT_EQ(count_of(t().user, "}}"), 1u);
  EXPECT_TRUE(t().user.ends_with("\n请开始你的分析：\n"));
}

TEST_P(MarketTemplates, SystemPlusUserCarryTheWholeFullPrompt) {
  // The example block loses its one leading line break where it stands in the full prompt.
  EXPECT_EQ(t().system.size() + t().user.size() - 1, t().full.size());
  // The system template is the full prompt with user pieces cut out: its prefix up to the
  // input header and its text after the example block are those of the full prompt.
  const auto header_at = t().full.find("\n## 输入数据\n");
  ASSERT_NE(header_at, std::string::npos);
  EXPECT_EQ(t().system.substr(0, header_at), t().full.substr(0, header_at));
  const auto tail = t().system.substr(t().system.find("#### 6.3 输出要求"));
  EXPECT_TRUE(t().full.ends_with(tail + "\n请开始你的分析：\n"));
  // Every line of the user template stands in the full prompt.
  std::size_t start = 0;
  while (start < t().user.size()) {
    const auto end = t().user.find('\n', start);
    const auto line = t().user.substr(start, end - start);
    if (!line.empty()) {
      EXPECT_NE(t().full.find(line), std::string::npos) << line;
    }
    start = end + 1;
  }
}

TEST_P(MarketTemplates, Step6SplitsBetweenSystemAndUser) {
  EXPECT_NE(t().system.find("#### 6.1 字段定义表（权威版本，JSON 取值须严格遵守）"),
            std::string::npos);
  EXPECT_EQ(count_of(t().system, "#### 6.3 输出要求"), 1u);
  EXPECT_EQ(t().system.find("#### 6.2"), std::string::npos);
  EXPECT_EQ(t().system.find("```json\n"), std::string::npos);
  EXPECT_EQ(count_of(t().user, "#### 6.2 示例 JSON"), 1u);
  expect_in_order(t().full, {"#### 6.1", "#### 6.2", "#### 6.3 输出要求"});
  // The 6.1 table is directly followed by the example in the full prompt.
  EXPECT_NE(t().full.find("|\n\n#### 6.2 示例 JSON"), std::string::npos);
}

TEST_P(MarketTemplates, SectionsStandInTheFrameworkOrder) {
  const bool etf = GetParam() == "ETF";
  const std::vector<std::string> headings = {
      "\n# Role: ",
      "## 任务目标",
      "## 行为准则（强制执行）",
      "\n## 输入数据\n### 1. 标的信息\n",
      "### 2. 标的交易数据",
      "<daily_data>\n{stock_data}\n</daily_data>",
      "<weekly_data>\n{stock_week_data}\n</weekly_data>",
      "**数据格式说明**",
      "### 3. 形态信息初步分析",
      "<pattern_info>\n{pattern_info}\n</pattern_info>",
      "### 4. 大盘 AI 预分析（系统统一判断，所有标的共享）",
      "<market_ai_brief>\n{market_ai_brief}\n</market_ai_brief>",
      "\n---\n## 分析框架",
      "### 0. 标的信息\n在报告开头输出",
      "### 1. 市场状态诊断",
      "**档位定档**",
      "**操作框架**",
      "**大盘定性（一句话）**",
      "### 2. 关键证据分析",
      "#### 2.0 市场环境分析（基于第 4 节预分析结论做 Beta 匹配）",
      etf ? "#### 2.1 趋势结构（多周期共振，以二级市场价格为主）"
          : "#### 2.1 趋势结构（多周期共振）",
      "启明星（Morning Star）",
      "**趋势强度（ADX）**",
      "**防洗盘保护**",
      etf ? "#### 2.2 量价与流动性验证" : "#### 2.2 量价验证",
      "**量能极值信号**",
      "**资金流向与风险标签**",
      "#### 2.3 动能与超买超卖",
      "#### 2.4 信号冲突仲裁",
      "### 3. 关键点位与风险",
      "**止损定价规则**",
      "### 4. 目标价确定与盈亏比",
      "### 5. 交易决策",
      "#### 5.1 持仓者操作计划（持有该标的）",
      "#### 5.2 持币者操作计划（尚未入场）",
      "- **执行方案**：",
      "**时间止损**",
      "**移动止损**",
      "- **观望计划**：",
      "### 5.3 输出前逻辑自洽检查",
      "**入场偏离豁免（v5.1）**",
      "### 6. 结构化决策摘要",
      "## 注意事项",
  };
  expect_in_order(t().full, headings);
  EXPECT_TRUE(t().full.ends_with("\n请开始你的分析：\n"));
  EXPECT_EQ(count_of(t().full, "\n请开始你的分析：\n"), 1u);
  // Each of these headings stands once: a second copy would be a wiring fault.
  for (const auto& heading : {"## 输入数据", "### 3. 形态信息初步分析", "## 分析框架",
                              "### 5. 交易决策", "## 注意事项", "### 6. 结构化决策摘要"}) {
    EXPECT_EQ(count_of(t().full, heading), 1u) << heading;
  }
}

TEST_P(MarketTemplates, NotesItemsOneToFourteenInOrderWithTheMarketsOwnBlock) {
  const auto& system = t().system;
  const auto notes_at = system.find("\n## 注意事项\n");
  ASSERT_NE(notes_at, std::string::npos);
  std::vector<std::string> items;
  for (int n = 1; n <= 14; ++n) items.push_back("\n" + std::to_string(n) + ". **");
  expect_in_order(system, items, notes_at);
  EXPECT_EQ(count_of(system.substr(notes_at), "\n5. **"), 1u);
  expect_in_order(system,
                  {"4. **禁止编造形态**：基于 K 线事实描述价格行为。\n"
                   "5. **",
                   "\n9. **置信度与约束引擎说明**"},
                  notes_at);

  const std::map<std::string, std::string_view> mids = {
      {"A", velmira::detail::NOTES_MID_A},
      {"US", velmira::detail::NOTES_MID_US},
      {"HK", velmira::detail::NOTES_MID_HK},
      {"ETF", velmira::detail::NOTES_MID_ETF},
  };
  for (const auto& [market, mid] : mids) {
    EXPECT_EQ(system.find(mid) != std::string::npos, market == GetParam()) << market;
  }
  // The notes close the system template; the kickoff went to the user side.
  EXPECT_TRUE(system.ends_with(velmira::detail::NOTES_TAIL));
}

TEST_P(MarketTemplates, MarketBlocksOnlyWhereTheyBelong) {
  const auto& full = t().full;
  const auto& market = GetParam();
  using namespace velmira::detail;
  EXPECT_EQ(full.find(RISK_US) != std::string::npos, market == "US");
  EXPECT_EQ(full.find(RISK_HK) != std::string::npos, market == "HK");
  EXPECT_EQ(full.find(RISK_ETF) != std::string::npos, market == "ETF");
  EXPECT_EQ(full.find(LIQUIDITY_ETF) != std::string::npos, market == "ETF");
  EXPECT_EQ(full.find("**事件窗口检查**（美股专有）") != std::string::npos, market == "US");
  EXPECT_EQ(full.find("**T+0 交易节奏指引**（港股特有）") != std::string::npos, market == "HK");
  if (market == "A") {
    // Stop-loss rules run straight into Step 4; the risk-flag bullet straight into 2.3.
    EXPECT_NE(full.find(std::string(STOPLOSS_PRICING) + std::string(STEP4_TARGETS_RRR)),
              std::string::npos);
    EXPECT_NE(full.find(std::string(OBV_RISKFLAGS) + "\n" + std::string(STEP23_MOMENTUM)),
              std::string::npos);
    EXPECT_NE(full.find("5. **A股涨跌停与 T+1 止损执行**"), std::string::npos);
  }
}

TEST(MarketTemplates, RoleHeadingsPerMarket) {
  EXPECT_TRUE(velmira::A_STOCK_PROMPT().starts_with(
      "\n# Role: A股资深技术分析专家 (v3.0 - Logic Shift-Left)\n"));
  EXPECT_TRUE(velmira::US_STOCK_PROMPT().starts_with(
      "\n# Role: 美股资深技术分析专家 (v3.0 - Logic Shift-Left)\n"));
  EXPECT_TRUE(velmira::HK_STOCK_PROMPT().starts_with(
      "\n# Role: 港股资深技术分析专家 (v3.0 - Logic Shift-Left)\n"));
  EXPECT_TRUE(velmira::ETF_STOCK_PROMPT().starts_with(
      "\n# Role: 资深ETF基金研究员与交易专家 (v3.0 - Logic Shift-Left)\n"));
}

TEST(MarketTemplates, EtfUserTemplateDiffersOnlyByItsLabelsAndEntityWord) {
  EXPECT_EQ(velmira::A_STOCK_USER_TEMPLATE(), velmira::US_STOCK_USER_TEMPLATE());
  EXPECT_EQ(velmira::A_STOCK_USER_TEMPLATE(), velmira::HK_STOCK_USER_TEMPLATE());

  std::string etf = velmira::ETF_STOCK_USER_TEMPLATE();
  EXPECT_NE(etf.find("- ETF代码：{stock_code}\n- ETF名称：{stock_name}\n"), std::string::npos);
  EXPECT_NE(etf.find("**日交易数据 (Daily Data - 60 days):**"), std::string::npos);
  EXPECT_NE(etf.find("**周交易数据 (Weekly Data - 20 weeks):**"), std::string::npos);
  EXPECT_NE(etf.find("同一市场、同一日期下的所有ETF\n> 共享同一份判断口径。"), std::string::npos);
  EXPECT_NE(velmira::A_STOCK_USER_TEMPLATE().find("同一市场、同一日期下的所有个股\n> 共享"),
            std::string::npos);
  EXPECT_NE(velmira::ETF_STOCK_SYSTEM_TEMPLATE().find(
                "在报告开头输出ETF代码、名称、分析时间和当前价格。\n"),
            std::string::npos);
  EXPECT_NE(velmira::ETF_STOCK_SYSTEM_TEMPLATE().find(
                "| open/high/low/close | OHLC价格 | 1.125, 1.138, 1.120, 1.132 |\n"
                "| volume | 成交量 | 3066412 |"),
            std::string::npos);

  // Put the stock labels back: the ETF user template becomes the shared one.
  const std::vector<std::pair<std::string, std::string>> swaps = {
      {"ETF代码：", "股票代码："},        {"ETF名称：", "股票名称："},
      {"**日交易数据 (", "**日线数据 ("}, {"**周交易数据 (", "**周线数据 ("},
      {"所有ETF\n>", "所有个股\n>"},
  };
  for (const auto& [from, to] : swaps) {
    const auto pos = etf.find(from);
    ASSERT_NE(pos, std::string::npos) << from;
    etf.replace(pos, from.size(), to);
  }
  EXPECT_EQ(etf, velmira::A_STOCK_USER_TEMPLATE());
}

TEST(MarketTemplates, DecisionFieldTableListsTheTwentyThreeFieldsInOrder) {
  const std::vector<std::string> fields = {"stock_code",       "stock_name",
                                           "analysis_time",    "current_price",
                                           "direction",        "action",
                                           "holder_action",    "strategy_mode",
                                           "entry_price_low",  "entry_price_high",
                                           "stop_loss",        "target_1",
                                           "target_2",         "rrr",
                                           "rrr_max",          "support_price",
                                           "resistance_price", "position_pct",
                                           "holding_period",   "confidence",
                                           "risk_level",       "market_sentiment",
                                           "key_watch"};
  const std::string schema(velmira::detail::STEP6_SCHEMA_SYSTEM);
  std::vector<std::string> rows;
  std::size_t pos = 0;
  while ((pos = schema.find("\n| `", pos)) != std::string::npos) {
    const auto end = schema.find('`', pos + 4);
    rows.push_back(schema.substr(pos + 4, end - pos - 4));
    pos = end;
  }
  EXPECT_EQ(rows, fields);
}

TEST(SummaryTemplates, SplitAroundTheReportBlock) {
  const auto& prompt = velmira::SUMMARY_PROMPT();
  const auto& system = velmira::SUMMARY_SYSTEM_TEMPLATE();
  const auto& user = velmira::SUMMARY_USER_TEMPLATE();
  const std::string block(velmira::detail::SUMMARY_USER_BLOCK);

  EXPECT_TRUE(prompt.starts_with("# 角色：交易执行专家\n"));
  EXPECT_EQ(count_of(prompt, block), 1u);
  EXPECT_EQ(system.find('{'), std::string::npos);
  EXPECT_EQ(system.find('}'), std::string::npos);
  EXPECT_EQ(user, block + "请开始你的总结：\n");
  EXPECT_EQ(placeholder_counts(user), (std::map<std::string, int>{{"analysis_report", 1}}));
  // Putting the block back where the system template has a gap gives the prompt again.
  const auto gap = prompt.find(block);
  EXPECT_EQ(system.substr(0, gap) + block + system.substr(gap), prompt);

  expect_in_order(
      prompt,
      {"## 任务背景", "## 输入分析报告", "## 约束条件（严格执行）", "## 执行前内部核查（不输出）",
       "## 输出格式", "###### 📝 标的信息", "###### 💡 核心结论", "⚠️ **信号翻转提示**",
       "###### 🎯 关键价位", "\n---\n", "### **持仓者操作计划**", "### **持币者操作计划**",
       "「买入方案」", "「观望方案」", "###### ⚠️ 风险提示"});
  EXPECT_TRUE(prompt.ends_with(
      "*免责声明：以上分析由AI生成，仅供参考，不构成任何投资建议。股市有风险，买卖自己定。*\n"));
}

TEST(Catalogue, ExportListNamesEveryTextInOrder) {
  const std::vector<std::pair<std::string, const std::string*>> expected = {
      {"A_STOCK_PROMPT", &velmira::A_STOCK_PROMPT()},
      {"US_STOCK_PROMPT", &velmira::US_STOCK_PROMPT()},
      {"HK_STOCK_PROMPT", &velmira::HK_STOCK_PROMPT()},
      {"ETF_STOCK_PROMPT", &velmira::ETF_STOCK_PROMPT()},
      {"SUMMARY_PROMPT", &velmira::SUMMARY_PROMPT()},
      {"A_STOCK_SYSTEM_TEMPLATE", &velmira::A_STOCK_SYSTEM_TEMPLATE()},
      {"A_STOCK_USER_TEMPLATE", &velmira::A_STOCK_USER_TEMPLATE()},
      {"US_STOCK_SYSTEM_TEMPLATE", &velmira::US_STOCK_SYSTEM_TEMPLATE()},
      {"US_STOCK_USER_TEMPLATE", &velmira::US_STOCK_USER_TEMPLATE()},
      {"HK_STOCK_SYSTEM_TEMPLATE", &velmira::HK_STOCK_SYSTEM_TEMPLATE()},
      {"HK_STOCK_USER_TEMPLATE", &velmira::HK_STOCK_USER_TEMPLATE()},
      {"ETF_STOCK_SYSTEM_TEMPLATE", &velmira::ETF_STOCK_SYSTEM_TEMPLATE()},
      {"ETF_STOCK_USER_TEMPLATE", &velmira::ETF_STOCK_USER_TEMPLATE()},
      {"SUMMARY_SYSTEM_TEMPLATE", &velmira::SUMMARY_SYSTEM_TEMPLATE()},
      {"SUMMARY_USER_TEMPLATE", &velmira::SUMMARY_USER_TEMPLATE()},
  };
  const auto& list = velmira::export_list();
  ASSERT_EQ(list.size(), expected.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].name, expected[i].first);
    EXPECT_EQ(list[i].text, expected[i].second) << expected[i].first;
  }
  EXPECT_EQ(&velmira::stock_templates("HK").system, &velmira::HK_STOCK_SYSTEM_TEMPLATE());
}

TEST(Catalogue, UnknownMarketIsNamed) {
  for (const char* market : {"a", "CN", "", "SUMMARY"}) {
    try {
      velmira::stock_templates(market);
      ADD_FAILURE() << "accepted " << market;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("'" + std::string(market) + "'"), std::string::npos)
          << e.what();
    }
  }
}

}  // namespace
