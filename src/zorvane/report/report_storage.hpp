#pragma once
// Report storage: briefs and stock reports in SQLite (`<report root>/reports.db`), each saved
// together with a message in a transactional outbox, and delivery of that outbox to its sinks
// (Kafka here; other sinks register themselves and flush through flush_sink).
//
//   auto& storage = zorvane::report::default_storage();
//   storage.save_sumora({.market_type = "A", .content = brief, .analysis_time = "2024-05-10"});
//   ...
//   storage.flush();  // delivers pending messages when KAFKA_BOOTSTRAP_SERVERS is set
//
// A message is queued in the same transaction as its report, so a report is never stored
// without its message nor the reverse; a message leaves a sink's queue only when the sink has
// acknowledged it, or refused it for good (then it is marked failed and waits for
// `zorvane-outbox retry`). Each message carries a globally unique "message_id" (in its body and
// as a Kafka header) besides its per-database "outbox_id". Concurrent flushes claim disjoint
// messages, so one flush sends each message once; delivery stays at least once across crashes.
// All operations are safe to call from many threads and from several processes at once.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zorvane/report/kafka_delivery.hpp"
#include "zorvane/report/outbox.hpp"
#include "zorvane/report/report_records.hpp"

namespace zorvane::report {

class SqliteDb;

// A queued message with its Kafka delivery state.
struct OutboxRow {
  std::int64_t id = 0;
  std::string message_id;
  std::string kind;  // "sumora" | "stock_report" | ...
  std::string key;
  std::string payload;
  std::string state;  // "pending" | "delivered" | "failed"
  std::int64_t attempts = 0;
  std::optional<std::string> last_error;
  std::optional<std::string> sent_at;  // UTC time of the broker's acknowledgement
};

struct FlushResult {
  bool configured = false;    // the sink is set up (for Kafka: KAFKA_BOOTSTRAP_SERVERS)
  std::size_t delivered = 0;  // acknowledged during this flush
  std::size_t rejected = 0;   // refused for good during this flush, now marked failed
  std::size_t pending = 0;    // still owed afterwards
  std::string error;          // why messages stayed queued, empty when none did for a fault
};

// Decides, when a message is queued, whether a sink owes it. Kafka owes every message, also
// those queued while it is not configured; other sinks register a rule while they are
// configured, so they owe only what is queued from then on.
struct SinkRule {
  std::string name;
  std::function<bool(std::string_view kind)> owes;  // empty: every message
  // Owe a message only when the sink owes or was sent no earlier message of the same kind and
  // key (say, one notice per market and day however many runs queue the brief).
  bool once_per_key = false;
};

// A sink as one flush drives it.
struct SinkDelivery {
  std::string name;                // as in outbox_delivery.sink
  std::string label;               // for log lines ("Kafka")
  std::vector<std::string> kinds;  // kinds it can send now; messages of other kinds wait
  // Longest time one deliver call may take; a claim lasts this long plus a margin, after which
  // another flush may take the messages over.
  std::chrono::milliseconds max_delivery_time{60'000};
  // Sends a batch and says what came of each message. An exception counts as every message
  // failing transiently with its text.
  std::function<DeliveryOutcome(const std::vector<OutboxMessage>&)> deliver;
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

  // True when a report for the stock, date and client type (any case) is stored.
  bool exists(std::string_view code, std::string_view analysis_date,
              std::string_view llm_client_type);

  // Stores a record through `store` (may be empty) and queues a message of `kind` under `key`
  // in one transaction; `payload` builds the message body from its message id and creation
  // time. Returns the outbox id. For report kinds kept outside this module.
  std::int64_t save_message(
      std::string_view kind, const std::string& key,
      const std::function<std::string(const std::string& message_id,
                                      const std::string& created_at)>& payload,
      const std::function<void(SqliteDb& db, const std::string& created_at)>& store = {});

  // Adds (or replaces, by name) the rule of a sink other than Kafka for messages queued from now
  // on in this process.
  void add_sink(SinkRule rule);

  // Delivers pending Kafka messages, oldest first, with the settings from the environment (see
  // KafkaSettings::from_env). Without KAFKA_BOOTSTRAP_SERVERS the messages stay queued and
  // their count is logged once. Never throws: failures are logged (one warning naming the
  // count left and the broker error) and reported in the result; messages the broker refused
  // for good are marked failed, and while any are, every flush says so in a warning.
  FlushResult flush();
  FlushResult flush(const std::optional<KafkaSettings>& kafka);

  // Delivers what `sink` owes, in batches claimed for this flush (other flushes, here or in
  // other processes, skip them), stopping at the first batch with transient failures. Never
  // throws; logs like flush().
  FlushResult flush_sink(const SinkDelivery& sink);

  // Messages with their Kafka state, oldest first (all of them, or only those still pending).
  std::vector<OutboxRow> outbox(bool pending_only = true);

  // pending / failed / delivered counts per sink.
  std::vector<outbox::SinkCounts> outbox_counts();
  // Deliveries marked failed, oldest first.
  std::vector<outbox::FailedDelivery> failed_deliveries();
  // Makes failed deliveries pending again (of one message or all; of one sink or all); returns
  // how many. They go out with the next flush.
  std::int64_t retry_failed(std::optional<std::int64_t> outbox_id,
                            std::optional<std::string> sink = std::nullopt);

 private:
  SqliteDb& db();  // call with mutex_ held
  std::int64_t queue(std::string_view kind, const std::string& key, const std::string& message_id,
                     const std::string& created_at, const std::string& payload,
                     const std::function<void(SqliteDb&, const std::string&)>& store);
  std::vector<std::string> owing_sinks(SqliteDb& db, std::string_view kind, std::string_view key);
  void warn_failed(std::string_view sink, std::string_view label);

  std::filesystem::path root_;
  std::mutex mutex_;  // guards db_, sink_rules_ and every use of the connection
  std::unique_ptr<SqliteDb> db_;
  std::vector<SinkRule> sink_rules_;
};

// The process-wide storage under report_root(), created on first call (the root is resolved
// then) and opened on first use.
ReportStorage& default_storage();

}  // namespace zorvane::report
