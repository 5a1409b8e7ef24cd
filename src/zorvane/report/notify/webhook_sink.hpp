#pragma once
// Delivery of outbox messages to a chat webhook, through the outbox like Kafka: a message is
// owed to the webhook only when it was queued while the webhook was configured (so a webhook
// set for the first time never floods a chat with old reports), stays owed until the service
// accepts it, and is marked failed only when the service refuses it for good.
//
//   auto notify = zorvane::notify::NotifySettings::from_env();  // at program start
//   if (notify) zorvane::notify::register_webhook(storage, *notify);
//   ...                                                         // reports are saved
//   if (notify) zorvane::notify::flush_webhook(storage, *notify);

#include <functional>
#include <string>
#include <string_view>

#include "zorvane/report/notify/notify_settings.hpp"
#include "zorvane/report/report_storage.hpp"

namespace zorvane::notify {

inline constexpr std::string_view kWebhookSink = "webhook";

// What a POST came to.
struct PostResult {
  long status = 0;    // HTTP status, 0 when no response arrived
  std::string body;   // response body
  std::string error;  // transport error, empty when a response arrived
};

using PostFunction = std::function<PostResult(const std::string& url, const std::string& body,
                                              std::chrono::milliseconds timeout)>;

// POSTs a JSON body with libcurl.
PostResult post_json(const std::string& url, const std::string& body,
                     std::chrono::milliseconds timeout);

// Makes the webhook owe what is queued from now on in this process: the watchlist summary,
// and the market brief with notify_brief (once per market and day).
void register_webhook(report::ReportStorage& storage, const NotifySettings& settings);

// Sends what the webhook owes. Never throws; failures are logged without the URL and the
// messages stay owed (or are marked failed when the service refuses them for good).
report::FlushResult flush_webhook(report::ReportStorage& storage, const NotifySettings& settings,
                                  const PostFunction& post = post_json);

// For programs: registers the webhook from the environment at start (throws
// std::invalid_argument for bad settings), and flushes it at the end (never throws).
void register_webhook_from_env(report::ReportStorage& storage);
void flush_webhook_from_env(report::ReportStorage& storage);

}  // namespace zorvane::notify
