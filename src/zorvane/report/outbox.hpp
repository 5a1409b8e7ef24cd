#pragma once
// The transactional outbox and its delivery state per sink, in the report database.
//
// Every message is a row of `outbox` (id, message_id, kind, msg_key, payload, created_at). What
// a destination ("sink": "kafka", a chat webhook, ...) owes it is a row of `outbox_delivery`
// (outbox_id, sink, state pending|delivered|failed, claimed_by, claim_until, attempts,
// last_error, failed_at, delivered_at), created in the transaction that queues the message.
// A flush claims pending rows of its sink for a lease, sends them, and records the outcome:
// delivered, failed for good (not sent again until retried by hand), or released for the next
// flush. Rows claimed by a holder that died are taken over once the holder is seen to be gone
// (same machine) or its lease ends (anywhere), so concurrent flushes never send one message
// twice while they live and never lose one when they die.
//
// The functions take a connection and expect the caller to serialise use of it; each one that
// writes runs its own transaction.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorvane::report {

class SqliteDb;

inline constexpr std::string_view kKafkaSink = "kafka";

// One queued message as a sink sends it.
struct OutboxMessage {
  std::int64_t id = 0;     // outbox id, counted per database
  std::string message_id;  // globally unique
  std::string kind;        // "sumora", "stock_report", ...
  std::string key;
  std::string payload;
  // The sink's note of how far an earlier attempt got ("" when none), e.g. the parts of a
  // split message already accepted.
  std::string progress;
};

// A message a sink refused for good, with the sink's reason.
struct Rejection {
  std::int64_t id = 0;
  std::string error;
};

// What one delivery attempt of a batch came to. Ids in none of the lists count as `failed`.
struct DeliveryOutcome {
  std::vector<std::int64_t> delivered;  // acknowledged
  std::vector<std::int64_t> failed;     // not delivered now; tried again on the next flush
  std::vector<Rejection> rejected;      // refused for good; marked failed
  std::string error;                    // why `failed` were not delivered (first seen)
  // Notes for messages not delivered whole (failed or rejected): kept with the message and
  // handed back with it on the next attempt.
  std::vector<std::pair<std::int64_t, std::string>> progress;
};

namespace outbox {

// Creates the outbox tables and brings an older database up to date: rows queued before
// delivery state was kept per sink are owed to Kafka as before (delivered when sent_at is set,
// else pending, with their attempts and error), and every row gets a message id (pending rows
// also in their payload). Safe to run from several processes at once.
void prepare(SqliteDb& db);

// Queues a message inside the caller's transaction and makes it owed to each of `sinks`.
// Returns the outbox id.
std::int64_t enqueue(SqliteDb& db, std::string_view kind, std::string_view key,
                     std::string_view payload, std::string_view message_id,
                     std::string_view created_at, const std::vector<std::string>& sinks);

// True when `sink` already owes or has been sent a message of this kind and key (for sinks that
// take one message per key). Run inside the caller's transaction.
bool sink_has_key(SqliteDb& db, std::string_view sink, std::string_view kind, std::string_view key);

struct ClaimRequest {
  std::string sink;
  std::string owner;                // new_claim_owner() of this flush
  std::vector<std::string> kinds;   // kinds the sink can send; others are left alone
  std::int64_t max_id = INT64_MAX;  // claim only messages queued before the flush began
  std::int64_t limit = 500;
  std::chrono::milliseconds lease{60'000};
};

// Claims up to `limit` pending messages of the sink, oldest first: those unclaimed, those whose
// lease ended, and those of holders seen to be dead.
std::vector<OutboxMessage> claim(SqliteDb& db, const ClaimRequest& request);

// Records the outcome of a claimed batch in one transaction and releases every claim of
// `owner` among `claimed`. A delivery is recorded even when the claim was lost meanwhile.
void record(SqliteDb& db, std::string_view sink, std::string_view owner,
            const std::vector<std::int64_t>& claimed, const DeliveryOutcome& outcome);

// Releases claims of `owner` without recording an attempt (used when delivery never started).
void release(SqliteDb& db, std::string_view sink, std::string_view owner,
             const std::vector<std::int64_t>& claimed);

struct SinkCounts {
  std::string sink;
  std::int64_t pending = 0;
  std::int64_t failed = 0;
  std::int64_t delivered = 0;
};

// Counts per sink, sinks in name order.
std::vector<SinkCounts> counts(SqliteDb& db);

// Messages still owed to the sink (pending, claimed or not).
std::int64_t pending_count(SqliteDb& db, std::string_view sink);

struct FailedDelivery {
  std::int64_t outbox_id = 0;
  std::string message_id;
  std::string sink;
  std::string kind;
  std::string key;
  std::int64_t attempts = 0;
  std::string error;
  std::string failed_at;
};

// Deliveries marked failed, oldest message first (all sinks, or one).
std::vector<FailedDelivery> failed(SqliteDb& db, std::optional<std::string_view> sink = {});

// Makes failed deliveries pending again: of one message (all its failed sinks) or of all, and
// of one sink or all. Returns how many deliveries were re-queued.
std::int64_t retry(SqliteDb& db, std::optional<std::int64_t> outbox_id,
                   std::optional<std::string_view> sink = {});

// A message with one sink's delivery state.
struct SinkRow {
  OutboxMessage message;
  std::string state;  // "pending" | "delivered" | "failed"
  std::int64_t attempts = 0;
  std::optional<std::string> last_error;
  std::optional<std::string> delivered_at;
};

// The messages owed to `sink`, oldest first: all of them, or only the pending ones.
std::vector<SinkRow> rows(SqliteDb& db, std::string_view sink, bool pending_only);

}  // namespace outbox

}  // namespace zorvane::report
