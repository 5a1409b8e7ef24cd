#pragma once
// Constructed ETF universes for the thermometer tests and benchmark: deterministic random
// walks on weekdays whose drift, volatility and volume trend change by regime.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "candlex/bar_table.hpp"
#include "morvik/sentiment_compute.hpp"
#include "zorvane/utils/dates.hpp"

namespace senti_test {

struct Regime {
  std::size_t bars;
  double drift;                // mean daily log return
  double vol;                  // daily log-return deviation
  double volume_growth = 0.0;  // daily log change of the volume level
};

// splitmix64 with Box-Muller normals.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  double uniform() {
    std::uint64_t z = (s_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return static_cast<double>((z ^ (z >> 31)) >> 11) * 0x1.0p-53 + 0x1.0p-54;
  }
  double normal() {
    return std::sqrt(-2.0 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
  }

 private:
  std::uint64_t s_;
};

inline candlex::Day day(const char* iso) {
  return zorvane::utils::parse_iso_date(iso);
}

inline candlex::BarTable make_etf(std::uint64_t seed, candlex::Day first,
                                  const std::vector<Regime>& regimes) {
  Rng rng(seed);
  std::vector<candlex::Day> dates;
  std::vector<double> o, h, l, c, v;
  double price = 1.0 + 3.0 * rng.uniform(), level = 1e6 * (1.0 + rng.uniform());
  auto d = first;
  for (const auto& r : regimes) {
    for (std::size_t i = 0; i < r.bars; ++i, d += std::chrono::days{1}) {
      while (zorvane::utils::weekday_index(d) >= 5) d += std::chrono::days{1};
      dates.push_back(d);
      o.push_back(price);
      price *= std::exp(r.drift + r.vol * rng.normal());
      level *= std::exp(r.volume_growth);
      c.push_back(price);
      h.push_back(std::max(o.back(), price) * (1.0 + 0.3 * r.vol * rng.uniform()));
      l.push_back(std::min(o.back(), price) * (1.0 - 0.3 * r.vol * rng.uniform()));
      v.push_back(level * std::exp(0.25 * rng.normal()));
    }
  }
  candlex::BarTable t(dates);
  t.set("open", o);
  t.set("high", h);
  t.set("low", l);
  t.set("close", c);
  t.set("volume", v);
  return t;
}

// `count` ETFs sharing the regimes, each with its own noise.
inline std::vector<morvik::EtfBars> make_universe(std::size_t count, candlex::Day first,
                                                  const std::vector<Regime>& regimes,
                                                  std::uint64_t seed = 1) {
  std::vector<morvik::EtfBars> out;
  for (std::size_t k = 0; k < count; ++k) {
    out.push_back({"5100" + std::to_string(10 + k), make_etf(seed * 1000 + k, first, regimes)});
  }
  return out;
}

}  // namespace senti_test
