#pragma once
// The summary of a watchlist run: a table for people, JSON for programs and the outbox.

#include <string>
#include <vector>

#include "apps/kelvo/watchlist.hpp"

namespace kelvo {

// Rows by status: "ok", "skipped", "no decision", and the others (failed or rejected).
struct SummaryCounts {
  long long ok = 0, skipped = 0, no_decision = 0, failed = 0;
};
SummaryCounts summary_counts(const std::vector<WatchlistRow>& rows);

// A table with one line per row (code, name, action, confidence, entry range, stop-loss,
// first target, status), columns aligned by display width, then a count line.
std::string summary_text(const std::vector<WatchlistRow>& rows, const std::string& analysis_time);

// {"type": "watchlist_summary", "message_id", "analysis_time", "total", "ok", "skipped",
// "no_decision",
//  "failed", "rows": [{"code", "name", "market_type", "analysis_time", "action", "confidence",
//  "entry_price_low", "entry_price_high", "stop_loss", "target_1", "status"}], "created_at"}
// with absent values as null. `message_id` and `created_at` are omitted when empty (the
// summary printed on standard output has neither; the queued message has both).
std::string summary_json(const std::vector<WatchlistRow>& rows, const std::string& analysis_time,
                         const std::string& created_at = "", bool pretty = false,
                         const std::string& message_id = "");

// Message key of a run's summary: "watchlist:<analysis_time>".
std::string summary_key(const std::string& analysis_time);

}  // namespace kelvo
