// scan-bench-center DIR [COUNT] [BARS] [THROUGH]: writes a data center of COUNT (default
// 5000) A-share stocks with BARS (default 2000) weekday bars each ending on THROUGH (default
// 2024-06-28), plus the Shanghai index for the trading calendar and names.csv.
//
// Each series is a seeded random walk (trends, quiet stretches and volume bursts, so the
// radar and the pattern scan find something), so every run writes the same files. BARS may
// exceed the sample market's history: the walk runs back from THROUGH as far as needed.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "candlex/bar_table.hpp"
#include "candlex/sample_market.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

using candlex::Day;

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  // Uniform in [0, 1).
  double uniform() {
    s_ ^= s_ << 13, s_ ^= s_ >> 7, s_ ^= s_ << 17;
    return static_cast<double>(s_ >> 11) * (1.0 / 9007199254740992.0);
  }
  // Roughly normal (sum of four uniforms, scaled to unit variance).
  double normal() { return (uniform() + uniform() + uniform() + uniform() - 2.0) * 1.7320508; }

 private:
  std::uint64_t s_;
};

std::vector<Day> weekdays_ending(Day through, std::size_t n) {
  std::vector<Day> days;
  days.reserve(n);
  for (Day d = through; days.size() < n; d -= std::chrono::days{1})
    if (std::chrono::weekday(d).iso_encoding() <= 5) days.push_back(d);
  std::reverse(days.begin(), days.end());
  return days;
}

double cents(double v) {
  return std::round(v * 100.0) / 100.0;
}

candlex::BarTable walk(const std::vector<Day>& days, std::uint64_t seed, double base,
                       double base_volume) {
  Rng rng(seed);
  const std::size_t n = days.size();
  std::vector<double> open(n), high(n), low(n), close(n), volume(n), amount(n);
  double price = base, drift = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (rng.uniform() < 0.02) drift = (rng.uniform() - 0.5) * 0.006;  // a new regime
    const bool burst = rng.uniform() < 0.03;
    const double ret = drift + 0.018 * rng.normal() + (burst ? 0.03 * rng.normal() : 0.0);
    const double o = cents(std::max(0.05, price * (1 + 0.004 * rng.normal())));
    const double c = cents(std::max(0.05, price * std::exp(ret)));
    open[i] = o;
    close[i] = c;
    high[i] = cents(std::max(o, c) * (1 + 0.01 * rng.uniform()));
    low[i] = std::max(0.01, cents(std::min(o, c) * (1 - 0.01 * rng.uniform())));
    volume[i] = std::round(base_volume * std::exp(0.3 * rng.normal()) * (burst ? 3.0 : 1.0));
    amount[i] = cents(volume[i] * c);
    price = c;
  }
  candlex::BarTable t(days);
  t.set("open", std::move(open));
  t.set("high", std::move(high));
  t.set("low", std::move(low));
  t.set("close", std::move(close));
  t.set("volume", std::move(volume));
  t.set("amount", std::move(amount));
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: scan-bench-center DIR [COUNT] [BARS] [THROUGH]\n";
    return 2;
  }
  try {
    const std::filesystem::path dir = argv[1];
    const int count = argc > 2 ? std::stoi(argv[2]) : 5000;
    const auto bars = static_cast<std::size_t>(argc > 3 ? std::stoul(argv[3]) : 2000);
    const auto through = zorvane::utils::parse_iso_date(argc > 4 ? argv[4] : "2024-06-28");
    const auto days = weekdays_ending(through, bars);
    std::filesystem::create_directories(dir / "daily");
    std::ofstream names(dir / "names.csv");
    names << "code,name\n";
    auto write = [&](const std::string& code, const std::string& name,
                     const candlex::BarTable& table) {
      std::ofstream out(dir / "daily" / (code + ".csv"), std::ios::binary);
      out << candlex::bars_to_csv(table);
      if (!out) throw std::runtime_error("cannot write " + code + ".csv");
      names << code << ',' << name << '\n';
    };
    write("sh.000001", "上证指数", walk(days, 1, 3000.0, 3e8));
    for (int i = 0; i < count; ++i) {
      char code[16], name[32];
      std::snprintf(code, sizeof code, "%s.%06d", i % 2 ? "sz" : "sh", (i % 2 ? 1 : 600000) + i);
      std::snprintf(name, sizeof name, "基准%04d", i);
      write(code, name, walk(days, 100 + static_cast<std::uint64_t>(i), 5.0 + i % 40, 1e7));
    }
    std::cout << count + 1 << " series of " << bars << " bars written to " << dir.string() << '\n';
  } catch (const std::exception& e) {
    std::cerr << "scan-bench-center: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
