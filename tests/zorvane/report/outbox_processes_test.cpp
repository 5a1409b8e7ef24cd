// Several processes flushing one report root against librdkafka's mock cluster: each message
// reaches the topic once, claims of a process that died are taken over, and nothing is lost.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/report/kafka_mock.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/report/sqlite_probe.hpp"
#include "zorvane/utils/temp_files.hpp"

namespace zorvane::report {
namespace {

using namespace std::chrono_literals;
using namespace zorvane::report::test;
using zv_test::TempDir;

using test::query_int;

std::unique_ptr<support::Child> worker(const std::filesystem::path& root,
                                       const std::vector<std::string>& args) {
  std::vector<std::string> all{root.string()};
  all.insert(all.end(), args.begin(), args.end());
  return std::make_unique<support::Child>(OUTBOX_WORKER_EXE, all, support::Env{}, root);
}

// Waits for every worker to succeed; returns the sum of the "delivered=<n>" they printed.
std::size_t delivered_by(std::vector<std::unique_ptr<support::Child>>& workers) {
  std::size_t delivered = 0;
  for (auto& w : workers) {
    auto done = w->wait(300s);
    EXPECT_EQ(done.status, 0) << done.err;
    auto at = done.out.find("delivered=");
    if (at != std::string::npos) delivered += std::stoul(done.out.substr(at + 10));
  }
  return delivered;
}

// Every stored message id appears exactly once among the consumed messages. Returns the number
// of duplicates seen (for the figures).
std::size_t expect_each_message_once(ReportStorage& storage,
                                     const std::vector<Consumed>& consumed) {
  std::map<std::string, int> seen;
  for (const auto& m : consumed) ++seen[m.message_id];
  std::size_t duplicates = 0;
  for (const auto& [id, n] : seen) duplicates += static_cast<std::size_t>(n - 1);
  auto rows = storage.outbox(false);
  for (const auto& row : rows) {
    EXPECT_EQ(seen[row.message_id], 1) << "outbox id " << row.id << " message " << row.message_id;
    EXPECT_EQ(row.state, "delivered") << row.id;
  }
  EXPECT_EQ(seen.size(), rows.size());
  EXPECT_EQ(consumed.size(), rows.size()) << duplicates << " duplicates";
  return duplicates;
}

TEST(OutboxProcesses, ConcurrentFlushesSendEachMessageOnce) {
  MockCluster mc;
  TempDir dir;
  ReportStorage storage(dir.path());
  for (int i = 0; i < 120; ++i) {
    storage.save_sumora({"A", "backlog " + std::to_string(i), "2024-05-10", {}, {}});
  }

  std::vector<std::unique_ptr<support::Child>> flushers;
  for (int i = 0; i < 4; ++i) flushers.push_back(worker(dir.path(), {"flush", mc.bootstraps()}));
  EXPECT_EQ(delivered_by(flushers), 120u);
  EXPECT_TRUE(storage.outbox().empty());
  EXPECT_EQ(expect_each_message_once(storage, consume_all(mc)), 0u);
}

TEST(OutboxProcesses, ClaimsOfAHolderThatDiedGoToTheNextFlush) {
  MockCluster mc;
  TempDir dir;
  ReportStorage storage(dir.path());
  for (int i = 0; i < 10; ++i) {
    storage.save_sumora({"HK", "claimed " + std::to_string(i), "2024-05-10", {}, {}});
  }
  auto holder = worker(dir.path(), {"hold"});
  const std::string claimed =
      "SELECT COUNT(*) FROM outbox_delivery WHERE claimed_by IS NOT NULL AND state = 'pending'";
  auto deadline = std::chrono::steady_clock::now() + 60s;
  while (query_int(storage.database_path(), claimed) < 10 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_EQ(query_int(storage.database_path(), claimed), 10);

  // While the holder lives its claims stand: this flush has nothing to send.
  FlushResult while_held = storage.flush(mc.settings());
  EXPECT_EQ(while_held.delivered, 0u);
  EXPECT_EQ(while_held.pending, 10u);

  holder->wait(0ms);  // killed: its claims outlive it by minutes of lease
  FlushResult after = storage.flush(mc.settings());
  EXPECT_EQ(after.delivered, 10u);
  EXPECT_EQ(after.pending, 0u);
  EXPECT_EQ(expect_each_message_once(storage, consume_all(mc)), 0u);
}

// Eight processes save 500 reports in all into one root and flush as they go, while the
// cluster answers a third of the produce requests with a retriable error.
TEST(OutboxProcesses, StressEightWritersFlakyBroker) {
  MockCluster mc;
  TempDir dir;
  // Per broker, every third produce request (starting with the first) fails; counting what is
  // left on the stacks afterwards tells how many requests were answered.
  constexpr int kBrokers = 3, kStack = 2000;
  for (int b = 1; b <= kBrokers; ++b) {
    for (int i = 0; i < kStack; ++i) {
      rd_kafka_mock_broker_push_request_error_rtts(
          mc.get(), b, 0 /* Produce */, 1,
          i % 3 == 0 ? RD_KAFKA_RESP_ERR_NOT_ENOUGH_REPLICAS : RD_KAFKA_RESP_ERR_NO_ERROR, 0);
    }
  }

  constexpr int kWorkers = 8, kReports = 500;
  const auto started = std::chrono::steady_clock::now();
  std::vector<std::unique_ptr<support::Child>> workers;
  for (int w = 0; w < kWorkers; ++w) {
    const int n = kReports / kWorkers + (w < kReports % kWorkers ? 1 : 0);
    workers.push_back(
        worker(dir.path(), {"save", std::to_string(n), std::to_string(w), "5", mc.bootstraps()}));
  }
  const std::size_t delivered_by_workers = delivered_by(workers);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  std::size_t requests = 0, failed_requests = 0;
  for (int b = 1; b <= kBrokers; ++b) {
    std::size_t left = 0;
    ASSERT_EQ(rd_kafka_mock_broker_error_stack_cnt(mc.get(), b, 0, &left),
              RD_KAFKA_RESP_ERR_NO_ERROR);
    const std::size_t used = kStack - left;
    requests += used;
    failed_requests += (used + 2) / 3;
  }
  EXPECT_GT(failed_requests, 0u);
  EXPECT_LT(requests, static_cast<std::size_t>(kBrokers * kStack));  // the pattern never ran out

  ReportStorage storage(dir.path());
  EXPECT_EQ(storage.outbox(false).size(), static_cast<std::size_t>(kReports));
  EXPECT_TRUE(storage.outbox().empty()) << storage.outbox().size() << " still pending";
  EXPECT_TRUE(storage.failed_deliveries().empty());
  auto consumed = consume_all(mc);
  const std::size_t duplicates = expect_each_message_once(storage, consumed);

  std::vector<std::string> temp_files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
    if (utils::is_own_temp_file_name(e.path().filename().string())) {
      temp_files.push_back(e.path().string());
    }
  }
  EXPECT_TRUE(temp_files.empty()) << temp_files.front();

  std::cout << "[stress] workers=" << kWorkers << " reports=" << kReports
            << " delivered_by_workers=" << delivered_by_workers << " consumed=" << consumed.size()
            << " duplicates=" << duplicates << " produce_requests=" << requests
            << " answered_with_error=" << failed_requests << " elapsed_ms=" << elapsed.count()
            << std::endl;
  RecordProperty("elapsed_ms", static_cast<int>(elapsed.count()));
  RecordProperty("consumed", static_cast<int>(consumed.size()));
}

}  // namespace
}  // namespace zorvane::report
