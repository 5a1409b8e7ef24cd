// Delivery of the outbox to a Kafka cluster (librdkafka's in-process mock cluster).
#include <gtest/gtest.h>
#include <librdkafka/rdkafka.h>
#include <librdkafka/rdkafka_mock.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/report/kafka_mock.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace zorvane::report {
namespace {

using namespace std::chrono_literals;
using namespace zorvane::report::test;
using zv_test::TempDir;

StockReport stock(const std::string& code) {
  StockReport r;
  r.code = code;
  r.name = "名称" + code;
  r.market_type = "A";
  r.analysis_date = "2024-05-10";
  r.llm_client_type = "offline";
  r.llm_model = "offline";
  r.report = "报告 " + code;
  r.summary = "总结 " + code;
  r.decision_json = R"({"action": "观望"})";
  return r;
}

// Saves `n_sumora` briefs and `n_stock` stock reports; returns outbox id -> (key, payload).
std::map<std::int64_t, std::pair<std::string, std::string>> save_some(ReportStorage& s,
                                                                      int n_sumora, int n_stock) {
  for (int i = 0; i < n_sumora; ++i) {
    s.save_sumora({i % 2 ? "HK" : "A", "brief " + std::to_string(i),
                   "2024-05-" + std::to_string(10 + i), "offline", "offline"});
  }
  for (int i = 0; i < n_stock; ++i) s.save_stock_report(stock("sh.60000" + std::to_string(i)));
  std::map<std::int64_t, std::pair<std::string, std::string>> rows;
  for (const auto& row : s.outbox()) rows[row.id] = {row.key, row.payload};
  return rows;
}

TEST(KafkaDelivery, FlushProducesEveryPendingMessageOnce) {
  MockCluster mc;
  TempDir dir;
  ReportStorage storage(dir.path());
  auto saved = save_some(storage, 3, 2);

  utils::LogCapture logs;
  FlushResult r = storage.flush(mc.settings());
  EXPECT_TRUE(r.configured);
  EXPECT_EQ(r.delivered, 5u);
  EXPECT_EQ(r.pending, 0u);
  EXPECT_TRUE(r.error.empty()) << r.error;
  EXPECT_TRUE(storage.outbox().empty());
  for (const auto& row : storage.outbox(false)) {
    EXPECT_TRUE(row.sent_at);
    EXPECT_EQ(row.attempts, 1);
  }
  EXPECT_TRUE(logs.matching("Kafka 投递失败").empty());

  // A second flush has nothing left to send.
  EXPECT_EQ(storage.flush(mc.settings()).delivered, 0u);

  auto consumed = consume_all(mc);
  ASSERT_EQ(consumed.size(), saved.size());
  for (const auto& m : consumed) {
    ASSERT_TRUE(saved.count(m.outbox_id)) << m.outbox_id;
    EXPECT_EQ(m.key, saved[m.outbox_id].first);
    EXPECT_EQ(m.value, saved[m.outbox_id].second);
    auto body = utils::parse_json(m.value);
    std::string type = body["type"].GetString();
    EXPECT_EQ(m.topic, type == "sumora" ? kSumoraTopic : kReportTopic);
    EXPECT_EQ(m.message_id, body["message_id"].GetString());  // header and body agree
    saved.erase(m.outbox_id);  // a duplicate would fail the count check above
  }
  EXPECT_TRUE(saved.empty());
}

TEST(KafkaDelivery, MessageIdsStayUniqueAcrossReportRoots) {
  MockCluster mc;
  TempDir a, b;
  ReportStorage first(a.path()), second(b.path());
  save_some(first, 2, 1);
  save_some(second, 2, 1);  // same outbox ids 1..3 in the other root
  EXPECT_EQ(first.flush(mc.settings()).delivered, 3u);
  EXPECT_EQ(second.flush(mc.settings()).delivered, 3u);

  std::set<std::string> ids;
  std::map<std::int64_t, int> per_outbox_id;
  for (const auto& m : consume_all(mc)) {
    EXPECT_EQ(m.message_id.size(), 36u) << m.message_id;
    ids.insert(m.message_id);
    ++per_outbox_id[m.outbox_id];
  }
  EXPECT_EQ(ids.size(), 6u);  // six reports, six ids
  EXPECT_EQ(per_outbox_id, (std::map<std::int64_t, int>{{1, 2}, {2, 2}, {3, 2}}));
}

// Every outbox row is in the topic exactly once, with its own key and payload.
void expect_each_once(const std::vector<Consumed>& consumed,
                      std::map<std::int64_t, std::pair<std::string, std::string>> saved) {
  EXPECT_EQ(consumed.size(), saved.size());
  for (const auto& m : consumed) {
    auto it = saved.find(m.outbox_id);
    ASSERT_NE(it, saved.end()) << "unknown or duplicate outbox id " << m.outbox_id;
    EXPECT_EQ(m.key, it->second.first);
    EXPECT_EQ(m.value, it->second.second);
    saved.erase(it);
  }
  EXPECT_TRUE(saved.empty());
}

std::vector<std::string> delivery_warnings(const utils::LogCapture& logs) {
  std::vector<std::string> out;
  for (const auto& line : logs.lines()) {
    if (line.rfind("warning|[报告存储]", 0) == 0) out.push_back(line);
  }
  return out;
}

TEST(KafkaDelivery, BrokerDownKeepsEverythingForTheNextFlush) {
  MockCluster mc;
  TempDir dir;
  ReportStorage storage(dir.path());
  auto saved = save_some(storage, 3, 1);

  rd_kafka_mock_broker_set_down(mc.get(), -1);
  utils::LogCapture logs;
  FlushResult down = storage.flush(mc.settings(800ms));
  EXPECT_EQ(down.delivered, 0u);
  EXPECT_EQ(down.pending, 4u);
  EXPECT_FALSE(down.error.empty());
  auto warnings = delivery_warnings(logs);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("4 条消息"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find(down.error), std::string::npos) << warnings[0];
  for (const auto& row : storage.outbox()) {
    EXPECT_EQ(row.attempts, 1);
    EXPECT_EQ(row.last_error, down.error);
  }

  rd_kafka_mock_broker_set_up(mc.get(), -1);
  FlushResult up = storage.flush(mc.settings());
  EXPECT_EQ(up.delivered, 4u);
  EXPECT_EQ(up.pending, 0u);
  expect_each_once(consume_all(mc), saved);
}

TEST(KafkaDelivery, FailingProduceRequestsMarkNothingDelivered) {
  MockCluster mc;
  TempDir dir;
  ReportStorage storage(dir.path());
  auto saved = save_some(storage, 2, 3);

  // Retriable errors on every produce request until the delivery deadline passes.
  std::vector<rd_kafka_resp_err_t> errors(500, RD_KAFKA_RESP_ERR_NOT_ENOUGH_REPLICAS);
  rd_kafka_mock_push_request_errors_array(mc.get(), 0 /* Produce */, errors.size(), errors.data());
  utils::LogCapture logs;
  FlushResult failing = storage.flush(mc.settings(800ms));
  EXPECT_EQ(failing.delivered, 0u);
  EXPECT_EQ(failing.pending, 5u);
  EXPECT_EQ(delivery_warnings(logs).size(), 1u);
  EXPECT_EQ(storage.outbox().size(), 5u);

  rd_kafka_mock_clear_request_errors(mc.get(), 0);
  FlushResult ok = storage.flush(mc.settings());
  EXPECT_EQ(ok.delivered, 5u);
  EXPECT_EQ(ok.pending, 0u);
  expect_each_once(consume_all(mc), saved);
}

// Lines warning that messages were refused for good.
std::vector<std::string> failed_warnings(const utils::LogCapture& logs) {
  std::vector<std::string> out;
  for (const auto& line : delivery_warnings(logs)) {
    if (line.find("永久拒绝") != std::string::npos) out.push_back(line);
  }
  return out;
}

TEST(KafkaDelivery, PermanentRejectionsAreMarkedFailedUntilRetried) {
  MockCluster mc;
  TempDir dir;
  ReportStorage storage(dir.path());
  auto saved = save_some(storage, 4, 0);

  // The broker refuses the first produce request for good: whatever it carried is failed,
  // the rest is delivered, nothing is pending.
  rd_kafka_mock_push_request_errors(mc.get(), 0, 1, RD_KAFKA_RESP_ERR_TOPIC_AUTHORIZATION_FAILED);
  utils::LogCapture logs;
  FlushResult first = storage.flush(mc.settings(5s));
  EXPECT_GT(first.rejected, 0u);
  EXPECT_EQ(first.delivered + first.rejected, 4u);
  EXPECT_EQ(first.pending, 0u);
  EXPECT_TRUE(first.error.empty()) << first.error;
  auto failed = storage.failed_deliveries();
  ASSERT_EQ(failed.size(), first.rejected);
  EXPECT_EQ(failed[0].sink, "kafka");
  EXPECT_NE(failed[0].error.find("TOPIC_AUTHORIZATION_FAILED"), std::string::npos)
      << failed[0].error;
  EXPECT_FALSE(failed[0].failed_at.empty());
  auto warned = failed_warnings(logs);
  ASSERT_EQ(warned.size(), 1u);
  EXPECT_NE(warned[0].find(std::to_string(failed.size()) + " 条"), std::string::npos) << warned[0];
  EXPECT_NE(warned[0].find("outbox_id=" + std::to_string(failed[0].outbox_id)), std::string::npos)
      << warned[0];
  EXPECT_NE(warned[0].find("TOPIC_AUTHORIZATION_FAILED"), std::string::npos) << warned[0];

  // A failed message is not sent again by itself, and every flush says it is there.
  logs.clear();
  FlushResult second = storage.flush(mc.settings());
  EXPECT_EQ(second.delivered, 0u);
  EXPECT_EQ(failed_warnings(logs).size(), 1u);

  // Sent again on request; afterwards every report is in the topic exactly once.
  EXPECT_EQ(storage.retry_failed(failed[0].outbox_id), 1);
  EXPECT_EQ(storage.retry_failed(failed[0].outbox_id), 0);  // nothing failed left for it
  storage.retry_failed(std::nullopt);
  logs.clear();
  FlushResult retried = storage.flush(mc.settings());
  EXPECT_EQ(retried.delivered, first.rejected);
  EXPECT_TRUE(storage.failed_deliveries().empty());
  EXPECT_TRUE(failed_warnings(logs).empty());
  expect_each_once(consume_all(mc), saved);
}

TEST(KafkaDelivery, OversizedMessageIsRejectedAtOnce) {
  MockCluster mc;
  TempDir dir;
  ReportStorage storage(dir.path());
  storage.save_sumora({"A", std::string(4000, 'x'), "2024-05-10", {}, {}});  // over the limit
  storage.save_sumora({"A", "small", "2024-05-11", {}, {}});
  KafkaSettings limited = mc.settings();
  limited.extra.emplace_back("message.max.bytes", "3000");
  FlushResult r = storage.flush(limited);
  EXPECT_EQ(r.delivered, 1u);
  EXPECT_EQ(r.rejected, 1u);
  auto failed = storage.failed_deliveries();
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].outbox_id, 1);
  EXPECT_NE(failed[0].error.find("MSG_SIZE_TOO_LARGE"), std::string::npos) << failed[0].error;
}

TEST(KafkaDelivery, ProcessKilledBetweenSaveAndFlushLosesNothing) {
  TempDir dir;
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ReportStorage s(dir.path());
    s.save_sumora(
        {"A", "brief saved by a process that then died", "2024-05-10", "offline", "offline"});
    s.save_stock_report(stock("sz.000001"));
    _exit(0);  // no flush, no destructors
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  MockCluster mc;
  ReportStorage storage(dir.path());
  std::map<std::int64_t, std::pair<std::string, std::string>> saved;
  for (const auto& row : storage.outbox()) saved[row.id] = {row.key, row.payload};
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(storage.flush(mc.settings()).delivered, 2u);
  expect_each_once(consume_all(mc), saved);
}

TEST(KafkaDelivery, SettingsFromEnvironment) {
  MockCluster mc;
  TempDir dir;
  zv_test::EnvGuard servers("KAFKA_BOOTSTRAP_SERVERS", mc.bootstraps());
  zv_test::EnvGuard sumora("KAFKA_TOPIC_SUMORA", kSumoraTopic);
  zv_test::EnvGuard report("KAFKA_TOPIC_REPORT", kReportTopic);
  zv_test::EnvGuard watchlist_topic("KAFKA_TOPIC_WATCHLIST", kWatchlistTopic);
  zv_test::EnvGuard timeout("KAFKA_DELIVERY_TIMEOUT_MS", "5000");
  ReportStorage storage(dir.path());
  auto saved = save_some(storage, 1, 1);
  const auto summary_id = storage.save_message(
      "watchlist_summary", "watchlist:2024-05-10", [](const std::string& id, const std::string&) {
        return R"({"type":"watchlist_summary","message_id":")" + id + "\"}";
      });
  saved[summary_id] = {"watchlist:2024-05-10", storage.outbox().back().payload};
  FlushResult r = storage.flush();
  EXPECT_TRUE(r.configured);
  EXPECT_EQ(r.delivered, 3u);
  const auto consumed = consume_all(mc);
  expect_each_once(consumed, saved);
  for (const auto& m : consumed)
    EXPECT_EQ(m.topic == kWatchlistTopic, m.outbox_id == summary_id) << m.topic;

  zv_test::EnvGuard unset_sumora("KAFKA_TOPIC_SUMORA", std::nullopt);
  zv_test::EnvGuard unset_report("KAFKA_TOPIC_REPORT", std::nullopt);
  zv_test::EnvGuard watchlist("KAFKA_TOPIC_WATCHLIST", "custom.watchlist");
  auto defaults = KafkaSettings::from_env();
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->topic_for("sumora"), "zorvane.sumora");
  EXPECT_EQ(defaults->topic_for("stock_report"), "zorvane.stock_report");
  EXPECT_EQ(defaults->topic_for("watchlist_summary"), "custom.watchlist");
  EXPECT_THROW(defaults->topic_for("nonsense"), std::invalid_argument);
  EXPECT_EQ(defaults->delivery_timeout, 5s);

  // A malformed setting is reported, not thrown, and the messages stay queued.
  zv_test::EnvGuard bad("KAFKA_DELIVERY_TIMEOUT_MS", "soon");
  storage.save_sumora({"A", "later", "2024-05-11", {}, {}});
  utils::LogCapture logs;
  FlushResult refused = storage.flush();
  EXPECT_NE(refused.error.find("KAFKA_DELIVERY_TIMEOUT_MS"), std::string::npos) << refused.error;
  EXPECT_EQ(storage.outbox().size(), 1u);
  EXPECT_EQ(delivery_warnings(logs).size(), 1u);
}

TEST(KafkaDelivery, CredentialsAndBadConfigurationNeverLeak) {
  MockCluster mc;
  TempDir dir;
  ReportStorage storage(dir.path());
  save_some(storage, 2, 0);
  const std::string password = "Pa55-very-secret-word";

  // SASL towards a broker that does not speak it, with librdkafka's own logging turned up.
  KafkaSettings sasl = mc.settings(600ms);
  sasl.security_protocol = "SASL_PLAINTEXT";
  sasl.sasl_mechanism = "PLAIN";
  sasl.sasl_username = "svc-user";
  sasl.sasl_password = password;
  sasl.extra.emplace_back("debug", "conf,security,broker,protocol");
  sasl.extra.emplace_back("log_level", "7");
  utils::LogCapture logs;
  FlushResult r = storage.flush(sasl);
  EXPECT_EQ(r.error.find(password), std::string::npos);
  for (const auto& line : logs.lines()) EXPECT_EQ(line.find(password), std::string::npos) << line;
  EXPECT_EQ(r.delivered + r.pending, 2u);

  // A property librdkafka rejects: no throw, nothing marked, the setting is named.
  KafkaSettings bogus = mc.settings(600ms);
  bogus.security_protocol = "carrier-pigeon";
  logs.clear();
  FlushResult bad = storage.flush(bogus);
  EXPECT_EQ(bad.delivered, 0u);
  EXPECT_EQ(bad.pending, storage.outbox().size());
  EXPECT_NE(bad.error.find("security.protocol"), std::string::npos) << bad.error;
  EXPECT_EQ(delivery_warnings(logs).size(), 1u);
}

}  // namespace
}  // namespace zorvane::report
