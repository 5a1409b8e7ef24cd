#pragma once
// Hand-built daily bar series with a known pattern, for the pattern scan and the selectors.
// Bars fall on weekdays only, so weekly aggregation sees real weeks.

#include <chrono>
#include <cmath>
#include <cstddef>
#include <vector>

#include "candlex/bar_table.hpp"

namespace zv_test {

struct Bar {
  double open, high, low, close, volume;
};

class BarBuilder {
 public:
  explicit BarBuilder(std::chrono::year_month_day first = std::chrono::year{2024} /
                                                          std::chrono::January / 1)
      : next_(std::chrono::sys_days(first)) {}

  BarBuilder& add(double open, double high, double low, double close, double volume) {
    while (weekday(next_) >= 5) next_ += std::chrono::days(1);
    dates_.push_back(next_);
    bars_.push_back({open, high, low, close, volume});
    next_ += std::chrono::days(1);
    return *this;
  }

  // A bar that opens at the previous close and moves to `close`, with wicks of `wick` (a share
  // of price) beyond the body.
  BarBuilder& step(double close, double volume, double wick = 0.006) {
    double open = bars_.empty() ? close : bars_.back().close;
    double top = std::max(open, close), bottom = std::min(open, close);
    return add(open, top * (1 + wick), bottom * (1 - wick), close, volume);
  }

  double last_close() const { return bars_.back().close; }
  std::size_t size() const { return bars_.size(); }

  candlex::BarTable table() const {
    candlex::BarTable t(dates_);
    auto column = [&](double Bar::*field) {
      std::vector<double> v;
      for (const auto& b : bars_) v.push_back(b.*field);
      return v;
    };
    t.set("open", column(&Bar::open));
    t.set("high", column(&Bar::high));
    t.set("low", column(&Bar::low));
    t.set("close", column(&Bar::close));
    t.set("volume", column(&Bar::volume));
    return t;
  }

 private:
  static int weekday(std::chrono::sys_days d) {
    return static_cast<int>(std::chrono::weekday(d).iso_encoding()) - 1;  // Monday = 0
  }

  std::chrono::sys_days next_;
  std::vector<std::chrono::sys_days> dates_;
  std::vector<Bar> bars_;
};

// Deterministic noise in [-1, 1] (a linear congruential sequence), so fixtures look like
// markets rather than staircases while staying identical on every run.
class Noise {
 public:
  explicit Noise(unsigned seed) : state_(seed) {}
  double next() {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<double>(state_ >> 8) / static_cast<double>(1u << 24) * 2.0 - 1.0;
  }

 private:
  unsigned state_;
};

// A steady advance: +0.4% a day on average with +-1.5% noise, small opening gaps and wicks,
// more volume on up days.
inline candlex::BarTable clean_uptrend(std::size_t bars = 200) {
  BarBuilder b;
  Noise noise(7);
  double price = 10.0;
  for (std::size_t i = 0; i < bars; ++i) {
    double change = 0.004 + 0.015 * noise.next();
    double open = price * (1.0 + 0.004 * noise.next());
    price *= 1.0 + change;
    double top = std::max(open, price), bottom = std::min(open, price);
    b.add(open, top * (1.0 + 0.01 * std::abs(noise.next())),
          bottom * (1.0 - 0.01 * std::abs(noise.next())), price,
          (change > 0 ? 1'200'000 : 800'000) * (1.0 + 0.2 * noise.next()));
  }
  return b.table();
}

// A long decline ending in a capitulation day (-6% on triple volume), a small-bodied day
// below it and a strong bullish day closing above the middle of the capitulation body (a
// morning star) on heavy volume.
inline candlex::BarTable capitulation_reversal() {
  BarBuilder b;
  double price = 20.0;
  for (int i = 0; i < 120; ++i) {
    price *= i % 2 ? 1.004 : 0.997;
    b.step(price, 1'000'000);
  }
  for (int i = 0; i < 45; ++i) {
    price *= i % 3 == 2 ? 1.004 : 0.985;
    b.step(price, 1'100'000);
  }
  double before = price;
  price *= 0.94;
  b.add(before * 0.998, before * 1.001, price * 0.995, price, 3'300'000);  // capitulation
  double cap_open = before * 0.998;
  double star = price * 0.99;
  b.add(star * 1.002, star * 1.01, star * 0.985, star, 1'600'000);  // small body below
  double mid = (cap_open + price) / 2;
  double close = mid * 1.01;
  b.add(star * 1.004, close * 1.004, star * 0.998, close, 2'600'000);  // strong bullish
  return b.table();
}

// A flat, tight market: closes oscillate within +-1% around 10 with small daily ranges and
// steady volume.
inline candlex::BarTable flat_range(std::size_t bars = 160) {
  BarBuilder b;
  for (std::size_t i = 0; i < bars; ++i) {
    double close = 10.0 * (1.0 + 0.01 * std::sin(static_cast<double>(i) * 0.7));
    b.step(close, 1'000'000 + 50'000.0 * std::cos(static_cast<double>(i)), 0.003);
  }
  return b.table();
}

}  // namespace zv_test
