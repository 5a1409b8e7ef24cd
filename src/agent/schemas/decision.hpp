#pragma once
// Vocabulary of a trading decision (enumerated values, field list, price fields) and the three
// checks applied to a parsed decision map. A decision map is a RapidJSON object; its member
// order is kept. The checks keep no state and never raise for anything a model may write.

#include <rapidjson/document.h>

#include <array>
#include <span>
#include <string_view>
#include <utility>

namespace schemas {

// A set of enumerated texts, in its documented order.
using EnumSet = std::span<const std::string_view>;

inline constexpr std::array<std::string_view, 3> DIRECTION_ENUM{"看多", "看空", "中性"};
inline constexpr std::array<std::string_view, 4> ACTION_ENUM{"强烈买入", "建议买入", "谨慎买入",
                                                             "观望等待"};
inline constexpr std::array<std::string_view, 3> HOLDER_ACTION_ENUM{"继续持有", "分批减仓",
                                                                    "清仓离场"};
inline constexpr std::array<std::string_view, 5> STRATEGY_MODE_ENUM{
    "趋势跟随", "底部反转", "区间震荡", "空仓等待", "均线压缩"};
inline constexpr std::array<std::string_view, 3> CONFIDENCE_ENUM{"高", "中", "低"};
inline constexpr std::array<std::string_view, 3> RISK_LEVEL_ENUM{"高", "中", "低"};
inline constexpr std::array<std::string_view, 3> MARKET_SENTIMENT_ENUM{"看多", "看空", "中性"};

// Field name -> its enumeration, in the order the enum check visits them.
inline constexpr std::array<std::pair<std::string_view, EnumSet>, 7> DECISION_ENUM_VALID_MAP{{
    {"direction", DIRECTION_ENUM},
    {"action", ACTION_ENUM},
    {"holder_action", HOLDER_ACTION_ENUM},
    {"strategy_mode", STRATEGY_MODE_ENUM},
    {"confidence", CONFIDENCE_ENUM},
    {"risk_level", RISK_LEVEL_ENUM},
    {"market_sentiment", MARKET_SENTIMENT_ENUM},
}};

// The 23 decision field names, in the order of the StockDecision record.
inline constexpr std::array<std::string_view, 23> DECISION_JSON_FIELDS{
    "stock_code",       "stock_name",
    "analysis_time",    "current_price",
    "direction",        "action",
    "holder_action",    "strategy_mode",
    "entry_price_low",  "entry_price_high",
    "stop_loss",        "target_1",
    "target_2",         "rrr",
    "rrr_max",          "support_price",
    "resistance_price", "position_pct",
    "holding_period",   "confidence",
    "risk_level",       "market_sentiment",
    "key_watch"};

// The numeric fields, in the order normalisation visits them.
inline constexpr std::array<std::string_view, 10> DECISION_PRICE_KEYS{
    "current_price", "entry_price_low", "entry_price_high", "stop_loss", "target_1",
    "target_2",      "support_price",   "resistance_price", "rrr",       "rrr_max"};

// Actions that open a position: every ACTION_ENUM member except "观望等待". Only these are
// held to the price chain.
inline constexpr std::array<std::string_view, 3> kBuyActions{"强烈买入", "建议买入", "谨慎买入"};

// True when every enumerated field of `decision_dict` is absent, null or a member of its set.
// Stops at the first field (in DECISION_ENUM_VALID_MAP order) that is not, logs
// "决策枚举非法 | 字段=%s, 当前值=%r, 合法集合=%s" and returns false. A list or an object is
// simply not a member. Throws std::invalid_argument when `decision_dict` is not an object.
bool validate_decision_enums(const rapidjson::Value& decision_dict);

// Rewrites each price field in place: numbers become doubles rounded to 3 decimals (exact
// binary value, ties to even); a text holding a number (white space around it allowed) becomes
// that number, rounded. Absent, null, boolean, non-numeric or blank text, lists and objects are
// left as they are. Throws std::invalid_argument when `decision_dict` is not an object.
void normalize_decision_price_fields(rapidjson::Value& decision_dict);

// For a buy action, checks stop_loss < entry_price_low <= entry_price_high < target_1 <
// target_2, skipping every comparison that involves a zero (or absent, null, false, empty)
// price. Logs the first violation as a warning and returns false; any other action passes.
// A price that is not a number (text that does not read as one, a non-empty list or object)
// fails with "决策价格链违规 | %s=%r 无法转换为数字", one that is NaN or infinite with
// "决策价格链违规 | %s=%s 不是有限数字". Throws std::invalid_argument when
// `decision_dict` is not an object.
bool validate_decision_price_chain(const rapidjson::Value& decision_dict);

}  // namespace schemas
