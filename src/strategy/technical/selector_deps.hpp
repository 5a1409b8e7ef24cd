#pragma once
// What the technical selectors call outside themselves, gathered so that tests can substitute
// any of it. `SelectorDeps::defaults()` wires the real market data, status evaluation, pattern
// scan and threshold constants; that is what default-constructed selectors use.

#include <rapidjson/document.h>

#include <functional>
#include <string>
#include <string_view>

#include "candlex/bar_table.hpp"
#include "indicators/stock_status.hpp"
#include "zorvane/strategy/constants.hpp"

namespace technical {

struct SelectorDeps {
  // Daily bars of a code over [start_date, end_date]; empty when there is no data.
  std::function<candlex::BarTable(const std::string& code, const std::string& start_date,
                                  const std::string& end_date)>
      load_bars;
  // Indicator status of the bars (the caller's table must be left unchanged).
  std::function<indicators::StockStatus(const candlex::BarTable& df, const std::string& code)>
      stock_status;
  // The pattern pre-screen and scan (see morvik/pattern_scan.hpp).
  std::function<rapidjson::Document(const candlex::BarTable& df, std::string_view symbol,
                                    std::string_view mode, double min_score,
                                    const rapidjson::Value* options)>
      scan;
  // Minimum scores per strategy type, and the fallback of the single-strategy selectors.
  zorvane::constants::ThresholdMap thresholds;
  double default_threshold = 0.0;

  // candlex::get_any_ohlc, indicators::get_stock_status, morvik::pre_screen_and_scan,
  // zorvane::constants::STRATEGY_THRESHOLDS and DEFAULT_STRATEGY_THRESHOLD.
  static SelectorDeps defaults();
};

}  // namespace technical
