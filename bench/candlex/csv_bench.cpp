// Loading a 2,000-row daily CSV from disk: one read of the file plus parsing, bypassing the
// per-process table cache; parsing alone; and reading only a scan's window from the end.

#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "candlex/csv_reader.hpp"
#include "candlex/csv_tail.hpp"
#include "candlex/data_file.hpp"
#include "candlex/sample_market.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

namespace fs = std::filesystem;

// A 2,000-row file in the layout candlex-sample writes (amount column included).
fs::path make_file() {
  const auto* sec = candlex::find_sample_security("sh.600519");
  auto bars =
      candlex::generate_sample_bars(*sec, zorvane::utils::parse_iso_date("2024-06-28")).tail(2000);
  auto path =
      fs::temp_directory_path() / ("candlex-csv-bench-" + std::to_string(::getpid()) + ".csv");
  std::ofstream(path, std::ios::binary) << candlex::bars_to_csv(bars);
  return path;
}

void BM_LoadCsv2000Rows(benchmark::State& state) {
  static const fs::path path = make_file();
  for (auto _ : state) {
    auto table = candlex::read_bar_csv(path, "daily/sh.600519.csv");
    benchmark::DoNotOptimize(table);
  }
  state.counters["rows"] = 2000;
}
BENCHMARK(BM_LoadCsv2000Rows)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

void BM_ParseCsv2000Rows(benchmark::State& state) {
  const auto* sec = candlex::find_sample_security("sh.600519");
  const auto text = candlex::bars_to_csv(
      candlex::generate_sample_bars(*sec, zorvane::utils::parse_iso_date("2024-06-28")).tail(2000));
  for (auto _ : state) {
    auto table = candlex::parse_bar_csv(text, "daily/sh.600519.csv");
    benchmark::DoNotOptimize(table);
  }
}
BENCHMARK(BM_ParseCsv2000Rows)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

// What a scan reads of the same file: the rows of its 400-day window, from the end.
void BM_TailCsv400Days(benchmark::State& state) {
  static const fs::path path = make_file();
  const auto from = zorvane::utils::parse_iso_date("2024-06-28") - std::chrono::days{400};
  for (auto _ : state) {
    auto file = candlex::DataFile::open(path, "daily/sh.600519.csv");
    auto table = candlex::read_bar_csv_since(*file, from);
    benchmark::DoNotOptimize(table);
  }
}
BENCHMARK(BM_TailCsv400Days)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
