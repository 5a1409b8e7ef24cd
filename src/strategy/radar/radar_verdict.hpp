#pragma once
// The radar selector's decision on one radar item (see morvik/radar.hpp for how items are
// made): the fields it reads, the verdict, the strategy type and the pattern information.
//
// Item fields and their defaults when a key is missing:
//   "tech_score" 0.0, "vol_ratio" 1.0, "change_pct" 0.0, "amount_ea" 0.0      numbers
//   "is_opportunity", "is_vol_abnormal", "is_risk", "has_buy_signal",
//   "has_sell_signal" false                                                    truth values
//   "curr_state_cn", "prev_state_cn" ""                                        texts
// Numbers may be given as JSON numbers, true/false (1/0) or numeric text; anything else
// (null included) is std::invalid_argument naming the key. Flags are truth values of any
// kind: false, null, 0, "", [] and {} are false. Texts are taken as they are; a number or flag
// is written in its plain text form, null counts as absent.

#include <rapidjson/document.h>

#include <optional>
#include <string>

namespace radar {

// The strategy types the pattern hint may contribute, compared in this order.
inline constexpr const char* kPatternHints[] = {"趋势跟随", "底部反转", "区间震荡", "均线压缩"};
inline constexpr const char* kTypeAbnormal = "量化异动";
inline constexpr const char* kTypeFallback = "机会雷达";
inline constexpr const char* kTypeNoData = "雷达观望";
inline constexpr const char* kStateFalling = "左侧下跌";

struct RadarItemFields {
  double tech_score = 0.0;
  bool is_opportunity = false;
  bool is_vol_abnormal = false;
  bool is_risk = false;
  bool has_buy_signal = false;
  bool has_sell_signal = false;
  std::string curr_state_cn;
  std::string prev_state_cn;
  double vol_ratio = 1.0;
  double change_pct = 0.0;
  double amount_ea = 0.0;
};

// Throws std::invalid_argument when `item` is not an object or a number field is not a number.
RadarItemFields read_radar_item(const rapidjson::Value& item);

// The switches that cannot be overridden per call.
struct RadarSwitches {
  bool allow_opportunity = true;
  bool allow_abnormal = true;
  bool reject_risk = true;
  bool reject_bearish = true;
};

struct RadarVerdict {
  bool is_eligible = false;
  bool is_bearish = false;
};

// Bearish: change_pct < 0, or a solid bear candle (last_open > 0 and the close more than 1%
// below the open), or the state 左侧下跌.
// Candidate: (is_opportunity and allow_opportunity) or (is_vol_abnormal and allow_abnormal
// and change_pct >= 0) or has_buy_signal. A candidate passes unless reject_risk and (a sell
// signal or a risk), or reject_bearish and bearish; then only with tech_score >= min_score.
RadarVerdict judge_radar_item(const RadarItemFields& f, double last_open, double last_close,
                              const RadarSwitches& switches, double min_score);

// The pattern hint of the item: "pre_screen_res" -> "pre_screen" -> "strategy_hint" when that
// is truthy, else "pre_screen_res" -> "strategy_type"; nullopt when absent or not text.
// Throws std::invalid_argument when a truthy "pre_screen_res" or "pre_screen" is not an object.
std::optional<std::string> radar_strategy_hint(const rapidjson::Value& item);

// First match: 量化异动 (anomaly without opportunity), one of kPatternHints, the current
// state, 机会雷达.
std::string radar_strategy_type(const RadarItemFields& f, const std::optional<std::string>& hint);

// JSON text (non-ASCII unescaped) of a copy of the item's "pre_screen_res" (an empty object
// when it is empty) with the radar record set under "radar": "curr_state_cn",
// "prev_state_cn", "vol_ratio", "change_pct", "amount_ea", "is_vol_abnormal",
// "is_opportunity", "is_risk", "has_buy_signal", "has_sell_signal", "frequency".
std::string radar_pattern_info(const rapidjson::Value& item, const RadarItemFields& f,
                               const std::string& frequency);

}  // namespace radar
