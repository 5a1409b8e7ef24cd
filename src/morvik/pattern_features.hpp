#pragma once
// Internal to the pattern scan: everything the scan measures at the last bar, computed from
// bars up to that bar only. Values that cannot be computed are NaN or nullopt.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "morvik/pattern_candles.hpp"
#include "morvik/pattern_series.hpp"

namespace morvik::pattern {

struct Pivots {
  double p, r1, r2, r3, s1, s2, s3;
};

// Classic floor pivots and Fibonacci pivots of one period's high, low and close.
Pivots classic_pivots(double high, double low, double close);
Pivots fibonacci_pivots(double high, double low, double close);

struct Features {
  std::size_t n = 0;
  std::size_t t = 0;  // the last bar

  // Last-bar values.
  double close = 0, open = 0, ema5 = 0, ema10 = 0, ema20 = 0, ema60 = 0;
  double adx = 0, atr = 0, vwma = 0, rsi = 0, macd = 0, macd_hist = 0;
  double upper = 0, middle = 0, lower = 0, volume_ratio = 0;

  // Trend structure.
  std::string ema_order;      // "bullish", "bearish", "mixed"
  bool trend_core = false;    // EMA10 > EMA20 > EMA60 and EMA20 rising over 3 bars
  double adx_slope = 0;       // ADX change over 3 bars
  std::string adx_direction;  // "rising", "falling", "flat"
  double vwma_slope_pct = 0;  // 3-bar VWMA change, percent
  std::string vwma_slope;     // "positive", "negative", "flat"
  bool vwma_turning_up = false;
  double dist_ema20_atr = 0;  // (close - EMA20) / ATR
  std::optional<double> pct60, pct120;
  std::optional<std::string> weekly_trend;  // "up", "down", "flat"

  // Price context.
  double low20 = 0, high20 = 0, low5 = 0, support = 0, resistance = 0;
  std::optional<Pivots> classic, fibonacci;

  // Candles and momentum.
  Reversal reversal = Reversal::none;
  std::size_t reversal_bar = 0;  // bar index of the reversal candle when there is one
  double reversal_volume = 0;    // that bar's volume over the mean of the 5 bars before it
  bool evening_star = false;
  bool golden_cross = false;      // MACD crossed above its signal within 3 bars
  bool hist_rising = false;       // histogram negative and rising 2 bars in a row
  bool rsi_turn = false;          // RSI up today after touching 30 within 5 bars
  bool new_close_high20 = false;  // close above every close of the 20 bars before
  bool new_close_low20 = false;
  bool range_breakout = false;    // close beyond the 20-bar closing range by > 0.25 ATR
  bool volume_shrink = false;     // volume ratio < 0.7 on 3 consecutive bars within 5
  double compression_spread = 0;  // (max - min of EMA5/10/20) / EMA20
  double vwma_gap = 0;            // |VWMA - EMA20| / EMA20
  double atr_low20 = 0;           // lowest ATR of the last 20 bars
  double atr_mean60 = 0;          // mean ATR of the last 60 bars
  int floor_touches = 0;          // closes of the last 20 bars within 0.5 ATR of the 20-bar low
  int ceiling_touches = 0;        // ... of the 20-bar high

  // Volume and confluence.
  double up_down_volume = 0;  // up-close volume over down-close volume, last 10 bars
  bool obv_high = false;      // OBV at its 20-bar high
  std::vector<std::string> signals;

  // Risk.
  std::vector<std::string> risk_flags;
  std::optional<double> pullback_depth_pct, pullback_avg_vr;
  std::optional<long long> pullback_days;
  std::optional<double> rs_20d;
  double atr_ratio = 0;  // NaN when unknown
  std::string atr_source;
  std::string vol_regime;

  // Data quality.
  std::vector<std::string> data_problems;
};

struct FeatureInputs {
  std::optional<double> benchmark_return_20d;
  std::optional<double> index_atr_ratio;
};

// Minimum number of bars for a scan.
inline constexpr std::size_t kMinBars = 30;

Features compute_features(const Series& s, const FeatureInputs& in);

}  // namespace morvik::pattern
