// Test helper: one process acting on a report root.
//
//   report_outbox_worker ROOT save N TAG [FLUSH_EVERY] [BOOTSTRAP]  saves N reports (every
//       fifth a brief), flushing after every FLUSH_EVERY saves and at the end when BOOTSTRAP
//   report_outbox_worker ROOT flush BOOTSTRAP                        flushes once
//   report_outbox_worker ROOT hold                                   claims every pending Kafka
//       message for ten minutes and sleeps until killed
//
// Prints "delivered=<n>" (flushes) or "claimed=<n>" (hold) on standard output.

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "zorvane/report/claim_owner.hpp"
#include "zorvane/report/outbox.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/report/sqlite_db.hpp"

using namespace zorvane::report;

namespace {

KafkaSettings settings(const std::string& bootstrap) {
  KafkaSettings s;
  s.bootstrap_servers = bootstrap;
  s.topics["sumora"] = "test.sumora";
  s.topics["stock_report"] = "test.stock_report";
  s.delivery_timeout = std::chrono::seconds(20);
  s.extra = {{"reconnect.backoff.max.ms", "200"}, {"log_level", "2"}};
  return s;
}

StockReport stock(const std::string& tag, int i) {
  StockReport r;
  r.code = "t" + tag + "." + std::to_string(i);
  r.name = "压力" + tag;
  r.market_type = "A";
  r.analysis_date = "2024-05-10";
  r.llm_client_type = "offline";
  r.llm_model = "offline";
  r.report = "报告 " + tag + " " + std::to_string(i);
  r.summary = "总结";
  r.decision_json = R"({"action": "观望"})";
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string root = argv[1];
  const std::string mode = argv[2];
  ReportStorage storage(root);
  std::size_t delivered = 0;
  if (mode == "save" && argc >= 5) {
    const int n = std::atoi(argv[3]);
    const std::string tag = argv[4];
    const int every = argc >= 6 ? std::atoi(argv[5]) : 0;
    std::optional<KafkaSettings> kafka;
    if (argc >= 7) kafka = settings(argv[6]);
    for (int i = 0; i < n; ++i) {
      if (i % 5 == 0) {
        storage.save_sumora({"A", "brief " + tag + " " + std::to_string(i),
                             "2024-05-" + std::to_string(10 + i % 10), "offline", "offline"});
      } else {
        storage.save_stock_report(stock(tag, i));
      }
      if (kafka && every > 0 && (i + 1) % every == 0) delivered += storage.flush(kafka).delivered;
    }
    if (kafka) delivered += storage.flush(kafka).delivered;
    std::cout << "delivered=" << delivered << std::endl;
    return 0;
  }
  if (mode == "flush" && argc >= 4) {
    std::cout << "delivered=" << storage.flush(settings(argv[3])).delivered << std::endl;
    return 0;
  }
  if (mode == "hold") {
    SqliteDb db(storage.database_path());
    outbox::ClaimRequest request;
    request.sink = std::string(kKafkaSink);
    request.owner = new_claim_owner();
    request.lease = std::chrono::minutes(10);
    std::cout << "claimed=" << outbox::claim(db, request).size() << std::endl;
    for (;;) ::pause();
  }
  return 2;
}
