#pragma once
// The backtest as a table page: the headline figures above a sortable table with one row per
// decision and a sparkline of the closes the decision was judged on.

#include <string>

#include "backtest/report_output.hpp"

namespace backtest {

// Headline: the count lines, then trades and forward returns overall and per action. Colours
// follow the decisions' market when they share one. Throws std::invalid_argument for a bad
// ZORVANE_CHART_COLORS setting.
std::string report_html(const BacktestReport& report);

}  // namespace backtest
