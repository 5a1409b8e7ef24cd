#include "zorvane/report/sqlite_db.hpp"

#include <chrono>
#include <stdexcept>
#include <thread>

namespace zorvane::report {

namespace {

constexpr int kBusyTimeoutMs = 5000;

// Switches to WAL. A database still in rollback mode (made by hand or by an old version)
// needs a moment to itself for that, and SQLite answers BUSY at once, without waiting, while
// another process opens it too; so the switch is tried again for as long as a busy lock
// would be waited for.
void enter_wal(sqlite3* db, const std::filesystem::path& path) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  while (true) {
    char* err = nullptr;
    const int rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, &err);
    std::string message = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    if (rc == SQLITE_OK) return;
    if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline)
      throw std::runtime_error("报告数据库执行失败: " + message + " (db=" + path.string() + ")");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

SqliteDb::SqliteDb(const std::filesystem::path& path) : path_(path) {
  int rc =
      sqlite3_open_v2(path.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error("打开报告数据库失败: " + message + " (db=" + path.string() + ")");
  }
  sqlite3_extended_result_codes(db_, 1);
  // Short-lived processes open, write once and exit. Checkpointing and deleting the WAL on
  // every close costs two fsyncs; keep the WAL instead and let SQLite's automatic checkpoint
  // fold it into the database. The checkpoint runs every 256 pages and the file is cut back
  // to 1 MiB afterwards, because every open scans the whole WAL.
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  int persist = 1;
  sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  try {
    enter_wal(db_, path_);
    // In WAL mode NORMAL keeps every commit across a process crash (the WAL is written before
    // COMMIT returns); only a power loss can drop the newest commits. FULL would add an fsync
    // of about 10 ms to every save, on the path of every brief served from cache.
    exec("PRAGMA synchronous=NORMAL");
    exec("PRAGMA foreign_keys=ON");
    exec("PRAGMA wal_autocheckpoint=256");
    exec("PRAGMA journal_size_limit=1048576");
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

SqliteDb::~SqliteDb() {
  if (db_) sqlite3_close_v2(db_);
}

void SqliteDb::fail(std::string_view what) const {
  throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db_) +
                           " (db=" + path_.string() + ")");
}

void SqliteDb::exec(std::string_view sql) {
  std::string text(sql);
  char* err = nullptr;
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string message = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    throw std::runtime_error("报告数据库执行失败: " + message + " (db=" + path_.string() + ")");
  }
}

std::int64_t SqliteDb::last_insert_id() const {
  return sqlite3_last_insert_rowid(db_);
}

std::int64_t SqliteDb::changes() const {
  return sqlite3_changes64(db_);
}

SqliteStatement::SqliteStatement(SqliteDb& db, std::string_view sql) : db_(db) {
  if (sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
      SQLITE_OK) {
    db.fail("报告数据库语句准备失败");
  }
}

SqliteStatement::~SqliteStatement() {
  sqlite3_finalize(stmt_);
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
  if (sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) !=
      SQLITE_OK) {
    db_.fail("报告数据库参数绑定失败");
  }
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, const std::optional<std::string>& text) {
  if (!text) {
    if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) db_.fail("报告数据库参数绑定失败");
    return *this;
  }
  return bind(index, std::string_view(*text));
}

SqliteStatement& SqliteStatement::bind(int index, std::int64_t number) {
  if (sqlite3_bind_int64(stmt_, index, number) != SQLITE_OK) db_.fail("报告数据库参数绑定失败");
  return *this;
}

bool SqliteStatement::step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  db_.fail("报告数据库写入/读取失败");
}

void SqliteStatement::run() {
  while (step()) {
  }
  sqlite3_reset(stmt_);  // ready to run again with new bindings
}

std::int64_t SqliteStatement::column_int(int index) const {
  return sqlite3_column_int64(stmt_, index);
}

std::optional<std::string> SqliteStatement::column_text(int index) const {
  if (sqlite3_column_type(stmt_, index) == SQLITE_NULL) return std::nullopt;
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
  int size = sqlite3_column_bytes(stmt_, index);
  return std::string(text ? text : "", static_cast<std::size_t>(size));
}

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) {
  db_.exec("BEGIN IMMEDIATE");
}

SqliteTransaction::~SqliteTransaction() {
  if (!done_) {
    // Rolling back a transaction SQLite already aborted reports an error; nothing to undo then.
    sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void SqliteTransaction::commit() {
  db_.exec("COMMIT");
  done_ = true;
}

}  // namespace zorvane::report
