#pragma once
// The fixed texts of the market brief prompt: the system message, the user template and the
// market labels.

#include <map>
#include <string>
#include <string_view>

namespace sumora {

// Passed to the model unchanged; its braces are literal text, it is never filled.
extern const std::string SUMORA_SYSTEM_MESSAGE;

namespace detail {

// Every "{name}" in it is a placeholder: market_label, analysis_date, bias, strength,
// strategy, rationale, core_index_facts, core_index_table, market_env, market_history,
// market_indicators, sentiment_block.
extern const std::string SUMORA_USER_TEMPLATE;

// Market type -> label used in the prompt. Its keys are the supported market types.
extern const std::map<std::string, std::string, std::less<>> MARKET_LABEL_MAP;

}  // namespace detail

// Replaces each "{name}" of `tmpl` by values.at(name) in one pass (inserted values are never
// scanned again, so braces inside them stay as they are). Throws std::invalid_argument naming
// a placeholder that has no value or a brace that does not close.
std::string fill_template(std::string_view tmpl, const std::map<std::string, std::string>& values);

}  // namespace sumora
