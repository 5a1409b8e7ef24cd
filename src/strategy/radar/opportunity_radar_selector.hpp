#pragma once
// The opportunity-radar selector: screens one stock (check) or a whole pool (analyze_pool)
// with the pattern library's radar (morvik/radar.hpp).
//
//   radar::OpportunityRadarSelector sel;                               // defaults below
//   radar::OpportunityRadarSelector weekly({.frequency = "weekly", .min_score = 5.0});
//   auto [ok, status, bars, info, score, type] = sel.check("sh.600519", "", "2024-01-05");
//
// check(code, start_date, end_date, options):
//   1. bars = get_any_ohlc(code, start, end) (an empty start or end text means the default).
//      Empty bars: warning "股票 {code} 没有数据" and (false, none, bars, "", 0.0, "雷达观望").
//   2. status = get_stock_status(bars, code).
//   3. Frequency: option "frequency", else the configured one; when that is empty, by the
//      weekday of end_date (or of the last bar when end_date is empty), see frequency.hpp.
//   4. The radar item, with the thresholds of the options or the configuration, judged by
//      radar_verdict.hpp against the configured switches and min_score.
//   5. Log: debug "{code} 未通过机会雷达初筛 (...)" or info "{code} 通过机会雷达初筛 (...)".
//   Returns (eligible, status, bars, pattern info with the "radar" record, tech_score, type).
//   Per-call options (a JSON object): "frequency" (text or null), "min_amount_ea" (number or
//   null), "min_vol_ratio", "min_pct_change", "min_score" (numbers), "weekly_mode" (text or
//   null), "name" (text). A value of the wrong kind is std::invalid_argument; other keys are
//   ignored. The four switches cannot be overridden per call.
//
// Nothing is cached and the configuration never changes after construction: one selector may
// check many stocks from many threads.

#include <rapidjson/document.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "candlex/bar_table.hpp"
#include "morvik/radar.hpp"
#include "zorvane/strategy/stock_selector.hpp"

namespace radar {

// Constructor arguments, with their defaults. frequency / weekly_mode: empty or none means
// automatic frequency / the library's default mode.
struct RadarConfig {
  std::optional<std::string> frequency = std::nullopt;
  double min_score = 0.0;
  std::optional<double> min_amount_ea = std::nullopt;
  double min_vol_ratio = 1.5;
  double min_pct_change = 1.5;
  std::optional<std::string> weekly_mode = std::nullopt;
  bool allow_opportunity = true;
  bool allow_abnormal = true;
  bool reject_risk = true;
  bool reject_bearish = true;
};

// Constructor arguments given by name in a JSON object ({"frequency": "daily", ...}). Kinds:
// frequency and weekly_mode text or null; min_amount_ea number or null; the other numbers
// numbers; the four switches true/false. Throws std::invalid_argument naming the first
// argument of the wrong kind, or an unknown argument.
RadarConfig radar_config_from_json(const rapidjson::Value& args);

// The outside calls of check, replaceable for tests; empty members use the real ones
// (candlex::get_any_ohlc, morvik::evaluate_opportunity_radar_item).
struct RadarHooks {
  std::function<candlex::BarTable(std::string_view code, std::optional<std::string> start_date,
                                  std::optional<std::string> end_date)>
      load_bars;
  std::function<rapidjson::Document(
      const candlex::BarTable& df, std::string_view symbol, std::string_view name,
      std::string_view frequency, std::optional<double> min_amount_ea, double min_vol_ratio,
      double min_pct_change, const std::optional<std::string>& weekly_mode)>
      evaluate;
};

class OpportunityRadarSelector : public zorvane::strategy::StockSelector {
 public:
  // Logs info "OpportunityRadarSelector 初始化完成 (frequency=..., min_score=...,
  // reject_bearish=...)".
  explicit OpportunityRadarSelector(RadarConfig config = {}, RadarHooks hooks = {});
  // Arguments by name, see radar_config_from_json; nothing is made when one is of the wrong
  // kind.
  static OpportunityRadarSelector from_json(const rapidjson::Value& args, RadarHooks hooks = {});

  zorvane::strategy::CheckResult check(
      const std::string& code, const std::string& start_date, const std::string& end_date,
      const rapidjson::Value& options = zorvane::strategy::no_options()) override;

  // Scans the whole pool and sorts the findings into the three mutually exclusive,
  // de-duplicated and ordered sections 《量化异动》, 《潜在机会》 and 《风险提示》. Without an
  // explicit frequency, Fridays and weekends default to weekly and other weekdays to daily
  // (see pool_reference_frequency). Needs no selector object.
  static rapidjson::Document analyze_pool(const morvik::RadarPool& pool,
                                          const std::optional<std::string>& frequency = {},
                                          std::optional<double> min_amount_ea = {},
                                          double min_vol_ratio = 1.5, double min_pct_change = 1.5,
                                          const std::optional<std::string>& weekly_mode = {},
                                          const std::optional<std::string>& target_date = {});

  const std::optional<std::string>& frequency() const { return config_.frequency; }
  double min_score() const { return config_.min_score; }
  std::optional<double> min_amount_ea() const { return config_.min_amount_ea; }
  double min_vol_ratio() const { return config_.min_vol_ratio; }
  double min_pct_change() const { return config_.min_pct_change; }
  const std::optional<std::string>& weekly_mode() const { return config_.weekly_mode; }
  bool allow_opportunity() const { return config_.allow_opportunity; }
  bool allow_abnormal() const { return config_.allow_abnormal; }
  bool reject_risk() const { return config_.reject_risk; }
  bool reject_bearish() const { return config_.reject_bearish; }

 private:
  RadarConfig config_;
  RadarHooks hooks_;
};

using RadarSelector = OpportunityRadarSelector;

// The frequency analyze_pool evaluates: `frequency` when non-empty; otherwise by the weekday
// of `target_date` when given (unparsable text: today), else of the latest last-bar date in
// the pool, else of today.
std::string pool_reference_frequency(const morvik::RadarPool& pool,
                                     const std::optional<std::string>& frequency,
                                     const std::optional<std::string>& target_date);

}  // namespace radar
