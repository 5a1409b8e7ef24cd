#pragma once
// The prompt catalogue of the per-stock analysis: for each market (A, US, HK, ETF) a full
// prompt and its split into a system template (fixed instructions, no placeholder, no brace)
// and a user template (per-stock inputs with placeholders), plus the summary prompt and its
// split. Fill the templates with velmira::fill (fill.hpp).
//
// Everything is assembled once, on first use, and never changes afterwards; the texts may be
// read from any thread. A broken catalogue (a missing anchor) throws on first use and on every
// later use: std::invalid_argument for the analysis prompts, std::runtime_error for the
// summary.
//
// Placeholders of the analysis user templates: {stock_code}, {stock_name}, {analysis_time},
// {current_price} (each twice: input header and example JSON), {pct_change}, {stock_data},
// {stock_week_data}, {pattern_info}, {market_ai_brief}. Summary user template:
// {analysis_report}.

#include <string>
#include <string_view>
#include <vector>

namespace velmira {

// Exported texts, in export order.
const std::string& A_STOCK_PROMPT();
const std::string& US_STOCK_PROMPT();
const std::string& HK_STOCK_PROMPT();
const std::string& ETF_STOCK_PROMPT();
const std::string& SUMMARY_PROMPT();
const std::string& A_STOCK_SYSTEM_TEMPLATE();
const std::string& A_STOCK_USER_TEMPLATE();
const std::string& US_STOCK_SYSTEM_TEMPLATE();
const std::string& US_STOCK_USER_TEMPLATE();
const std::string& HK_STOCK_SYSTEM_TEMPLATE();
const std::string& HK_STOCK_USER_TEMPLATE();
const std::string& ETF_STOCK_SYSTEM_TEMPLATE();
const std::string& ETF_STOCK_USER_TEMPLATE();
const std::string& SUMMARY_SYSTEM_TEMPLATE();
const std::string& SUMMARY_USER_TEMPLATE();

struct ExportedText {
  std::string_view name;  // e.g. "A_STOCK_PROMPT"
  const std::string* text;
};

// The exported texts above, by name, in export order.
const std::vector<ExportedText>& export_list();

// The three templates of one market.
struct StockTemplates {
  std::string full;
  std::string system;
  std::string user;
};

// Templates of market "A", "US", "HK" or "ETF"; std::invalid_argument naming any other text.
const StockTemplates& stock_templates(std::string_view market);

namespace detail {

// Labels and examples that differ between markets.
struct MarketParams {
  std::string_view market;
  std::string_view code_label;
  std::string_view name_label;
  std::string_view daily_label;
  std::string_view weekly_label;
  std::string_view entity_word;
  std::string_view step0_label;
  std::string_view ohlc_example;
};

// Parameters of market "A", "US", "HK" or "ETF"; std::invalid_argument for any other text.
const MarketParams& market_params(std::string_view market);

// Step 6 of the full prompts: field table, example JSON, output requirements.
const std::string& STEP6_JSON_SECTION();

}  // namespace detail
}  // namespace velmira
