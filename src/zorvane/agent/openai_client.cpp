#include "zorvane/agent/openai_client.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>
#include <utility>

#include "zorvane/agent/http_text.hpp"
#include "zorvane/utils/external_text.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"

namespace zorvane::agent {

namespace {

using utils::logger;

template <class... A>
std::string format_text(std::string_view format, const A&... args) {
  return utils::format_printf(format, {utils::LogArg(args)...});
}

// A reply larger than this is not a chat completion; stop reading rather than exhaust memory.
constexpr std::size_t kMaxBodyBytes = 32u << 20;

struct HttpResult {
  CURLcode code = CURLE_OK;
  std::string curl_error;
  long status = 0;
  std::string body;
  long long retry_after_s = 0;
};

void ensure_curl_initialised() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      throw std::runtime_error("libcurl 初始化失败");
    }
  });
}

std::size_t collect_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  std::size_t n = size * count;
  if (body->size() + n > kMaxBodyBytes) return 0;  // aborts the transfer with a write error
  body->append(data, n);
  return n;
}

HttpResult post_once(const std::string& url, const std::string& api_key, const std::string& body,
                     const OpenAIClientConfig& config) {
  HttpResult result;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    result.code = CURLE_FAILED_INIT;
    result.curl_error = "curl_easy_init failed";
    return result;
  }
  struct curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Content-Type: application/json");
  headers = curl_slist_append(headers, "Accept: application/json");
  std::string auth;
  if (!api_key.empty()) {
    auth = "Authorization: Bearer " + api_key;
    headers = curl_slist_append(headers, auth.c_str());
  }
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> header_guard(headers,
                                                                           curl_slist_free_all);
  char error_buffer[CURL_ERROR_SIZE] = {0};
  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());  // not copied: `body` outlives the call
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(std::min(config.connect_timeout, config.timeout).count()));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(config.timeout.count()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect_body);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &result.body);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");

  result.code = curl_easy_perform(h);
  if (result.code != CURLE_OK) {
    result.curl_error = error_buffer[0] != '\0' ? error_buffer : curl_easy_strerror(result.code);
    if (result.code == CURLE_WRITE_ERROR &&
        result.body.size() + CURL_MAX_WRITE_SIZE > kMaxBodyBytes) {
      result.curl_error = "response body larger than 32 MiB";
    }
    return result;
  }
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
  curl_off_t retry_after = 0;
  if (curl_easy_getinfo(h, CURLINFO_RETRY_AFTER, &retry_after) == CURLE_OK && retry_after > 0) {
    result.retry_after_s = static_cast<long long>(retry_after);
  }
  return result;
}

std::string request_body(const std::string& model, std::string_view system, std::string_view user) {
  rapidjson::Document doc(rapidjson::kObjectType);
  auto& a = doc.GetAllocator();
  utils::json_add(doc, "model", std::string_view(model), a);
  rapidjson::Value messages(rapidjson::kArrayType);
  for (auto [role, content] : {std::pair{"system", system}, std::pair{"user", user}}) {
    rapidjson::Value m(rapidjson::kObjectType);
    utils::json_add(m, "role", role, a);
    utils::json_add(m, "content", content, a);
    messages.PushBack(std::move(m), a);
  }
  utils::json_add(doc, "messages", std::move(messages), a);
  utils::json_add(doc, "stream", false, a);
  return utils::safe_json_dumps(doc);
}

// Content of a reply message: a text, null, or a list of typed parts whose texts are joined.
std::optional<std::string> message_text(const rapidjson::Value* v) {
  if (v == nullptr || v->IsNull()) return std::nullopt;
  if (v->IsString()) return std::string(v->GetString(), v->GetStringLength());
  if (v->IsArray()) {
    std::string text;
    for (const auto& part : v->GetArray()) {
      if (part.IsString()) {
        text.append(part.GetString(), part.GetStringLength());
      } else if (const auto* t = utils::json_find(part, "text"); t && t->IsString()) {
        text.append(t->GetString(), t->GetStringLength());
      }
    }
    return text;
  }
  return std::nullopt;
}

}  // namespace

bool is_retryable_status(long status) {
  if (status == 429) return true;
  return status >= 500 && status <= 599 && status != 501 && status != 505;
}

std::chrono::milliseconds retry_delay(int attempt, std::chrono::milliseconds base,
                                      std::chrono::milliseconds retry_after,
                                      std::chrono::milliseconds cap) {
  thread_local std::mt19937 rng{std::random_device{}()};
  std::uniform_real_distribution<double> jitter(0.5, 1.0);
  double exp_ms = static_cast<double>(base.count()) * std::ldexp(1.0, std::min(attempt, 30));
  double cap_ms = static_cast<double>(cap.count());
  double wait = std::max(static_cast<double>(retry_after.count()), exp_ms * jitter(rng));
  return std::chrono::milliseconds(static_cast<long long>(std::min(wait, cap_ms)));
}

OpenAICompatibleClient::OpenAICompatibleClient(OpenAIClientConfig config)
    : config_(std::move(config)) {
  std::string base = config_.base_url;
  while (!base.empty() && base.back() == '/') base.pop_back();
  if (base.empty()) throw std::invalid_argument("LLM base URL 为空");
  if (config_.model.empty()) throw std::invalid_argument("LLM 模型名为空");
  if (config_.timeout.count() <= 0) throw std::invalid_argument("LLM 超时必须大于 0");
  if (config_.max_retries < 0) throw std::invalid_argument("LLM 重试次数不能为负");
  endpoint_ = base + "/chat/completions";
  endpoint_label_ = redact_url(endpoint_);
  // Every log line and printed error of the process is scrubbed of the key from now on.
  utils::register_secret(config_.api_key);
  ensure_curl_initialised();
}

ChatReply OpenAICompatibleClient::complete(std::string_view system, std::string_view user) {
  const std::string body = request_body(config_.model, system, user);
  const int attempts = config_.max_retries + 1;
  auto scrub = [this](std::string text) { return redact_secret(std::move(text), config_.api_key); };

  for (int attempt = 0;; ++attempt) {
    HttpResult r = post_once(endpoint_, config_.api_key, body, config_);
    std::string status_text;
    std::string err;
    bool retryable = false;
    if (r.code != CURLE_OK) {
      status_text = r.code == CURLE_OPERATION_TIMEDOUT ? "timeout" : "network";
      err = clip_text(r.curl_error, 300, config_.api_key);
      retryable = r.code != CURLE_WRITE_ERROR && r.code != CURLE_UNSUPPORTED_PROTOCOL &&
                  r.code != CURLE_URL_MALFORMAT;
    } else if (r.status < 200 || r.status >= 300) {
      status_text = std::to_string(r.status);
      err = error_summary(r.body, config_.api_key);
      retryable = is_retryable_status(r.status) && !is_quota_error(r.body);
    } else {
      rapidjson::Document doc;
      try {
        doc = utils::parse_json(r.body);
      } catch (const std::exception& e) {
        throw std::runtime_error(scrub(format_text(
            "LLM 响应无法解析 | status=%d endpoint=%s err=响应不是 JSON (%s) body=%s", r.status,
            endpoint_label_, e.what(), clip_text(r.body, 200, config_.api_key))));
      }
      const auto* choices = utils::json_find(doc, "choices");
      if (choices == nullptr || !choices->IsArray() || choices->Empty()) {
        throw std::runtime_error(scrub(format_text(
            "LLM 响应无法解析 | status=%d endpoint=%s err=choices 为空或缺失%s", r.status,
            endpoint_label_,
            utils::json_find(doc, "error") ? " (" + error_summary(r.body, config_.api_key) + ")"
                                           : std::string())));
      }
      const auto* message = utils::json_find((*choices)[0], "message");
      if (message == nullptr || !message->IsObject()) {
        throw std::runtime_error(scrub(
            format_text("LLM 响应无法解析 | status=%d endpoint=%s err=choices[0].message 缺失",
                        r.status, endpoint_label_)));
      }
      ChatReply reply;
      reply.content = message_text(utils::json_find(*message, "content"));
      if (const auto* rc = utils::json_find(*message, "reasoning_content"); rc && rc->IsString()) {
        reply.reasoning = std::string(rc->GetString(), rc->GetStringLength());
      }
      return reply;
    }

    if (!retryable || attempt + 1 >= attempts) {
      throw std::runtime_error(
          scrub(format_text("LLM 请求失败 | status=%s endpoint=%s attempts=%d err=%s", status_text,
                            endpoint_label_, attempt + 1, err)));
    }
    // Retry-After comes from the server: bound it before scaling so that no value overflows
    // (every wait is capped at retry_cap anyway).
    const long long retry_after_s = std::min<long long>(r.retry_after_s, 1'000'000'000);
    auto wait = retry_delay(attempt, config_.retry_base,
                            std::chrono::milliseconds(retry_after_s * 1000), config_.retry_cap);
    logger.warning("[LLM] 请求失败，%.2f 秒后重试 (%d/%d) | status=%s endpoint=%s err=%s",
                   static_cast<double>(wait.count()) / 1000.0, attempt + 1, config_.max_retries,
                   status_text, endpoint_label_, clip_text(err, 200, config_.api_key));
    std::this_thread::sleep_for(wait);
  }
}

}  // namespace zorvane::agent
