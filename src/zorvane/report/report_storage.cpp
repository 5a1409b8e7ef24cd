#include "zorvane/report/report_storage.hpp"

#include <ctime>
#include <stdexcept>

#include "zorvane/report/atomic_file.hpp"
#include "zorvane/report/report_root.hpp"
#include "zorvane/report/sqlite_db.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::report {

namespace {

using utils::logger;

// Rows delivered per producer session; bounds memory when much has piled up.
constexpr std::int64_t kDeliveryBatch = 500;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS sumora_reports (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  market_type TEXT NOT NULL,
  analysis_time TEXT NOT NULL,
  content TEXT NOT NULL,
  llm_client_type TEXT,
  llm_model TEXT,
  created_at TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS stock_reports (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  code TEXT NOT NULL,
  name TEXT NOT NULL,
  market_type TEXT,
  analysis_date TEXT NOT NULL,
  llm_client_type TEXT NOT NULL,
  llm_model TEXT NOT NULL,
  report TEXT NOT NULL,
  summary TEXT NOT NULL,
  decision TEXT,
  created_at TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS stock_reports_lookup
  ON stock_reports (code, analysis_date, llm_client_type);
CREATE TABLE IF NOT EXISTS outbox (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  kind TEXT NOT NULL,
  msg_key TEXT NOT NULL,
  payload TEXT NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  last_error TEXT,
  created_at TEXT NOT NULL,
  sent_at TEXT
);
CREATE INDEX IF NOT EXISTS outbox_pending ON outbox (id) WHERE sent_at IS NULL;
)sql";

// Columns added after the first release of the schema: a database made before them gets
// them on open, with NULL in the rows it already holds.
struct AddedColumn {
  std::string_view table;
  std::string_view column;
};
constexpr AddedColumn kAddedColumns[] = {
    {"sumora_reports", "brief_status"},
    {"sumora_reports", "gate_checks"},
    {"stock_reports", "decision_status"},
    {"stock_reports", "gate_checks"},
};

bool has_column(SqliteDb& db, std::string_view table, std::string_view column) {
  SqliteStatement select(db, "SELECT 1 FROM pragma_table_info(?) WHERE name = ?");
  select.bind(1, table).bind(2, column);
  return select.step();
}

void add_missing_columns(SqliteDb& db) {
  // Under the write lock, so two processes opening an old database never add a column twice.
  SqliteTransaction tx(db);
  for (const auto& c : kAddedColumns) {
    if (has_column(db, c.table, c.column)) continue;
    db.exec("ALTER TABLE " + std::string(c.table) + " ADD COLUMN " + std::string(c.column) +
            " TEXT");
  }
  tx.commit();
}

std::string utc_now() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::int64_t enqueue(SqliteDb& db, std::string_view kind, const std::string& key,
                     const std::string& payload, const std::string& created_at) {
  SqliteStatement insert(db,
                         "INSERT INTO outbox (kind, msg_key, payload, created_at) "
                         "VALUES (?, ?, ?, ?)");
  insert.bind(1, kind).bind(2, key).bind(3, payload).bind(4, created_at).run();
  return db.last_insert_id();
}

std::vector<OutboxRow> read_outbox(SqliteDb& db, bool pending_only, std::int64_t after_id,
                                   std::int64_t limit) {
  std::string sql =
      "SELECT id, kind, msg_key, payload, attempts, last_error, sent_at FROM outbox WHERE id > ?";
  if (pending_only) sql += " AND sent_at IS NULL";
  sql += " ORDER BY id LIMIT ?";
  SqliteStatement select(db, sql);
  select.bind(1, after_id).bind(2, limit);
  std::vector<OutboxRow> rows;
  while (select.step()) {
    OutboxRow row;
    row.id = select.column_int(0);
    row.kind = select.column_text(1).value_or("");
    row.key = select.column_text(2).value_or("");
    row.payload = select.column_text(3).value_or("");
    row.attempts = select.column_int(4);
    row.last_error = select.column_text(5);
    row.sent_at = select.column_text(6);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::size_t count_pending(SqliteDb& db) {
  SqliteStatement count(db, "SELECT COUNT(*) FROM outbox WHERE sent_at IS NULL");
  count.step();
  return static_cast<std::size_t>(count.column_int(0));
}

// One transaction: acknowledged rows become sent, the others count one more failed attempt.
void record_outcome(SqliteDb& db, const DeliveryOutcome& outcome) {
  const std::string now = utc_now();
  SqliteTransaction tx(db);
  SqliteStatement sent(db,
                       "UPDATE outbox SET sent_at = ?, attempts = attempts + 1, last_error = NULL "
                       "WHERE id = ? AND sent_at IS NULL");
  for (auto id : outcome.delivered) sent.bind(1, now).bind(2, id).run();
  SqliteStatement failed(db,
                         "UPDATE outbox SET attempts = attempts + 1, last_error = ? "
                         "WHERE id = ? AND sent_at IS NULL");
  for (auto id : outcome.failed) failed.bind(1, outcome.error).bind(2, id).run();
  tx.commit();
}

}  // namespace

ReportStorage::ReportStorage(std::filesystem::path root) : root_(std::move(root)) {}

ReportStorage::~ReportStorage() = default;

SqliteDb& ReportStorage::db() {
  if (!db_) {
    std::error_code ec;
    std::filesystem::create_directories(root_, ec);
    if (ec) {
      throw std::runtime_error("创建报告目录失败: " + root_.string() + " (" + ec.message() + ")");
    }
    auto db = std::make_unique<SqliteDb>(database_path());
    db->exec(kSchema);
    add_missing_columns(*db);
    db_ = std::move(db);
  }
  return *db_;
}

std::int64_t ReportStorage::save_sumora(const SumoraReport& report) {
  if (utils::trim(report.market_type).empty()) {
    throw std::invalid_argument("SumoraReport.market_type 不能为空");
  }
  if (utils::trim(report.analysis_time).empty()) {
    throw std::invalid_argument("SumoraReport.analysis_time 不能为空");
  }
  const std::string created_at = utc_now();
  const std::string payload = message_json(report, created_at);

  std::lock_guard lock(mutex_);
  SqliteDb& d = db();
  SqliteTransaction tx(d);
  SqliteStatement insert(d,
                         "INSERT INTO sumora_reports (market_type, analysis_time, content, "
                         "llm_client_type, llm_model, created_at, brief_status, gate_checks) "
                         "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  insert.bind(1, report.market_type)
      .bind(2, report.analysis_time)
      .bind(3, report.content)
      .bind(4, report.llm_client_type)
      .bind(5, report.llm_model)
      .bind(6, created_at)
      .bind(7, report.brief_status)
      .bind(8, report.gate_checks)
      .run();
  std::int64_t id = enqueue(d, "sumora", message_key(report), payload, created_at);
  tx.commit();
  return id;
}

std::int64_t ReportStorage::save_stock_report(const StockReport& report) {
  utils::parse_iso_date(report.analysis_date);  // a date is part of the file path
  check_file_component(report.code, "股票代码");
  check_file_component(report.llm_client_type, "模型类型");
  const std::string created_at = utc_now();
  const std::string payload = message_json(report, created_at);  // validates the decision
  const std::string client = utils::to_lower(report.llm_client_type);

  // The readable copy first: if the database write then fails, the next run rewrites it.
  write_file_atomic(root_ / report.analysis_date / (report.code + "_" + client + ".md"),
                    report_markdown(report, created_at));

  std::lock_guard lock(mutex_);
  SqliteDb& d = db();
  SqliteTransaction tx(d);
  SqliteStatement insert(d,
                         "INSERT INTO stock_reports (code, name, market_type, analysis_date, "
                         "llm_client_type, llm_model, report, summary, decision, created_at, "
                         "decision_status, gate_checks) "
                         "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insert.bind(1, report.code)
      .bind(2, report.name)
      .bind(3, report.market_type)
      .bind(4, report.analysis_date)
      .bind(5, client)
      .bind(6, report.llm_model)
      .bind(7, report.report)
      .bind(8, report.summary)
      .bind(9, stored_decision_json(report))
      .bind(10, created_at)
      .bind(11, report.decision_status)
      .bind(12, report.gate_checks)
      .run();
  std::int64_t id = enqueue(d, "stock_report", message_key(report), payload, created_at);
  tx.commit();
  return id;
}

bool ReportStorage::exists(std::string_view code, std::string_view analysis_date,
                           std::string_view llm_client_type) {
  std::lock_guard lock(mutex_);
  SqliteStatement select(db(),
                         "SELECT 1 FROM stock_reports WHERE code = ? AND analysis_date = ? "
                         "AND llm_client_type = ? LIMIT 1");
  select.bind(1, code).bind(2, analysis_date).bind(3, utils::to_lower(llm_client_type));
  return select.step();
}

std::vector<OutboxRow> ReportStorage::outbox(bool pending_only) {
  std::lock_guard lock(mutex_);
  return read_outbox(db(), pending_only, 0, -1);
}

FlushResult ReportStorage::flush() {
  std::optional<KafkaSettings> kafka;
  try {
    kafka = KafkaSettings::from_env();
  } catch (const std::exception& e) {
    FlushResult result;
    result.kafka_configured = true;
    result.error = e.what();
    logger.warning("[报告存储] Kafka 配置无效，消息保留在待投递队列: %s", e.what());
    return result;
  }
  return flush(kafka);
}

FlushResult ReportStorage::flush(const std::optional<KafkaSettings>& kafka) {
  std::lock_guard flush_lock(flush_mutex_);
  try {
    return flush_locked(kafka);
  } catch (const std::exception& e) {
    FlushResult result;
    result.kafka_configured = kafka.has_value();
    result.error = e.what();
    logger.warning("[报告存储] 刷新失败: %s", e.what());
    return result;
  }
}

FlushResult ReportStorage::flush_locked(const std::optional<KafkaSettings>& kafka) {
  FlushResult result;
  result.kafka_configured = kafka.has_value();
  if (!kafka) {
    {
      std::lock_guard lock(mutex_);
      result.pending = count_pending(db());
    }
    if (result.pending > 0) {
      logger.info("[报告存储] 未配置 KAFKA_BOOTSTRAP_SERVERS，%d 条消息保留在待投递队列",
                  result.pending);
    }
    return result;
  }

  std::int64_t after_id = 0;
  for (;;) {
    std::vector<OutboxRow> rows;
    {
      std::lock_guard lock(mutex_);
      rows = read_outbox(db(), true, after_id, kDeliveryBatch);
    }
    if (rows.empty()) break;
    after_id = rows.back().id;
    std::vector<OutboxMessage> batch;
    batch.reserve(rows.size());
    for (auto& row : rows) {
      batch.push_back(
          OutboxMessage{row.id, std::move(row.kind), std::move(row.key), std::move(row.payload)});
    }
    // The network wait happens without the connection lock: saves go on meanwhile.
    DeliveryOutcome outcome = deliver(batch, *kafka);
    {
      std::lock_guard lock(mutex_);
      record_outcome(db(), outcome);
    }
    result.delivered += outcome.delivered.size();
    if (!outcome.failed.empty()) {
      result.error = outcome.error;
      break;  // the broker is not taking messages now; the rest waits for the next flush
    }
  }
  {
    std::lock_guard lock(mutex_);
    result.pending = count_pending(db());
  }
  if (!result.error.empty()) {
    logger.warning("[报告存储] Kafka 投递失败，%d 条消息待下次重试 (本次已投递 %d 条) err=%s",
                   result.pending, result.delivered, result.error);
  } else if (result.delivered > 0) {
    logger.info("[报告存储] Kafka 投递完成 | 已投递=%d", result.delivered);
  }
  return result;
}

ReportStorage& default_storage() {
  static ReportStorage storage(report_root());
  return storage;
}

}  // namespace zorvane::report
