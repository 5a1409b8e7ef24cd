// Every indicator column on a 2,000-bar table.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

#include "candlex/technical.hpp"

namespace {

candlex::BarTable make_table(std::size_t n) {
  std::vector<candlex::Day> dates;
  std::vector<double> open, high, low, close, volume;
  std::uint32_t seed = 12345;
  double price = 50.0;
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    double u = (seed >> 8) / 16777216.0;
    dates.push_back(candlex::Day{std::chrono::days{16000 + static_cast<int>(i)}});
    open.push_back(price);
    price *= 1.0 + (u - 0.5) * 0.04;
    close.push_back(price);
    high.push_back(std::max(open.back(), price) * (1.0 + 0.01 * u));
    low.push_back(std::min(open.back(), price) * (1.0 - 0.01 * (1.0 - u)));
    volume.push_back(std::round(500000 + 1000000 * u));
  }
  candlex::BarTable t(std::move(dates));
  t.set("open", std::move(open));
  t.set("high", std::move(high));
  t.set("low", std::move(low));
  t.set("close", std::move(close));
  t.set("volume", std::move(volume));
  return t;
}

void BM_SetAll(benchmark::State& state) {
  candlex::BarTable t = make_table(static_cast<std::size_t>(state.range(0)));
  // The first pass adds the columns; every timed pass recomputes and replaces all of them.
  candlex::technical::set_all(t);
  for (auto _ : state) {
    candlex::technical::set_all(t);
    benchmark::DoNotOptimize(t.col("SAR").data());
  }
}
BENCHMARK(BM_SetAll)
    ->Arg(2000)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
