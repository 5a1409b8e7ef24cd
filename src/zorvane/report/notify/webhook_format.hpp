#pragma once
// Chat-webhook bodies for the outbox messages people read: the watchlist summary and the market
// brief. Each service gets its documented message shape, with a Markdown list that reads well
// on a phone, split into several bodies where the service limits the length.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvane::report::notify {

enum class WebhookFormat { json, feishu, dingtalk, wecom, telegram, slack };

// "json" (also for empty text), "feishu", "dingtalk", "wecom", "telegram" or "slack", in any
// case. Throws std::invalid_argument naming the text otherwise.
WebhookFormat parse_webhook_format(std::string_view text);

// Longest message text a service takes, with room left for the title line: UTF-8 bytes for
// feishu and dingtalk (request bodies of about 20 KB) and wecom (4096 bytes), characters for
// telegram (4096) and slack (about 4000 for readable messages); json is never split.
struct TextLimit {
  std::size_t units;
  bool bytes;
};
TextLimit text_limit(WebhookFormat format);

// The Markdown a person reads for an outbox message of `kind` ("watchlist_summary" or
// "sumora") with JSON `payload`: a title line, then a list with one item per stock (or the
// brief itself). Throws std::invalid_argument for another kind or a payload that is not JSON.
std::string message_markdown(std::string_view kind, std::string_view payload);

// `text` cut into pieces of at most `limit` units (bytes when `bytes`, else characters) at line
// breaks where possible and never inside a UTF-8 character.
std::vector<std::string> split_text(std::string_view text, std::size_t limit, bool bytes);

// The request bodies (JSON) that deliver one outbox message: json -> the payload as it is;
// feishu -> {"msg_type": "interactive", "card": {header, elements: [markdown]}};
// dingtalk -> {"msgtype": "markdown", "markdown": {"title", "text"}};
// wecom -> {"msgtype": "markdown", "markdown": {"content"}};
// telegram -> {"chat_id", "text"} (plain text; `telegram_chat_id` required);
// slack -> {"text", "mrkdwn": true}.
// Long messages become several bodies, each marked "(i/n)" in its title.
std::vector<std::string> webhook_bodies(WebhookFormat format, std::string_view kind,
                                        std::string_view payload,
                                        const std::optional<std::string>& telegram_chat_id = {});

}  // namespace zorvane::report::notify
