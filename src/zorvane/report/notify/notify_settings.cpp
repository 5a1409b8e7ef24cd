#include "zorvane/report/notify/notify_settings.hpp"

#include <array>
#include <charconv>
#include <stdexcept>
#include <utility>

#include "zorvane/utils/env.hpp"
#include "zorvane/utils/external_text.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::notify {
namespace {

constexpr std::array<std::pair<std::string_view, WebhookFormat>, 6> kFormats{{
    {"json", WebhookFormat::json},
    {"feishu", WebhookFormat::feishu},
    {"dingtalk", WebhookFormat::dingtalk},
    {"wecom", WebhookFormat::wecom},
    {"telegram", WebhookFormat::telegram},
    {"slack", WebhookFormat::slack},
}};

}  // namespace

WebhookFormat parse_format(std::string_view name) {
  const std::string lower = utils::to_lower(utils::trim(name));
  for (const auto& [text, format] : kFormats) {
    if (lower == text) return format;
  }
  throw std::invalid_argument("NOTIFY_WEBHOOK_FORMAT 无效: " + utils::quoted_text(name) +
                              " (可选 json, feishu, dingtalk, wecom, telegram, slack)");
}

std::string_view format_name(WebhookFormat format) {
  for (const auto& [text, f] : kFormats) {
    if (f == format) return text;
  }
  return "json";
}

void register_url_secrets(std::string_view url) {
  utils::register_secret(url);
  const auto scheme = url.find("://");
  if (scheme == std::string_view::npos) return;
  const auto path = url.find_first_of("/?", scheme + 3);
  if (path != std::string_view::npos) utils::register_secret(url.substr(path));
}

std::optional<NotifySettings> NotifySettings::from_env() {
  auto url = utils::env_text("NOTIFY_WEBHOOK_URL");
  if (!url || utils::trim(*url).empty()) return std::nullopt;
  NotifySettings s;
  s.url = std::string(utils::trim(*url));
  register_url_secrets(s.url);
  const std::string lower = utils::to_lower(s.url);
  if (!lower.starts_with("http://") && !lower.starts_with("https://")) {
    // The value itself is a secret: say what is wrong without echoing it.
    throw std::invalid_argument("NOTIFY_WEBHOOK_URL 必须以 http:// 或 https:// 开头");
  }
  s.format = parse_format(utils::env_or("NOTIFY_WEBHOOK_FORMAT", "json"));
  s.telegram_chat_id = std::string(utils::trim(utils::env_or("NOTIFY_TELEGRAM_CHAT_ID", "")));
  if (s.format == WebhookFormat::telegram && s.telegram_chat_id.empty()) {
    throw std::invalid_argument("NOTIFY_WEBHOOK_FORMAT=telegram 需要设置 NOTIFY_TELEGRAM_CHAT_ID");
  }
  s.notify_brief = utils::trim(utils::env_or("NOTIFY_BRIEF", "0")) == "1";
  const std::string timeout = std::string(utils::trim(utils::env_or("NOTIFY_TIMEOUT_MS", "10000")));
  long long ms = 0;
  const auto [end, ec] = std::from_chars(timeout.data(), timeout.data() + timeout.size(), ms);
  if (ec != std::errc{} || end != timeout.data() + timeout.size() || ms <= 0 || ms > 600'000) {
    throw std::invalid_argument("NOTIFY_TIMEOUT_MS 无效: " + utils::quoted_text(timeout) +
                                " (1..600000 毫秒)");
  }
  s.timeout = std::chrono::milliseconds(ms);
  return s;
}

}  // namespace zorvane::notify
