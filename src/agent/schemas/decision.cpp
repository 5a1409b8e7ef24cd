#include "agent/schemas/decision.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>

#include "agent/schemas/values.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace schemas {

namespace {

using detail::find_field;
using zorvane::utils::logger;

void require_object(const rapidjson::Value& decision_dict) {
  if (!decision_dict.IsObject())
    throw std::invalid_argument("decision must be a JSON object, got " +
                                std::string(detail::kind_name(decision_dict)));
}

bool is_member(const rapidjson::Value& value, EnumSet set) {
  if (!value.IsString()) return false;
  std::string_view text(value.GetString(), value.GetStringLength());
  return std::find(set.begin(), set.end(), text) != set.end();
}

// Reads a price for the chain check: falsy values count as 0, anything else must convert to a
// double. nullopt when it cannot (the caller logs and fails the check).
std::optional<double> chain_price(const rapidjson::Value* value) {
  if (!value || !detail::is_truthy(*value)) return 0.0;
  if (value->IsBool()) return 1.0;
  if (value->IsNumber()) return value->GetDouble();
  if (value->IsString())
    return detail::parse_float_text(std::string_view(value->GetString(), value->GetStringLength()));
  return std::nullopt;
}

}  // namespace

bool validate_decision_enums(const rapidjson::Value& decision_dict) {
  require_object(decision_dict);
  for (const auto& [field, set] : DECISION_ENUM_VALID_MAP) {
    const rapidjson::Value* value = find_field(decision_dict, field);
    if (!value || value->IsNull() || is_member(*value, set)) continue;
    auto [format, arg] = detail::repr_arg("决策枚举非法 | 字段=%s, 当前值=%r, 合法集合=%s", *value);
    logger.warning(format, field, arg, detail::set_repr(set));
    return false;
  }
  return true;
}

void normalize_decision_price_fields(rapidjson::Value& decision_dict) {
  require_object(decision_dict);
  for (std::string_view key : DECISION_PRICE_KEYS) {
    // Same member as find_field picks (the last of duplicates), but writable.
    rapidjson::Value* value = nullptr;
    const auto members = decision_dict.MemberBegin();
    for (rapidjson::SizeType i = 0; i < decision_dict.MemberCount(); ++i) {
      auto& m = members[i];
      if (std::string_view(m.name.GetString(), m.name.GetStringLength()) == key) value = &m.value;
    }
    if (!value) continue;
    if (value->IsNumber()) {
      value->SetDouble(zorvane::utils::round_to(value->GetDouble(), 3));
    } else if (value->IsString()) {
      auto number =
          detail::parse_float_text(std::string_view(value->GetString(), value->GetStringLength()));
      if (number) value->SetDouble(zorvane::utils::round_to(*number, 3));
    }
  }
}

bool validate_decision_price_chain(const rapidjson::Value& decision_dict) {
  require_object(decision_dict);
  const rapidjson::Value* action = find_field(decision_dict, "action");
  if (!action || !action->IsString()) return true;
  std::string_view action_text(action->GetString(), action->GetStringLength());
  if (std::find(kBuyActions.begin(), kBuyActions.end(), action_text) == kBuyActions.end())
    return true;

  constexpr std::array<std::string_view, 5> kChain{"stop_loss", "entry_price_low",
                                                   "entry_price_high", "target_1", "target_2"};
  std::array<double, 5> price{};
  for (std::size_t i = 0; i < kChain.size(); ++i) {
    const rapidjson::Value* value = find_field(decision_dict, kChain[i]);
    auto number = chain_price(value);
    if (!number) {
      auto [format, arg] = detail::repr_arg("决策价格链违规 | %s=%r 无法转换为数字", *value);
      logger.warning(format, kChain[i], arg);
      return false;
    }
    // NaN compares false with everything and would pass every test below.
    if (!std::isfinite(*number)) {
      logger.warning("决策价格链违规 | %s=%s 不是有限数字", kChain[i], *number);
      return false;
    }
    price[i] = *number;
  }
  const double stop = price[0], low = price[1], high = price[2], t1 = price[3], t2 = price[4];
  if (stop > 0 && low > 0 && stop >= low) {
    logger.warning("决策价格链违规 | stop_loss=%.3f >= entry_price_low=%.3f", stop, low);
    return false;
  }
  if (low > 0 && high > 0 && low > high) {
    logger.warning("决策价格链违规 | entry_price_low=%.3f > entry_price_high=%.3f", low, high);
    return false;
  }
  if (high > 0 && t1 > 0 && high >= t1) {
    logger.warning("决策价格链违规 | entry_price_high=%.3f >= target_1=%.3f", high, t1);
    return false;
  }
  if (t1 > 0 && t2 > 0 && t1 >= t2) {
    logger.warning("决策价格链违规 | target_1=%.3f >= target_2=%.3f", t1, t2);
    return false;
  }
  return true;
}

}  // namespace schemas
