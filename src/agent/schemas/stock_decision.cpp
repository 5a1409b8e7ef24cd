#include "agent/schemas/stock_decision.hpp"

#include <array>
#include <cmath>
#include <variant>

#include "agent/schemas/values.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace schemas {

namespace {

using Kind = StockDecisionField::Kind;
using zorvane::utils::json_add;
using zorvane::utils::json_string;

constexpr StockDecisionField text(std::string_view name, std::string_view def,
                                  std::string_view description) {
  return {name, Kind::text, false, def, 0.0, description};
}
constexpr StockDecisionField required_text(std::string_view name, std::string_view description) {
  return {name, Kind::text, true, "", 0.0, description};
}
constexpr StockDecisionField number(std::string_view name, std::string_view description) {
  return {name, Kind::number, false, "", 0.0, description};
}

constexpr std::array<StockDecisionField, 23> kFields{{
    required_text("stock_code", "股票代码，如 sh.600000 或 000001.SZ"),
    text("stock_name", "", "股票名称"),
    required_text("analysis_time", "分析基准日期 YYYY-MM-DD"),
    number("current_price", "当前价格"),
    required_text("direction", "多空方向：看多 / 看空 / 中性"),
    required_text("action", "操作建议：强烈买入 / 建议买入 / 谨慎买入 / 观望等待"),
    text("holder_action", "继续持有", "持仓者操作：继续持有 / 分批减仓 / 清仓离场"),
    text("strategy_mode", "趋势跟随",
         "策略模式：趋势跟随 / 底部反转 / 区间震荡 / 空仓等待 / 均线压缩"),
    number("entry_price_low", "买入区间下限"),
    number("entry_price_high", "买入区间上限"),
    number("stop_loss", "硬止损价"),
    number("target_1", "第一目标位"),
    number("target_2", "第二目标位"),
    number("rrr", "第一目标盈亏比"),
    number("rrr_max", "第二目标盈亏比"),
    number("support_price", "关键支撑位"),
    number("resistance_price", "关键阻力位"),
    text("position_pct", "0%", "建议仓位比例"),
    text("holding_period", "1-3日", "预期持仓周期"),
    text("confidence", "中", "置信度：高 / 中 / 低"),
    text("risk_level", "中", "风险等级：高 / 中 / 低"),
    text("market_sentiment", "中性", "大盘环境：看多 / 看空 / 中性"),
    text("key_watch", "", "核心观察点与失效触发条件"),
}};

using Member = std::variant<std::string StockDecision::*, double StockDecision::*>;

// Record members in kFields order.
const std::array<Member, 23> kMembers{
    &StockDecision::stock_code,       &StockDecision::stock_name,
    &StockDecision::analysis_time,    &StockDecision::current_price,
    &StockDecision::direction,        &StockDecision::action,
    &StockDecision::holder_action,    &StockDecision::strategy_mode,
    &StockDecision::entry_price_low,  &StockDecision::entry_price_high,
    &StockDecision::stop_loss,        &StockDecision::target_1,
    &StockDecision::target_2,         &StockDecision::rrr,
    &StockDecision::rrr_max,          &StockDecision::support_price,
    &StockDecision::resistance_price, &StockDecision::position_pct,
    &StockDecision::holding_period,   &StockDecision::confidence,
    &StockDecision::risk_level,       &StockDecision::market_sentiment,
    &StockDecision::key_watch,
};

std::string describe(const rapidjson::Value& v) {
  return std::string(detail::kind_name(v)) + " " + detail::value_repr(v);
}

double read_number(const StockDecisionField& f, const rapidjson::Value& v) {
  if (v.IsNumber()) return v.GetDouble();
  if (v.IsBool()) return v.GetBool() ? 1.0 : 0.0;
  if (v.IsString()) {
    if (auto n = detail::parse_float_text(std::string_view(v.GetString(), v.GetStringLength())))
      return *n;
  }
  throw ValidationError(std::string(f.name), "expected a number, got " + describe(v));
}

std::string read_text(const StockDecisionField& f, const rapidjson::Value& v) {
  if (v.IsString()) return std::string(v.GetString(), v.GetStringLength());
  throw ValidationError(std::string(f.name), "expected text, got " + describe(v));
}

// "Stock Code" from "stock_code", "Target 1" from "target_1".
std::string title_of(std::string_view name) {
  std::string out;
  bool word_start = true;
  for (char c : name) {
    if (c == '_') {
      out += ' ';
      word_start = true;
      continue;
    }
    if (word_start && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    out += c;
    word_start = false;
  }
  return out;
}

}  // namespace

ValidationError::ValidationError(std::string field, const std::string& message)
    : std::invalid_argument(field.empty() ? "StockDecision: " + message
                                          : "StockDecision." + field + ": " + message),
      field_(std::move(field)) {}

std::span<const StockDecisionField> stock_decision_fields() {
  return kFields;
}

rapidjson::Value StockDecision::_coerce_position_pct(const rapidjson::Value& v,
                                                     rapidjson::Document::AllocatorType& alloc) {
  std::string digits;
  if (v.IsBool()) {
    digits = v.GetBool() ? "1" : "0";
  } else if (v.IsInt64()) {
    digits = std::to_string(v.GetInt64());
  } else if (v.IsUint64()) {
    digits = std::to_string(v.GetUint64());
  } else if (v.IsNumber()) {
    double d = v.GetDouble();
    if (!std::isfinite(d))
      throw ValidationError("position_pct",
                            "cannot turn " + zorvane::utils::float_text(d) + " into a percentage");
    double t = std::trunc(d);
    // -0.5 truncates to 0, written without a sign.
    digits = t == 0.0 ? "0" : zorvane::utils::fixed_text(t, 0);
  } else {
    return rapidjson::Value(v, alloc);
  }
  return json_string(digits + "%", alloc);
}

StockDecision StockDecision::from_json(const rapidjson::Value& data) {
  if (!data.IsObject()) throw ValidationError("", "expected an object, got " + describe(data));
  StockDecision record;
  rapidjson::Document scratch;
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    const StockDecisionField& f = kFields[i];
    const rapidjson::Value* v = detail::find_field(data, f.name);
    if (!v) {
      if (f.required) throw ValidationError(std::string(f.name), "field required");
      continue;
    }
    rapidjson::Value coerced;
    if (f.name == "position_pct") {
      coerced = _coerce_position_pct(*v, scratch.GetAllocator());
      v = &coerced;
    }
    if (auto* text_member = std::get_if<std::string StockDecision::*>(&kMembers[i]))
      record.*(*text_member) = read_text(f, *v);
    else
      record.*(std::get<double StockDecision::*>(kMembers[i])) = read_number(f, *v);
  }
  return record;
}

rapidjson::Document StockDecision::to_json() const {
  rapidjson::Document doc(rapidjson::kObjectType);
  auto& alloc = doc.GetAllocator();
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    if (auto* text_member = std::get_if<std::string StockDecision::*>(&kMembers[i]))
      json_add(doc, kFields[i].name, std::string_view(this->*(*text_member)), alloc);
    else
      json_add(doc, kFields[i].name, this->*(std::get<double StockDecision::*>(kMembers[i])),
               alloc);
  }
  return doc;
}

rapidjson::Document stock_decision_json_schema() {
  rapidjson::Document doc(rapidjson::kObjectType);
  auto& alloc = doc.GetAllocator();
  rapidjson::Value properties(rapidjson::kObjectType);
  rapidjson::Value required(rapidjson::kArrayType);
  for (const auto& f : kFields) {
    // Keys in alphabetical order, as schema generators usually emit them.
    rapidjson::Value prop(rapidjson::kObjectType);
    if (!f.required) {
      if (f.kind == Kind::text)
        json_add(prop, "default", f.default_text, alloc);
      else
        json_add(prop, "default", f.default_number, alloc);
    }
    json_add(prop, "description", f.description, alloc);
    json_add(prop, "title", std::string_view(title_of(f.name)), alloc);
    json_add(prop, "type", f.kind == Kind::text ? "string" : "number", alloc);
    json_add(properties, f.name, std::move(prop), alloc);
    if (f.required) required.PushBack(json_string(f.name, alloc), alloc);
  }
  json_add(doc, "description", kStockDecisionDescription, alloc);
  json_add(doc, "properties", std::move(properties), alloc);
  json_add(doc, "required", std::move(required), alloc);
  json_add(doc, "title", "StockDecision", alloc);
  json_add(doc, "type", "object", alloc);
  return doc;
}

}  // namespace schemas
