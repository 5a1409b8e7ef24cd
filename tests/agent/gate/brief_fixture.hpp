#pragma once
// A well-formed A-share brief and the computed values it was written from, for the gate's
// brief tests. Each test mutates one thing and expects exactly one check to notice.

#include <stdexcept>
#include <string>

#include "agent/gate/brief_checks.hpp"
#include "zorvane/utils/text.hpp"

namespace gate_test {

inline const std::string kTable =
    "| 指数名称 | 涨跌幅 | 量比 | 趋势状态 |\n"
    "| :--- | :--- | :--- | :--- |\n"
    "| **上证指数** | -0.52% | 0.85 | EMA5/20/60 空头 |\n"
    "| **创业板指** | +0.12% | 0.92 | EMA20 支撑 |\n"
    "| **科创50** | -0.30% | 1.02 | EMA20 压制 |\n"
    "| **沪深300** | — | — | 数据不足 |";

inline const std::string kFacts =
    "- **上证指数**：涨跌幅 -0.52%，量比 0.85；收盘仍在 EMA20 下方。收盘 3000.00；vs EMA5 "
    "3010.00（下方-0.33%）、vs EMA20 3050.00（下方-1.64%）、vs EMA60 3100.00（下方-3.23%）\n"
    "- **创业板指**：涨跌幅 +0.12%，量比 0.92；收盘已站上 EMA20。收盘 1850.00；vs EMA5 "
    "1840.00（上方+0.54%）、vs EMA20 1830.00（上方+1.09%）、vs EMA60 1900.00（下方-2.63%）\n"
    "- **科创50**：涨跌幅 -0.30%，量比 1.02；收盘仍在 EMA20 下方。收盘 800.00；vs EMA5 "
    "805.00（下方-0.62%）、vs EMA20 810.00（下方-1.23%）、vs EMA60 820.00（下方-2.44%）\n"
    "- **沪深300**：涨跌幅 —，量比 —；数据不足";

inline gate::BriefFacts facts(const std::string& market = "A") {
  return {market,     market == "A" ? "A 股大盘" : market == "HK" ? "港股大盘" : "美股大盘",
          "偏空",     "中",
          "空仓等待", kTable,
          kFacts};
}

inline const std::string kBrief =
    "**▋ A 股大盘市场研判 · 偏空 / 中**\n"
    "- **市场氛围**：第一指数缩量收跌，收盘仍在 EMA20 下方且短期均线走弱，空方占优，"
    "资金观望情绪浓厚，反弹缺乏量能配合。\n"
    "- **策略指引**：**空仓等待**\n"
    "\n---\n\n"
    "**▋ 核心指数动态**\n" +
    kTable +
    "\n> **关键解读**：\n"
    "> - **上证指数**：涨跌幅 -0.52%，量比 0.85，收盘仍在 EMA20 下方（偏离 -1.64%），"
    "均线空头排列未改。\n"
    "> - **创业板指**：涨跌幅 +0.12%，量比 0.92，收盘已站上 EMA20（偏离 +1.09%），"
    "但量能不足，与上证走势略有分化。\n"
    "\n---\n\n"
    "**▋ 情绪温度计**\n"
    "中线情绪仍处冰点，短线偏冷但已边际回暖，属恐慌出清后的企稳迹象，需等待右侧确认。\n"
    "\n---\n\n"
    "**▋ 风险提示**\n"
    "⚠️ "
    "**风险**：指数仍受均线压制，量能持续萎缩，警惕反弹乏力后再度下探前低，切勿逆势加仓。";

// `text` with the first `from` replaced by `to` (the fixture must hold `from`).
inline std::string with(std::string text, const std::string& from, const std::string& to) {
  auto p = text.find(from);
  if (p == std::string::npos) throw std::invalid_argument("fixture lacks: " + from);
  return text.replace(p, from.size(), to);
}

}  // namespace gate_test
