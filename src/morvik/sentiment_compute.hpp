#pragma once
// The sentiment thermometer's computation over a cross-section of ETF bars (no I/O).
//
// Horizons: "D" works on daily bars, "W" on weekly bars built from the daily ones (one bar per
// Monday-to-Sunday week, labelled by its last trading day). Every ETF's bars after the as-of
// day are dropped before anything is computed.
//
// Per ETF and bar i (windows in bars of the horizon):
//   above    close_i > mean(close over the 20 bars ending at i)              -> 1 / 0
//   return   close_i / close_{i-20} - 1
//   turnover volume_i / mean(volume over the 20 bars ending at i)
//   vol      population standard deviation of the 20 log returns ending at i
//   position (close_i - lowest low) / (highest high - lowest low) over 60 bars; 0.5 when flat
// Any missing value in a window leaves that metric undefined for the bar.
//
// Calendar: the periods (days for D, weeks for W) in which at least
// min(n, max(3, ceil(n / 4))) ETFs have a close, n being the ETFs with any bar. The last such
// period is the as-of period.
//
// Factors of a period, over the ETFs with a defined metric there (at least as many as above,
// else the factor is undefined for the period):
//   breadth = share of ETFs above their average, momentum = median return,
//   turnover = median turnover, volatility = median vol, positioning = median position.
//
// Each factor's value is ranked against its own trailing history of 250 periods (D) or 104
// (W), the period itself included: percentile = (below + 0.5 * equal) / count, on [0, 1];
// fewer than max(10, history / 10) defined values leave it undefined. The temperature is
// 100 * the mean of the defined percentiles, volatility counted as 1 - percentile (calm
// markets read warmer). It is rounded to 2 decimals; state and direction are read from the
// rounded values:
//   state      ICE_COLD <= 15 < COLD <= 35 < NEUTRAL < 65 <= HOT < 85 <= OVERHEAT
//   direction  temperature minus the temperature 3 periods earlier: > 5 warming, < -5
//              cooling, otherwise (or when the earlier one is undefined) flat
//   confidence (ETFs with at least 60 bars up to the as-of period / universe size)
//              * (mean over the factors of defined history values / history length)
//
// Snapshot members, in this order: "date" (newest bar date of the as-of period), "freq",
// "temperature", "state", "direction", "temperature_change" (null when undefined),
// "confidence" (4 decimals), "n_etf" (ETFs with a close in the as-of period), "n_universe",
// "factors" (code -> raw percentile, 2 decimals, defined factors only, in the order
// breadth, momentum, turnover, volatility, positioning).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <rapidjson/document.h>

#include "candlex/bar_table.hpp"

namespace morvik {

struct EtfBars {
  std::string code;
  candlex::BarTable daily;  // "close" required; "high", "low", "volume" used when present
};

struct SentimentParams {
  std::size_t window = 20;
  std::size_t range_window = 60;
  std::size_t history = 250;
  std::size_t direction_lag = 3;
  double direction_threshold = 5.0;
};

// Parameters of a horizon: "D" or "W" (any case). Throws std::invalid_argument otherwise.
SentimentParams sentiment_params(std::string_view freq);

// "D" or "W" from a horizon text (any case); throws std::invalid_argument naming the text.
std::string normalize_sentiment_freq(std::string_view freq);

// The snapshot as of the newest period on or before `as_of`. `n_universe` is the size of the
// universe the bars were drawn from (ETFs without bars count against confidence). Throws
// std::runtime_error when no period has enough ETFs or the history is too short to rank.
rapidjson::Document compute_sentiment_from_bars(const std::vector<EtfBars>& etfs,
                                                std::size_t n_universe, std::string_view freq,
                                                candlex::Day as_of);

// Zone code of a temperature by the bands above (the value is used as given).
std::string sentiment_state(double temperature);

}  // namespace morvik
