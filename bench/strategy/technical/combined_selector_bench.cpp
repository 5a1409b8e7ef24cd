// CombinedSelector::check on a 500-bar stock held in a data center (parsed once, then served
// from the per-process cache), and the pattern scan alone. Target for the check: under 1 ms
// median.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "candlex/data_center.hpp"
#include "morvik/pattern_fixtures.hpp"
#include "morvik/pattern_scan.hpp"
#include "strategy/technical/pattern_selectors.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"

namespace {

void write_csv(const std::filesystem::path& file, const candlex::BarTable& t) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file);
  out << "date,open,high,low,close,volume\n";
  char line[256];
  for (std::size_t i = 0; i < t.size(); ++i) {
    std::snprintf(line, sizeof line, "%s,%.4f,%.4f,%.4f,%.4f,%.0f\n",
                  zorvane::utils::iso_date(t.dates()[i]).c_str(), t.at("open", i), t.at("high", i),
                  t.at("low", i), t.at("close", i), t.at("volume", i));
    out << line;
  }
}

void BM_CombinedSelectorCheck500(benchmark::State& state) {
  zv_test::TempDir center("zv-bench-combined");
  write_csv(center / "daily" / "sh.600001.csv", zv_test::clean_uptrend(500));
  std::ofstream(center / "names.csv") << "code,name\nsh.600001,基准股\n";
  ::setenv("CANDLEX_CENTER", center.str().c_str(), 1);
  candlex::clear_center_cache();
  // The pass line is logged at info; keep the console quiet while timing.
  zorvane::utils::setup_logging("ERROR");
  technical::CombinedSelector selector;
  auto first = selector.check("sh.600001", "2020-01-01", "2030-12-31");  // warms the cache
  if (std::get<2>(first).size() != 500) state.SkipWithError("the data center was not read");
  for (auto _ : state) {
    auto r = selector.check("sh.600001", "2020-01-01", "2030-12-31");
    benchmark::DoNotOptimize(r);
  }
  ::unsetenv("CANDLEX_CENTER");
  candlex::clear_center_cache();
}
BENCHMARK(BM_CombinedSelectorCheck500)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

void BM_PatternScan500(benchmark::State& state) {
  const candlex::BarTable bars = zv_test::clean_uptrend(500);
  for (auto _ : state) {
    auto r = morvik::pre_screen_and_scan(bars, "sh.600001", "all", 3);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_PatternScan500)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace

BENCHMARK_MAIN();
