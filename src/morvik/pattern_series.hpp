#pragma once
// Internal to the pattern scan: the price and indicator columns of one stock, read-only, and
// small causal helpers over them. Every helper at bar `t` reads bars 0..t only.

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "candlex/bar_table.hpp"

namespace morvik::pattern {

// Columns the scan reads. `prepare_series` fills the missing ones on a private copy.
struct Series {
  candlex::BarTable table;  // the private copy that owns the columns below
  std::size_t n = 0;
  const std::vector<double>* open = nullptr;
  const std::vector<double>* high = nullptr;
  const std::vector<double>* low = nullptr;
  const std::vector<double>* close = nullptr;
  const std::vector<double>* volume = nullptr;
  const std::vector<double>* ema5 = nullptr;
  const std::vector<double>* ema10 = nullptr;
  const std::vector<double>* ema20 = nullptr;
  const std::vector<double>* ema60 = nullptr;
  const std::vector<double>* macd = nullptr;
  const std::vector<double>* macd_signal = nullptr;
  const std::vector<double>* macd_hist = nullptr;
  const std::vector<double>* rsi = nullptr;
  const std::vector<double>* upper = nullptr;
  const std::vector<double>* middle = nullptr;
  const std::vector<double>* lower = nullptr;
  const std::vector<double>* volume_ratio = nullptr;
  const std::vector<double>* atr = nullptr;
  const std::vector<double>* adx = nullptr;
  const std::vector<double>* vwma = nullptr;
  const std::vector<double>* obv = nullptr;

  std::size_t last() const { return n - 1; }
  double o(std::size_t i) const { return (*open)[i]; }
  double h(std::size_t i) const { return (*high)[i]; }
  double l(std::size_t i) const { return (*low)[i]; }
  double c(std::size_t i) const { return (*close)[i]; }
  double v(std::size_t i) const { return (*volume)[i]; }
};

// Copies the prices and volume of `df` (close stands in for a missing open/high/low) and
// computes the indicator columns afresh (EMA, MACD, RSI 12, Bollinger, volume/ATR, ADX, VWMA,
// OBV). Throws
// std::invalid_argument when "close" or "volume" is missing from a non-empty table.
// Series is not copyable (it points into its own table); it is returned by pointer.
std::unique_ptr<Series> prepare_series(const candlex::BarTable& df);

// Value or NaN for an index before the start.
double at_or_nan(const std::vector<double>& col, std::ptrdiff_t i);

// Min / max / mean of the finite values of col[from..to] (inclusive, clamped to the column);
// NaN when there is none.
double window_min(const std::vector<double>& col, std::ptrdiff_t from, std::ptrdiff_t to);
double window_max(const std::vector<double>& col, std::ptrdiff_t from, std::ptrdiff_t to);
double window_mean(const std::vector<double>& col, std::ptrdiff_t from, std::ptrdiff_t to);

// Share of the `window - 1` closes before bar t (within the window ending at t) that lie
// strictly below close[t]; nullopt when fewer than `window` bars exist up to t.
std::optional<double> close_percentile(const Series& s, std::size_t t, std::size_t window);

// The unit that candle sizes are measured in at bar t: ATR when known, else the mean high-low
// range of up to 14 bars ending at t (never zero for a table with any range).
double size_unit(const Series& s, std::size_t t);

}  // namespace morvik::pattern
