#pragma once
// Report storage: briefs and stock reports in SQLite (`<report root>/reports.db`), each saved
// together with a message in a transactional outbox, and delivery of that outbox to Kafka.
//
//   auto& storage = zorvane::report::default_storage();
//   storage.save_sumora({.market_type = "A", .content = brief, .analysis_time = "2024-05-10"});
//   ...
//   storage.flush();  // delivers pending messages when KAFKA_BOOTSTRAP_SERVERS is set
//
// A message is queued in the same transaction as its report, so a report is never stored
// without its message nor the reverse; a message leaves the queue only when the broker has
// acknowledged it. Delivery is at least once: consumers deduplicate on the "outbox_id" header.
// All operations are safe to call from many threads and from several processes at once.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zorvane/report/kafka_delivery.hpp"
#include "zorvane/report/report_records.hpp"

namespace zorvane::report {

class SqliteDb;

struct OutboxRow {
  std::int64_t id = 0;
  std::string kind;  // "sumora" | "stock_report"
  std::string key;
  std::string payload;
  std::int64_t attempts = 0;
  std::optional<std::string> last_error;
  std::optional<std::string> sent_at;  // UTC time of the broker's acknowledgement
};

struct FlushResult {
  bool kafka_configured = false;
  std::size_t delivered = 0;  // acknowledged during this flush
  std::size_t pending = 0;    // still queued afterwards
  std::string error;          // why messages stayed queued, empty when none did for a fault
};

class ReportStorage {
 public:
  // Storage under `root`; the database is opened (and created) on first use.
  explicit ReportStorage(std::filesystem::path root);
  ~ReportStorage();
  ReportStorage(const ReportStorage&) = delete;
  ReportStorage& operator=(const ReportStorage&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path database_path() const { return root_ / "reports.db"; }

  // Stores the brief and queues its message; returns the outbox id. Throws
  // std::invalid_argument for an empty market type or analysis time, std::runtime_error when
  // the database cannot be written (nothing is stored then).
  std::int64_t save_sumora(const SumoraReport& report);

  // Stores the stock report, queues its message and writes the Markdown copy
  // `<root>/<date>/<code>_<client>.md`; returns the outbox id. Throws std::invalid_argument
  // for a date that is not YYYY-MM-DD, a code or client type unusable as a file name, or a
  // decision that is not a JSON object; std::runtime_error for storage failures.
  std::int64_t save_stock_report(const StockReport& report);

  // Queues the summary of a watchlist run (kind "watchlist_summary", `payload` a JSON object
  // text, `key` its message key); returns the outbox id. Throws std::runtime_error when the
  // database cannot be written.
  std::int64_t save_watchlist_summary(const std::string& key, const std::string& payload);

  // True when a report for the stock, date and client type (any case) is stored.
  bool exists(std::string_view code, std::string_view analysis_date,
              std::string_view llm_client_type);

  // Delivers pending messages, oldest first, with the settings from the environment (see
  // KafkaSettings::from_env). Without KAFKA_BOOTSTRAP_SERVERS the messages stay queued and
  // their count is logged once. Never throws: failures are logged (one warning naming the
  // count left and the broker error) and reported in the result.
  FlushResult flush();
  FlushResult flush(const std::optional<KafkaSettings>& kafka);

  // Outbox rows, oldest first (all of them, or only those not yet delivered).
  std::vector<OutboxRow> outbox(bool pending_only = true);

 private:
  SqliteDb& db();  // call with mutex_ held
  FlushResult flush_locked(const std::optional<KafkaSettings>& kafka);

  std::filesystem::path root_;
  std::mutex mutex_;        // guards db_ and every use of the connection
  std::mutex flush_mutex_;  // one flush at a time in this process
  std::unique_ptr<SqliteDb> db_;
};

// The process-wide storage under report_root(), created on first call (the root is resolved
// then) and opened on first use.
ReportStorage& default_storage();

}  // namespace zorvane::report
