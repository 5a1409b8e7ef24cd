#include "morvik/radar.hpp"

#include "morvik/pattern_scan.hpp"
#include "morvik/radar_rules.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace morvik {

namespace {

using zorvane::utils::json_add;
using zorvane::utils::round_to;
namespace rd = radar_detail;

rapidjson::Value text_array(const std::vector<std::string>& items,
                            zorvane::utils::JsonAllocator& alloc) {
  rapidjson::Value out(rapidjson::kArrayType);
  for (const auto& s : items) out.PushBack(zorvane::utils::json_string(s, alloc), alloc);
  return out;
}

}  // namespace

rapidjson::Document evaluate_opportunity_radar_item(const candlex::BarTable& df,
                                                    std::string_view symbol, std::string_view name,
                                                    std::string_view frequency,
                                                    std::optional<double> min_amount_ea,
                                                    double min_vol_ratio, double min_pct_change,
                                                    const std::optional<std::string>& weekly_mode) {
  const auto freq = rd::parse_frequency(frequency);
  const auto mode = rd::parse_weekly_mode(weekly_mode);
  const auto series = rd::evaluated_series(df, symbol, freq, mode);
  const auto f = rd::find(series.bars, {min_amount_ea, min_vol_ratio, min_pct_change});

  rapidjson::Document item(rapidjson::kObjectType);
  auto& a = item.GetAllocator();
  json_add(item, "symbol", symbol, a);
  json_add(item, "name", name, a);
  json_add(item, "frequency", frequency, a);
  if (f.as_of) {
    json_add(item, "as_of", zorvane::utils::iso_date(*f.as_of), a);
  } else {
    json_add(item, "as_of", rapidjson::Value(), a);
  }
  json_add(item, "bars", static_cast<long long>(f.bars), a);
  json_add(item, "tech_score", round_to(f.tech_score, 2), a);
  json_add(item, "is_opportunity", f.is_opportunity, a);
  json_add(item, "is_vol_abnormal", f.is_vol_abnormal, a);
  json_add(item, "is_risk", f.is_risk, a);
  json_add(item, "has_buy_signal", f.has_buy_signal, a);
  json_add(item, "has_sell_signal", f.has_sell_signal, a);
  json_add(item, "curr_state_cn", f.curr_state, a);
  json_add(item, "prev_state_cn", f.prev_state, a);
  json_add(item, "vol_ratio", round_to(f.vol_ratio, 2), a);
  json_add(item, "change_pct", round_to(f.change_pct, 2), a);
  json_add(item, "amount_ea", round_to(f.amount_ea, 2), a);
  json_add(item, "close", round_to(f.close, 3), a);
  json_add(item, "signals", text_array(f.signals, a), a);
  json_add(item, "risk_reasons", text_array(f.risk_reasons, a), a);
  if (series.daily.empty()) {
    json_add(item, "pre_screen_res", rapidjson::Value(rapidjson::kObjectType), a);
  } else {
    rapidjson::Document scan = pre_screen_and_scan(series.daily, symbol, "all", 3);
    json_add(item, "pre_screen_res", rapidjson::Value(scan, a), a);
  }
  return item;
}

}  // namespace morvik
