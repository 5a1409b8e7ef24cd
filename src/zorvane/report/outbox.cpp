#include "zorvane/report/outbox.hpp"

#include <algorithm>
#include <map>
#include <unordered_set>

#include "zorvane/report/claim_owner.hpp"
#include "zorvane/report/message_id.hpp"
#include "zorvane/report/report_records.hpp"
#include "zorvane/report/sqlite_db.hpp"

namespace zorvane::report::outbox {

namespace {

// Version 1: delivery state per sink, message ids.
constexpr std::int64_t kSchemaVersion = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS outbox (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  kind TEXT NOT NULL,
  msg_key TEXT NOT NULL,
  payload TEXT NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  last_error TEXT,
  created_at TEXT NOT NULL,
  sent_at TEXT,
  message_id TEXT
);
CREATE INDEX IF NOT EXISTS outbox_pending ON outbox (id) WHERE sent_at IS NULL;
CREATE TABLE IF NOT EXISTS outbox_delivery (
  outbox_id INTEGER NOT NULL REFERENCES outbox (id) ON DELETE CASCADE,
  sink TEXT NOT NULL,
  state TEXT NOT NULL DEFAULT 'pending' CHECK (state IN ('pending', 'delivered', 'failed')),
  claimed_by TEXT,
  claim_until INTEGER,
  attempts INTEGER NOT NULL DEFAULT 0,
  last_error TEXT,
  failed_at TEXT,
  delivered_at TEXT,
  progress TEXT,
  PRIMARY KEY (outbox_id, sink)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS outbox_delivery_pending
  ON outbox_delivery (sink, outbox_id) WHERE state = 'pending';
CREATE INDEX IF NOT EXISTS outbox_delivery_failed
  ON outbox_delivery (sink, outbox_id) WHERE state = 'failed';
)sql";

// Indexes over columns an older outbox table gains only during the upgrade.
constexpr const char* kUpgradeIndexes = R"sql(
CREATE UNIQUE INDEX IF NOT EXISTS outbox_message_id ON outbox (message_id);
CREATE INDEX IF NOT EXISTS outbox_kind_key ON outbox (kind, msg_key);
)sql";

std::int64_t epoch_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::int64_t user_version(SqliteDb& db) {
  SqliteStatement st(db, "PRAGMA user_version");
  return st.step() ? st.column_int(0) : 0;
}

bool has_column(SqliteDb& db, std::string_view table, std::string_view column) {
  SqliteStatement st(db, "SELECT 1 FROM pragma_table_info(?) WHERE name = ?");
  st.bind(1, table).bind(2, column);
  return st.step();
}

// Rows without a Kafka delivery row: all of them in a database from before per-sink state, and
// later any that an older program version queued. Each becomes owed to Kafka as it stood and
// gets a message id; a message still to be sent also carries it in its payload. Runs inside
// the caller's transaction.
void adopt_legacy_rows(SqliteDb& db, bool unsent_only) {
  struct Legacy {
    std::int64_t id;
    std::optional<std::string> payload;  // only for unsent rows
    std::optional<std::string> sent_at;
    std::int64_t attempts;
    std::optional<std::string> last_error;
    std::optional<std::string> message_id;
  };
  std::vector<Legacy> rows;
  {
    std::string sql =
        "SELECT id, CASE WHEN sent_at IS NULL THEN payload END, sent_at, attempts, last_error, "
        "message_id FROM outbox o WHERE NOT EXISTS (SELECT 1 FROM outbox_delivery d "
        "WHERE d.outbox_id = o.id AND d.sink = 'kafka')";
    if (unsent_only) sql += " AND sent_at IS NULL";
    SqliteStatement select(db, sql);
    while (select.step()) {
      rows.push_back({select.column_int(0), select.column_text(1), select.column_text(2),
                      select.column_int(3), select.column_text(4), select.column_text(5)});
    }
  }
  SqliteStatement set_id(db, "UPDATE outbox SET message_id = ?, payload = ? WHERE id = ?");
  SqliteStatement set_id_only(db, "UPDATE outbox SET message_id = ? WHERE id = ?");
  SqliteStatement owe(db,
                      "INSERT INTO outbox_delivery (outbox_id, sink, state, attempts, last_error, "
                      "delivered_at) VALUES (?, 'kafka', ?, ?, ?, ?)");
  for (auto& row : rows) {
    const bool fresh_id = !row.message_id;
    const std::string message_id = fresh_id ? new_message_id() : *row.message_id;
    if (row.payload) {
      set_id.bind(1, message_id).bind(2, add_message_id(*row.payload, message_id)).bind(3, row.id);
      set_id.run();
    } else if (fresh_id) {
      set_id_only.bind(1, message_id).bind(2, row.id).run();
    }
    owe.bind(1, row.id)
        .bind(2, row.sent_at ? "delivered" : "pending")
        .bind(3, row.attempts)
        .bind(4, row.last_error)
        .bind(5, row.sent_at)
        .run();
  }
}

bool has_unadopted_rows(SqliteDb& db) {
  SqliteStatement st(db,
                     "SELECT 1 FROM outbox o WHERE sent_at IS NULL AND NOT EXISTS (SELECT 1 FROM "
                     "outbox_delivery d WHERE d.outbox_id = o.id AND d.sink = 'kafka') LIMIT 1");
  return st.step();
}

// Frees the claims of holders that are seen to be gone.
void free_dead_claims(SqliteDb& db, std::string_view sink, std::int64_t now) {
  std::vector<std::string> owners;
  {
    SqliteStatement st(db,
                       "SELECT DISTINCT claimed_by FROM outbox_delivery WHERE sink = ? AND state = "
                       "'pending' AND claimed_by IS NOT NULL AND claim_until > ?");
    st.bind(1, sink).bind(2, now);
    while (st.step()) {
      if (auto owner = st.column_text(0)) owners.push_back(std::move(*owner));
    }
  }
  SqliteStatement free(db,
                       "UPDATE outbox_delivery SET claimed_by = NULL, claim_until = NULL "
                       "WHERE sink = ? AND state = 'pending' AND claimed_by = ?");
  for (const auto& owner : owners) {
    if (claim_owner_is_dead(owner)) free.bind(1, sink).bind(2, owner).run();
  }
}

}  // namespace

void prepare(SqliteDb& db) {
  db.exec(kSchema);
  if (user_version(db) < kSchemaVersion) {
    SqliteTransaction tx(db);
    if (user_version(db) < kSchemaVersion) {  // another process may have upgraded meanwhile
      if (!has_column(db, "outbox", "message_id")) {
        db.exec("ALTER TABLE outbox ADD COLUMN message_id TEXT");
      }
      db.exec(kUpgradeIndexes);
      adopt_legacy_rows(db, false);
      db.exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
    }
    tx.commit();
  }
  if (has_unadopted_rows(db)) {
    SqliteTransaction tx(db);
    adopt_legacy_rows(db, true);
    tx.commit();
  }
  if (!has_column(db, "outbox_delivery", "progress")) {
    SqliteTransaction tx(db);  // under the write lock, so the column is added once
    if (!has_column(db, "outbox_delivery", "progress"))
      db.exec("ALTER TABLE outbox_delivery ADD COLUMN progress TEXT");
    tx.commit();
  }
}

std::int64_t enqueue(SqliteDb& db, std::string_view kind, std::string_view key,
                     std::string_view payload, std::string_view message_id,
                     std::string_view created_at, const std::vector<std::string>& sinks) {
  SqliteStatement insert(db,
                         "INSERT INTO outbox (kind, msg_key, payload, created_at, message_id) "
                         "VALUES (?, ?, ?, ?, ?)");
  insert.bind(1, kind).bind(2, key).bind(3, payload).bind(4, created_at).bind(5, message_id).run();
  const std::int64_t id = db.last_insert_id();
  SqliteStatement owe(db, "INSERT INTO outbox_delivery (outbox_id, sink) VALUES (?, ?)");
  for (const auto& sink : sinks) owe.bind(1, id).bind(2, sink).run();
  return id;
}

bool sink_has_key(SqliteDb& db, std::string_view sink, std::string_view kind,
                  std::string_view key) {
  SqliteStatement st(db,
                     "SELECT 1 FROM outbox o JOIN outbox_delivery d ON d.outbox_id = o.id "
                     "WHERE o.kind = ? AND o.msg_key = ? AND d.sink = ? LIMIT 1");
  st.bind(1, kind).bind(2, key).bind(3, sink);
  return st.step();
}

std::vector<OutboxMessage> claim(SqliteDb& db, const ClaimRequest& request) {
  const std::int64_t now = epoch_ms();
  SqliteTransaction tx(db);
  free_dead_claims(db, request.sink, now);

  std::string sql =
      "SELECT d.outbox_id, o.message_id, o.kind, o.msg_key, o.payload, d.progress "
      "FROM outbox_delivery d "
      "JOIN outbox o ON o.id = d.outbox_id WHERE d.sink = ? AND d.state = 'pending' "
      "AND d.outbox_id <= ? AND (d.claim_until IS NULL OR d.claim_until <= ?)";
  if (!request.kinds.empty()) {
    sql += " AND o.kind IN (";
    for (std::size_t i = 0; i < request.kinds.size(); ++i) sql += i ? ", ?" : "?";
    sql += ")";
  }
  sql += " ORDER BY d.outbox_id LIMIT ?";
  std::vector<OutboxMessage> batch;
  {
    SqliteStatement select(db, sql);
    select.bind(1, request.sink).bind(2, request.max_id).bind(3, now);
    int n = 4;
    for (const auto& kind : request.kinds) select.bind(n++, kind);
    select.bind(n, request.limit);
    while (select.step()) {
      OutboxMessage m;
      m.id = select.column_int(0);
      m.message_id = select.column_text(1).value_or("");
      m.kind = select.column_text(2).value_or("");
      m.key = select.column_text(3).value_or("");
      m.payload = select.column_text(4).value_or("");
      m.progress = select.column_text(5).value_or("");
      batch.push_back(std::move(m));
    }
  }
  SqliteStatement take(db,
                       "UPDATE outbox_delivery SET claimed_by = ?, claim_until = ? "
                       "WHERE outbox_id = ? AND sink = ?");
  const std::int64_t until = now + request.lease.count();
  for (const auto& m : batch) {
    take.bind(1, request.owner).bind(2, until).bind(3, m.id).bind(4, request.sink).run();
  }
  tx.commit();
  return batch;
}

void record(SqliteDb& db, std::string_view sink, std::string_view owner,
            const std::vector<std::int64_t>& claimed, const DeliveryOutcome& outcome) {
  const std::string now = utc_now_text();
  std::unordered_set<std::int64_t> settled;
  SqliteTransaction tx(db);
  SqliteStatement delivered(db,
                            "UPDATE outbox_delivery SET state = 'delivered', delivered_at = ?, "
                            "attempts = attempts + 1, last_error = NULL, failed_at = NULL, "
                            "claimed_by = NULL, claim_until = NULL, progress = NULL "
                            "WHERE outbox_id = ? AND sink = ? AND state <> 'delivered'");
  // Programs from before per-sink state read Kafka's state from sent_at.
  SqliteStatement sent(db, "UPDATE outbox SET sent_at = ? WHERE id = ? AND sent_at IS NULL");
  for (auto id : outcome.delivered) {
    delivered.bind(1, now).bind(2, id).bind(3, sink).run();
    if (sink == kKafkaSink) sent.bind(1, now).bind(2, id).run();
    settled.insert(id);
  }
  SqliteStatement rejected(db,
                           "UPDATE outbox_delivery SET state = 'failed', failed_at = ?, "
                           "last_error = ?, attempts = attempts + 1, claimed_by = NULL, "
                           "claim_until = NULL WHERE outbox_id = ? AND sink = ? AND state = "
                           "'pending'");
  for (const auto& r : outcome.rejected) {
    if (!settled.insert(r.id).second) continue;
    rejected.bind(1, now).bind(2, r.error).bind(3, r.id).bind(4, sink).run();
  }
  SqliteStatement failed(db,
                         "UPDATE outbox_delivery SET attempts = attempts + 1, last_error = ?, "
                         "claimed_by = NULL, claim_until = NULL WHERE outbox_id = ? AND sink = ? "
                         "AND state = 'pending' AND claimed_by = ?");
  const std::string error = outcome.error.empty() ? "未收到投递确认" : outcome.error;
  for (auto id : claimed) {
    if (settled.count(id)) continue;
    failed.bind(1, error).bind(2, id).bind(3, sink).bind(4, owner).run();
  }
  SqliteStatement progress(db,
                           "UPDATE outbox_delivery SET progress = ? WHERE outbox_id = ? AND "
                           "sink = ? AND state <> 'delivered'");
  for (const auto& [id, note] : outcome.progress)
    progress.bind(1, note).bind(2, id).bind(3, sink).run();
  tx.commit();
}

void release(SqliteDb& db, std::string_view sink, std::string_view owner,
             const std::vector<std::int64_t>& claimed) {
  SqliteTransaction tx(db);
  SqliteStatement free(db,
                       "UPDATE outbox_delivery SET claimed_by = NULL, claim_until = NULL "
                       "WHERE outbox_id = ? AND sink = ? AND claimed_by = ?");
  for (auto id : claimed) free.bind(1, id).bind(2, sink).bind(3, owner).run();
  tx.commit();
}

std::vector<SinkCounts> counts(SqliteDb& db) {
  std::map<std::string, SinkCounts> by_sink;
  SqliteStatement st(db, "SELECT sink, state, COUNT(*) FROM outbox_delivery GROUP BY sink, state");
  while (st.step()) {
    std::string sink = st.column_text(0).value_or("");
    auto& c = by_sink[sink];
    c.sink = sink;
    const std::string state = st.column_text(1).value_or("");
    const std::int64_t n = st.column_int(2);
    if (state == "pending") c.pending = n;
    if (state == "failed") c.failed = n;
    if (state == "delivered") c.delivered = n;
  }
  std::vector<SinkCounts> out;
  for (auto& [name, c] : by_sink) out.push_back(std::move(c));
  return out;
}

std::int64_t pending_count(SqliteDb& db, std::string_view sink) {
  SqliteStatement st(db,
                     "SELECT COUNT(*) FROM outbox_delivery WHERE sink = ? AND state = 'pending'");
  st.bind(1, sink);
  return st.step() ? st.column_int(0) : 0;
}

std::vector<FailedDelivery> failed(SqliteDb& db, std::optional<std::string_view> sink) {
  std::string sql =
      "SELECT d.outbox_id, o.message_id, d.sink, o.kind, o.msg_key, d.attempts, d.last_error, "
      "d.failed_at FROM outbox_delivery d JOIN outbox o ON o.id = d.outbox_id "
      "WHERE d.state = 'failed'";
  if (sink) sql += " AND d.sink = ?";
  sql += " ORDER BY d.outbox_id, d.sink";
  SqliteStatement st(db, sql);
  if (sink) st.bind(1, *sink);
  std::vector<FailedDelivery> out;
  while (st.step()) {
    FailedDelivery f;
    f.outbox_id = st.column_int(0);
    f.message_id = st.column_text(1).value_or("");
    f.sink = st.column_text(2).value_or("");
    f.kind = st.column_text(3).value_or("");
    f.key = st.column_text(4).value_or("");
    f.attempts = st.column_int(5);
    f.error = st.column_text(6).value_or("");
    f.failed_at = st.column_text(7).value_or("");
    out.push_back(std::move(f));
  }
  return out;
}

std::int64_t retry(SqliteDb& db, std::optional<std::int64_t> outbox_id,
                   std::optional<std::string_view> sink) {
  std::string sql =
      "UPDATE outbox_delivery SET state = 'pending', failed_at = NULL, claimed_by = NULL, "
      "claim_until = NULL WHERE state = 'failed'";
  if (outbox_id) sql += " AND outbox_id = ?";
  if (sink) sql += " AND sink = ?";
  SqliteTransaction tx(db);
  SqliteStatement st(db, sql);
  int n = 1;
  if (outbox_id) st.bind(n++, *outbox_id);
  if (sink) st.bind(n, *sink);
  st.run();
  const std::int64_t changed = db.changes();
  tx.commit();
  return changed;
}

std::vector<SinkRow> rows(SqliteDb& db, std::string_view sink, bool pending_only) {
  std::string sql =
      "SELECT o.id, o.message_id, o.kind, o.msg_key, o.payload, d.state, d.attempts, "
      "d.last_error, d.delivered_at FROM outbox_delivery d JOIN outbox o ON o.id = d.outbox_id "
      "WHERE d.sink = ?";
  if (pending_only) sql += " AND d.state = 'pending'";
  sql += " ORDER BY o.id";
  SqliteStatement st(db, sql);
  st.bind(1, sink);
  std::vector<SinkRow> out;
  while (st.step()) {
    SinkRow r;
    r.message.id = st.column_int(0);
    r.message.message_id = st.column_text(1).value_or("");
    r.message.kind = st.column_text(2).value_or("");
    r.message.key = st.column_text(3).value_or("");
    r.message.payload = st.column_text(4).value_or("");
    r.state = st.column_text(5).value_or("");
    r.attempts = st.column_int(6);
    r.last_error = st.column_text(7);
    r.delivered_at = st.column_text(8);
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace zorvane::report::outbox
