// The outbox's state per sink: what each sink owes, claims, outcomes, retries, and the upgrade
// of databases written before delivery state was kept per sink.
#include "zorvane/report/outbox.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>
#include <thread>

#include "support/temp_dir.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/report/sqlite_probe.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace zorvane::report {
namespace {

using zv_test::TempDir;

using test::exec_sql;

outbox::SinkCounts counts_of(ReportStorage& s, const std::string& sink) {
  for (const auto& c : s.outbox_counts()) {
    if (c.sink == sink) return c;
  }
  return {sink, 0, 0, 0};
}

// The outbox as the previous program version wrote it: one delivered row, two pending ones
// (one with a failed attempt), and a brief row for the sumora table.
constexpr const char* kOldDatabase = R"sql(
CREATE TABLE sumora_reports (id INTEGER PRIMARY KEY AUTOINCREMENT, market_type TEXT NOT NULL,
  analysis_time TEXT NOT NULL, content TEXT NOT NULL, llm_client_type TEXT, llm_model TEXT,
  created_at TEXT NOT NULL);
CREATE TABLE outbox (id INTEGER PRIMARY KEY AUTOINCREMENT, kind TEXT NOT NULL,
  msg_key TEXT NOT NULL, payload TEXT NOT NULL, attempts INTEGER NOT NULL DEFAULT 0,
  last_error TEXT, created_at TEXT NOT NULL, sent_at TEXT);
CREATE INDEX outbox_pending ON outbox (id) WHERE sent_at IS NULL;
INSERT INTO sumora_reports VALUES (1, 'A', '2024-05-08', 'old', NULL, NULL, '2024-05-08T10:00:00Z');
INSERT INTO outbox VALUES (1, 'sumora', 'A:2024-05-08', '{"type":"sumora","content":"sent"}', 1,
  NULL, '2024-05-08T10:00:00Z', '2024-05-08T10:00:01Z');
INSERT INTO outbox VALUES (2, 'sumora', 'A:2024-05-09', '{"type":"sumora","content":"late"}', 3,
  'Local: Broker transport failure', '2024-05-09T10:00:00Z', NULL);
INSERT INTO outbox VALUES (3, 'stock_report', 'sh.600519:2024-05-09',
  '{"type":"stock_report","code":"sh.600519"}', 0, NULL, '2024-05-09T10:00:00Z', NULL);
)sql";

TEST(Outbox, OlderDatabaseKeepsItsKafkaBacklog) {
  TempDir dir;
  exec_sql(dir.path() / "reports.db", kOldDatabase);

  // Several processes may open an old database at once; the upgrade happens once.
  std::vector<std::thread> openers;
  for (int i = 0; i < 4; ++i) {
    openers.emplace_back([&] { ReportStorage(dir.path()).outbox_counts(); });
  }
  for (auto& t : openers) t.join();

  ReportStorage storage(dir.path());
  auto kafka = counts_of(storage, "kafka");
  EXPECT_EQ(kafka.pending, 2);
  EXPECT_EQ(kafka.delivered, 1);
  auto rows = storage.outbox();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id, 2);
  EXPECT_EQ(rows[0].attempts, 3);
  EXPECT_EQ(rows[0].last_error, "Local: Broker transport failure");
  std::set<std::string> ids;
  for (const auto& row : rows) {
    auto body = utils::parse_json(row.payload);
    ASSERT_TRUE(body.HasMember("message_id")) << row.payload;
    EXPECT_EQ(body["message_id"].GetString(), row.message_id);
    EXPECT_EQ(std::string(body.MemberBegin()->name.GetString()), "type");
    ids.insert(row.message_id);
  }
  EXPECT_EQ(ids.size(), 2u);
  EXPECT_EQ(storage.outbox(false)[0].sent_at, "2024-05-08T10:00:01Z");

  // New messages continue the numbering and join the backlog.
  EXPECT_EQ(storage.save_sumora({"A", "new", "2024-05-10", {}, {}}), 4);
  EXPECT_EQ(storage.outbox().size(), 3u);
}

TEST(Outbox, DeliveryTableWithoutProgressGainsIt) {
  TempDir dir;
  {
    ReportStorage storage(dir.path());
    storage.save_sumora({"A", "queued", "2024-05-10", {}, {}});
  }
  exec_sql(dir.path() / "reports.db", "ALTER TABLE outbox_delivery DROP COLUMN progress");
  ReportStorage storage(dir.path());
  SinkDelivery sink{
      "kafka", "Kafka", {}, std::chrono::seconds(5), [](const std::vector<OutboxMessage>& batch) {
        DeliveryOutcome outcome;
        for (const auto& m : batch) outcome.progress.emplace_back(m.id, "half");
        return outcome;
      }};
  EXPECT_EQ(storage.flush_sink(sink).pending, 1u);
  sink.deliver = [](const std::vector<OutboxMessage>& batch) {
    EXPECT_EQ(batch.at(0).progress, "half");
    DeliveryOutcome outcome;
    outcome.delivered.push_back(batch.at(0).id);
    return outcome;
  };
  EXPECT_EQ(storage.flush_sink(sink).delivered, 1u);
}

TEST(Outbox, EachSinkOwesWhatWasQueuedWhileItWasConfigured) {
  TempDir dir;
  ReportStorage storage(dir.path());
  storage.save_sumora({"A", "before the webhook", "2024-05-09", {}, {}});
  storage.add_sink({"webhook", [](std::string_view kind) { return kind == "sumora"; },
                    [](std::string_view) { return true; }});
  storage.save_sumora({"A", "first of the day", "2024-05-10", {}, {}});
  storage.save_sumora({"A", "again the same day", "2024-05-10", {}, {}});  // same key
  storage.save_sumora({"HK", "other market", "2024-05-10", {}, {}});
  storage.save_message("watchlist_summary", "watchlist:2024-05-10",
                       [](const std::string& id, const std::string& at) {
                         return R"({"type":"watchlist_summary","message_id":")" + id +
                                R"(","created_at":")" + at + "\"}";
                       });

  EXPECT_EQ(counts_of(storage, "kafka").pending, 5);  // Kafka owes everything
  EXPECT_EQ(counts_of(storage, "webhook").pending, 2);

  // A sink that takes one message, refuses one for good and then fails.
  std::vector<std::vector<std::int64_t>> batches;
  SinkDelivery webhook;
  webhook.name = "webhook";
  webhook.label = "Webhook";
  webhook.kinds = {"sumora"};
  webhook.deliver = [&](const std::vector<OutboxMessage>& batch) {
    batches.emplace_back();
    for (const auto& m : batch) batches.back().push_back(m.id);
    DeliveryOutcome o;
    o.delivered.push_back(batch.at(0).id);
    o.rejected.push_back({batch.at(1).id, "400 bad request"});
    return o;
  };
  FlushResult r = storage.flush_sink(webhook);
  EXPECT_EQ(batches, (std::vector<std::vector<std::int64_t>>{{2, 4}}));
  EXPECT_EQ(r.delivered, 1u);
  EXPECT_EQ(r.rejected, 1u);
  EXPECT_EQ(r.pending, 0u);
  auto webhook_counts = counts_of(storage, "webhook");
  EXPECT_EQ(webhook_counts.delivered, 1);
  EXPECT_EQ(webhook_counts.failed, 1);
  EXPECT_EQ(counts_of(storage, "kafka").pending, 5);  // untouched by the webhook

  // Retrying one sink leaves the others alone; an exception is a transient failure.
  EXPECT_EQ(storage.retry_failed(4, std::string("kafka")), 0);
  EXPECT_EQ(storage.retry_failed(4, std::string("webhook")), 1);
  webhook.deliver = [](const std::vector<OutboxMessage>&) -> DeliveryOutcome {
    throw std::runtime_error("receiver unreachable");
  };
  utils::LogCapture logs;
  FlushResult down = storage.flush_sink(webhook);
  EXPECT_EQ(down.pending, 1u);
  EXPECT_EQ(down.error, "receiver unreachable");
  EXPECT_EQ(logs.matching("Webhook 投递失败，1 条消息待下次重试").size(), 1u);
  EXPECT_TRUE(storage.failed_deliveries().empty());
  EXPECT_FALSE(storage.outbox().empty());
}

TEST(Outbox, SinkNamesAreChecked) {
  TempDir dir;
  ReportStorage storage(dir.path());
  EXPECT_THROW(storage.add_sink({"kafka", {}, {}}), std::invalid_argument);
  EXPECT_THROW(storage.add_sink({"", {}, {}}), std::invalid_argument);
}

}  // namespace
}  // namespace zorvane::report
