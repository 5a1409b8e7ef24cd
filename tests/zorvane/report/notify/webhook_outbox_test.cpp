// Webhook delivery from the outbox: only what is owed, each message once however many
// deliveries run at once, briefs once per key, failures kept or given up as they deserve.
#include "zorvane/report/notify/webhook_outbox.hpp"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "support/chat_stub.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/report/report_storage.hpp"

namespace zorvane::report::notify {
namespace {

NotifySettings settings_for(const zv_test::ChatStub& hook) {
  NotifySettings s;
  s.url = "http://127.0.0.1:" + std::to_string(hook.port()) + "/hook/token";
  s.timeout = std::chrono::milliseconds(5000);
  return s;
}

std::string summary_payload(int i) {
  return R"({"type": "watchlist_summary", "analysis_time": "2024-05-10", "run": )" +
         std::to_string(i) + "}";
}

TEST(WebhookOutbox, ConcurrentDeliveriesSendEachOwedMessageOnce) {
  zv_test::TempDir dir;
  ReportStorage storage(dir.path());
  zv_test::ChatStub hook;
  hook.set_default_response(zv_test::ChatStub::raw(200, "ok"));
  std::vector<std::int64_t> ids;
  for (int i = 0; i < 40; ++i)
    ids.push_back(storage.save_watchlist_summary("k", summary_payload(i)));
  {
    WebhookOutbox box(storage.database_path());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (i % 4 != 3) box.owe(ids[i]);  // every fourth was queued while no webhook was set
    }
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      WebhookOutbox box(storage.database_path());
      box.deliver(settings_for(hook));
    });
  }
  for (auto& t : threads) t.join();

  std::multiset<std::string> bodies;
  for (const auto& r : hook.requests()) bodies.insert(r.body);
  EXPECT_EQ(bodies.size(), 30u);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(bodies.count(summary_payload(static_cast<int>(i))), i % 4 != 3 ? 1u : 0u) << i;
  }
  WebhookOutbox box(storage.database_path());
  for (const auto& row : box.rows()) EXPECT_EQ(row.state, "delivered");
  EXPECT_EQ(box.deliver(settings_for(hook)).delivered, 0u);
  EXPECT_EQ(hook.request_count(), 30u);
}

TEST(WebhookOutbox, BriefsOnceAndRefusalsGivenUp) {
  zv_test::TempDir dir;
  ReportStorage storage(dir.path());
  storage.save_sumora({"A", "brief one", "2024-05-10", "offline", "offline"});
  storage.save_sumora({"A", "brief again", "2024-05-10", "offline", "offline"});
  WebhookOutbox box(storage.database_path());
  EXPECT_TRUE(box.owe_brief("A:2024-05-10"));
  EXPECT_FALSE(box.owe_brief("A:2024-05-10"));
  EXPECT_FALSE(box.owe_brief("HK:2024-05-10"));  // no such brief queued

  zv_test::ChatStub hook;
  hook.push(zv_test::ChatStub::raw(404, "no such hook"));
  const auto first = box.deliver(settings_for(hook));
  EXPECT_EQ(first.failed, 1u);
  const auto rows = box.rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].state, "failed");
  EXPECT_EQ(rows[0].last_error, "HTTP 404: no such hook");
  EXPECT_EQ(box.deliver(settings_for(hook)).delivered, 0u);  // not sent again by itself
  EXPECT_EQ(hook.request_count(), 1u);
  EXPECT_FALSE(box.owe_brief("A:2024-05-10"));  // a given-up brief is not owed again either
}

}  // namespace
}  // namespace zorvane::report::notify
