#include "zorvane/report/notify/webhook_outbox.hpp"

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <random>
#include <stdexcept>

#include "zorvane/report/notify/webhook_post.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/report/sqlite_db.hpp"
#include "zorvane/utils/env.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::report::notify {

namespace {

using utils::logger;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS webhook_deliveries (
  outbox_id INTEGER PRIMARY KEY,
  kind TEXT NOT NULL,
  msg_key TEXT NOT NULL,
  state TEXT NOT NULL DEFAULT 'pending',
  parts_sent INTEGER NOT NULL DEFAULT 0,
  attempts INTEGER NOT NULL DEFAULT 0,
  last_error TEXT,
  claimed_by TEXT,
  claimed_until INTEGER,
  updated_at INTEGER
);
CREATE UNIQUE INDEX IF NOT EXISTS webhook_brief_once
  ON webhook_deliveries (msg_key) WHERE kind = 'sumora';
)sql";

std::int64_t now_seconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

// Names this delivery's claims: process id and a random part, so that two deliveries in one
// process never take each other's rows.
std::string claim_token() {
  std::random_device rd;
  return std::to_string(::getpid()) + "-" + std::to_string(rd()) + std::to_string(rd());
}

struct Claimed {
  std::int64_t id;
  std::string kind;
  std::string payload;
  std::int64_t parts_sent;
};

}  // namespace

std::optional<NotifySettings> NotifySettings::from_env() {
  const char* url = std::getenv("NOTIFY_WEBHOOK_URL");
  if (url == nullptr || utils::trim(url).empty()) return std::nullopt;
  NotifySettings s;
  s.url = std::string(utils::trim(url));
  s.format = parse_webhook_format(utils::env_or("NOTIFY_WEBHOOK_FORMAT", "json"));
  if (const char* chat = std::getenv("NOTIFY_TELEGRAM_CHAT_ID"); chat && *chat) {
    s.telegram_chat_id = std::string(utils::trim(chat));
  }
  if (s.format == WebhookFormat::telegram && !s.telegram_chat_id) {
    throw std::invalid_argument("NOTIFY_WEBHOOK_FORMAT=telegram 需要 NOTIFY_TELEGRAM_CHAT_ID");
  }
  s.notify_brief = utils::trim(utils::env_or("NOTIFY_BRIEF", "")) == "1";
  const std::string timeout = utils::env_or("NOTIFY_TIMEOUT_MS", "");
  if (!timeout.empty()) {
    try {
      const long ms = std::stol(timeout);
      if (ms > 0 && ms <= 600000) s.timeout = std::chrono::milliseconds(ms);
    } catch (const std::exception&) {
      logger.warning("[通知] NOTIFY_TIMEOUT_MS 无效，使用默认值: %r", timeout);
    }
  }
  return s;
}

WebhookOutbox::WebhookOutbox(const std::filesystem::path& database)
    : db_(std::make_unique<SqliteDb>(database)) {
  db_->exec(kSchema);
}

WebhookOutbox::~WebhookOutbox() = default;

void WebhookOutbox::owe(std::int64_t outbox_id) {
  SqliteStatement insert(*db_,
                         "INSERT OR IGNORE INTO webhook_deliveries (outbox_id, kind, msg_key, "
                         "updated_at) SELECT id, kind, msg_key, ? FROM outbox WHERE id = ?");
  insert.bind(1, now_seconds()).bind(2, outbox_id).run();
}

bool WebhookOutbox::owe_brief(std::string_view key) {
  SqliteStatement insert(*db_,
                         "INSERT OR IGNORE INTO webhook_deliveries (outbox_id, kind, msg_key, "
                         "updated_at) SELECT id, kind, msg_key, ? FROM outbox WHERE kind = "
                         "'sumora' AND msg_key = ? ORDER BY id DESC LIMIT 1");
  insert.bind(1, now_seconds()).bind(2, key).run();
  return sqlite3_changes(db_->handle()) > 0;
}

WebhookResult WebhookOutbox::deliver(const NotifySettings& settings, std::chrono::seconds lease) {
  const std::string token = claim_token();
  std::vector<Claimed> claimed;
  {
    SqliteTransaction tx(*db_);
    const std::int64_t now = now_seconds();
    SqliteStatement claim(
        *db_,
        "UPDATE webhook_deliveries SET claimed_by = ?, claimed_until = ? "
        "WHERE state = 'pending' AND (claimed_until IS NULL OR claimed_until < ?)");
    claim.bind(1, token).bind(2, now + lease.count()).bind(3, now).run();
    SqliteStatement select(*db_,
                           "SELECT w.outbox_id, w.kind, o.payload, w.parts_sent FROM "
                           "webhook_deliveries w JOIN outbox o ON o.id = w.outbox_id "
                           "WHERE w.claimed_by = ? AND w.state = 'pending' ORDER BY w.outbox_id");
    select.bind(1, token);
    while (select.step()) {
      claimed.push_back({select.column_int(0), select.column_text(1).value_or(""),
                         select.column_text(2).value_or(""), select.column_int(3)});
    }
    tx.commit();
  }

  WebhookResult result;
  std::optional<std::pair<std::int64_t, std::string>> first_failure;
  SqliteStatement part_done(*db_,
                            "UPDATE webhook_deliveries SET parts_sent = ?, updated_at = ? "
                            "WHERE outbox_id = ? AND claimed_by = ?");
  SqliteStatement finished(*db_,
                           "UPDATE webhook_deliveries SET state = ?, attempts = attempts + 1, "
                           "last_error = ?, claimed_by = NULL, claimed_until = NULL, "
                           "updated_at = ? WHERE outbox_id = ? AND claimed_by = ?");
  for (const auto& c : claimed) {
    std::optional<std::string> error;
    bool permanent = false;
    try {
      const auto bodies =
          webhook_bodies(settings.format, c.kind, c.payload, settings.telegram_chat_id);
      for (auto i = static_cast<std::size_t>(c.parts_sent); i < bodies.size(); ++i) {
        const auto sent = post_json(settings.url, bodies[i], settings.timeout);
        if (!sent.ok) {
          error = sent.error;
          permanent = sent.permanent;
          break;
        }
        part_done.bind(1, static_cast<std::int64_t>(i + 1))
            .bind(2, now_seconds())
            .bind(3, c.id)
            .bind(4, token)
            .run();
      }
    } catch (const std::exception& e) {
      // A message that cannot be turned into a chat message never will be.
      error = redact_url(e.what(), settings.url);
      permanent = true;
    }
    const char* state = !error ? "delivered" : permanent ? "failed" : "pending";
    finished.bind(1, state)
        .bind(2, error)
        .bind(3, now_seconds())
        .bind(4, c.id)
        .bind(5, token)
        .run();
    if (!error) {
      ++result.delivered;
    } else {
      ++(permanent ? result.failed : result.pending);
      if (!first_failure) first_failure.emplace(c.id, *error);
    }
  }
  if (first_failure) {
    logger.warning("[通知] Webhook 投递未完成: %d 条待重试, %d 条已放弃 (首条 outbox_id=%d: %s)",
                   result.pending, result.failed, first_failure->first, first_failure->second);
  } else if (result.delivered > 0) {
    logger.info("[通知] Webhook 已投递 %d 条消息", result.delivered);
  }
  return result;
}

std::vector<WebhookRow> WebhookOutbox::rows() {
  SqliteStatement select(*db_,
                         "SELECT outbox_id, kind, msg_key, state, parts_sent, attempts, last_error "
                         "FROM webhook_deliveries ORDER BY outbox_id");
  std::vector<WebhookRow> out;
  while (select.step()) {
    out.push_back({select.column_int(0), select.column_text(1).value_or(""),
                   select.column_text(2).value_or(""), select.column_text(3).value_or(""),
                   select.column_int(4), select.column_int(5), select.column_text(6)});
  }
  return out;
}

void notify_run(ReportStorage& storage, const std::vector<std::int64_t>& message_ids,
                const std::vector<std::string>& brief_keys) {
  std::optional<NotifySettings> settings;
  try {
    settings = NotifySettings::from_env();
    if (!settings) return;
    WebhookOutbox box(storage.database_path());
    for (auto id : message_ids) box.owe(id);
    if (settings->notify_brief) {
      for (const auto& key : brief_keys) box.owe_brief(key);
    }
    box.deliver(*settings);
  } catch (const std::exception& e) {
    logger.warning("[通知] Webhook 通知失败: %s",
                   settings ? redact_url(e.what(), settings->url) : std::string(e.what()));
  }
}

}  // namespace zorvane::report::notify
