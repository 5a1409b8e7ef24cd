#pragma once
// Chat-webhook settings from the environment:
//   NOTIFY_WEBHOOK_URL        where to post; unset or empty: no notifications
//   NOTIFY_WEBHOOK_FORMAT     json (default) | feishu | dingtalk | wecom | telegram | slack
//   NOTIFY_TELEGRAM_CHAT_ID   required with telegram
//   NOTIFY_BRIEF              1: the market brief is notified too (once per market and day)
//   NOTIFY_TIMEOUT_MS         per request, default 10000
// The URL carries the bot's token, so it is registered as a secret and never logged.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zorvane::notify {

enum class WebhookFormat { json, feishu, dingtalk, wecom, telegram, slack };

// Throws std::invalid_argument naming the value when it is not a known format.
WebhookFormat parse_format(std::string_view name);
std::string_view format_name(WebhookFormat format);

struct NotifySettings {
  std::string url;
  WebhookFormat format = WebhookFormat::json;
  std::string telegram_chat_id;
  bool notify_brief = false;
  std::chrono::milliseconds timeout{10'000};

  // nullopt without NOTIFY_WEBHOOK_URL. Throws std::invalid_argument naming the variable for an
  // unknown format, a URL that is not http(s), telegram without a chat id or a bad timeout.
  // Registers the URL (and its path, which holds the token) with the secret redaction.
  static std::optional<NotifySettings> from_env();
};

// Registers the secret parts of a webhook URL: the whole URL and everything after the host.
void register_url_secrets(std::string_view url);

}  // namespace zorvane::notify
