#include "zorvane/report/report_storage.hpp"

#include <stdexcept>

#include "zorvane/report/claim_owner.hpp"
#include "zorvane/report/message_id.hpp"
#include "zorvane/report/report_root.hpp"
#include "zorvane/report/sqlite_db.hpp"
#include "zorvane/utils/atomic_file.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/temp_files.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::report {

namespace {

using utils::logger;

// Messages claimed per batch; bounds memory when much has piled up.
constexpr std::int64_t kDeliveryBatch = 500;
// A claim outlives the longest delivery call by this much before others may take it over.
constexpr std::chrono::milliseconds kLeaseMargin{60'000};

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
  created_at TEXT NOT NULL,
  last_bar_date TEXT
);
CREATE INDEX IF NOT EXISTS stock_reports_lookup
  ON stock_reports (code, analysis_date, llm_client_type);
)sql";

// Columns added after the first release of the schema: a database made before them gets
// them on open, with NULL in the rows it already holds.
struct AddedColumn {
  std::string_view table;
  std::string_view column;
};
constexpr AddedColumn kAddedColumns[] = {
    {"sumora_reports", "brief_status"},   {"sumora_reports", "gate_checks"},
    {"stock_reports", "decision_status"}, {"stock_reports", "gate_checks"},
    {"stock_reports", "last_bar_date"},
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

std::int64_t max_outbox_id(SqliteDb& db) {
  SqliteStatement st(db, "SELECT COALESCE(MAX(id), 0) FROM outbox");
  return st.step() ? st.column_int(0) : 0;
}

// The report root and the day directories of the Markdown copies are where our atomic writes
// leave temporary files when a process dies mid-write.
void remove_stale_temp_files_under(const std::filesystem::path& root) {
  utils::remove_stale_temp_files(root);
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(root, ec)) {
    if (entry.is_directory(ec) && !entry.is_symlink(ec) &&
        utils::try_parse_date(entry.path().filename().string())) {
      utils::remove_stale_temp_files(entry.path());
    }
  }
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
    remove_stale_temp_files_under(root_);
    auto db = std::make_unique<SqliteDb>(database_path());
    db->exec(kSchema);
    outbox::prepare(*db);
    add_missing_columns(*db);
    db_ = std::move(db);
  }
  return *db_;
}

std::vector<std::string> ReportStorage::owing_sinks(SqliteDb& d, std::string_view kind,
                                                    std::string_view key) {
  std::vector<std::string> sinks{std::string(kKafkaSink)};
  for (const auto& rule : sink_rules_) {
    if (rule.owes && !rule.owes(kind)) continue;
    if (rule.once_per_key && rule.once_per_key(kind) &&
        outbox::sink_has_key(d, rule.name, kind, key))
      continue;
    sinks.push_back(rule.name);
  }
  return sinks;
}

void ReportStorage::add_sink(SinkRule rule) {
  if (rule.name.empty() || rule.name == kKafkaSink) {
    throw std::invalid_argument("无效的投递目标名称: " + utils::quoted_text(rule.name));
  }
  std::lock_guard lock(mutex_);
  std::erase_if(sink_rules_, [&](const SinkRule& r) { return r.name == rule.name; });
  sink_rules_.push_back(std::move(rule));
}

std::int64_t ReportStorage::save_message(
    std::string_view kind, const std::string& key,
    const std::function<std::string(const std::string&, const std::string&)>& payload,
    const std::function<void(SqliteDb&, const std::string&)>& store) {
  const std::string created_at = utc_now_text();
  const std::string message_id = new_message_id();
  return queue(kind, key, message_id, created_at, payload(message_id, created_at), store);
}

std::int64_t ReportStorage::queue(std::string_view kind, const std::string& key,
                                  const std::string& message_id, const std::string& created_at,
                                  const std::string& payload,
                                  const std::function<void(SqliteDb&, const std::string&)>& store) {
  std::lock_guard lock(mutex_);
  SqliteDb& d = db();
  SqliteTransaction tx(d);
  if (store) store(d, created_at);
  std::int64_t id =
      outbox::enqueue(d, kind, key, payload, message_id, created_at, owing_sinks(d, kind, key));
  tx.commit();
  return id;
}

std::int64_t ReportStorage::save_sumora(const SumoraReport& report) {
  if (utils::trim(report.market_type).empty()) {
    throw std::invalid_argument("SumoraReport.market_type 不能为空");
  }
  if (utils::trim(report.analysis_time).empty()) {
    throw std::invalid_argument("SumoraReport.analysis_time 不能为空");
  }
  return save_message(
      "sumora", message_key(report),
      [&](const std::string& message_id, const std::string& created_at) {
        return message_json(report, created_at, message_id);
      },
      [&](SqliteDb& d, const std::string& created_at) {
        SqliteStatement insert(d,
                               "INSERT INTO sumora_reports (market_type, analysis_time, content, "
                               "llm_client_type, llm_model, created_at, brief_status, "
                               "gate_checks) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        insert.bind(1, report.market_type)
            .bind(2, report.analysis_time)
            .bind(3, report.content)
            .bind(4, report.llm_client_type)
            .bind(5, report.llm_model)
            .bind(6, created_at)
            .bind(7, report.brief_status)
            .bind(8, report.gate_checks)
            .run();
      });
}

std::int64_t ReportStorage::save_stock_report(const StockReport& report) {
  utils::parse_iso_date(report.analysis_date);  // a date is part of the file path
  check_file_component(report.code, "股票代码");
  check_file_component(report.llm_client_type, "模型类型");
  const std::string client = utils::to_lower(report.llm_client_type);
  const std::string created_at = utc_now_text();
  const std::string message_id = new_message_id();
  const std::string payload = message_json(report, created_at, message_id);  // checks decision

  // The readable copy first: if the database write then fails, the next run rewrites it.
  utils::write_file_atomic(root_ / report.analysis_date / (report.code + "_" + client + ".md"),
                           report_markdown(report, created_at));

  return queue("stock_report", message_key(report), message_id, created_at, payload,
               [&](SqliteDb& d, const std::string& at) {
                 SqliteStatement insert(
                     d,
                     "INSERT INTO stock_reports (code, name, market_type, analysis_date, "
                     "llm_client_type, llm_model, report, summary, decision, created_at, "
                     "decision_status, gate_checks, last_bar_date) "
                     "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
                 insert.bind(1, report.code)
                     .bind(2, report.name)
                     .bind(3, report.market_type)
                     .bind(4, report.analysis_date)
                     .bind(5, client)
                     .bind(6, report.llm_model)
                     .bind(7, report.report)
                     .bind(8, report.summary)
                     .bind(9, stored_decision_json(report))
                     .bind(10, at)
                     .bind(11, report.decision_status)
                     .bind(12, report.gate_checks)
                     .bind(13, report.last_bar_date)
                     .run();
               });
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
  std::vector<outbox::SinkRow> rows;
  {
    std::lock_guard lock(mutex_);
    rows = outbox::rows(db(), kKafkaSink, pending_only);
  }
  std::vector<OutboxRow> out;
  out.reserve(rows.size());
  for (auto& r : rows) {
    out.push_back(OutboxRow{r.message.id, std::move(r.message.message_id),
                            std::move(r.message.kind), std::move(r.message.key),
                            std::move(r.message.payload), std::move(r.state), r.attempts,
                            std::move(r.last_error), std::move(r.delivered_at)});
  }
  return out;
}

std::vector<outbox::SinkCounts> ReportStorage::outbox_counts() {
  std::lock_guard lock(mutex_);
  return outbox::counts(db());
}

std::vector<outbox::FailedDelivery> ReportStorage::failed_deliveries() {
  std::lock_guard lock(mutex_);
  return outbox::failed(db());
}

std::int64_t ReportStorage::retry_failed(std::optional<std::int64_t> outbox_id,
                                         std::optional<std::string> sink) {
  std::lock_guard lock(mutex_);
  return outbox::retry(db(), outbox_id,
                       sink ? std::optional<std::string_view>(*sink) : std::nullopt);
}

void ReportStorage::warn_failed(std::string_view sink, std::string_view label) {
  std::vector<outbox::FailedDelivery> failed;
  {
    std::lock_guard lock(mutex_);
    failed = outbox::failed(db(), sink);
  }
  if (failed.empty()) return;
  logger.warning(
      "[报告存储] %s 有 %d 条消息被永久拒绝，不再自动投递 (首条 outbox_id=%d message_id=%s "
      "err=%s)；修正后可用 zorvane-outbox retry 重新投递",
      label, failed.size(), failed.front().outbox_id, failed.front().message_id,
      failed.front().error);
}

FlushResult ReportStorage::flush() {
  std::optional<KafkaSettings> kafka;
  try {
    kafka = KafkaSettings::from_env();
  } catch (const std::exception& e) {
    FlushResult result;
    result.configured = true;
    result.error = e.what();
    logger.warning("[报告存储] Kafka 配置无效，消息保留在待投递队列: %s", e.what());
    return result;
  }
  return flush(kafka);
}

FlushResult ReportStorage::flush(const std::optional<KafkaSettings>& kafka) {
  if (kafka) {
    const KafkaSettings settings = *kafka;
    SinkDelivery sink;
    sink.name = std::string(kKafkaSink);
    sink.label = "Kafka";
    sink.kinds = settings.kinds();
    // Producer set-up, the delivery timeout, the wait margin and the purge after it.
    sink.max_delivery_time = settings.delivery_timeout + std::chrono::milliseconds(5000);
    sink.deliver = [settings](const std::vector<OutboxMessage>& batch) {
      return deliver(batch, settings);
    };
    return flush_sink(sink);
  }
  FlushResult result;
  try {
    {
      std::lock_guard lock(mutex_);
      result.pending = static_cast<std::size_t>(outbox::pending_count(db(), kKafkaSink));
    }
    if (result.pending > 0) {
      logger.info("[报告存储] 未配置 KAFKA_BOOTSTRAP_SERVERS，%d 条消息保留在待投递队列",
                  result.pending);
    }
    warn_failed(kKafkaSink, "Kafka");
  } catch (const std::exception& e) {
    result.error = e.what();
    logger.warning("[报告存储] 刷新失败: %s", e.what());
  }
  return result;
}

FlushResult ReportStorage::flush_sink(const SinkDelivery& sink) {
  FlushResult result;
  result.configured = true;
  try {
    outbox::ClaimRequest request;
    request.sink = sink.name;
    request.owner = new_claim_owner();
    request.kinds = sink.kinds;
    request.limit = kDeliveryBatch;
    request.lease = sink.max_delivery_time + kLeaseMargin;
    {
      std::lock_guard lock(mutex_);
      request.max_id = max_outbox_id(db());  // what is queued meanwhile waits for the next flush
    }
    for (;;) {
      std::vector<OutboxMessage> batch;
      {
        std::lock_guard lock(mutex_);
        batch = outbox::claim(db(), request);
      }
      if (batch.empty()) break;
      std::vector<std::int64_t> claimed;
      claimed.reserve(batch.size());
      for (const auto& m : batch) claimed.push_back(m.id);
      // The network wait happens without the connection lock: saves go on meanwhile.
      DeliveryOutcome outcome;
      try {
        outcome = sink.deliver(batch);
      } catch (const std::exception& e) {
        outcome = DeliveryOutcome();
        outcome.error = e.what();
      }
      {
        std::lock_guard lock(mutex_);
        outbox::record(db(), sink.name, request.owner, claimed, outcome);
      }
      result.delivered += outcome.delivered.size();
      result.rejected += outcome.rejected.size();
      if (outcome.delivered.size() + outcome.rejected.size() < batch.size()) {
        result.error = outcome.error.empty() ? "未收到投递确认" : outcome.error;
        break;  // the sink is not taking messages now; the rest waits for the next flush
      }
    }
    {
      std::lock_guard lock(mutex_);
      result.pending = static_cast<std::size_t>(outbox::pending_count(db(), sink.name));
    }
    if (!result.error.empty()) {
      logger.warning("[报告存储] %s 投递失败，%d 条消息待下次重试 (本次已投递 %d 条) err=%s",
                     sink.label, result.pending, result.delivered, result.error);
    } else if (result.delivered > 0) {
      logger.info("[报告存储] %s 投递完成 | 已投递=%d", sink.label, result.delivered);
    }
    warn_failed(sink.name, sink.label);
  } catch (const std::exception& e) {
    result.error = e.what();
    logger.warning("[报告存储] 刷新失败: %s", e.what());
  }
  return result;
}

ReportStorage& default_storage() {
  static ReportStorage storage(report_root());
  return storage;
}

}  // namespace zorvane::report
