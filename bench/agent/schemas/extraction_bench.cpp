// Decision extraction on a typical model reply, and the brace scanner's throughput on long text.

#include <benchmark/benchmark.h>

#include <string>

#include "agent/schemas/extraction.hpp"

namespace {

// One analysis paragraph as a model writes it: Chinese prose, a few quotes, a stray brace.
constexpr const char* kParagraph =
    "### 技术面分析\n"
    "当前股价 9.87 元，站上 EMA20（9.62）与 EMA60（9.41），均线呈多头排列，MACD "
    "柱状线连续三日放大，DIF 上穿 DEA 形成\"金叉\"。RSI6 为 61.2，尚未进入超买区；"
    "布林带中轨 9.55 提供支撑，上轨 10.35 构成压力。成交量较 5 日均量放大 1.4 倍，"
    "量价配合良好。需警惕 {前高 10.6} 附近的抛压，若放量突破则打开上行空间。\n\n";

constexpr const char* kDecision =
    "```json\n"
    "{\n"
    "  \"stock_code\": \"sh.600000\",\n"
    "  \"stock_name\": \"浦发银行\",\n"
    "  \"analysis_time\": \"2024-05-10\",\n"
    "  \"current_price\": 9.87,\n"
    "  \"direction\": \"看多\",\n"
    "  \"action\": \"建议买入\",\n"
    "  \"holder_action\": \"继续持有\",\n"
    "  \"strategy_mode\": \"趋势跟随\",\n"
    "  \"entry_price_low\": 9.55,\n"
    "  \"entry_price_high\": 9.85,\n"
    "  \"stop_loss\": 9.28,\n"
    "  \"target_1\": 10.6,\n"
    "  \"target_2\": 11.35,\n"
    "  \"rrr\": 2.18,\n"
    "  \"rrr_max\": 4.73,\n"
    "  \"support_price\": 9.41,\n"
    "  \"resistance_price\": 10.6,\n"
    "  \"position_pct\": 30,\n"
    "  \"holding_period\": \"5-10日\",\n"
    "  \"confidence\": \"中\",\n"
    "  \"risk_level\": \"中\",\n"
    "  \"market_sentiment\": \"中性\",\n"
    "  \"key_watch\": \"放量突破 10.6 确认趋势；跌破 9.28 止损离场\"\n"
    "}\n"
    "```\n";

std::string typical_reply() {
  std::string reply = "## 浦发银行（sh.600000）分析报告\n\n";
  while (reply.size() + std::char_traits<char>::length(kDecision) < 8 * 1024) reply += kParagraph;
  return reply + kDecision;
}

std::string long_text(std::size_t bytes) {
  // Prose with quotes and braces, an object without "action" now and then, and one decision
  // object at the very end.
  std::string text;
  const std::string filler = std::string(kParagraph) + "{\"note\": \"区间 {9.5, 9.8}\"}\n";
  while (text.size() < bytes) text += filler;
  text += "{\"action\": \"观望等待\", \"direction\": \"中性\"}";
  return text;
}

void BM_ExtractDecisionJson(benchmark::State& state) {
  const std::string reply = typical_reply();
  for (auto _ : state) {
    auto decision = schemas::extract_decision_json(reply);
    if (!decision) state.SkipWithError("decision not found");
    benchmark::DoNotOptimize(decision);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
  state.counters["reply_bytes"] = static_cast<double>(reply.size());
}
BENCHMARK(BM_ExtractDecisionJson)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

void BM_ScanJsonBlock1MB(benchmark::State& state) {
  const std::string text = long_text(1 << 20);
  for (auto _ : state) {
    auto block = schemas::scan_json_block(text);
    if (!block) state.SkipWithError("block not found");
    benchmark::DoNotOptimize(block);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ScanJsonBlock1MB)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
