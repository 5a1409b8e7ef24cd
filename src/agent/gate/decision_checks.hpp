#pragma once
// Trust checks of a stock report's decision against the facts the analysis handed to the
// model. Each check is one row of kDecisionRules. The decision map is the one extracted from
// the report (prices normalised), read before the run's code and date replace the model's.
//
//   gate::DecisionFacts facts = gate::decision_facts(bars_summary...);
//   auto results = gate::run_decision_checks(decision, report_text, facts);
//   auto status = gate::decision_status(&results);

#include <array>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include <rapidjson/document.h>

#include "agent/gate/brief_checks.hpp"
#include "agent/gate/check_result.hpp"

namespace gate {

inline constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

// What the run computed and showed the model. Unknown numbers are NaN, unknown texts empty.
struct DecisionFacts {
  std::string stock_code;     // the run's code
  std::string analysis_time;  // the run's date, YYYY-MM-DD
  double last_close = kUnknown;
  std::optional<double> min_rrr;  // calculated_constraints.min_rrr of the pattern info
  double low_250 = kUnknown;      // lowest low of the last 250 bars
  double high_250 = kUnknown;     // highest high of the last 250 bars
  double atr = kUnknown;          // ATR(14) at the last bar
  std::string brief_bias;         // the market brief's bias (偏多, 震荡, 偏空, 避险)
};

struct DecisionRule {
  std::string_view name;
  Severity severity;
  Outcome (*check)(const rapidjson::Value& decision, std::string_view report,
                   const DecisionFacts& facts);
};

// current_price equals the computed last close at three decimals.
Outcome check_current_price(const rapidjson::Value& d, std::string_view report,
                            const DecisionFacts& f);
// The model's own stock_code / analysis_time are the run's.
Outcome check_stock_code(const rapidjson::Value& d, std::string_view report,
                         const DecisionFacts& f);
Outcome check_analysis_time(const rapidjson::Value& d, std::string_view report,
                            const DecisionFacts& f);
// A buy needs rrr >= min_rrr: below it the only allowed action is 观望等待.
Outcome check_min_rrr(const rapidjson::Value& d, std::string_view report, const DecisionFacts& f);
// Every non-zero price of a buy lies within [250-day low - 3 ATR, 250-day high + 3 ATR].
Outcome check_price_band(const rapidjson::Value& d, std::string_view report,
                         const DecisionFacts& f);
// market_sentiment follows the brief's bias: 偏多 看多, 偏空 看空, 震荡 / 避险 中性.
Outcome check_market_sentiment(const rapidjson::Value& d, std::string_view report,
                               const DecisionFacts& f);
// The JSON's action is the one the report's text recommends (the 5.2 操作建议).
Outcome check_action_matches_text(const rapidjson::Value& d, std::string_view report,
                                  const DecisionFacts& f);

inline constexpr std::array<DecisionRule, 7> kDecisionRules{{
    {"decision.current_price", Severity::critical, check_current_price},
    {"decision.stock_code", Severity::warning, check_stock_code},
    {"decision.analysis_time", Severity::warning, check_analysis_time},
    {"decision.min_rrr", Severity::critical, check_min_rrr},
    {"decision.price_band", Severity::warning, check_price_band},
    {"decision.market_sentiment", Severity::warning, check_market_sentiment},
    {"decision.action_matches_text", Severity::critical, check_action_matches_text},
}};

// Every row of kDecisionRules, in order. Throws std::invalid_argument when `decision` is not
// an object.
CheckResults run_decision_checks(const rapidjson::Value& decision, std::string_view report,
                                 const DecisionFacts& facts);

// The action the report's text recommends to those without a position: the first action
// word (or 【观望】, read as 观望等待) on the first "操作建议" line that has one, preferring
// the "5.2" section; the decision JSON is not read. nullopt when the text names none.
std::optional<std::string> recommended_action(std::string_view report);

// calculated_constraints.min_rrr of pattern-info JSON text, or nullopt.
std::optional<double> min_rrr_of_pattern_info(std::string_view pattern_info);

// The bias of a market brief's headline ("**▋ A 股大盘市场研判 · 偏空 / 中**" -> "偏空"), or ""
// when the brief has no readable headline.
std::string brief_bias(std::string_view brief);

}  // namespace gate
