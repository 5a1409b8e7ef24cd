#pragma once
// The typed decision record: the `decision` part of the message body that report storage
// publishes to the message queue. Built from a decision map; enumerated fields are not
// restricted here (validate_decision_enums does that).

#include <rapidjson/document.h>

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace schemas {

// Building a StockDecision failed: a required field is missing or a value has the wrong type.
// field() names the offending field ("" when the input is not an object at all).
class ValidationError : public std::invalid_argument {
 public:
  ValidationError(std::string field, const std::string& message);
  const std::string& field() const noexcept { return field_; }

 private:
  std::string field_;
};

inline constexpr std::string_view kStockDecisionDescription =
    "股票决策强类型模型，与 Kafka 消息体中的 decision 字段完全对应。";

struct StockDecision {
  std::string stock_code;
  std::string stock_name = "";
  std::string analysis_time;
  double current_price = 0.0;
  std::string direction;
  std::string action;
  std::string holder_action = "继续持有";
  std::string strategy_mode = "趋势跟随";
  double entry_price_low = 0.0;
  double entry_price_high = 0.0;
  double stop_loss = 0.0;
  double target_1 = 0.0;
  double target_2 = 0.0;
  double rrr = 0.0;
  double rrr_max = 0.0;
  double support_price = 0.0;
  double resistance_price = 0.0;
  std::string position_pct = "0%";
  std::string holding_period = "1-3日";
  std::string confidence = "中";
  std::string risk_level = "中";
  std::string market_sentiment = "中性";
  std::string key_watch = "";

  // Builds the record from a decision map. Keys that are not fields are ignored; absent
  // optional fields take their defaults. Text fields take texts only; number fields take
  // numbers, booleans (1.0 / 0.0) and texts that read as a number. position_pct goes through
  // _coerce_position_pct first. Throws ValidationError naming the first bad field.
  static StockDecision from_json(const rapidjson::Value& data);

  // The 23 fields in record order (numbers as doubles).
  rapidjson::Document to_json() const;

  // Input conversion of position_pct: an integer, floating number or boolean becomes its value
  // truncated towards zero followed by "%" (25 -> "25%", 12.9 -> "12%", true -> "1%"); any
  // other value is returned unchanged (copied with `alloc`). NaN and infinities have no integer
  // and throw ValidationError for position_pct.
  static rapidjson::Value _coerce_position_pct(const rapidjson::Value& v,
                                               rapidjson::Document::AllocatorType& alloc);

  bool operator==(const StockDecision&) const = default;
};

// Field metadata of the record, in record order; the descriptions are part of its schema.
struct StockDecisionField {
  enum class Kind { text, number };
  std::string_view name;
  Kind kind;
  bool required;
  std::string_view default_text;  // for text fields
  double default_number;          // for number fields
  std::string_view description;
};
std::span<const StockDecisionField> stock_decision_fields();

// JSON Schema of the record for the message queue's consumers: type object, title
// "StockDecision", the record's description, one property per field (type string or number,
// default for optional fields, description, title) and the required field names.
rapidjson::Document stock_decision_json_schema();

}  // namespace schemas
