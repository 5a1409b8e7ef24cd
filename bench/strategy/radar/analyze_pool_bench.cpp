// analyze_pool over 5,000 stocks of 250 daily bars each, bars already in memory (daily and
// weekly frequency), and one radar item with its pattern scan. Target for the pool: under
// 1 s median on two cores.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "candlex/sample_market.hpp"
#include "morvik/radar.hpp"
#include "strategy/radar/opportunity_radar_selector.hpp"

namespace {

// The sample market's random walk (trends, ranges, crashes) for 5,000 made-up codes, each
// ending on a different day so that the pool is not one series repeated.
const morvik::RadarPool& pool() {
  static const morvik::RadarPool p = [] {
    morvik::RadarPool out;
    for (int i = 0; i < 5000; ++i) {
      char code[16];
      std::snprintf(code, sizeof code, "%s.%06d", i % 2 ? "sz" : "sh", (i % 2 ? 1 : 600000) + i);
      candlex::SampleSecurity s{code, "基准", candlex::SampleKind::stock, 5.0 + i % 40, 0.022, 1e7};
      const auto through = candlex::sample_first_day() + std::chrono::days{500 + i % 60};
      out[code] = {s.name, candlex::generate_sample_bars(s, through).tail(250)};
    }
    return out;
  }();
  return p;
}

void BM_AnalyzePool5000(benchmark::State& state, const char* frequency) {
  const auto& p = pool();
  for (auto _ : state) {
    auto sections = radar::OpportunityRadarSelector::analyze_pool(p, frequency);
    benchmark::DoNotOptimize(sections);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long long>(p.size()));
}
BENCHMARK_CAPTURE(BM_AnalyzePool5000, daily, "daily")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK_CAPTURE(BM_AnalyzePool5000, weekly, "weekly")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly();

void BM_RadarItem250(benchmark::State& state) {
  const auto& bars = *pool().begin()->second.second;
  for (auto _ : state) {
    auto item = morvik::evaluate_opportunity_radar_item(bars, "sh.600000");
    benchmark::DoNotOptimize(item);
  }
}
BENCHMARK(BM_RadarItem250)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace

BENCHMARK_MAIN();
