#include "morvik/pattern_features.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "zorvane/utils/text.hpp"

namespace morvik::pattern {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using Idx = std::ptrdiff_t;

Idx idx(std::size_t i) {
  return static_cast<Idx>(i);
}

bool finite(double x) {
  return std::isfinite(x);
}

// A risk metric at the precision of the scan's output (two decimals).
double shown(double x) {
  return zorvane::utils::round_to(x, 2);
}

// The weekly trend and the pivots come from weekly bars built from the daily ones; the last
// week may be unfinished, which is why the pivots use the week before it.
void weekly_features(const Series& s, Features& f) {
  candlex::BarTable weekly = candlex::to_weekly(s.table);
  std::size_t wn = weekly.size();
  if (wn >= 2) {
    std::size_t p = wn - 2;
    double h = weekly.at("high", p), l = weekly.at("low", p), c = weekly.at("close", p);
    if (finite(h) && finite(l) && finite(c)) {
      f.classic = classic_pivots(h, l, c);
      f.fibonacci = fibonacci_pivots(h, l, c);
    }
  }
  if (wn < 10) return;
  const auto& wc = weekly.col("close");
  // 10-week EMA seeded with the first weekly close, as the daily EMAs are.
  const double alpha = 2.0 / 11.0;
  double ema = kNaN, prev = kNaN;
  for (double x : wc) {
    if (!finite(x)) continue;
    prev = ema;
    ema = finite(ema) ? ema + alpha * (x - ema) : x;
  }
  double last = wc.back();
  if (!finite(last) || !finite(ema) || !finite(prev)) return;
  if (last > ema && ema > prev) {
    f.weekly_trend = "up";
  } else if (last < ema && ema < prev) {
    f.weekly_trend = "down";
  } else {
    f.weekly_trend = "flat";
  }
}

void candle_features(const Series& s, Features& f) {
  const std::size_t t = f.t;
  // A reversal completed on the last bar, or on the bar before when the last bar did not
  // break its low (which would have invalidated it).
  Reversal r = reversal_at(s, t);
  std::size_t bar = t;
  if (r == Reversal::none && t >= 1) {
    Reversal prev = reversal_at(s, t - 1);
    if (prev != Reversal::none && !(s.c(t) < s.l(t - 1))) {
      r = prev;
      bar = t - 1;
    }
  }
  f.reversal = r;
  f.reversal_bar = bar;
  // Volume of the reversal bar (the last bar without one) against the 5 bars before it.
  double before = window_mean(*s.volume, idx(bar) - 5, idx(bar) - 1);
  f.reversal_volume = bar >= 5 && before > 0 ? s.v(bar) / before : kNaN;
  f.evening_star = evening_star_at(s, t) || (t >= 1 && evening_star_at(s, t - 1));
}

void momentum_features(const Series& s, Features& f) {
  const std::size_t t = f.t;
  const auto& m = *s.macd;
  const auto& sig = *s.macd_signal;
  const auto& hist = *s.macd_hist;
  for (std::size_t j = t >= 2 ? t - 2 : 1; j <= t && j >= 1; ++j) {
    if (m[j] > sig[j] && m[j - 1] <= sig[j - 1]) f.golden_cross = true;
  }
  if (t >= 2) {
    f.hist_rising = hist[t] < 0 && hist[t] > hist[t - 1] && hist[t - 1] > hist[t - 2];
  }
  const auto& rsi = *s.rsi;
  if (t >= 1) {
    double low = window_min(rsi, idx(t) - 4, idx(t));
    f.rsi_turn = rsi[t] > rsi[t - 1] && finite(low) && low <= 30.0;
  }
  if (t >= 20) {
    double hi = window_max(*s.close, idx(t) - 20, idx(t) - 1);
    double lo = window_min(*s.close, idx(t) - 20, idx(t) - 1);
    f.new_close_high20 = f.close > hi;
    f.new_close_low20 = f.close < lo;
    // A range is left only by a move that matters, not by a new extreme of a few ticks.
    double margin = 0.25 * size_unit(s, t);
    f.range_breakout = f.close > hi + margin || f.close < lo - margin;
  }
}

// Bullish divergence: the lowest close of the last 10 bars is below the lowest close of the
// 30 bars before them while the MACD histogram or the RSI at the new low is higher.
bool bullish_divergence(const Series& s, std::size_t t) {
  if (t < 39) return false;
  auto argmin = [&](std::size_t from, std::size_t to) {
    std::size_t best = from;
    for (std::size_t i = from; i <= to; ++i)
      if (s.c(i) < s.c(best)) best = i;
    return best;
  };
  std::size_t a = argmin(t - 9, t), b = argmin(t - 39, t - 10);
  if (!(s.c(a) < s.c(b))) return false;
  const auto& hist = *s.macd_hist;
  const auto& rsi = *s.rsi;
  bool macd_div = hist[b] < 0 && hist[a] > hist[b];
  bool rsi_div = finite(rsi[a]) && finite(rsi[b]) && rsi[a] > rsi[b];
  return macd_div || rsi_div;
}

void confluence(const Series& s, Features& f) {
  const std::size_t t = f.t;
  const auto& hist = *s.macd_hist;
  auto& out = f.signals;
  if (f.ema_order == "bullish") out.push_back("均线多头排列");
  if (f.golden_cross) out.push_back("MACD金叉");
  if (t >= 2 && hist[t] > 0 && hist[t] > hist[t - 1] && hist[t - 1] > hist[t - 2])
    out.push_back("MACD红柱放大");
  if (f.rsi >= 50 && f.rsi <= 70) out.push_back("RSI强势区");
  if (f.rsi_turn) out.push_back("RSI超卖回升");
  if (t >= 1 && f.volume_ratio >= 1.3 && f.close > s.c(t - 1)) out.push_back("放量上涨");
  if (f.close >= f.vwma && f.vwma_slope == "positive") out.push_back("站上VWMA");
  if (f.obv_high) out.push_back("OBV新高");
  if (f.reversal != Reversal::none)
    out.push_back(std::string("反转K线(") + reversal_name(f.reversal) + ")");
  if (bullish_divergence(s, t)) out.push_back("底背离");
}

void risk(const Series& s, Features& f, const FeatureInputs& in) {
  const std::size_t t = f.t;
  const auto& vr = *s.volume_ratio;
  bool climax = false, heavy = false;
  for (std::size_t i = t >= 1 ? t - 1 : 0; i <= t; ++i) {
    if (i == 0) continue;
    double body = std::abs(s.c(i) - s.o(i));
    double range = s.h(i) - s.l(i);
    double upper_shadow = s.h(i) - std::max(s.o(i), s.c(i));
    bool long_upper = range > 0 && upper_shadow >= 2.0 * body && upper_shadow >= 0.5 * range;
    if (vr[i] > 2.5 && (s.c(i) < s.c(i - 1) || long_upper)) {
      climax = true;
    } else if (vr[i] > 1.3 && s.c(i) < s.o(i)) {
      heavy = true;
    }
  }
  if (climax) f.risk_flags.push_back("高潮量");
  if (heavy) f.risk_flags.push_back("放量不涨");
  if (f.evening_star) f.risk_flags.push_back("黄昏星");

  // Pullback from the highest high of the last 60 bars (its latest occurrence); it applies
  // once the close is at least 3% below that high.
  std::size_t from = t >= 59 ? t - 59 : 0, peak = from;
  for (std::size_t i = from; i <= t; ++i)
    if (finite(s.h(i)) && (!finite(s.h(peak)) || s.h(i) >= s.h(peak))) peak = i;
  double high = s.h(peak);
  // A pullback is a retreat from a high made in an uptrend (EMA20 above EMA60 at the peak); a
  // stock that has drifted lower all along is not "pulling back".
  bool uptrend_peak = (*s.ema20)[peak] > (*s.ema60)[peak];
  if (finite(high) && high > 0 && peak < t && uptrend_peak) {
    double depth = (high - f.close) / high * 100.0;
    if (depth >= 3.0) {
      f.pullback_depth_pct = depth;
      f.pullback_days = static_cast<long long>(t - peak);
      double avg = window_mean(vr, idx(peak) + 1, idx(t));
      if (finite(avg)) f.pullback_avg_vr = avg;
      // Flags judge the values as the scan shows them (two decimals), so a depth shown as
      // 15.00 never carries "deeper than 15".
      if (shown(depth) > 15.0) f.risk_flags.push_back("回撤过深");
      if (t - peak > 15) f.risk_flags.push_back("回撤过长");
      if (f.pullback_avg_vr && shown(*f.pullback_avg_vr) > 1.2) f.risk_flags.push_back("放量下跌");
    }
  }

  if (t >= 20 && s.c(t - 20) > 0) {
    double ret = (f.close / s.c(t - 20) - 1.0) * 100.0;
    if (finite(ret)) f.rs_20d = ret - in.benchmark_return_20d.value_or(0.0);
  }
  if (f.rs_20d && shown(*f.rs_20d) < -5.0) f.risk_flags.push_back("RS绝对弱势");

  if (in.index_atr_ratio) {
    f.atr_ratio = *in.index_atr_ratio;
    f.atr_source = "index";
  } else {
    f.atr_ratio = f.atr_mean60 > 0 ? f.atr / f.atr_mean60 : kNaN;
    f.atr_source = "stock";
  }
  f.vol_regime = !finite(f.atr_ratio) ? "normal_vol"
                 : f.atr_ratio > 1.3  ? "high_vol"
                 : f.atr_ratio < 0.85 ? "low_vol"
                                      : "normal_vol";
}

}  // namespace

Pivots classic_pivots(double high, double low, double close) {
  double p = (high + low + close) / 3.0;
  return {p,
          2 * p - low,
          p + (high - low),
          high + 2 * (p - low),
          2 * p - high,
          p - (high - low),
          low - 2 * (high - p)};
}

Pivots fibonacci_pivots(double high, double low, double close) {
  double p = (high + low + close) / 3.0;
  double r = high - low;
  return {p, p + 0.382 * r, p + 0.618 * r, p + r, p - 0.382 * r, p - 0.618 * r, p - r};
}

Features compute_features(const Series& s, const FeatureInputs& in) {
  Features f;
  f.n = s.n;
  if (s.n == 0) {
    f.data_problems.push_back("没有K线数据");
    return f;
  }
  const std::size_t t = s.last();
  f.t = t;
  if (s.n < kMinBars) {
    f.data_problems.push_back("数据不足: 仅 " + std::to_string(s.n) + " 根K线 (至少需要 " +
                              std::to_string(kMinBars) + " 根)");
  }
  f.close = s.c(t);
  f.open = s.o(t);
  if (!finite(f.close) || f.close <= 0) {
    f.data_problems.push_back("疑似停牌/数据异常: 最新收盘价缺失或不为正");
  } else if (t >= 2 && s.c(t - 1) == f.close && s.c(t - 2) == f.close) {
    f.data_problems.push_back("疑似停牌/数据异常: 最近 3 日收盘价相同");
  }

  f.ema5 = (*s.ema5)[t];
  f.ema10 = (*s.ema10)[t];
  f.ema20 = (*s.ema20)[t];
  f.ema60 = (*s.ema60)[t];
  f.adx = (*s.adx)[t];
  f.atr = (*s.atr)[t];
  f.vwma = (*s.vwma)[t];
  f.rsi = (*s.rsi)[t];
  f.macd = (*s.macd)[t];
  f.macd_hist = (*s.macd_hist)[t];
  f.upper = (*s.upper)[t];
  f.middle = (*s.middle)[t];
  f.lower = (*s.lower)[t];
  f.volume_ratio = (*s.volume_ratio)[t];

  if (f.ema5 > f.ema10 && f.ema10 > f.ema20 && f.ema20 > f.ema60) {
    f.ema_order = "bullish";
  } else if (f.ema5 < f.ema10 && f.ema10 < f.ema20 && f.ema20 < f.ema60) {
    f.ema_order = "bearish";
  } else {
    f.ema_order = "mixed";
  }
  f.trend_core = t >= 3 && f.ema10 > f.ema20 && f.ema20 > f.ema60 && f.ema20 > (*s.ema20)[t - 3];

  f.adx_slope = f.adx - at_or_nan(*s.adx, idx(t) - 3);
  f.adx_direction = !finite(f.adx_slope) ? ""
                    : f.adx_slope > 0.5  ? "rising"
                    : f.adx_slope < -0.5 ? "falling"
                                         : "flat";
  auto slope_pct = [&](Idx at) {
    double now = at_or_nan(*s.vwma, at), then = at_or_nan(*s.vwma, at - 3);
    return then > 0 ? (now / then - 1.0) * 100.0 : kNaN;
  };
  f.vwma_slope_pct = slope_pct(idx(t));
  f.vwma_slope = !finite(f.vwma_slope_pct) ? ""
                 : f.vwma_slope_pct > 0.1  ? "positive"
                 : f.vwma_slope_pct < -0.1 ? "negative"
                                           : "flat";
  double earlier = slope_pct(idx(t) - 3);
  f.vwma_turning_up = f.vwma_slope == "positive" && finite(earlier) && earlier <= 0.1;
  f.dist_ema20_atr = f.atr > 0 ? (f.close - f.ema20) / f.atr : kNaN;
  f.pct60 = close_percentile(s, t, 60);
  f.pct120 = close_percentile(s, t, 120);
  weekly_features(s, f);

  f.low20 = window_min(*s.low, idx(t) - 19, idx(t));
  f.high20 = window_max(*s.high, idx(t) - 19, idx(t));
  f.low5 = window_min(*s.close, idx(t) - 4, idx(t));
  f.support = std::fmin(f.low20, f.ema20);
  f.resistance = std::fmax(f.high20, f.upper);

  candle_features(s, f);
  momentum_features(s, f);

  const auto& vr = *s.volume_ratio;
  int run = 0;
  for (std::size_t i = t >= 4 ? t - 4 : 0; i <= t; ++i) {
    run = vr[i] < 0.7 ? run + 1 : 0;
    if (run >= 3) f.volume_shrink = true;
  }
  double emax = std::max({f.ema5, f.ema10, f.ema20}), emin = std::min({f.ema5, f.ema10, f.ema20});
  f.compression_spread = f.ema20 > 0 ? (emax - emin) / f.ema20 : kNaN;
  f.vwma_gap = f.ema20 > 0 ? std::abs(f.vwma - f.ema20) / f.ema20 : kNaN;
  f.atr_low20 = window_min(*s.atr, idx(t) - 19, idx(t));
  f.atr_mean60 = window_mean(*s.atr, idx(t) - 59, idx(t));
  double unit = size_unit(s, t);
  for (std::size_t i = t >= 19 ? t - 19 : 0; i <= t; ++i) {
    if (s.c(i) - f.low20 <= 0.5 * unit) ++f.floor_touches;
    if (f.high20 - s.c(i) <= 0.5 * unit) ++f.ceiling_touches;
  }

  double up = 0, down = 0;
  for (std::size_t i = t >= 9 ? t - 9 : 1; i <= t && i >= 1; ++i) {
    if (!finite(s.v(i))) continue;
    if (s.c(i) > s.c(i - 1)) up += s.v(i);
    if (s.c(i) < s.c(i - 1)) down += s.v(i);
  }
  f.up_down_volume = down > 0 ? up / down : up > 0 ? std::numeric_limits<double>::infinity() : kNaN;
  if (t >= 19) {
    double obv_max = window_max(*s.obv, idx(t) - 19, idx(t));
    f.obv_high = finite((*s.obv)[t]) && (*s.obv)[t] >= obv_max;
  }

  confluence(s, f);
  risk(s, f, in);
  return f;
}

}  // namespace morvik::pattern
