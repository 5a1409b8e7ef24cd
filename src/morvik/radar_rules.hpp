#pragma once
// Internal to the opportunity radar: the series a frequency evaluates and the findings at its
// last bar (rules documented in morvik/radar.hpp).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "candlex/bar_table.hpp"

namespace morvik::radar_detail {

inline constexpr std::size_t kMinBars = 20;
inline constexpr const char* kNoData = "数据不足";

enum class Frequency { daily, weekly };
enum class WeeklyMode { partial, strict };

// "daily" / "weekly"; "partial" / "strict" (none = partial). Throw std::invalid_argument.
Frequency parse_frequency(std::string_view text);
WeeklyMode parse_weekly_mode(const std::optional<std::string>& text);

struct Thresholds {
  std::optional<double> min_amount_ea;
  double min_vol_ratio = 1.5;
  double min_pct_change = 1.5;
};

// The bars a frequency evaluates, and the daily bars up to its last bar (for the pattern
// scan). Rows with a non-finite close are left out first.
struct EvaluatedSeries {
  candlex::BarTable bars;
  candlex::BarTable daily;
};

// Throws std::invalid_argument when a non-empty table lacks "close" or "volume".
EvaluatedSeries evaluated_series(const candlex::BarTable& df, std::string_view symbol,
                                 Frequency frequency, WeeklyMode mode);

// True when no later day of the Monday-Sunday week of `last` is a rule-calendar trading day of
// `market` ("A", "HK", "US", "ETF"; weekdays when empty or unknown).
bool week_complete(candlex::Day last, std::string_view market);

struct Findings {
  std::size_t bars = 0;
  std::optional<candlex::Day> as_of;
  double close = 0.0;
  double tech_score = 0.0;
  bool is_opportunity = false;
  bool is_vol_abnormal = false;
  bool is_risk = false;
  bool has_buy_signal = false;
  bool has_sell_signal = false;
  std::string curr_state = kNoData;
  std::string prev_state = kNoData;
  double vol_ratio = 1.0;
  double change_pct = 0.0;
  double amount_ea = 0.0;
  std::vector<std::string> signals;
  std::vector<std::string> risk_reasons;
};

// Findings at the last bar of `bars` (already the evaluated series). Values are unrounded.
Findings find(const candlex::BarTable& bars, const Thresholds& th);

}  // namespace morvik::radar_detail
