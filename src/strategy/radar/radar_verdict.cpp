#include "strategy/radar/radar_verdict.hpp"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace radar {

namespace {

using zorvane::utils::json_add;
using zorvane::utils::json_find;

const char* kind_name(const rapidjson::Value& v) {
  switch (v.GetType()) {
    case rapidjson::kNullType:
      return "null";
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      return "bool";
    case rapidjson::kObjectType:
      return "object";
    case rapidjson::kArrayType:
      return "array";
    case rapidjson::kStringType:
      return "string";
    case rapidjson::kNumberType:
      return "number";
  }
  return "value";
}

bool truthy(const rapidjson::Value& v) {
  if (v.IsBool()) return v.GetBool();
  if (v.IsNumber()) return v.GetDouble() != 0.0;
  if (v.IsString()) return v.GetStringLength() != 0;
  if (v.IsArray()) return !v.Empty();
  if (v.IsObject()) return v.MemberCount() != 0;
  return false;
}

double number_field(const rapidjson::Value& item, const char* key, double fallback) {
  const auto* v = json_find(item, key);
  if (v == nullptr) return fallback;
  if (v->IsNumber()) return v->GetDouble();
  if (v->IsBool()) return v->GetBool() ? 1.0 : 0.0;
  if (v->IsString()) {
    const std::string text(
        zorvane::utils::trim(std::string_view(v->GetString(), v->GetStringLength())));
    char* end = nullptr;
    errno = 0;
    const double x = std::strtod(text.c_str(), &end);
    if (!text.empty() && end == text.c_str() + text.size()) return x;
  }
  throw std::invalid_argument(std::string("radar item field '") + key +
                              "' is not a number: " + zorvane::utils::safe_json_dumps(*v));
}

bool flag_field(const rapidjson::Value& item, const char* key) {
  const auto* v = json_find(item, key);
  return v != nullptr && truthy(*v);
}

std::string text_field(const rapidjson::Value& item, const char* key) {
  const auto* v = json_find(item, key);
  if (v == nullptr || v->IsNull()) return "";
  if (v->IsString()) return std::string(v->GetString(), v->GetStringLength());
  if (v->IsBool()) return zorvane::utils::bool_text(v->GetBool());
  if (v->IsInt64()) return std::to_string(v->GetInt64());
  if (v->IsUint64()) return std::to_string(v->GetUint64());
  if (v->IsNumber()) return zorvane::utils::float_text(v->GetDouble());
  return zorvane::utils::safe_json_dumps(*v);
}

// The member under `key` when truthy; it must then be an object. nullptr otherwise.
const rapidjson::Value* object_member(const rapidjson::Value& parent, const char* key) {
  const auto* v = json_find(parent, key);
  if (v == nullptr || !truthy(*v)) return nullptr;
  if (!v->IsObject())
    throw std::invalid_argument(std::string("radar item '") + key + "' must be an object, got " +
                                kind_name(*v));
  return v;
}

}  // namespace

RadarItemFields read_radar_item(const rapidjson::Value& item) {
  if (!item.IsObject())
    throw std::invalid_argument(std::string("radar item must be an object, got ") +
                                kind_name(item));
  RadarItemFields f;
  f.tech_score = number_field(item, "tech_score", 0.0);
  f.is_opportunity = flag_field(item, "is_opportunity");
  f.is_vol_abnormal = flag_field(item, "is_vol_abnormal");
  f.is_risk = flag_field(item, "is_risk");
  f.has_buy_signal = flag_field(item, "has_buy_signal");
  f.has_sell_signal = flag_field(item, "has_sell_signal");
  f.curr_state_cn = text_field(item, "curr_state_cn");
  f.prev_state_cn = text_field(item, "prev_state_cn");
  f.vol_ratio = number_field(item, "vol_ratio", 1.0);
  f.change_pct = number_field(item, "change_pct", 0.0);
  f.amount_ea = number_field(item, "amount_ea", 0.0);
  return f;
}

RadarVerdict judge_radar_item(const RadarItemFields& f, double last_open, double last_close,
                              const RadarSwitches& sw, double min_score) {
  const bool solid_bear = last_open > 0 && (last_close - last_open) / last_open < -0.01;
  RadarVerdict v;
  v.is_bearish = f.change_pct < 0 || solid_bear || f.curr_state_cn == kStateFalling;
  const bool candidate = (f.is_opportunity && sw.allow_opportunity) ||
                         (f.is_vol_abnormal && sw.allow_abnormal && f.change_pct >= 0) ||
                         f.has_buy_signal;
  const bool rejected =
      (sw.reject_risk && (f.has_sell_signal || f.is_risk)) || (sw.reject_bearish && v.is_bearish);
  v.is_eligible = candidate && !rejected && f.tech_score >= min_score;
  return v;
}

std::optional<std::string> radar_strategy_hint(const rapidjson::Value& item) {
  const auto* res = object_member(item, "pre_screen_res");
  if (res == nullptr) return std::nullopt;
  const rapidjson::Value* hint = nullptr;
  if (const auto* pre = object_member(*res, "pre_screen")) {
    const auto* h = json_find(*pre, "strategy_hint");
    if (h != nullptr && truthy(*h)) hint = h;
  }
  if (hint == nullptr) hint = json_find(*res, "strategy_type");
  if (hint == nullptr || !hint->IsString()) return std::nullopt;
  return std::string(hint->GetString(), hint->GetStringLength());
}

std::string radar_strategy_type(const RadarItemFields& f, const std::optional<std::string>& hint) {
  if (f.is_vol_abnormal && !f.is_opportunity) return kTypeAbnormal;
  if (hint) {
    for (const char* known : kPatternHints)
      if (*hint == known) return *hint;
  }
  if (!f.curr_state_cn.empty()) return f.curr_state_cn;
  return kTypeFallback;
}

std::string radar_pattern_info(const rapidjson::Value& item, const RadarItemFields& f,
                               const std::string& frequency) {
  rapidjson::Document info(rapidjson::kObjectType);
  auto& a = info.GetAllocator();
  if (const auto* res = object_member(item, "pre_screen_res")) info.CopyFrom(*res, a);

  rapidjson::Value radar(rapidjson::kObjectType);
  json_add(radar, "curr_state_cn", f.curr_state_cn, a);
  json_add(radar, "prev_state_cn", f.prev_state_cn, a);
  json_add(radar, "vol_ratio", f.vol_ratio, a);
  json_add(radar, "change_pct", f.change_pct, a);
  json_add(radar, "amount_ea", f.amount_ea, a);
  json_add(radar, "is_vol_abnormal", f.is_vol_abnormal, a);
  json_add(radar, "is_opportunity", f.is_opportunity, a);
  json_add(radar, "is_risk", f.is_risk, a);
  json_add(radar, "has_buy_signal", f.has_buy_signal, a);
  json_add(radar, "has_sell_signal", f.has_sell_signal, a);
  json_add(radar, "frequency", frequency, a);
  zorvane::utils::json_set(info, "radar", std::move(radar), a);
  return zorvane::utils::safe_json_dumps(info, false);
}

}  // namespace radar
