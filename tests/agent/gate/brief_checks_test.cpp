// The brief checks, one mutation of a well-formed brief at a time.

#include "agent/gate/brief_checks.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "agent/gate/brief_fixture.hpp"

namespace gate {
namespace {

using gate_test::facts;
using gate_test::kBrief;
using gate_test::with;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> failed(const std::string& brief, const BriefFacts& f = facts()) {
  std::vector<std::string> out;
  for (const auto& r : run_brief_checks(brief, f)) {
    if (!r.passed) out.push_back(r.name);
  }
  return out;
}

std::string detail(const std::string& brief, std::string_view name, const BriefFacts& f = facts()) {
  for (const auto& r : run_brief_checks(brief, f)) {
    if (r.name == name) return r.detail;
  }
  return "no such check";
}

TEST(BriefChecks, WellFormedBriefPassesEveryRule) {
  auto results = run_brief_checks(kBrief, facts());
  ASSERT_EQ(results.size(), kBriefRules.size());
  for (const auto& r : results) EXPECT_TRUE(r.passed) << r.name << ": " << r.detail;
  EXPECT_EQ(results[0].severity, Severity::critical);
  EXPECT_EQ(results[5].severity, Severity::warning);
}

TEST(BriefChecks, HeadlineCarriesBiasAndStrengthWordForWord) {
  auto b = with(kBrief, "偏空 / 中", "偏多 / 中");
  EXPECT_THAT(failed(b), ElementsAre("brief.headline"));
  EXPECT_EQ(detail(b, "brief.headline"), "标题研判：应为「偏空 / 中」，实际「偏多 / 中」");
  EXPECT_THAT(failed(with(kBrief, "偏空 / 中", "偏空 / 强")), ElementsAre("brief.headline"));
  EXPECT_THAT(failed(with(kBrief, " · 偏空 / 中", "")), ElementsAre("brief.headline"));
  // Spacing around the slash is layout, not wording.
  EXPECT_TRUE(failed(with(kBrief, "偏空 / 中", "偏空/中")).empty());
}

TEST(BriefChecks, StrategyLineCarriesTheComputedStrategyAlone) {
  auto b = with(kBrief, "**空仓等待**", "**区间震荡**");
  EXPECT_THAT(failed(b), ElementsAre("brief.strategy"));
  EXPECT_THAT(detail(b, "brief.strategy"), HasSubstr("应为「空仓等待」，实际「区间震荡」"));
  EXPECT_THAT(failed(with(kBrief, "**空仓等待**", "**空仓等待或区间震荡**")),
              ElementsAre("brief.strategy"));
  EXPECT_THAT(failed(with(kBrief, "- **策略指引**：**空仓等待**\n", "")),
              ElementsAre("brief.strategy"));
}

TEST(BriefChecks, TableMustMatchCellForCell) {
  auto b = with(kBrief, "| **创业板指** | +0.12%", "| **创业板指** | +0.21%");
  EXPECT_THAT(failed(b), ElementsAre("brief.table"));
  EXPECT_EQ(detail(b, "brief.table"),
            "核心指数表第 4 行（创业板指）第 2 列：应为「+0.12%」，实际「+0.21%」");
  EXPECT_THAT(failed(with(kBrief, "| **沪深300** | — | — | 数据不足 |", "")),
              ElementsAre("brief.table"));
  EXPECT_THAT(detail(with(kBrief, gate_test::kTable, "（表格略）"), "brief.table"),
              HasSubstr("未找到表格"));
  // Emphasis and the alignment row's style are not content.
  auto restyled = with(with(kBrief, "| **上证指数** |", "| 上证指数 |"),
                       "| :--- | :--- | :--- | :--- |", "|---|---|---|---|");
  EXPECT_TRUE(failed(restyled).empty());
}

TEST(BriefChecks, SectionsInOrderAndSentimentForMainlandOnly) {
  auto no_sentiment = with(kBrief, "**▋ 情绪温度计**\n", "");
  EXPECT_THAT(failed(no_sentiment), ElementsAre("brief.sections"));
  EXPECT_THAT(detail(no_sentiment, "brief.sections"),
              HasSubstr("应为「市场研判 → 核心指数动态 → 情绪温度计 → 风险提示」，实际「市场研判 → "
                        "核心指数动态 → 风险提示」"));
  // The same brief is right for Hong Kong, and the full one is not.
  EXPECT_TRUE(failed(with(no_sentiment, "A 股大盘", "港股大盘"), facts("HK")).empty());
  EXPECT_THAT(failed(kBrief, facts("US")), ElementsAre("brief.sections"));
}

TEST(BriefChecks, NoSentenceContradictsACloseVersusEmaFact) {
  // 上证指数 closes below EMA20.
  auto b = with(kBrief, "收盘仍在 EMA20 下方（偏离 -1.64%）", "收盘已站上 EMA20（偏离 -1.64%）");
  EXPECT_THAT(failed(b), ElementsAre("brief.ema_facts"));
  EXPECT_THAT(detail(b, "brief.ema_facts"), HasSubstr("上证指数：事实为「收盘仍在 EMA20 下方」"));
  // 创业板指 closes above it: "未收复" is the contradiction the prompt forbids.
  EXPECT_THAT(failed(with(kBrief, "收盘已站上 EMA20（偏离 +1.09%）", "仍未收复 EMA20")),
              ElementsAre("brief.ema_facts"));
  // The subject carries over to the bullet's next sentence; 第一指数 is the first index.
  EXPECT_THAT(failed(with(kBrief, "均线空头排列未改。", "均线空头排列未改；收盘站稳 EMA20 上方。")),
              ElementsAre("brief.ema_facts"));
  EXPECT_THAT(failed(with(kBrief, "第一指数缩量收跌，收盘仍在 EMA20 下方",
                          "第一指数缩量收跌，收盘站上 EMA20")),
              ElementsAre("brief.ema_facts"));
  // Negations, conditions and comparisons of two indices state no side.
  EXPECT_TRUE(
      failed(with(kBrief, "均线空头排列未改。", "均线空头排列未改，尚未站上 EMA20。")).empty());
  EXPECT_TRUE(failed(with(kBrief, "均线空头排列未改。", "若站上 EMA20 则转强。")).empty());
  EXPECT_TRUE(
      failed(with(kBrief, "与上证走势略有分化", "上证指数与创业板指一上一下站上 EMA20")).empty());
}

TEST(BriefChecks, LengthCountsOnlyTheProseOfTheCountedSections) {
  EXPECT_EQ(
      counted_length("**▋ A 股大盘市场研判 · 偏空 / 中**\n- **市场氛围**：一二三。\n"
                     "\n---\n\n**▋ 核心指数动态**\n| **上证指数** | -0.52% |\n> **关键解读**：\n"
                     "\n---\n\n**▋ 情绪温度计**\n不计入。\n\n---\n\n**▋ 风险提示**\n⚠️ "
                     "**风险**：甲乙"),
      // 市场氛围：一二三。(9) + 关键解读：(5) + ⚠风险：甲乙 (6; the variation selector is
      // invisible)
      20u);
  auto padded = with(kBrief, "切勿逆势加仓。", "切勿逆势加仓，" + std::string(60, 'x') + "。");
  EXPECT_THAT(failed(padded), ElementsAre("brief.length"));
  EXPECT_THAT(detail(padded, "brief.length"), HasSubstr("应为 200-280 字，实际 "));
  auto cut = with(kBrief, "，但量能不足，与上证走势略有分化", "");
  cut = with(cut, "，均线空头排列未改", "");
  cut = with(cut, "，反弹缺乏量能配合", "");
  cut = with(cut, "，量能持续萎缩，警惕反弹乏力后再度下探前低，切勿逆势加仓", "");
  EXPECT_THAT(failed(cut), ElementsAre("brief.length"));
}

TEST(BriefChecks, FactsParseIntoSidesOfEma20) {
  auto f = parse_index_facts(gate_test::kFacts);
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0].name, "上证指数");
  EXPECT_EQ(f[0].above_ema20, false);
  EXPECT_EQ(f[1].above_ema20, true);
  EXPECT_EQ(f[3].above_ema20, std::nullopt);
}

}  // namespace
}  // namespace gate
