#include "zorvane/report/report_storage.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/report/report_root.hpp"
#include "zorvane/report/sqlite_probe.hpp"
#include "zorvane/utils/atomic_file.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace zorvane::report {
namespace {

using zv_test::EnvGuard;
using zv_test::TempDir;

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Row count of a table, read through a separate connection (as another process would).
long long count_rows(const std::filesystem::path& db_path, const std::string& table) {
  return test::query_int(db_path, "SELECT COUNT(*) FROM " + table);
}

using test::exec_sql;

StockReport sample_stock(std::string code = "sh.600519") {
  StockReport r;
  r.code = std::move(code);
  r.name = "贵州茅台";
  r.market_type = "A";
  r.analysis_date = "2024-05-10";
  r.llm_client_type = "offline";
  r.llm_model = "offline";
  r.report = "## 分析\n趋势向上";
  r.summary = "观望";
  r.decision_json = R"({"action": "观望", "stop_loss": 1650.5, "targets": [1800.0]})";
  return r;
}

TEST(ReportRoot, ResolutionOrder) {
  TempDir project;
  EnvGuard root("ZORVANE_PROJECT_ROOT", project.str());
  EnvGuard home("HOME", "/home/tester");
  {
    EnvGuard a("REPORT_DIR", std::nullopt), b("CANDLEX_CENTER", std::nullopt);
    EXPECT_EQ(report_root(), project.path() / "report");
  }
  {
    EnvGuard a("REPORT_DIR", "  out/ "), b("CANDLEX_CENTER", "/data/center");
    EXPECT_EQ(report_root(), project.path() / "out");  // REPORT_DIR wins, relative to project
  }
  {
    EnvGuard a("REPORT_DIR", "~/reports"), b("CANDLEX_CENTER", std::nullopt);
    EXPECT_EQ(report_root(), std::filesystem::path("/home/tester/reports"));
  }
  {
    EnvGuard a("REPORT_DIR", "   "), b("CANDLEX_CENTER", "/data/center");
    EXPECT_EQ(report_root(), std::filesystem::path("/data/center/report"));
  }
  {
    EnvGuard a("REPORT_DIR", std::nullopt), b("CANDLEX_CENTER", "center");
    EXPECT_EQ(report_root(), project.path() / "center" / "report");
  }
}

TEST(ReportStorage, SaveSumoraStoresReportAndQueuesMessage) {
  TempDir dir;
  ReportStorage storage(dir.path() / "nested" / "root");  // created on first use
  std::int64_t id =
      storage.save_sumora({"A", "**▋ 简报** \"引号\"", "2024-05-10", "deepseek", "deepseek-chat"});
  std::int64_t id2 = storage.save_sumora({"US", "brief", "2024-05-10", std::nullopt, std::nullopt});
  EXPECT_LT(id, id2);

  auto rows = storage.outbox();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id, id);
  EXPECT_EQ(rows[0].kind, "sumora");
  EXPECT_EQ(rows[0].key, "A:2024-05-10");
  EXPECT_EQ(rows[0].attempts, 0);
  EXPECT_FALSE(rows[0].sent_at);
  auto msg = utils::parse_json(rows[0].payload);
  EXPECT_STREQ(msg["type"].GetString(), "sumora");
  EXPECT_STREQ(msg["market_type"].GetString(), "A");
  EXPECT_STREQ(msg["analysis_time"].GetString(), "2024-05-10");
  EXPECT_STREQ(msg["content"].GetString(), "**▋ 简报** \"引号\"");
  EXPECT_STREQ(msg["llm_client_type"].GetString(), "deepseek");
  EXPECT_STREQ(msg["llm_model"].GetString(), "deepseek-chat");
  EXPECT_TRUE(msg["created_at"].IsString());
  auto msg2 = utils::parse_json(rows[1].payload);
  EXPECT_TRUE(msg2["llm_client_type"].IsNull());
  EXPECT_TRUE(msg2["llm_model"].IsNull());
  EXPECT_EQ(count_rows(storage.database_path(), "sumora_reports"), 2);

  EXPECT_THROW(storage.save_sumora({" ", "x", "2024-05-10", {}, {}}), std::invalid_argument);
  EXPECT_THROW(storage.save_sumora({"A", "x", "", {}, {}}), std::invalid_argument);
  EXPECT_EQ(storage.outbox().size(), 2u);
}

TEST(ReportStorage, StockReportRowMessageAndMarkdownCopy) {
  TempDir dir;
  ReportStorage storage(dir.path());
  EXPECT_FALSE(storage.exists("sh.600519", "2024-05-10", "offline"));
  StockReport r = sample_stock();
  r.llm_client_type = "Offline";
  storage.save_stock_report(r);

  EXPECT_TRUE(storage.exists("sh.600519", "2024-05-10", "offline"));
  EXPECT_TRUE(storage.exists("sh.600519", "2024-05-10", "OFFLINE"));
  EXPECT_FALSE(storage.exists("sh.600519", "2024-05-10", "deepseek"));
  EXPECT_FALSE(storage.exists("sh.600519", "2024-05-11", "offline"));
  EXPECT_FALSE(storage.exists("sz.000001", "2024-05-10", "offline"));

  auto rows = storage.outbox();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].kind, "stock_report");
  EXPECT_EQ(rows[0].key, "sh.600519:2024-05-10");
  auto msg = utils::parse_json(rows[0].payload);
  EXPECT_STREQ(msg["type"].GetString(), "stock_report");
  EXPECT_STREQ(msg["name"].GetString(), "贵州茅台");
  ASSERT_TRUE(msg["decision"].IsObject());  // embedded, not a string
  EXPECT_EQ(msg["decision"]["stop_loss"].GetDouble(), 1650.5);
  EXPECT_STREQ(msg["decision"]["action"].GetString(), "观望");

  auto md_path = dir.path() / "2024-05-10" / "sh.600519_offline.md";
  std::string md = read_file(md_path);
  EXPECT_NE(md.find("贵州茅台（sh.600519）"), std::string::npos) << md;
  EXPECT_NE(md.find("趋势向上"), std::string::npos);
  EXPECT_NE(md.find("观望"), std::string::npos);
  EXPECT_NE(md.find("\"stop_loss\": 1650.5"), std::string::npos) << md;

  // No decision and no market: nulls in the message, no decision section in the copy.
  StockReport plain = sample_stock("us.AAPL");
  plain.decision_json.reset();
  plain.market_type.reset();
  storage.save_stock_report(plain);
  auto msg2 = utils::parse_json(storage.outbox().back().payload);
  EXPECT_TRUE(msg2["decision"].IsNull());
  EXPECT_TRUE(msg2["market_type"].IsNull());
  EXPECT_EQ(read_file(dir.path() / "2024-05-10" / "us.AAPL_offline.md").find("交易决策"),
            std::string::npos);

  // A second save of the same stock and day rewrites the copy and queues a second message.
  StockReport again = sample_stock();
  again.report = "第二版";
  storage.save_stock_report(again);
  EXPECT_NE(read_file(md_path).find("第二版"), std::string::npos);
  EXPECT_EQ(storage.outbox().size(), 3u);
}

TEST(ReportStorage, DatabaseOfAnEarlierVersionOpensAndGainsTheLastBarDate) {
  TempDir dir;
  // The stock_reports table as earlier versions made it, with one report.
  exec_sql(dir.path() / "reports.db",
           "CREATE TABLE stock_reports (id INTEGER PRIMARY KEY AUTOINCREMENT, code TEXT NOT NULL, "
           "name TEXT NOT NULL, market_type TEXT, analysis_date TEXT NOT NULL, llm_client_type "
           "TEXT NOT NULL, llm_model TEXT NOT NULL, report TEXT NOT NULL, summary TEXT NOT NULL, "
           "decision TEXT, created_at TEXT NOT NULL);"
           "INSERT INTO stock_reports (code, name, analysis_date, llm_client_type, llm_model, "
           "report, summary, created_at) VALUES ('sh.600519', 'x', '2024-05-09', 'offline', "
           "'offline', 'r', 's', '2024-05-09T08:00:00Z');");
  ReportStorage storage(dir.path());
  EXPECT_TRUE(storage.exists("sh.600519", "2024-05-09", "offline"));
  StockReport r = sample_stock();
  r.last_bar_date = "2024-03-29";
  storage.save_stock_report(r);
  auto msg = utils::parse_json(storage.outbox().back().payload);
  EXPECT_STREQ(msg["last_bar_date"].GetString(), "2024-03-29");
  EXPECT_NE(read_file(dir.path() / "2024-05-10" / "sh.600519_offline.md").find("2024-03-29"),
            std::string::npos);
  EXPECT_EQ(
      count_rows(dir.path() / "reports.db", "stock_reports WHERE last_bar_date = '2024-03-29'"), 1);
  EXPECT_EQ(count_rows(dir.path() / "reports.db", "stock_reports WHERE last_bar_date IS NULL"), 1);
}

// Strict JSON consumers reject NaN and Infinity: what is stored and delivered writes null.

// One text value read through a separate connection ("" for NULL or no row).
std::string query_text(const std::filesystem::path& db_path, const std::string& sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  std::string out;
  if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0) != nullptr) {
    out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

TEST(ReportStorage, GateVerdictSitsBesideTheDecisionAndOlderDatabasesStillOpen) {
  TempDir dir;
  // A database written before the gate's columns existed, holding one report.
  exec_sql(dir.path() / "reports.db",
           "CREATE TABLE stock_reports (id INTEGER PRIMARY KEY AUTOINCREMENT, code TEXT NOT NULL, "
           "name TEXT NOT NULL, market_type TEXT, analysis_date TEXT NOT NULL, llm_client_type "
           "TEXT NOT NULL, llm_model TEXT NOT NULL, report TEXT NOT NULL, summary TEXT NOT NULL, "
           "decision TEXT, created_at TEXT NOT NULL);"
           "CREATE TABLE sumora_reports (id INTEGER PRIMARY KEY AUTOINCREMENT, market_type TEXT "
           "NOT NULL, analysis_time TEXT NOT NULL, content TEXT NOT NULL, llm_client_type TEXT, "
           "llm_model TEXT, created_at TEXT NOT NULL);"
           "INSERT INTO stock_reports (code, name, analysis_date, llm_client_type, llm_model, "
           "report, summary, created_at) VALUES ('sz.000001', 'x', '2024-05-09', 'offline', "
           "'offline', 'r', 's', '2024-05-09T00:00:00Z');");
  ReportStorage storage(dir.path());
  EXPECT_TRUE(storage.exists("sz.000001", "2024-05-09", "offline"));

  StockReport r = sample_stock();
  r.decision_status = "rejected";
  r.gate_checks = R"([{"name": "decision.min_rrr", "passed": false, "severity": "critical", )"
                  R"("detail": "rrr 低于 min_rrr"}])";
  storage.save_stock_report(r);
  SumoraReport brief{"A", "简报", "2024-05-10", std::nullopt, std::nullopt};
  brief.brief_status = "corrected";
  brief.gate_checks = "[]";
  storage.save_sumora(brief);

  const auto db = dir.path() / "reports.db";
  EXPECT_EQ(count_rows(db, "stock_reports"), 2);
  EXPECT_EQ(query_text(db, "SELECT decision_status FROM stock_reports WHERE code = 'sh.600519'"),
            "rejected");
  EXPECT_EQ(query_text(db, "SELECT decision_status FROM stock_reports WHERE code = 'sz.000001'"),
            "");  // older rows: NULL
  EXPECT_EQ(query_text(db, "SELECT brief_status FROM sumora_reports"), "corrected");

  auto msg = utils::parse_json(storage.outbox()[0].payload);
  EXPECT_STREQ(msg["decision_status"].GetString(), "rejected");
  ASSERT_TRUE(msg["gate_checks"].IsArray());
  EXPECT_STREQ(msg["gate_checks"][0]["name"].GetString(), "decision.min_rrr");
  EXPECT_FALSE(msg["decision"].HasMember("decision_status"));  // the decision stays the contract's
  auto brief_msg = utils::parse_json(storage.outbox()[1].payload);
  EXPECT_STREQ(brief_msg["brief_status"].GetString(), "corrected");
  EXPECT_TRUE(brief_msg["gate_checks"].IsArray());
  EXPECT_NE(read_file(dir.path() / "2024-05-10" / "sh.600519_offline.md")
                .find("决策未通过可信校验（rejected），不应据此操作。"),
            std::string::npos);

  r.gate_checks = R"({"name": "not a list"})";
  EXPECT_THROW(storage.save_stock_report(r), std::invalid_argument);
}

// Strict JSON consumers reject NaN and Infinity: what is stored and delivered writes null.

TEST(ReportStorage, NonFiniteNumbersAreStoredAndDeliveredAsNull) {
  TempDir dir;
  ReportStorage storage(dir.path());
  StockReport r = sample_stock();
  r.decision_json = R"({"action": "观望", "stop_loss": NaN, "target_1": -Infinity, "rrr": 1.5})";
  storage.save_stock_report(r);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(storage.database_path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT decision FROM stock_reports", -1, &st, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  const std::string stored = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(db);

  const std::string md = read_file(dir.path() / "2024-05-10" / "sh.600519_offline.md");
  const std::string fenced =
      md.substr(md.find("```json\n") + 8, md.rfind("\n```") - md.find("```json\n") - 8);
  for (const std::string& text : {storage.outbox().at(0).payload, stored, fenced}) {
    rapidjson::Document strict;
    strict.Parse<rapidjson::kParseDefaultFlags>(text.c_str());  // NaN/Infinity not allowed
    ASSERT_FALSE(strict.HasParseError()) << text;
    const auto& decision = strict.HasMember("decision") ? strict["decision"] : strict;
    EXPECT_TRUE(decision["stop_loss"].IsNull()) << text;
    EXPECT_TRUE(decision["target_1"].IsNull()) << text;
    EXPECT_EQ(decision["rrr"].GetDouble(), 1.5) << text;
  }
}

TEST(ReportStorage, RejectsInputThatWouldEscapeTheReportRoot) {
  TempDir dir;
  ReportStorage storage(dir.path() / "root");
  auto bad_date = sample_stock();
  bad_date.analysis_date = "../../x";
  auto bad_code = sample_stock("../etc/passwd");
  auto bad_client = sample_stock();
  bad_client.llm_client_type = "..";
  auto bad_decision = sample_stock();
  bad_decision.decision_json = "{not json";
  auto array_decision = sample_stock();
  array_decision.decision_json = "[1, 2]";
  for (const auto* r : {&bad_date, &bad_code, &bad_client, &bad_decision, &array_decision}) {
    EXPECT_THROW(storage.save_stock_report(*r), std::invalid_argument) << r->code;
  }
  EXPECT_TRUE(storage.outbox(false).empty());
  // Nothing was written anywhere, inside or outside the root.
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "x"));
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().extension(), ".md") << entry.path();
  }
}

TEST(ReportStorage, ReportAndMessageAreOneTransaction) {
  TempDir dir;
  ReportStorage storage(dir.path());
  storage.save_sumora({"A", "first", "2024-05-09", {}, {}});
  // Break the outbox behind the storage's back: the report insert must roll back with it.
  exec_sql(storage.database_path(),
           "CREATE TRIGGER broken BEFORE INSERT ON outbox BEGIN SELECT RAISE(ABORT, 'outbox "
           "broken'); END;");
  try {
    storage.save_sumora({"A", "second", "2024-05-10", {}, {}});
    FAIL() << "expected a storage error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("outbox broken"), std::string::npos) << e.what();
  }
  EXPECT_THROW(storage.save_stock_report(sample_stock()), std::runtime_error);
  EXPECT_EQ(count_rows(storage.database_path(), "sumora_reports"), 1);
  EXPECT_EQ(count_rows(storage.database_path(), "stock_reports"), 0);
  EXPECT_FALSE(storage.exists("sh.600519", "2024-05-10", "offline"));

  exec_sql(storage.database_path(), "DROP TRIGGER broken;");
  storage.save_sumora({"A", "third", "2024-05-10", {}, {}});  // the connection still works
  EXPECT_EQ(count_rows(storage.database_path(), "sumora_reports"), 2);
  EXPECT_EQ(storage.outbox().size(), 2u);
}

TEST(ReportStorage, UnwritableRootIsAnErrorOnSave) {
  TempDir dir;
  std::ofstream(dir.path() / "file") << "x";
  ReportStorage storage(dir.path() / "file" / "root");
  EXPECT_THROW(storage.save_sumora({"A", "x", "2024-05-10", {}, {}}), std::runtime_error);
  // flush reports the problem instead of throwing.
  utils::LogCapture logs;
  FlushResult r = storage.flush(std::nullopt);
  EXPECT_FALSE(r.error.empty());
  EXPECT_EQ(logs.matching("[报告存储] 刷新失败").size(), 1u);
}

TEST(ReportStorage, FlushWithoutKafkaKeepsMessagesAndLogsCountOnce) {
  TempDir dir;
  EnvGuard servers("KAFKA_BOOTSTRAP_SERVERS", "  ");  // blank counts as unset
  ReportStorage storage(dir.path());
  storage.save_sumora({"A", "x", "2024-05-10", {}, {}});
  storage.save_sumora({"HK", "y", "2024-05-10", {}, {}});
  utils::LogCapture logs;
  FlushResult r = storage.flush();
  EXPECT_FALSE(r.configured);
  EXPECT_EQ(r.pending, 2u);
  EXPECT_EQ(r.delivered, 0u);
  auto lines = logs.matching("[报告存储]");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("info|", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("2 条消息"), std::string::npos) << lines[0];
  EXPECT_EQ(storage.outbox().size(), 2u);
}

TEST(ReportStorage, ConcurrentWritersLoseNothing) {
  TempDir dir;
  ReportStorage shared(dir.path());
  ReportStorage other(dir.path());  // a second connection, as another process would have
  constexpr int kThreads = 6, kEach = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ReportStorage& s = t % 2 ? other : shared;
      for (int i = 0; i < kEach; ++i) {
        s.save_sumora(
            {"A", "t" + std::to_string(t) + "-" + std::to_string(i), "2024-05-10", {}, {}});
      }
    });
  }
  for (auto& th : threads) th.join();
  auto rows = shared.outbox();
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kThreads * kEach));
  std::set<std::string> contents;
  for (const auto& row : rows)
    contents.insert(utils::parse_json(row.payload)["content"].GetString());
  EXPECT_EQ(contents.size(), rows.size());
  EXPECT_EQ(count_rows(shared.database_path(), "sumora_reports"), kThreads * kEach);
}

TEST(ReportStorage, ProcessKilledAfterSaveLosesNothing) {
  TempDir dir;
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Child: save, then die without any clean-up (no destructors, no close).
    ReportStorage s(dir.path());
    s.save_sumora({"A", "saved before the crash", "2024-05-10", "offline", "offline"});
    s.save_stock_report(sample_stock());
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ReportStorage storage(dir.path());
  auto rows = storage.outbox();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(utils::parse_json(rows[0].payload)["content"].GetString(),
            std::string("saved before the crash"));
  EXPECT_TRUE(storage.exists("sh.600519", "2024-05-10", "offline"));
}

TEST(AtomicFile, ReplacesWholeOrNotAtAll) {
  TempDir dir;
  auto target = dir.path() / "sub" / "file.md";
  zorvane::utils::write_file_atomic(target, "old");
  zorvane::utils::write_file_atomic(target, "new content");
  EXPECT_EQ(read_file(target), "new content");

  // A directory in the way: the error names the path, the directory is untouched, no temp
  // file is left behind.
  auto blocked = dir.path() / "blocked";
  std::filesystem::create_directories(blocked / "inner");
  try {
    zorvane::utils::write_file_atomic(blocked, "x");
    FAIL() << "expected an error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(blocked.string()), std::string::npos) << e.what();
  }
  EXPECT_TRUE(std::filesystem::is_directory(blocked / "inner"));
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2);  // "sub" and "blocked" only
}

}  // namespace
}  // namespace zorvane::report
