// Indicator status of one stock from a 500-bar table (the status work of every selector
// check). Target: under 50 us median.

#include <benchmark/benchmark.h>

#include <cstdlib>

#include "indicators/evaluate.hpp"
#include "morvik/pattern_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace {

void BM_GetStockStatus500(benchmark::State& state) {
  // An empty data center: the name lookup is a cached miss, as for most codes.
  zv_test::TempDir center("zv-bench-status");
  ::setenv("CANDLEX_CENTER", center.str().c_str(), 1);
  const candlex::BarTable bars = zv_test::clean_uptrend(500);
  for (auto _ : state) {
    indicators::StockStatus s = indicators::get_stock_status(bars, "sh.600001");
    benchmark::DoNotOptimize(s);
  }
  ::unsetenv("CANDLEX_CENTER");
}
BENCHMARK(BM_GetStockStatus500)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

}  // namespace

BENCHMARK_MAIN();
