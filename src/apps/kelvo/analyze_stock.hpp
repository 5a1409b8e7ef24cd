#pragma once
// The stock command's one operation: the AI analysis of one stock on one day.

#include <optional>
#include <string>

namespace kelvo {

// How one stock's analysis ended.
struct StockOutcome {
  enum class Status { analysed, skipped, no_data };
  Status status = Status::analysed;
  std::string name;
  std::optional<std::string> market_type;
  // The accepted decision map as JSON text; nullopt when the reply held none.
  std::optional<std::string> decision_json;
  // Set when the analysis ran but its report could not be stored.
  std::optional<std::string> save_error;
  // The first failed critical trust check when the decision was rejected.
  std::optional<std::string> rejected_by;
};

// Skips a stock whose report (for this day and the configured model client type) is already
// stored unless `force`; otherwise loads the bars (the five years up to `analysis_time`),
// warns when the last bar is stale, computes the indicator status and the combined
// pre-screen, obtains the market brief, runs the AI analysis and logs its report and summary,
// then flushes report storage (unless `flush` is false: a watchlist run flushes once at its
// end). A stock without bars ends the run early (logged).
// `stock_code` is the canonical code (candlex::normalize_code).
// Throws std::runtime_error "大盘 AI 简报生成失败 (<market>)，分析无法继续。" when a known market
// has no brief; errors of the data source, the selectors and the analysis propagate. A report
// that could not be stored is returned in save_error, after the analysis has been logged.
StockOutcome analyze_stock(const std::string& stock_code, const std::string& analysis_time,
                           bool force = false, bool flush = true);

}  // namespace kelvo
