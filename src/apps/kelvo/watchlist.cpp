#include "apps/kelvo/watchlist.hpp"
#include "zorvane/utils/worker_threads.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "zorvane/market/market_dates.hpp"
#include "zorvane/market/market_type.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_console.hpp"
#include "zorvane/utils/logger.hpp"

namespace kelvo {

namespace {

using zorvane::utils::logger;

// Longest error text kept in a summary row; the whole text is in the log.
constexpr std::size_t kReasonChars = 160;

std::optional<std::string> text_field(const rapidjson::Value& d, const char* key) {
  const auto* v = zorvane::utils::json_find(d, key);
  if (v == nullptr || !v->IsString()) return std::nullopt;
  return std::string(v->GetString(), v->GetStringLength());
}

// A price level of the decision; a zero (a wait has no stop-loss or target) means none.
std::optional<double> price_field(const rapidjson::Value& d, const char* key) {
  const auto* v = zorvane::utils::json_find(d, key);
  if (v == nullptr || !v->IsNumber() || !(v->GetDouble() > 0)) return std::nullopt;
  return v->GetDouble();
}

// The first line of an error text, shortened on a character boundary.
std::string reason_of(std::string_view what) {
  std::string text(what.substr(0, what.find('\n')));
  if (text.size() > kReasonChars) {
    std::size_t cut = kReasonChars;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut) + "…";
  }
  return text.empty() ? std::string("error") : text;
}

WatchlistRow analyse_one(const apps::PoolEntry& entry, const std::string& input_date,
                         const AnalyzeFn& analyze) {
  zorvane::utils::ThreadLogPrefix prefix("[" + entry.code + "] ");
  WatchlistRow row;
  row.code = entry.code;
  row.name = entry.name;
  try {
    const auto market = zorvane::utils::get_market_type(entry.code);
    row.market_type = market;
    const std::string date =
        zorvane::utils::normalize_end_date_for_market(input_date, market.value_or(""));
    row.analysis_time = date;
    const StockOutcome outcome = analyze(entry.code, date);
    WatchlistRow done = row_from_outcome(entry, date, outcome);
    if (!done.market_type) done.market_type = market;
    return done;
  } catch (const std::exception& e) {
    logger.error("分析失败: %s", e.what());
    row.status = "failed: " + reason_of(e.what());
    return row;
  }
}

}  // namespace

WatchlistRow row_from_outcome(const apps::PoolEntry& entry, const std::string& date,
                              const StockOutcome& outcome) {
  WatchlistRow row;
  row.code = entry.code;
  row.name = entry.name.empty() ? outcome.name : entry.name;
  row.market_type = outcome.market_type;
  row.analysis_time = date;
  switch (outcome.status) {
    case StockOutcome::Status::skipped:
      row.status = "skipped";
      return row;
    case StockOutcome::Status::no_data:
      row.status = "failed: no data";
      return row;
    case StockOutcome::Status::analysed:
      break;
  }
  if (outcome.decision_json) {
    const auto d = zorvane::utils::parse_json(*outcome.decision_json);
    row.action = text_field(d, "action");
    row.confidence = text_field(d, "confidence");
    row.entry_price_low = price_field(d, "entry_price_low");
    row.entry_price_high = price_field(d, "entry_price_high");
    row.stop_loss = price_field(d, "stop_loss");
    row.target_1 = price_field(d, "target_1");
  }
  if (outcome.save_error) {
    row.status = "failed: report not stored: " + reason_of(*outcome.save_error);
  } else if (outcome.rejected_by) {
    row.status = "rejected: " + *outcome.rejected_by;
  } else {
    row.status = outcome.decision_json ? "ok" : "no decision";
  }
  return row;
}

std::vector<WatchlistRow> run_watchlist(const std::vector<apps::PoolEntry>& entries,
                                        const std::string& analysis_time, int jobs,
                                        const AnalyzeFn& analyze, const ProgressFn& progress) {
  std::vector<WatchlistRow> rows(entries.size());
  std::atomic<std::size_t> next{0};
  std::mutex progress_mutex;
  std::size_t done = 0, failed = 0;

  auto worker = [&] {
    for (std::size_t i = next++; i < entries.size(); i = next++) {
      rows[i] = analyse_one(entries[i], analysis_time, analyze);
      std::lock_guard lock(progress_mutex);
      ++done;
      if (rows[i].status.rfind("failed", 0) == 0) ++failed;
      if (progress) progress(done, failed);
    }
  };
  const auto threads = static_cast<std::size_t>(std::max(1, jobs));
  zorvane::utils::run_workers(std::min(threads, entries.size()), worker);
  return rows;
}

}  // namespace kelvo
