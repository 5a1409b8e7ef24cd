#include "apps/outbox/outbox_commands.hpp"

#include <iomanip>

namespace outbox_app {

int list_outbox(zorvane::report::ReportStorage& storage, std::ostream& out) {
  out << "报告数据库: " << storage.database_path().string() << "\n";
  out << std::left << std::setw(10) << "sink" << std::right << std::setw(10) << "pending"
      << std::setw(10) << "failed" << std::setw(12) << "delivered"
      << "\n";
  auto counts = storage.outbox_counts();
  if (counts.empty()) counts.push_back({std::string(zorvane::report::kKafkaSink), 0, 0, 0});
  for (const auto& c : counts) {
    out << std::left << std::setw(10) << c.sink << std::right << std::setw(10) << c.pending
        << std::setw(10) << c.failed << std::setw(12) << c.delivered << "\n";
  }
  auto failed = storage.failed_deliveries();
  if (failed.empty()) return 0;
  out << "\n投递失败的消息 (" << failed.size() << " 条):\n";
  out << "outbox_id\tsink\tkind\tkey\tmessage_id\tattempts\tfailed_at\terror\n";
  for (const auto& f : failed) {
    out << f.outbox_id << '\t' << f.sink << '\t' << f.kind << '\t' << f.key << '\t' << f.message_id
        << '\t' << f.attempts << '\t' << f.failed_at << '\t' << f.error << "\n";
  }
  return 0;
}

int retry_outbox(zorvane::report::ReportStorage& storage, std::optional<std::int64_t> outbox_id,
                 const std::optional<std::string>& sink, std::ostream& out, std::ostream& err) {
  const std::int64_t requeued = storage.retry_failed(outbox_id, sink);
  if (requeued == 0) {
    err << "zorvane-outbox: error: ";
    if (outbox_id) {
      err << "outbox_id " << *outbox_id << " 没有投递失败的记录";
    } else {
      err << "没有投递失败的消息";
    }
    if (sink) err << " (sink=" << *sink << ")";
    err << "\n";
    return 1;
  }
  out << "已重新排队 " << requeued << " 条投递\n";
  auto result = storage.flush();
  if (!result.configured) {
    out << "未配置 KAFKA_BOOTSTRAP_SERVERS: 消息留在待投递队列，下次运行时投递\n";
  } else {
    out << "Kafka: 已投递 " << result.delivered << " 条，被拒绝 " << result.rejected
        << " 条，待投递 " << result.pending << " 条\n";
  }
  return 0;
}

}  // namespace outbox_app
