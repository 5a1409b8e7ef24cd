#include "morvik/pattern_candles.hpp"

#include <algorithm>
#include <cmath>

namespace morvik::pattern {

namespace {

struct Candle {
  double open, high, low, close;

  double body() const { return std::abs(close - open); }
  double range() const { return high - low; }
  double top() const { return std::max(open, close); }
  double bottom() const { return std::min(open, close); }
  double mid() const { return (open + close) / 2.0; }
  double upper_shadow() const { return high - top(); }
  double lower_shadow() const { return bottom() - low; }
  bool bullish() const { return close > open; }
  bool bearish() const { return close < open; }
  bool finite() const {
    return std::isfinite(open) && std::isfinite(high) && std::isfinite(low) && std::isfinite(close);
  }
};

Candle candle(const Series& s, std::size_t i) {
  return {s.o(i), s.h(i), s.l(i), s.c(i)};
}

bool after_decline(const Series& s, std::size_t t) {
  return t >= 6 && s.c(t - 1) < s.c(t - 6);
}

bool hammer(const Series& s, std::size_t t, double unit) {
  Candle k = candle(s, t);
  if (!after_decline(s, t) || k.range() < 0.8 * unit) return false;
  return k.lower_shadow() >= 2.0 * k.body() && k.upper_shadow() <= 0.25 * k.range();
}

bool piercing(const Series& s, std::size_t t, double unit) {
  if (t < 1) return false;
  Candle a = candle(s, t - 1), b = candle(s, t);
  return a.bearish() && a.body() >= 0.6 * unit && b.open < a.close && b.close > a.mid() &&
         b.close < a.open;
}

bool engulfing(const Series& s, std::size_t t, double unit) {
  if (t < 1 || !after_decline(s, t)) return false;
  Candle a = candle(s, t - 1), b = candle(s, t);
  return a.bearish() && b.bullish() && b.body() >= 0.5 * unit && b.open <= a.close &&
         b.close >= a.open && b.body() > a.body();
}

bool morning_star(const Series& s, std::size_t t, double unit) {
  if (t < 2) return false;
  Candle a = candle(s, t - 2), m = candle(s, t - 1), b = candle(s, t);
  if (!a.bearish() || a.body() < 0.6 * unit) return false;
  if (m.body() > 0.5 * a.body() || m.top() > a.close + 0.1 * a.body()) return false;
  return b.bullish() && b.body() >= 0.5 * a.body() && b.close > a.mid();
}

bool finite_bars(const Series& s, std::size_t t, std::size_t count) {
  if (t + 1 < count) return false;
  for (std::size_t i = t + 1 - count; i <= t; ++i)
    if (!candle(s, i).finite()) return false;
  return true;
}

}  // namespace

const char* reversal_name(Reversal kind) {
  switch (kind) {
    case Reversal::hammer:
      return "锤子线";
    case Reversal::piercing_line:
      return "刺透形态";
    case Reversal::bullish_engulfing:
      return "看涨吞没";
    case Reversal::morning_star:
      return "启明星";
    case Reversal::none:
      break;
  }
  return "";
}

double reversal_strength(Reversal kind) {
  switch (kind) {
    case Reversal::morning_star:
    case Reversal::bullish_engulfing:
      return 1.0;
    case Reversal::hammer:
    case Reversal::piercing_line:
      return 0.75;
    case Reversal::none:
      break;
  }
  return 0.0;
}

Reversal reversal_at(const Series& s, std::size_t t) {
  if (t >= s.n || !finite_bars(s, t, std::min<std::size_t>(t + 1, 3))) return Reversal::none;
  double unit = size_unit(s, t);
  if (finite_bars(s, t, 3) && morning_star(s, t, unit)) return Reversal::morning_star;
  if (finite_bars(s, t, 2) && engulfing(s, t, unit)) return Reversal::bullish_engulfing;
  if (finite_bars(s, t, 2) && piercing(s, t, unit)) return Reversal::piercing_line;
  if (hammer(s, t, unit)) return Reversal::hammer;
  return Reversal::none;
}

bool evening_star_at(const Series& s, std::size_t t) {
  if (t >= s.n || !finite_bars(s, t, 3)) return false;
  double unit = size_unit(s, t);
  Candle a = candle(s, t - 2), m = candle(s, t - 1), b = candle(s, t);
  if (!a.bullish() || a.body() < 0.6 * unit) return false;
  if (m.body() > 0.5 * a.body() || m.bottom() < a.close - 0.1 * a.body()) return false;
  return b.bearish() && b.body() >= 0.5 * a.body() && b.close < a.mid();
}

}  // namespace morvik::pattern
