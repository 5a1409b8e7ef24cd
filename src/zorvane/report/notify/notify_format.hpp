#pragma once
// Request bodies for each chat service, built from an outbox message:
//   json      the message as it is queued
//   feishu    custom bot, interactive card with one lark_md block
//   dingtalk  custom robot, {"msgtype":"markdown","markdown":{"title","text"}}
//   wecom     group robot, {"msgtype":"markdown","markdown":{"content"}} (4096 bytes)
//   telegram  Bot API sendMessage, {"chat_id","text","parse_mode":"HTML"} (4096 characters)
//   slack     incoming webhook, {"text"} in mrkdwn
// Text longer than a service takes is split at line ends into several messages, each titled
// "(i/n)", so nothing is cut off.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "zorvane/report/notify/notify_settings.hpp"
#include "zorvane/report/outbox.hpp"

namespace zorvane::notify {

// A message as people read it: a title and Markdown lines (a short list per stock, so that it
// reads well on a phone).
struct NoticeText {
  std::string title;
  std::string body;
};

// Throws std::invalid_argument when the payload is not a JSON object.
NoticeText notice_text(const report::OutboxMessage& message);

enum class LengthUnit { bytes, utf16 };

// `text` in pieces of at most `limit` units, cut after a line feed where possible and never
// inside a UTF-8 sequence. Empty text gives one empty piece.
std::vector<std::string> split_text(std::string_view text, std::size_t limit, LengthUnit unit);

// The request bodies for one message, in sending order.
std::vector<std::string> webhook_bodies(const NotifySettings& settings,
                                        const report::OutboxMessage& message);

}  // namespace zorvane::notify
