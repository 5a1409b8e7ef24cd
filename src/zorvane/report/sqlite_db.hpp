#pragma once
// A small RAII layer over SQLite: one connection, prepared statements, and a transaction guard
// that rolls back unless committed. Errors are std::runtime_error naming the database file.

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zorvane::report {

class SqliteDb;

class SqliteStatement {
 public:
  SqliteStatement(SqliteDb& db, std::string_view sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Parameters are 1-based, as in SQL.
  SqliteStatement& bind(int index, std::string_view text);
  SqliteStatement& bind(int index, const std::string& text) {
    return bind(index, std::string_view(text));
  }
  SqliteStatement& bind(int index, const char* text) { return bind(index, std::string_view(text)); }
  SqliteStatement& bind(int index, const std::optional<std::string>& text);  // nullopt: NULL
  SqliteStatement& bind(int index, std::int64_t number);

  // Advances; true while a row is available.
  bool step();
  // Runs a statement that returns no rows, then resets it so it can run again.
  void run();

  std::int64_t column_int(int index) const;
  std::optional<std::string> column_text(int index) const;  // nullopt for NULL

 private:
  SqliteDb& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDb {
 public:
  // Opens (creating when missing) the database file in WAL mode, synchronous=NORMAL.
  explicit SqliteDb(const std::filesystem::path& path);
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  void exec(std::string_view sql);
  std::int64_t last_insert_id() const;
  // Rows changed by the last INSERT, UPDATE or DELETE.
  std::int64_t changes() const;
  sqlite3* handle() const { return db_; }
  const std::filesystem::path& path() const { return path_; }

  // Throws std::runtime_error "<what>: <sqlite message> (db=<path>)".
  [[noreturn]] void fail(std::string_view what) const;

 private:
  std::filesystem::path path_;
  sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE on construction (the write lock is taken up front, so two writers never
// deadlock on upgrade); ROLLBACK on destruction unless commit() ran.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteDb& db);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;
  void commit();

 private:
  SqliteDb& db_;
  bool done_ = false;
};

}  // namespace zorvane::report
