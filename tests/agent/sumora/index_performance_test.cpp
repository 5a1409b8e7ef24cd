#include "agent/sumora/index_performance.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "agent/sumora/core_index_table.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace sumora {
namespace {

using candlex::BarTable;
using namespace std::chrono;

BarTable table(const std::vector<double>& close, const std::vector<double>& volume,
               const std::vector<double>& high = {}, const std::vector<double>& low = {}) {
  std::vector<candlex::Day> dates;
  for (std::size_t i = 0; i < close.size(); ++i) {
    dates.push_back(sys_days{2024y / January / 1} + days(static_cast<int>(i)));
  }
  BarTable t(dates);
  t.set("close", close);
  t.set("volume", volume);
  if (!high.empty()) t.set("high", high);
  if (!low.empty()) t.set("low", low);
  return t;
}

std::vector<double> ramp(std::size_t n, double start, double step) {
  std::vector<double> v;
  for (std::size_t i = 0; i < n; ++i) v.push_back(start + step * static_cast<double>(i));
  return v;
}

TEST(Rel, SideAndDistance) {
  EXPECT_EQ(_rel(10.5, 10.0), "上方+5.00%");
  EXPECT_EQ(_rel(10.5, 12.0), "下方-12.50%");
  EXPECT_EQ(_rel(10.5, 10.5), "上方+0.00%");
  EXPECT_EQ(_rel(3.0, 0.0), "—");
}

TEST(IndexPerformance, TooFewRowsIsInsufficientData) {
  for (const auto& rec :
       {_calculate_index_performance(nullptr), _calculate_index_performance(BarTable{}),
        _calculate_index_performance(table({10}, {100}))}) {
    EXPECT_FALSE(rec.valid);
    EXPECT_EQ(rec.pct, "—");
    EXPECT_EQ(rec.ratio, "—");
    EXPECT_EQ(rec.trend, "数据不足");
    EXPECT_EQ(rec.ma_fact, "数据不足");
  }
}

TEST(IndexPerformance, TwoRowsAreEnough) {
  auto rec = _calculate_index_performance(table({100, 101}, {200, 300}, {101, 102}, {99, 99}));
  ASSERT_TRUE(rec.valid);
  EXPECT_EQ(rec.pct, "+1.00%");
  EXPECT_DOUBLE_EQ(rec.ratio_val, 1.5);  // reference is the first row's volume alone
  EXPECT_EQ(rec.ratio, "1.50");
  EXPECT_DOUBLE_EQ(rec.amp_today, 3.0);  // (102 - 99) / 100
  EXPECT_EQ(rec.amp_avg20, 0.0);         // no earlier amplitude
}

TEST(IndexPerformance, DayChangeAndVolumeRatioEdges) {
  auto zero_prev = _calculate_index_performance(table({0, 5}, {1, 1}));
  EXPECT_EQ(zero_prev.pct_val, 0.0);
  EXPECT_EQ(zero_prev.pct, "+0.00%");
  EXPECT_EQ(_calculate_index_performance(table({10, 9}, {100, 0})).ratio, "0.00");
  EXPECT_EQ(_calculate_index_performance(table({10, 9}, {0, 50})).ratio, "1.00");
  // Only the five bars before the last count: 1000 is outside the window.
  auto ratio = _calculate_index_performance(table(ramp(7, 10, 0), {1000, 10, 10, 10, 10, 10, 20}));
  EXPECT_DOUBLE_EQ(ratio.ratio_val, 2.0);
  EXPECT_EQ(_calculate_index_performance(table({10, 9.87}, {1, 1})).pct, "-1.30%");
}

TEST(IndexPerformance, FlatCloseSitsOnEma20) {
  auto rec = _calculate_index_performance(table(ramp(30, 10.5, 0), std::vector<double>(30, 1)));
  EXPECT_EQ(rec.trend, "EMA20 压制");  // close == EMA20 with EMAs not ordered
  EXPECT_EQ(
      rec.ma_fact,
      "收盘已站上 EMA20。收盘 10.50；vs EMA5 10.50（上方+0.00%）、vs EMA20 10.50（上方+0.00%）、"
      "vs EMA60 10.50（上方+0.00%）");
  EXPECT_FALSE(rec.ema_bull);
  EXPECT_FALSE(rec.ema_bear);
  EXPECT_EQ(rec.amp_today, 0.0);  // no high/low columns
  EXPECT_EQ(rec.amp_avg20, 0.0);
}

TEST(IndexPerformance, ZeroEmaShowsDash) {
  auto rec = _calculate_index_performance(table({0, 0, 0}, {1, 1, 1}));
  EXPECT_EQ(
      rec.ma_fact,
      "收盘已站上 EMA20。收盘 0.00；vs EMA5 0.00（—）、vs EMA20 0.00（—）、vs EMA60 0.00（—）");
}

TEST(IndexPerformance, TrendLabels) {
  auto up = _calculate_index_performance(table(ramp(80, 10, 0.1), std::vector<double>(80, 1)));
  EXPECT_TRUE(up.ema_bull);
  EXPECT_EQ(up.trend, "EMA5/20/60 多头");
  EXPECT_EQ(up.ma_fact.rfind("收盘已站上 EMA20", 0), 0u);

  auto down = _calculate_index_performance(table(ramp(80, 20, -0.1), std::vector<double>(80, 1)));
  EXPECT_TRUE(down.ema_bear);
  EXPECT_EQ(down.trend, "EMA5/20/60 空头");
  EXPECT_EQ(down.ma_fact.rfind("收盘仍在 EMA20 下方", 0), 0u);

  // A rising market with a one-day plunge below EMA20: EMAs still bullish.
  auto closes = ramp(80, 10, 0.1);
  closes.back() = closes[60];
  auto dip = _calculate_index_performance(table(closes, std::vector<double>(80, 1)));
  EXPECT_TRUE(dip.ema_bull);
  EXPECT_EQ(dip.trend, "EMA5/20/60 多头（收盘跌破EMA20）");

  // A falling market with a one-day jump above EMA20.
  auto falling = ramp(80, 20, -0.1);
  falling.back() = falling[60];
  auto jump = _calculate_index_performance(table(falling, std::vector<double>(80, 1)));
  EXPECT_EQ(jump.trend, "EMA5/20/60 空头（收盘已站上EMA20）");
}

TEST(IndexPerformance, AmplitudeAverageUsesTwentyEarlierBars) {
  // 23 bars, close 100; amplitude of bar i (i >= 1) is i %: high 100 + i/2, low 100 - i/2.
  std::vector<double> close(23, 100.0), high, low;
  for (int i = 0; i < 23; ++i) {
    high.push_back(100.0 + i / 2.0);
    low.push_back(100.0 - i / 2.0);
  }
  auto rec = _calculate_index_performance(table(close, std::vector<double>(23, 1), high, low));
  EXPECT_DOUBLE_EQ(rec.amp_today, 22.0);
  // Earlier amplitudes are 1..21; the last 20 are 2..21, mean 11.5.
  EXPECT_DOUBLE_EQ(rec.amp_avg20, 11.5);
}

TEST(IndexPerformance, MissingColumnThrows) {
  BarTable t({sys_days{2024y / January / 1}, sys_days{2024y / January / 2}});
  t.set("close", {1, 2});
  EXPECT_THROW(_calculate_index_performance(t), std::out_of_range);
}

// --- core index table ---

std::vector<CoreIndex> a_catalogue() {
  return {{"sh.000001", "上证指数"}, {"sz.399001", "深证成指"}, {"sz.399006", "创业板指"},
          {"sh.000688", "科创50"},   {"sh.000300", "沪深300"},  {"sh.000905", "中证500"}};
}

TEST(CoreIndexTable, EmptyCatalogueGivesPlaceholders) {
  CoreIndexSource src{[](const std::string&) { return std::vector<CoreIndex>{}; },
                      [](const std::string&, const std::string&) { return BarTable{}; }};
  auto out = _generate_core_index_table("JP", "2024-05-10", src);
  EXPECT_EQ(out.table, "（暂无核心指数数据）");
  EXPECT_EQ(out.facts, "（暂无核心指数数据）");
  EXPECT_EQ(out.verdict.rationale, "核心指数数据不足，保守处理");
}

TEST(CoreIndexTable, ShareRowsFactsAndErrorsInCoreOrder) {
  std::vector<std::string> fetched;
  std::string catalogue_arg;
  CoreIndexSource src{[&](const std::string& m) {
                        catalogue_arg = m;
                        return a_catalogue();
                      },
                      [&](const std::string& code, const std::string& end) {
                        fetched.push_back(code + "@" + end);
                        if (code == "sz.399006") throw std::runtime_error("disk on fire");
                        if (code == "sh.000300") return table({10}, {1});  // insufficient
                        return table({100, 101}, {10, 10});
                      }};
  zorvane::utils::LogCapture logs;
  auto out = _generate_core_index_table("etf", "2024-05-10_1530", src);
  EXPECT_EQ(catalogue_arg, "etf");  // looked up as received
  EXPECT_EQ(fetched, (std::vector<std::string>{"sh.000001@2024-05-10", "sz.399006@2024-05-10",
                                               "sh.000688@2024-05-10", "sh.000300@2024-05-10"}));
  EXPECT_EQ(out.table,
            "| 指数名称 | 涨跌幅 | 量比 | 趋势状态 |\n"
            "| :--- | :--- | :--- | :--- |\n"
            "| **上证指数** | +1.00% | 1.00 | EMA5/20/60 多头 |\n"
            "| **创业板指** | — | — | 数据错误 |\n"
            "| **科创50** | +1.00% | 1.00 | EMA5/20/60 多头 |\n"
            "| **沪深300** | — | — | 数据不足 |");
  auto facts_end = out.facts.find('\n');
  EXPECT_EQ(out.facts.substr(0, facts_end)
                .rfind("- **上证指数**：涨跌幅 +1.00%，量比 1.00；收盘已站上 EMA20。", 0),
            0u);
  EXPECT_NE(out.facts.find("\n- **创业板指**：数据错误\n"), std::string::npos);
  EXPECT_NE(out.facts.find("\n- **沪深300**：涨跌幅 —，量比 —；数据不足"), std::string::npos);
  EXPECT_EQ(logs.matching("[大盘 AI 简报] 计算 创业板指 性能失败: disk on fire").size(), 1u);
  // EMAs in bull order and both valid indices up: two hits.
  EXPECT_NE(out.verdict.rationale.find("强度命中 2/4 项"), std::string::npos);
}

TEST(CoreIndexTable, PositionsPerMarket) {
  EXPECT_EQ(core_index_positions("A", 6), (std::vector<std::size_t>{0, 2, 3, 4}));
  EXPECT_EQ(core_index_positions("hk", 5), (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(core_index_positions("US", 3), (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(core_index_positions("US", 2), (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(core_index_positions("JP", 4), (std::vector<std::size_t>{0}));
  EXPECT_THROW(core_index_positions("A", 4), std::out_of_range);
}

}  // namespace
}  // namespace sumora
