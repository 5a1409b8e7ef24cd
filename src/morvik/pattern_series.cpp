#include "morvik/pattern_series.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "candlex/technical.hpp"

namespace morvik::pattern {

namespace tech = candlex::technical;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class F>
double fold_window(const std::vector<double>& col, std::ptrdiff_t from, std::ptrdiff_t to, F f) {
  from = std::max<std::ptrdiff_t>(from, 0);
  to = std::min<std::ptrdiff_t>(to, static_cast<std::ptrdiff_t>(col.size()) - 1);
  double acc = kNaN;
  std::size_t count = 0;
  for (std::ptrdiff_t i = from; i <= to; ++i) {
    double x = col[static_cast<std::size_t>(i)];
    if (!std::isfinite(x)) continue;
    acc = count == 0 ? x : f(acc, x);
    ++count;
  }
  return acc;
}

}  // namespace

std::unique_ptr<Series> prepare_series(const candlex::BarTable& df) {
  if (!df.empty()) {
    for (const char* name : {"close", "volume"}) {
      if (!df.has(name)) {
        throw std::invalid_argument(std::string("pre_screen_and_scan: the bar table has no '") +
                                    name + "' column");
      }
    }
  }
  auto s = std::make_unique<Series>();
  // Only the prices and volume are taken over: indicators are always computed afresh, so the
  // result depends on the bars alone, whatever columns the caller's table carries.
  s->table = candlex::BarTable(df.dates());
  auto& t = s->table;
  const std::vector<double> none;
  const auto& close = df.has("close") ? df.col("close") : none;
  t.set("close", close);
  t.set("volume", df.has("volume") ? df.col("volume") : none);
  // Without open/high/low the close stands in, so candle tests see flat bars, not garbage.
  for (const char* name : {"open", "high", "low"}) t.set(name, df.has(name) ? df.col(name) : close);
  tech::set_ema(t);
  tech::set_macd(t);
  tech::set_rsi(t, 12);
  tech::set_boll(t);
  tech::set_volume(t);
  tech::set_adx(t);
  tech::set_vwma(t);
  tech::set_obv(t);

  // Pointers are taken only now: adding columns may move them.
  s->n = t.size();
  s->open = &t.col("open");
  s->high = &t.col("high");
  s->low = &t.col("low");
  s->close = &t.col("close");
  s->volume = &t.col("volume");
  s->ema5 = &t.col("EMA_5");
  s->ema10 = &t.col("EMA_10");
  s->ema20 = &t.col("EMA_20");
  s->ema60 = &t.col("EMA_60");
  s->macd = &t.col("MACD");
  s->macd_signal = &t.col("MACD_signal");
  s->macd_hist = &t.col("MACD_hist");
  s->rsi = &t.col("RSI");
  s->upper = &t.col("upper_band");
  s->middle = &t.col("middle_band");
  s->lower = &t.col("lower_band");
  s->volume_ratio = &t.col("Volume_Ratio");
  s->atr = &t.col("ATR");
  s->adx = &t.col("ADX");
  s->vwma = &t.col("VWMA");
  s->obv = &t.col("OBV");
  return s;
}

double at_or_nan(const std::vector<double>& col, std::ptrdiff_t i) {
  if (i < 0 || i >= static_cast<std::ptrdiff_t>(col.size())) return kNaN;
  return col[static_cast<std::size_t>(i)];
}

double window_min(const std::vector<double>& col, std::ptrdiff_t from, std::ptrdiff_t to) {
  return fold_window(col, from, to, [](double a, double b) { return std::min(a, b); });
}

double window_max(const std::vector<double>& col, std::ptrdiff_t from, std::ptrdiff_t to) {
  return fold_window(col, from, to, [](double a, double b) { return std::max(a, b); });
}

double window_mean(const std::vector<double>& col, std::ptrdiff_t from, std::ptrdiff_t to) {
  from = std::max<std::ptrdiff_t>(from, 0);
  to = std::min<std::ptrdiff_t>(to, static_cast<std::ptrdiff_t>(col.size()) - 1);
  double sum = 0.0;
  std::size_t count = 0;
  for (std::ptrdiff_t i = from; i <= to; ++i) {
    double x = col[static_cast<std::size_t>(i)];
    if (!std::isfinite(x)) continue;
    sum += x;
    ++count;
  }
  return count == 0 ? kNaN : sum / static_cast<double>(count);
}

std::optional<double> close_percentile(const Series& s, std::size_t t, std::size_t window) {
  if (window < 2 || t + 1 < window) return std::nullopt;
  double today = s.c(t);
  if (!std::isfinite(today)) return std::nullopt;
  std::size_t below = 0, counted = 0;
  for (std::size_t i = t + 1 - window; i < t; ++i) {
    double x = s.c(i);
    if (!std::isfinite(x)) continue;
    ++counted;
    if (x < today) ++below;
  }
  if (counted == 0) return std::nullopt;
  return static_cast<double>(below) / static_cast<double>(counted);
}

double size_unit(const Series& s, std::size_t t) {
  double atr = (*s.atr)[t];
  if (std::isfinite(atr) && atr > 0) return atr;
  double sum = 0.0;
  std::size_t count = 0;
  std::size_t from = t >= 13 ? t - 13 : 0;
  for (std::size_t i = from; i <= t; ++i) {
    double r = s.h(i) - s.l(i);
    if (std::isfinite(r)) {
      sum += r;
      ++count;
    }
  }
  double unit = count ? sum / static_cast<double>(count) : 0.0;
  if (unit > 0) return unit;
  // A table of flat bars: fall back to a small share of price so ratios stay finite.
  double c = s.c(t);
  return std::isfinite(c) && c > 0 ? c * 0.01 : 1.0;
}

}  // namespace morvik::pattern
