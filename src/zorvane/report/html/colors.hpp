#pragma once
// Chart colours. Mainland and Hong Kong readers expect red for a rising bar and green for a
// falling one; US readers the reverse. ZORVANE_CHART_COLORS overrides the market's habit.

#include <optional>
#include <string>

namespace zorvane::html {

struct ChartColors {
  bool red_up = true;
  std::string up, down;            // candle and volume colours
  std::string ema5, ema20, ema60;  // moving-average lines
  std::string entry, stop, target, support, resistance;
};

// Colours for a market ("A", "ETF", "HK" red-up; "US" green-up; an unknown market red-up, as
// it is analysed like an A share) under the setting `convention`: "auto" (or empty) follows
// the market, "red-up" and "green-up" force one habit. Throws std::invalid_argument naming
// any other value.
ChartColors chart_colors(const std::optional<std::string>& market, std::string_view convention);

// The same with the setting read from ZORVANE_CHART_COLORS.
ChartColors chart_colors(const std::optional<std::string>& market);

}  // namespace zorvane::html
