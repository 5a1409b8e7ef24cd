#pragma once
// The result of every selector's `check`: six elements in a fixed order, taken by position.
//
//   #  name              type                               meaning
//   0  is_eligible       bool                               the stock passes the selector
//   1  stock_status      std::optional<StockStatus>         indicator status; empty only without
//   data 2  df                candlex::BarTable                  the bars that were loaded (also
//   when empty) 3  pattern_info_str  std::string                        pattern information as JSON
//   text; "" when
//                                                           no scan ran
//   4  total_score       double                             the scan's score; 0.0 when no scan ran
//   5  strategy_type     std::string                        strategy type, or the selector code
//                                                           when there is no data
//
// It is a std::tuple, so `std::get<3>(r)`, `std::get<kPatternInfoStr>(r)` and structured
// bindings all work:
//
//   auto [ok, status, bars, info, score, type] = selector.check(code, start, end);

#include <cstddef>
#include <optional>
#include <string>
#include <tuple>

#include "candlex/bar_table.hpp"
#include "indicators/stock_status.hpp"

namespace zorvane::strategy {

using CheckResult = std::tuple<bool, std::optional<indicators::StockStatus>, candlex::BarTable,
                               std::string, double, std::string>;

// Element positions, for readable std::get calls.
inline constexpr std::size_t kIsEligible = 0;
inline constexpr std::size_t kStockStatus = 1;
inline constexpr std::size_t kBars = 2;
inline constexpr std::size_t kPatternInfoStr = 3;
inline constexpr std::size_t kTotalScore = 4;
inline constexpr std::size_t kStrategyType = 5;

static_assert(std::tuple_size_v<CheckResult> == 6);

}  // namespace zorvane::strategy
