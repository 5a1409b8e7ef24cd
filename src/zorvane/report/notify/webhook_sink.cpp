#include "zorvane/report/notify/webhook_sink.hpp"

#include <curl/curl.h>

#include <mutex>
#include <stdexcept>

#include "zorvane/report/notify/notify_format.hpp"
#include "zorvane/utils/external_text.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"

namespace zorvane::notify {
namespace {

std::size_t collect(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// The service's verdict on one request.
enum class Verdict { accepted, transient, rejected };

struct Answer {
  Verdict verdict;
  std::string error;
};

// Error codes in a 200 answer that mean "too many messages, try later".
bool is_rate_limit_code(long long code) {
  return code == 130101 /* DingTalk */ || code == 45009 /* WeCom */ || code == 11232 ||
         code == 9499 /* Feishu */;
}

Answer judge(WebhookFormat format, const PostResult& r) {
  if (r.status == 0) return {Verdict::transient, r.error.empty() ? "无响应" : r.error};
  const std::string head = "HTTP " + std::to_string(r.status);
  const std::string detail = r.body.substr(0, 300);
  if (r.status == 408 || r.status == 429 || r.status >= 500) {
    return {Verdict::transient, head + ": " + detail};
  }
  if (r.status < 200 || r.status >= 300) return {Verdict::rejected, head + ": " + detail};
  // Chat services answer 200 with their own error code in the body.
  const char* code_key = nullptr;
  if (format == WebhookFormat::dingtalk || format == WebhookFormat::wecom) code_key = "errcode";
  if (format == WebhookFormat::feishu) code_key = "code";
  if (format == WebhookFormat::telegram) {
    try {
      const auto doc = utils::parse_json(r.body);
      const auto* ok = utils::json_find(doc, "ok");
      if (ok != nullptr && ok->IsBool() && !ok->GetBool()) return {Verdict::rejected, detail};
    } catch (const std::invalid_argument&) {
    }
    return {Verdict::accepted, {}};
  }
  if (code_key == nullptr) return {Verdict::accepted, {}};
  try {
    const auto doc = utils::parse_json(r.body);
    const auto* code = utils::json_find(doc, code_key);
    if (code == nullptr || !code->IsNumber() || code->GetDouble() == 0) {
      return {Verdict::accepted, {}};
    }
    const auto value = static_cast<long long>(code->GetDouble());
    return {is_rate_limit_code(value) ? Verdict::transient : Verdict::rejected, detail};
  } catch (const std::invalid_argument&) {
    return {Verdict::accepted, {}};  // a 2xx without a JSON body is the service's "ok"
  }
}

}  // namespace

PostResult post_json(const std::string& url, const std::string& body,
                     std::chrono::milliseconds timeout) {
  static std::once_flag init;
  std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  PostResult result;
  CURL* h = curl_easy_init();
  if (h == nullptr) {
    result.error = "curl_easy_init 失败";
    return result;
  }
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8");
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());  // not copied: `body` outlives the call
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &result.body);
  const CURLcode rc = curl_easy_perform(h);
  if (rc == CURLE_OK) {
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
  } else {
    // curl's own text names the host at most; the URL with its token is never put in it.
    result.error = curl_easy_strerror(rc);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(h);
  return result;
}

namespace {

// The outbox note of a split message of which `sent` of `total` parts were accepted.
std::string parts_note(std::size_t sent, std::size_t total) {
  return "parts " + std::to_string(sent) + "/" + std::to_string(total);
}

// Parts already accepted, from the note; 0 when there is none or the message now splits into
// another number of parts (the settings changed), which sends it whole again.
std::size_t parts_sent(const std::string& note, std::size_t total) {
  for (std::size_t sent = 1; sent < total; ++sent)
    if (note == parts_note(sent, total)) return sent;
  return 0;
}

}  // namespace

void register_webhook(report::ReportStorage& storage, const NotifySettings& settings) {
  const bool brief = settings.notify_brief;
  storage.add_sink(report::SinkRule{
      .name = std::string(kWebhookSink),
      .owes =
          [brief](std::string_view kind) {
            return kind == "watchlist_summary" || (brief && kind == "sumora");
          },
      .once_per_key = [](std::string_view kind) { return kind == "sumora"; },
  });
}

report::FlushResult flush_webhook(report::ReportStorage& storage, const NotifySettings& settings,
                                  const PostFunction& post) {
  report::SinkDelivery sink;
  sink.name = std::string(kWebhookSink);
  sink.label = "Webhook";
  sink.kinds = {"watchlist_summary", "sumora"};
  sink.max_delivery_time = settings.timeout * 20;
  sink.deliver = [&](const std::vector<report::OutboxMessage>& batch) {
    report::DeliveryOutcome outcome;
    for (const auto& message : batch) {
      std::vector<std::string> bodies;
      try {
        bodies = webhook_bodies(settings, message);
      } catch (const std::invalid_argument& e) {
        outcome.rejected.push_back({message.id, e.what()});
        continue;
      }
      // Parts of a split message go out in order; a message counts as delivered when every
      // part was accepted. After a transient failure the rest of the batch waits for the next
      // flush, keeping the order of the chat; the parts already accepted are noted and not
      // sent again (unless the message now splits differently).
      Answer answer{Verdict::accepted, {}};
      std::size_t sent = parts_sent(message.progress, bodies.size());
      for (; sent < bodies.size(); ++sent) {
        answer = judge(settings.format, post(settings.url, bodies[sent], settings.timeout));
        if (answer.verdict != Verdict::accepted) break;
      }
      if (sent > 0 && sent < bodies.size())
        outcome.progress.emplace_back(message.id, parts_note(sent, bodies.size()));
      const std::string error = utils::redact_secrets(answer.error, settings.url);
      if (answer.verdict == Verdict::accepted) {
        outcome.delivered.push_back(message.id);
      } else if (answer.verdict == Verdict::rejected) {
        outcome.rejected.push_back({message.id, error});
      } else {
        outcome.error = error;
        return outcome;  // ids left out count as failed (transient)
      }
    }
    return outcome;
  };
  return storage.flush_sink(sink);
}

void register_webhook_from_env(report::ReportStorage& storage) {
  if (auto settings = NotifySettings::from_env()) register_webhook(storage, *settings);
}

void flush_webhook_from_env(report::ReportStorage& storage) {
  try {
    if (auto settings = NotifySettings::from_env()) flush_webhook(storage, *settings);
  } catch (const std::exception& e) {
    utils::logger.warning("通知设置无效，未投递: %s", utils::printable_external(e.what()));
  }
}

}  // namespace zorvane::notify
