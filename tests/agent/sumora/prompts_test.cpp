#include "agent/sumora/prompts.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <stdexcept>

#include "zorvane/utils/text.hpp"

namespace sumora {
namespace {

TEST(SystemMessage, CarriesEveryRuleVerbatim) {
  const auto& s = SUMORA_SYSTEM_MESSAGE;
  EXPECT_EQ(s.rfind("你是专业的金融数据合成与报告专家。", 0), 0u);
  const char* phrases[] = {
      "【权威结论】",
      "【市场数据】",
      "<rules>",
      "</rules>",
      "数据驱动与严格服从",
      "**逐字照抄**",
      "【权威事实】",
      "未收复",
      "极简与结论先行",
      "【市场研判】",
      "【核心指数动态】",
      "【风险提示】",
      "**200-280 字**",
      "【情绪温度计】",
      "| 市场 | 第一指数 | 第二指数 | 第三/四指数（仅分化或异常时附加解读）|",
      "| A 股 / ETF | 上证指数 | 创业板指 | 科创50、沪深300 |",
      "| 港股 | 恒生指数 | 恒生科技指数 | — |",
      "| 美股 | 标普500 | 纳斯达克 | 道琼斯 |",
      "格式刚性",
      "<think>",
      "**原样保留**",
      "**OVERHEAT**",
      "ICE_COLD",
      "良性企稳/冰点回暖",
      "动量升温/趋势延续",
      "加速发烧/冲顶透支",
      "<output_format>",
      "</output_format>",
      "**▋ {市场名称}市场研判 · {bias} / {强度}**",
      "- **市场氛围**：",
      "- **策略指引**：**{必须照抄系统给出的策略指引}**",
      "**▋ 核心指数动态**",
      "> **关键解读**：",
      "**▋ 情绪温度计**（仅 A 股/ETF 输出此节；US/HK 整节省略，保留上方分隔线）",
      "**▋ 风险提示**",
      "⚠️ **风险**：",
      "<example>",
      "</example>",
      "**▋ A 股大盘市场研判 · 偏空 / 中**",
      "**空仓等待**",
      "| 指数名称 | 涨跌幅 | 量比 | 趋势状态 |",
      "| **上证指数** | -0.52% | 0.85 | EMA5/20/60 空头 |",
      "| **创业板指** | +0.12% | 0.92 | EMA20 压制 |",
      "\n---\n"};
  for (const char* p : phrases) EXPECT_NE(s.find(p), std::string::npos) << p;
  auto n = zorvane::utils::char_count(s);
  EXPECT_GT(n, 2200u);
  EXPECT_LT(n, 2700u);
}

TEST(UserTemplate, HasExactlyTheTwelvePlaceholders) {
  std::set<std::string> names;
  std::regex brace(R"(\{([^{}]*)\})");
  const auto& t = detail::SUMORA_USER_TEMPLATE;
  for (std::sregex_iterator it(t.begin(), t.end(), brace), end; it != end; ++it) {
    names.insert((*it)[1]);
  }
  EXPECT_EQ(names, (std::set<std::string>{"market_label", "analysis_date", "bias", "strength",
                                          "strategy", "rationale", "core_index_facts",
                                          "core_index_table", "market_env", "market_history",
                                          "market_indicators", "sentiment_block"}));
  EXPECT_EQ(
      t.rfind("请根据以下最新市场数据与系统权威判定，生成大盘简报。\n\n<market_context>\n", 0), 0u);
}

TEST(FillTemplate, SinglePassByName) {
  EXPECT_EQ(fill_template("{a}-{b}-{a}", {{"a", "{b}"}, {"b", "x"}}), "{b}-x-{b}");
  EXPECT_THROW(fill_template("{missing}", {}), std::invalid_argument);
  EXPECT_THROW(fill_template("open {brace", {}), std::invalid_argument);
}

}  // namespace
}  // namespace sumora
