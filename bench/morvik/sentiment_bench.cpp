// Both thermometer horizons (D and W) for a 60-ETF universe of 1,500 daily bars each:
// cold (computed), warm from the process cache, and warm from the disk cache (a second
// process's view).

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "morvik/sentiment.hpp"
#include "morvik/sentiment_fixtures.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

namespace fs = std::filesystem;

struct Universe {
  zv_test::TempDir dir{"senti-bench"};
  std::map<std::string, candlex::BarTable> bars;
  std::string path;
  std::string date;

  Universe() {
    const auto etfs = senti_test::make_universe(60, senti_test::day("2019-01-07"),
                                                {{1100, 0.0, 0.012}, {400, 0.001, 0.01, 0.002}});
    std::ofstream out(dir / "etf.yaml");
    out << "etfs:\n";
    for (const auto& e : etfs) {
      bars[e.code] = e.daily;
      out << "  - code: \"" << e.code << "\"\n    name: bench\n    category: broad\n";
    }
    path = (dir / "etf.yaml").string();
    date = zorvane::utils::iso_date(etfs.front().daily.last_date());
    ::setenv("REPORT_DIR", (dir / "reports").c_str(), 1);
  }

  morvik::SentimentConfig config(const char* freq) const {
    morvik::SentimentConfig c;
    c.freq = freq;
    c.universe_path = path;
    c.source_id = "bench";
    c.bar_loader = [this](const std::string& code, const std::string& start,
                          const std::string& end) {
      const auto& t = bars.at(code);
      auto upto = t.until(zorvane::utils::parse_iso_date(end));
      const auto from = zorvane::utils::parse_iso_date(start);
      std::size_t first = 0;
      while (first < upto.size() && upto.dates()[first] < from) ++first;
      return upto.slice(first, upto.size());
    };
    return c;
  }
};

const Universe& universe() {
  static const Universe u;
  return u;
}

void both(bool use_cache) {
  const auto& u = universe();
  for (const char* f : {"D", "W"}) {
    auto snap = morvik::compute_sentiment_snapshot(u.date, u.config(f), use_cache);
    benchmark::DoNotOptimize(snap);
  }
}

void BM_SentimentBothCold(benchmark::State& state) {
  universe();
  for (auto _ : state) both(false);
}
BENCHMARK(BM_SentimentBothCold)->Unit(benchmark::kMillisecond);

void BM_SentimentBothWarmMemory(benchmark::State& state) {
  both(true);
  for (auto _ : state) both(true);
}
BENCHMARK(BM_SentimentBothWarmMemory)->Unit(benchmark::kMicrosecond);

void BM_SentimentBothWarmDisk(benchmark::State& state) {
  both(true);
  for (auto _ : state) {
    morvik::clear_sentiment_cache();
    both(true);
  }
}
BENCHMARK(BM_SentimentBothWarmDisk)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
