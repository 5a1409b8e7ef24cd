#pragma once
// The watchlist run: many stocks analysed in one process, several at once, each ending in one
// summary row whatever happened to it.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "apps/common/pool_file.hpp"
#include "apps/kelvo/analyze_stock.hpp"

namespace kelvo {

// One stock's line of the summary.
struct WatchlistRow {
  std::string code;
  std::string name;
  std::optional<std::string> market_type;
  std::string analysis_time;  // the stock's effective date ("" when the date was refused)
  std::optional<std::string> action;
  std::optional<std::string> confidence;
  std::optional<double> entry_price_low;
  std::optional<double> entry_price_high;
  std::optional<double> stop_loss;
  std::optional<double> target_1;
  std::string status;  // "ok", "skipped", "no decision" or "failed: <reason>"

  bool succeeded() const { return status == "ok" || status == "skipped"; }
};

// Analyses one stock (canonical code) on its effective date.
using AnalyzeFn = std::function<StockOutcome(const std::string& code, const std::string& date)>;
// Called after each stock with the stocks done and those "failed: ..." so far (from worker
// threads, one call at a time).
using ProgressFn = std::function<void(std::size_t done, std::size_t failed)>;

// Runs `analyze` for every entry, `jobs` at once (at least 1), each on the input date
// `analysis_time` moved to its market's last closed trading day. A stock's log lines carry its
// code as a prefix. An error in one stock becomes its "failed: ..." row and never stops the
// others. Rows come back in the order of `entries`.
std::vector<WatchlistRow> run_watchlist(const std::vector<apps::PoolEntry>& entries,
                                        const std::string& analysis_time, int jobs,
                                        const AnalyzeFn& analyze,
                                        const ProgressFn& progress = nullptr);

// The row for a finished analysis (status from the outcome and its decision).
WatchlistRow row_from_outcome(const apps::PoolEntry& entry, const std::string& date,
                              const StockOutcome& outcome);

}  // namespace kelvo
