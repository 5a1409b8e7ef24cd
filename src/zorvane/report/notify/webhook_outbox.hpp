#pragma once
// Delivery of outbox messages to a chat webhook. The webhook keeps its own delivery state per
// outbox message (table webhook_deliveries in reports.db), apart from Kafka's: a message that
// Kafka acknowledged is still owed to the webhook, and the reverse. The webhook owes only the
// messages recorded with owe()/owe_brief() while it is configured, so setting it for the first
// time never floods a chat with old reports.
//
//   auto settings = NotifySettings::from_env();      // nullopt: NOTIFY_WEBHOOK_URL unset
//   WebhookOutbox box(storage.database_path());
//   box.owe(id, "watchlist_summary", key);
//   box.deliver(*settings);

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zorvane/report/notify/webhook_format.hpp"

namespace zorvane::report {
class ReportStorage;
class SqliteDb;
}  // namespace zorvane::report

namespace zorvane::report::notify {

struct NotifySettings {
  std::string url;  // a secret: never logged
  WebhookFormat format = WebhookFormat::json;
  std::optional<std::string> telegram_chat_id;
  bool notify_brief = false;
  std::chrono::milliseconds timeout{10000};

  // From NOTIFY_WEBHOOK_URL, NOTIFY_WEBHOOK_FORMAT, NOTIFY_TELEGRAM_CHAT_ID, NOTIFY_BRIEF ("1"
  // turns it on) and NOTIFY_TIMEOUT_MS; nullopt without a URL. Throws std::invalid_argument
  // for an unknown format, or telegram without a chat id.
  static std::optional<NotifySettings> from_env();
};

struct WebhookRow {
  std::int64_t outbox_id = 0;
  std::string kind;
  std::string key;
  std::string state;  // "pending", "delivered" or "failed"
  std::int64_t parts_sent = 0;
  std::int64_t attempts = 0;
  std::optional<std::string> last_error;
};

struct WebhookResult {
  std::size_t delivered = 0;
  std::size_t pending = 0;  // still owed after this delivery (retried next run)
  std::size_t failed = 0;   // refused for good; not sent again automatically
};

class WebhookOutbox {
 public:
  // The report database (reports.db) whose outbox holds the messages.
  explicit WebhookOutbox(const std::filesystem::path& database);
  ~WebhookOutbox();
  WebhookOutbox(const WebhookOutbox&) = delete;
  WebhookOutbox& operator=(const WebhookOutbox&) = delete;

  // Records that the webhook owes outbox message `outbox_id`.
  void owe(std::int64_t outbox_id);
  // Records that the webhook owes the newest brief with message key `key` ("A:2024-05-10"),
  // unless a brief of that key is already owed or delivered. False when nothing was recorded.
  bool owe_brief(std::string_view key);

  // Sends what is owed, oldest first, claiming each row first so that concurrent deliveries
  // (threads or processes) never send one message twice; a claim left by a process that died
  // expires after `lease`. Each body of a split message is sent once: a retry resumes after the
  // last body the service accepted. A transient failure leaves the message owed; a permanent
  // refusal marks it "failed". Failures are logged as warnings without the URL. Never throws
  // for delivery failures; database errors propagate.
  WebhookResult deliver(const NotifySettings& settings,
                        std::chrono::seconds lease = std::chrono::seconds(300));

  // Every row, oldest first.
  std::vector<WebhookRow> rows();

 private:
  std::unique_ptr<SqliteDb> db_;
};

// What a program does at the end of a run when NOTIFY_WEBHOOK_URL is set: records that the
// webhook owes `message_ids` (outbox ids) and, with NOTIFY_BRIEF=1, the briefs of
// `brief_keys` ("A:2024-05-10"), then delivers everything owed. Does nothing without the URL;
// never throws: problems are logged as warnings (the run's result stands).
void notify_run(ReportStorage& storage, const std::vector<std::int64_t>& message_ids,
                const std::vector<std::string>& brief_keys);

}  // namespace zorvane::report::notify
