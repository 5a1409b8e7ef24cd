#pragma once
// The charts of the report pages, drawn with the SVG writer:
//   - candle charts (price panel with moving averages and level lines, optional volume panel);
//   - sparklines for table rows.
// Elements carry classes that tests and style sheets rely on: every candle is a
// <g class="candle up|down">, every drawn level a <g class="level ..."> (the entry range a
// band), volume bars class "vol", moving averages class "ema ema<N>".

#include <string>
#include <vector>

#include "candlex/bar_table.hpp"
#include "zorvane/report/html/colors.hpp"

namespace zorvane::html {

// A horizontal level of a decision: a line at `low`, or a band from `low` to `high`.
struct Level {
  std::string kind;   // css class suffix: "entry", "stop", "target", "support", "resistance"
  std::string label;  // shown beside the line, e.g. "止损"
  double low = 0;
  double high = 0;  // equal to low for a line
  std::string color;
};

struct CandleChartOptions {
  std::string title;
  std::size_t bars = 120;  // the last `bars` rows are drawn
  std::vector<int> emas;   // periods drawn as lines, from 5, 20, 60
  bool volume = true;
  std::vector<Level> levels;  // drawn when near the bars, else listed as off the chart
  double width = 480;         // user units; the browser scales the picture to the page
  double price_height = 230;
};

// The chart of the last `options.bars` rows of `history` (oldest first; "open", "high",
// "low", "close" and, for the volume panel, "volume"). Moving averages are computed over up
// to 300 earlier bars as well, so their first drawn values are already warmed up. NaN prices leave
// an empty slot; a table without rows gives a chart that says so.
std::string candle_chart_svg(const candlex::BarTable& history, const CandleChartOptions& options,
                             const ChartColors& colors);

// A small line of `values` (NaN leaves a gap), coloured by whether the last finite value is
// above the first.
std::string sparkline_svg(const std::vector<double>& values, const ChartColors& colors);

}  // namespace zorvane::html
