// The offline client's brief writer, fed with prompts built by the pipeline itself.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "agent/sumora/brief.hpp"
#include "agent/sumora/prompts.hpp"
#include "zorvane/agent/offline_writers.hpp"

namespace sumora {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using zorvane::agent::offline_brief_reply;

const std::string kTable =
    "| 指数名称 | 涨跌幅 | 量比 | 趋势状态 |\n| :--- | :--- | :--- | :--- |\n"
    "| **上证指数** | -0.52% | 0.85 | EMA5/20/60 空头 |\n| **创业板指** | -0.12% | 0.92 | EMA20 "
    "压制 |\n"
    "| **科创50** | +0.40% | 1.10 | EMA20 支撑 |\n| **沪深300** | -0.20% | 0.90 | EMA20 压制 |";

std::string fact(const std::string& name, const std::string& pct, const std::string& ratio) {
  return "- **" + name + "**：涨跌幅 " + pct + "，量比 " + ratio +
         "；收盘仍在 EMA20 下方。收盘 3000.00；vs EMA5 3010.00（下方-0.33%）、vs EMA20 3050.00"
         "（下方-1.64%）、vs EMA60 3100.00（下方-3.23%）";
}

CoreIndexTable core(const std::string& second_pct = "-0.12%") {
  return {kTable,
          fact("上证指数", "-0.52%", "0.85") + "\n" + fact("创业板指", second_pct, "0.92") + "\n" +
              fact("科创50", "+0.40%", "1.10") + "\n- **沪深300**：数据错误",
          {"偏空", "中", "空仓等待", "第一指数 -0.52%、量比 0.85、收盘<EMA20；强度命中 2/4 项"}};
}

const std::string kSentiment =
    "### 4. A 股情绪温度计（sentiment_thermometer 权威计算）\n"
    "- D线：温度 **12.3** · 冰点(≤15) · 升温 · 置信度 0.80 · 样本 156 只 ETF\n"
    "  - 温区：冰点区；战术总方针：分批左侧\n"
    "  - 趋势解读：良性企稳/冰点回暖：恐慌出清后的右侧高胜率进场信号。\n"
    "  - 子因子分位：广度 0.1\n"
    "- W线：温度 **88.0** · 过热(≥85) · 降温 · 置信度 0.70 · 样本 156 只 ETF\n"
    "  - 温区：过热区；战术总方针：逢高减仓\n"
    "  - 趋势解读：资金情绪边际降温，需结合所在温区收紧仓位与止盈纪律。\n"
    "  - 子因子分位：\n";

std::string brief_for(const std::string& market, const CoreIndexTable& c,
                      const std::string& sentiment) {
  auto prompt = _build_user_prompt(market, "2024-05-10", c, "ENV", "HIST", "", sentiment);
  auto out = offline_brief_reply(SUMORA_SYSTEM_MESSAGE, prompt);
  EXPECT_TRUE(out.has_value());
  return out.value_or("");
}

TEST(OfflineBrief, FollowsTheOutputFormatAndCopiesValues) {
  auto b = brief_for("ETF", core(), kSentiment);
  EXPECT_EQ(b.rfind("**▋ A 股大盘市场研判 · 偏空 / 中**\n- **市场氛围**：", 0), 0u);
  EXPECT_THAT(b,
              HasSubstr("\n- **策略指引**：**空仓等待**\n\n---\n\n**▋ 核心指数动态**\n" + kTable +
                        "\n> **关键解读**：\n> - **上证指数**：涨跌幅 -0.52%，量比 0.85，"
                        "收盘仍在 EMA20 下方（偏离 -1.64%），趋势EMA5/20/60 空头。\n"
                        "> - **创业板指**："));
  // Same direction, no anomaly: the third and fourth index stay out.
  EXPECT_THAT(b, Not(HasSubstr("> - **科创50**")));
  EXPECT_THAT(b, HasSubstr("\n\n---\n\n**▋ 情绪温度计**\n中线 W 线温度 88.0（过热(≥85)，降温），"
                           "短线 D 线温度 12.3（冰点(≤15)，升温）；战术总方针：逢高减仓。"));
  EXPECT_THAT(b, HasSubstr("严禁追高"));  // a hot reading is never a buy signal
  EXPECT_THAT(b, HasSubstr("\n\n---\n\n**▋ 风险提示**\n⚠️ **风险**："));
  EXPECT_THAT(b, Not(HasSubstr("<think>")));
}

TEST(OfflineBrief, DivergenceBringsInTheOtherIndices) {
  auto b = brief_for("A", core("+0.30%"), kSentiment);
  // The first two in full, the others with their change and EMA20 verdict only.
  EXPECT_THAT(b, HasSubstr("> - **科创50**：涨跌幅 +0.40%，收盘仍在 EMA20 下方。\n"));
  EXPECT_THAT(b, HasSubstr("> - **沪深300**：数据错误，暂无可用行情。"));
}

TEST(OfflineBrief, OverseasMarketsHaveNoSentimentSection) {
  CoreIndexTable us{"| 指数名称 | 涨跌幅 | 量比 | 趋势状态 |\n| :--- | :--- | :--- | :--- |",
                    fact("标普500", "+1.00%", "1.00") + "\n" + fact("纳斯达克", "+0.50%", "1.00"),
                    {"偏多", "弱", "区间震荡", "r"}};
  auto b = brief_for("US", us, "");
  EXPECT_EQ(b.rfind("**▋ 美股大盘市场研判 · 偏多 / 弱**\n", 0), 0u);
  EXPECT_THAT(b, Not(HasSubstr("情绪温度计")));
  // One separator between the index section and the risk section.
  EXPECT_THAT(b, HasSubstr("。\n\n---\n\n**▋ 风险提示**"));
  EXPECT_THAT(b, Not(HasSubstr("---\n\n---")));
}

TEST(OfflineBrief, UnavailableSentimentIsSaidNotInvented) {
  auto b = brief_for("A", core(), "");
  EXPECT_THAT(b, HasSubstr("**▋ 情绪温度计**\n情绪温度计数据暂不可用"));
  EXPECT_THAT(b, Not(HasSubstr("温度 ")));
}

TEST(OfflineBrief, OtherPromptsAreNotItsBusiness) {
  EXPECT_FALSE(offline_brief_reply("system", "分析这只股票"));
  EXPECT_FALSE(offline_brief_reply(SUMORA_SYSTEM_MESSAGE, ""));
  // A brief prompt without a verdict value is an error, not an invented headline.
  std::string broken =
      "<authoritative_verdict>\n</authoritative_verdict>\n<core_index_table>\n"
      "</core_index_table>\n<market_context>\n- **市场范围**：A\n</market_context>";
  EXPECT_THROW(offline_brief_reply(SUMORA_SYSTEM_MESSAGE, broken), std::runtime_error);
}

}  // namespace
}  // namespace sumora
