// What the trust gate adds to one report: the brief checks on a brief, and for a stock report
// the facts (last close, 250-day range, ATR, min_rrr, brief bias) plus the decision checks.
// Inputs are the offline writer's brief and analysis of the built-in sample market.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "agent/gate/brief_checks.hpp"
#include "agent/gate/decision_checks.hpp"
#include "agent/sumora/brief.hpp"
#include "agent/sumora/brief_gate.hpp"
#include "agent/sumora/prompts.hpp"
#include "agent/sumora/sentiment_block.hpp"
#include "candlex/market_data.hpp"
#include "indicators/evaluate.hpp"
#include "morvik/pattern_scan.hpp"
#include "zorvane/agent/offline_client.hpp"
#include "zorvane/agent/offline_writers.hpp"
#include "zorvane/strategy/basic_ai_selector.hpp"
#include "zorvane/utils/json.hpp"

namespace {

constexpr const char* kDay = "2024-05-10";

struct BriefInput {
  gate::BriefFacts facts;
  std::string brief;
};

const BriefInput& brief_input() {
  static const BriefInput in = [] {
    ::unsetenv("CANDLEX_CENTER");  // the built-in sample market
    auto core = sumora::_generate_core_index_table("A", kDay);
    auto sentiment = sumora::_format_sentiment_block("A", kDay).first;
    auto prompt = sumora::_build_user_prompt("A", kDay, core, "ENV", "HIST", "", sentiment);
    auto brief = zorvane::agent::offline_brief_reply(sumora::SUMORA_SYSTEM_MESSAGE, prompt);
    if (!brief) throw std::runtime_error("no offline brief");
    return BriefInput{sumora::brief_facts("A", core), *brief};
  }();
  return in;
}

struct StockInput {
  candlex::BarTable bars;
  std::string pattern_info;
  std::string brief;
  zorvane::strategy::AIAnalysis analysis;
};

const StockInput& stock_input() {
  static const StockInput in = [] {
    ::unsetenv("CANDLEX_CENTER");
    StockInput s;
    s.bars = candlex::get_any_ohlc("sh.600519", candlex::get_default_start_date(), kDay);
    s.pattern_info =
        zorvane::utils::safe_json_dumps(morvik::pre_screen_and_scan(s.bars, "sh.600519"));
    s.brief = brief_input().brief;
    zorvane::strategy::AIAnalysisServices services{
        [] {
          return zorvane::agent::BuiltClient{
              std::make_shared<zorvane::agent::OfflineClient>(), "offline", {}, "offline"};
        },
        [](const zorvane::report::StockReport&) {}};
    s.analysis = zorvane::strategy::BasicAISelector(services).analyze(
        indicators::get_stock_status(s.bars, "sh.600519"), s.bars, s.pattern_info, "混合", kDay,
        s.brief);
    if (!s.analysis.decision) throw std::runtime_error("no offline decision");
    return s;
  }();
  return in;
}

void BM_BriefChecks(benchmark::State& state) {
  const auto& in = brief_input();
  for (auto _ : state) benchmark::DoNotOptimize(gate::run_brief_checks(in.brief, in.facts));
  state.SetLabel(std::to_string(in.brief.size()) + " B brief");
}
BENCHMARK(BM_BriefChecks);

void BM_DecisionChecks(benchmark::State& state) {
  const auto& in = stock_input();
  auto facts = zorvane::strategy::detail::decision_facts(in.bars, "sh.600519", kDay,
                                                         in.pattern_info, in.brief);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        gate::run_decision_checks(*in.analysis.decision, in.analysis.report, facts));
  }
  state.SetLabel(std::to_string(in.analysis.report.size()) + " B report");
}
BENCHMARK(BM_DecisionChecks);

// The whole addition to one stock report: facts from the bars, checks, stored JSON form.
void BM_GatePerStockReport(benchmark::State& state) {
  const auto& in = stock_input();
  for (auto _ : state) {
    auto facts = zorvane::strategy::detail::decision_facts(in.bars, "sh.600519", kDay,
                                                           in.pattern_info, in.brief);
    auto results = gate::run_decision_checks(*in.analysis.decision, in.analysis.report, facts);
    benchmark::DoNotOptimize(gate::results_json(results));
  }
  state.SetLabel(std::to_string(in.bars.size()) + " bars");
}
BENCHMARK(BM_GatePerStockReport);

}  // namespace

BENCHMARK_MAIN();
