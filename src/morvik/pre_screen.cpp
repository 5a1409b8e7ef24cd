#include "morvik/pre_screen.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "zorvane/utils/text.hpp"

namespace morvik::pattern {

namespace zu = zorvane::utils;

namespace {

const std::string kTrend = "趋势跟随";
const std::string kBottom = "底部反转";
const std::string kRange = "区间震荡";
const std::string kCompression = "均线压缩";
const std::string kWaitBreakout = "等待突破";
const std::string kFlat = "空仓等待";

bool is_bottom(const std::string& type) {
  return type == kBottom || type == kWaitBreakout;
}

// Flags that count against a type. A bottom reversal follows from a decline, so the flags that
// describe the decline (climax or heavy volume on the way down, deep or long pullback, weak
// relative strength) are not held against it; only a fresh evening star is.
bool flag_counts(const std::string& type, const std::string& flag) {
  if (is_bottom(type)) return flag == "黄昏星";
  if (type == kRange || type == kCompression) return flag != "回撤过深" && flag != "回撤过长";
  return true;
}

int relevant_flags(const Features& f, const std::string& type) {
  return static_cast<int>(
      std::count_if(f.risk_flags.begin(), f.risk_flags.end(),
                    [&](const std::string& x) { return flag_counts(type, x); }));
}

double clamp01(double x) {
  return std::clamp(std::isfinite(x) ? x : 0.0, 0.0, 1.0);
}

struct Recognition {
  StrategyCheck data{"data"}, trend{"trend_following"}, bottom{"bottom_reversal"},
      compression{"ma_compression"}, range{"range"};
  bool whipsaw_ok = false;
  bool channel = false;
  bool momentum = false;
  bool waiting = false;
};

Recognition recognise(const Features& f, const Tier& tier) {
  Recognition r;
  r.data.conditions = {{"enough_bars", f.n >= kMinBars}, {"valid_data", f.data_problems.empty()}};
  r.data.matched = f.data_problems.empty();

  // Trend following.
  r.channel = f.ema5 >= f.ema10;
  bool vwma_ok = r.channel ? f.close >= f.vwma * 0.98 && f.vwma_slope == "positive"
                           : f.close >= f.vwma * 0.95 && f.close >= f.ema20 - 0.5 * f.atr;
  bool adx_ok = f.adx > tier.adx_min;
  bool squeeze = f.adx > 30 && !tier.weak && std::abs(f.close - f.ema5) <= f.atr;
  r.whipsaw_ok = f.dist_ema20_atr <= tier.whipsaw_atr || squeeze;
  r.trend.conditions = {{"ema_order", f.trend_core},
                        {"adx_above_tier", adx_ok},
                        {"vwma_support", vwma_ok},
                        {"within_whipsaw_cap", r.whipsaw_ok}};
  r.trend.matched = f.trend_core && adx_ok && vwma_ok;

  // Bottom reversal.
  bool low_position = f.pct60 && *f.pct60 <= 0.35;
  bool candle = f.reversal != Reversal::none;
  r.momentum = f.golden_cross || f.hist_rising || f.rsi_turn;
  bool volume_ok = f.reversal_volume >= 1.0;
  r.bottom.conditions = {{"close_pct_60d_low", low_position},
                         {"reversal_candle", candle},
                         {"momentum_turning", r.momentum},
                         {"reversal_volume", volume_ok}};
  r.bottom.matched = low_position && candle && r.momentum && volume_ok;
  r.waiting = low_position && !r.bottom.matched && (candle || r.momentum);

  // Moving-average compression.
  bool spread_ok = f.compression_spread < 0.02;
  bool gap_ok = f.vwma_gap <= 0.01;
  bool atr_low = f.atr <= 1.05 * f.atr_low20;
  r.compression.conditions = {{"ema_spread_below_2pct", spread_ok},
                              {"vwma_near_ema20", gap_ok},
                              {"atr_near_20d_low", atr_low}};
  r.compression.matched = spread_ok && gap_ok && atr_low;

  // Range.
  bool adx_low = f.adx < 20;
  bool inside = f.close >= f.lower && f.close <= f.upper;
  bool no_break = !f.range_breakout;
  bool width_ok = f.middle > 0 && (f.high20 - f.low20) / f.middle <= 0.20;
  r.range.conditions = {{"adx_below_20", adx_low},
                        {"inside_bands", inside},
                        {"no_20d_breakout", no_break},
                        {"range_width_ok", width_ok}};
  r.range.matched = adx_low && inside && no_break && width_ok;
  return r;
}

double volume_points(double ratio) {
  return ratio >= 1.5 ? 1.0 : ratio >= 1.0 ? 0.75 : 0.0;
}

double momentum_points(const Features& f) {
  return f.golden_cross ? 1.0 : (f.hist_rising || f.rsi_turn) ? 0.75 : 0.0;
}

// Quality of a recognised setup, 0 to 5. The recognition conditions themselves earn nothing
// here: points go to what makes one instance of a type better than another.
double pattern_strength(const std::string& type, const Features& f, const Tier& tier) {
  if (type == kTrend) {
    double s = clamp01((f.adx - tier.adx_min) / 15.0);  // trend strength beyond the minimum
    s += f.adx_slope > 0 ? 0.5 : 0.0;
    s += f.ema_order == "bullish" ? 1.0 : 0.5;
    s += f.close >= f.vwma && f.vwma_slope == "positive" ? 0.5 : 0.0;
    s += !f.weekly_trend             ? 0.5
         : *f.weekly_trend == "up"   ? 1.0
         : *f.weekly_trend == "flat" ? 0.5
                                     : 0.0;
    // Entries close to EMA20 risk less than extended ones: 1 within 0.5 ATR, 0 at the cap.
    s += 1.0 - clamp01((f.dist_ema20_atr - 0.5) / std::max(0.1, tier.whipsaw_atr - 0.5));
    return s;
  }
  if (type == kBottom || type == kWaitBreakout) {
    double s = 1.0 + (f.pct120 && *f.pct120 <= 0.40 ? 0.5 : 0.0);
    s += reversal_strength(f.reversal);
    s += momentum_points(f);
    if (type == kBottom) s += volume_points(f.reversal_volume);
    s += f.vwma_turning_up ? 0.3 : 0.0;
    return s;
  }
  if (type == kCompression) {
    double s = 1.5 * clamp01(1.0 - f.compression_spread / 0.02);
    s += 1.0 * clamp01(1.0 - f.vwma_gap / 0.01);
    s += clamp01((1.0 - f.atr / f.atr_mean60) / 0.3);  // ATR 30% below its 60-bar mean -> 1
    s += f.volume_shrink ? 1.0 : 0.0;
    s += f.close >= f.ema60 ? 0.5 : 0.0;
    return s;
  }
  if (type == kRange) {
    double s = clamp01((20.0 - f.adx) / 5.0);  // ADX 20 -> 0, 15 and below -> 1
    double span = f.high20 - f.low20;
    double pos = span > 0 ? (f.close - f.low20) / span : 0.5;
    s += 1.5 * clamp01(1.0 - pos);  // entries near the range floor leave room to the top
    s += f.rsi >= 35 && f.rsi <= 65 ? 0.5 : 0.0;
    s += f.middle > 0 && (f.upper - f.lower) / f.middle >= 0.04 ? 1.0 : 0.0;  // room for a trade
    s += f.floor_touches >= 2 && f.ceiling_touches >= 2 ? 1.0 : 0.0;          // a tested range
    return s;
  }
  return 0.0;
}

double round2(double x) {
  return zu::round_to(x, 2);
}

}  // namespace

Tier tier_for(const std::optional<std::string>& market_bias) {
  static const Tier kStrong{"强势档", 25, 2.0, 1.5, 1.5, 50, 1.0, false};
  static const Tier kNeutral{"中性档", 22, 1.8, 1.8, 1.8, 30, 0.5, false};
  static const Tier kWeak{"弱势档", 28, 1.5, 1.2, 2.0, 15, 0.0, true};
  static const Tier kUnknown{"未定档", 25, 1.8, 1.5, 1.8, 30, 0.5, false};
  if (!market_bias) return kUnknown;
  const std::string& b = *market_bias;
  if (b == "偏多") return kStrong;
  if (b == "震荡") return kNeutral;
  if (b == "偏空" || b == "避险") return kWeak;
  throw std::invalid_argument(
      "pre_screen_and_scan: market_bias must be 偏多, 震荡, 偏空 or 避险, got " +
      zu::quoted_text(b));
}

PreScreen run_pre_screen(const Features& f, const Tier& tier, const std::string& mode,
                         double min_score) {
  PreScreen out;
  Recognition r = recognise(f, tier);
  out.checks = {r.data, r.trend, r.bottom, r.compression, r.range};
  for (const auto& p : f.data_problems) out.reasons.push_back(p);

  std::string type = kFlat;
  if (!r.data.matched) {
    // Data problems alone decide.
  } else if (r.trend.matched) {
    type = kTrend;
  } else if (mode == "trend") {
    out.reasons.push_back("趋势模式只识别趋势跟随, 当前不满足趋势跟随条件");
  } else if (r.bottom.matched) {
    type = kBottom;
  } else if (r.compression.matched) {
    type = kCompression;
  } else if (r.range.matched) {
    type = kRange;
  } else if (r.waiting) {
    type = kWaitBreakout;
  } else {
    out.reasons.push_back("未识别到可操作形态");
  }
  out.strategy_type = type;

  const bool high_vol = f.vol_regime == "high_vol";
  const bool low_vol = f.vol_regime == "low_vol";
  const int flags = relevant_flags(f, type);
  if (type != kFlat) {
    Breakdown& b = out.breakdown;
    b.pattern = pattern_strength(type, f, tier);
    b.confluence = std::min(2.0, 0.4 * static_cast<double>(f.signals.size()));
    b.volume = (f.up_down_volume > 1.0 ? 1.0 : 0.0) + (f.obv_high ? 0.5 : 0.0);
    b.environment = tier.env_points;
    if (low_vol && (type == kCompression || type == kWaitBreakout || type == kTrend))
      b.regime = 0.5;
    if (high_vol && (type == kRange || type == kBottom)) b.regime = -0.5;
    b.risk = -0.75 * flags;
    double sum = b.pattern + b.confluence + b.volume + b.environment + b.regime + b.risk;
    out.total_score = round2(std::clamp(sum, 0.0, 10.0));
  }

  bool gate_ok = type != kFlat && r.data.matched;
  if (type == kTrend && !r.whipsaw_ok) {
    gate_ok = false;
    out.reasons.push_back("价格偏离EMA20 " + zu::fixed_text(f.dist_ema20_atr, 2) + " ATR, 超过 " +
                          zu::fixed_text(tier.whipsaw_atr, 2) + " ATR 上限, 等待回踩");
  }
  if (gate_ok && out.total_score < min_score) {
    out.reasons.push_back("总分 " + zu::fixed_text(out.total_score, 2) + " 低于最低要求 " +
                          zu::float_text(min_score));
  }
  out.passed = gate_ok && out.total_score >= min_score;

  bool fresh = (type == kTrend && f.new_close_high20) || (type == kBottom && f.reversal_bar == f.t);
  out.urgency = !out.passed ? "LOW" : out.total_score >= 7.0 && fresh ? "HIGH" : "MEDIUM";

  Confidence& c = out.confidence;
  c.trend_resonance = (f.ema_order == "bullish" ? 0.5
                       : f.trend_core           ? 0.25
                                                : 0.0) +
                      (!f.weekly_trend             ? 0.0
                       : *f.weekly_trend == "up"   ? 0.5
                       : *f.weekly_trend == "flat" ? 0.25
                                                   : 0.0) +
                      (f.adx > tier.adx_min ? 0.5
                       : f.adx >= 20        ? 0.25
                                            : 0.0);
  c.volume = is_bottom(type)
                 ? volume_points(f.reversal_volume)
                 : ((f.up_down_volume > 1.0 ? 1.0 : 0.0) + (f.obv_high ? 0.5 : 0.0)) / 1.5;
  c.market_environment = std::max(0.0, tier.env_points - (high_vol ? 0.25 : 0.0));
  c.signal_confluence = std::min(1.0, 0.25 * static_cast<double>(f.signals.size()));
  c.risk_penalty = -0.25 * flags;
  double sum =
      c.trend_resonance + c.volume + c.market_environment + c.signal_confluence + c.risk_penalty;
  c.trend_resonance = round2(c.trend_resonance);
  c.volume = round2(c.volume);
  c.market_environment = round2(c.market_environment);
  c.signal_confluence = round2(c.signal_confluence);
  c.risk_penalty = round2(c.risk_penalty);
  c.total = round2(std::clamp(sum, 0.0, 4.5));

  out.min_rrr = round2(tier.min_rrr + (high_vol ? 0.2 : 0.0));
  out.max_stop_dist_atr = tier.stop_atr;
  double position = tier.max_position_pct * (high_vol ? 0.75 : 1.0) * (flags > 0 ? 0.8 : 1.0);
  out.max_position_pct = static_cast<int>(std::lround(position));
  return out;
}

}  // namespace morvik::pattern
