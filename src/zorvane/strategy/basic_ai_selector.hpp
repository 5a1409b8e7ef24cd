#pragma once
// The per-stock model analysis: fills the market's analysis prompt with the stock's bars,
// pattern information and the market brief, asks the model for a report, extracts the trading
// decision from it, asks for an execution summary of the report, and keeps both in report
// storage (with a message for the queue, a Markdown copy and an HTML page with charts).
//
//   zorvane::strategy::BasicAISelector selector;
//   auto [is_buy, decision, confidence, summary, report] = selector.check_async(
//       status, bars, pattern_info, "混合", "2024-05-10", brief);

#include <rapidjson/document.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <tuple>

#include "agent/gate/decision_checks.hpp"
#include "candlex/bar_table.hpp"
#include "indicators/stock_status.hpp"
#include "zorvane/agent/client_builder.hpp"
#include "zorvane/report/report_records.hpp"

namespace zorvane::strategy {

// (0) true when the accepted decision's action is a buy (never for a rejected decision),
// (1) the accepted decision map or nullopt, (2) the decision's confidence or "", (3) the
// summary, (4) the report.
using AIAnalysisResult =
    std::tuple<bool, std::optional<rapidjson::Document>, std::string, std::string, std::string>;

// The same with the trust gate's verdict on the decision.
struct AIAnalysis {
  bool is_buy = false;
  std::optional<rapidjson::Document> decision;
  std::string confidence;
  std::string summary;
  std::string report;
  std::string decision_status;  // "valid", "rejected" (a critical check failed) or "none"
  gate::CheckResults checks;    // empty without a decision
  // Why the report could not be stored; nullopt once it is stored.
  std::optional<std::string> save_error;
  // "stock_code" and "analysis_time" of the decision as the model wrote them (nullopt when it
  // left one out or wrote no text); the decision map and the stored record carry the run's
  // code and date instead.
  std::optional<std::string> model_stock_code;
  std::optional<std::string> model_analysis_time;
  // Date of the last bar analysed.
  std::string last_bar_date;
};

// What the analysis calls outside itself. defaults() binds the configured model client and the
// default report storage; tests replace single members.
struct AIAnalysisServices {
  std::function<agent::BuiltClient()> build_client;
  std::function<void(const report::StockReport&)> save_stock_report;
  // Writes the saved report's HTML page from the daily bars the analysis used; none writes
  // no page. A failure is logged and changes nothing else.
  std::function<void(const report::StockReport&, const candlex::BarTable& daily)> write_page =
      nullptr;

  static AIAnalysisServices defaults();
};

class BasicAISelector {
 public:
  explicit BasicAISelector(AIAnalysisServices services = AIAnalysisServices::defaults());

  // Analyses the stock of `stock_status` (its code and name) on `analysis_time`:
  //   1. templates of the code's market ("A" when the code names no market);
  //   2. user prompt: code, name, date, last close, today's change in percent, the last 60
  //      daily and 20 weekly bars with every indicator column as JSON rows ("Date" first, NaN
  //      as null), `pattern_info` and `market_ai_brief`;
  //   3. one model call for the report (reasoning blocks removed) and the decision extracted
  //      from it; no acceptable decision -> warning, decision nullopt, report kept; the
  //      decision's "stock_code" and "analysis_time" are the run's (the stock's code and
  //      `analysis_time`), with a warning when the model wrote others;
  //   4. one model call for the summary of the report;
  //   5. the decision goes through the trust checks against the facts of the prompt (last
  //      close, min_rrr, 250-day range and ATR, the brief's bias, the report's own text): a
  //      critical failure makes it "rejected" (kept, but never a buy signal), one log line per
  //      failed check; the status and results are stored beside the decision;
  //   6. the report is saved (a failure to save is logged as an error, the result still
  //      returned, since the report and summary are already made and get logged by the caller).
  // `df` is the stock's daily bars, oldest first. `selector_source` (the pre-screen's strategy
  // type) is logged. Throws std::invalid_argument for empty bars, std::runtime_error when a
  // model call fails or gives an empty reply; the model client's builder errors propagate.
  AIAnalysisResult check_async(const indicators::StockStatus& stock_status,
                               const candlex::BarTable& df, const std::string& pattern_info,
                               const std::string& selector_source, const std::string& analysis_time,
                               const std::string& market_ai_brief);

  // check_async with the gate's verdict, the outcome of storing and the decision's own code
  // and date.
  AIAnalysis analyze(const indicators::StockStatus& stock_status, const candlex::BarTable& df,
                     const std::string& pattern_info, const std::string& selector_source,
                     const std::string& analysis_time, const std::string& market_ai_brief);

 private:
  AIAnalysisServices services_;
};

namespace detail {

// Rows of `bars` as a JSON array of objects: "Date" first, then every column in table order;
// numbers rounded to 4 decimals, NaN and infinities written as null.
std::string bars_json(const candlex::BarTable& bars);

// The daily and weekly data blocks of the prompt: indicators computed over the whole history
// (weekly bars built from the daily ones), then the last `daily_rows` / `weekly_rows` rows.
std::pair<std::string, std::string> prompt_bar_blocks(const candlex::BarTable& daily,
                                                      std::size_t daily_rows = 60,
                                                      std::size_t weekly_rows = 20);

// Last close as prompt text (3 decimals at most, shortest form) and the change of the last
// close over the one before in percent with two decimals ("0.00" without an earlier close).
std::string current_price_text(const candlex::BarTable& daily);
std::string pct_change_text(const candlex::BarTable& daily);

// What the decision checks compare with: the run's code and date, the last close, min_rrr of
// the pattern info, the 250-bar low and high, ATR(14) at the last bar and the brief's bias.
gate::DecisionFacts decision_facts(const candlex::BarTable& daily, const std::string& code,
                                   const std::string& analysis_time,
                                   const std::string& pattern_info,
                                   const std::string& market_ai_brief);

}  // namespace detail

}  // namespace zorvane::strategy
