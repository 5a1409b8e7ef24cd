#include "zorvane/report/notify/webhook_post.hpp"

#include <curl/curl.h>

#include <memory>

#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::report::notify {

namespace {

// Longest answer kept: enough for an error object, bounded against a hostile server.
constexpr std::size_t kMaxAnswer = 64 * 1024;
constexpr std::size_t kErrorChars = 300;

std::size_t collect(char* data, std::size_t size, std::size_t n, void* out) {
  auto* body = static_cast<std::string*>(out);
  const std::size_t len = size * n;
  if (body->size() < kMaxAnswer) body->append(data, std::min(len, kMaxAnswer - body->size()));
  return len;
}

// The error a chat service reports inside a 2xx answer, or "".
std::string service_error(const std::string& answer) {
  try {
    const auto doc = utils::parse_json(answer);
    if (!doc.IsObject()) return "";
    for (const char* key : {"code", "errcode", "StatusCode"}) {
      const auto* v = utils::json_find(doc, key);
      if (v != nullptr && v->IsInt64() && v->GetInt64() != 0) return answer;
    }
    const auto* ok = utils::json_find(doc, "ok");
    if (ok != nullptr && ok->IsBool() && !ok->GetBool()) return answer;
  } catch (const std::exception&) {
    // Plain-text answers ("ok" from Slack) carry no error object.
  }
  return "";
}

std::string shortened(std::string text) {
  if (text.size() <= kErrorChars) return text;
  std::size_t cut = kErrorChars;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "…";
}

}  // namespace

std::string redact_url(std::string text, const std::string& url) {
  if (url.empty()) return text;
  text = utils::replace_all(std::move(text), url, "***");
  // The path and query hold the tokens: "https://host/hook/TOKEN?key=K".
  const auto scheme = url.find("://");
  const auto path = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (path != std::string::npos && path + 1 < url.size()) {
    text = utils::replace_all(std::move(text), url.substr(path), "/***");
    for (std::size_t from = path + 1; from < url.size();) {
      const auto end = url.find_first_of("/?&=", from);
      const std::string part = url.substr(from, end - from);
      if (part.size() >= 8) text = utils::replace_all(std::move(text), part, "***");
      if (end == std::string::npos) break;
      from = end + 1;
    }
  }
  return text;
}

PostResult post_json(const std::string& url, const std::string& body,
                     std::chrono::milliseconds timeout) {
  PostResult result;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    result.error = "curl_easy_init failed";
    return result;
  }
  struct curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Content-Type: application/json; charset=utf-8");
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> header_guard(headers,
                                                                           curl_slist_free_all);
  char error_buffer[CURL_ERROR_SIZE] = {0};
  std::string answer;
  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout.count()));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_buffer);
  const CURLcode code = curl_easy_perform(h);
  if (code != CURLE_OK) {
    result.error = redact_url(
        std::string("transport: ") + (error_buffer[0] ? error_buffer : curl_easy_strerror(code)),
        url);
    return result;
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 200 && status < 300) {
    const std::string refused = service_error(answer);
    if (refused.empty()) {
      result.ok = true;
      return result;
    }
    // The services answer 200 with an error code for rate limits and bad tokens alike: kept
    // for the next run rather than given up.
    result.error = redact_url(shortened("HTTP " + std::to_string(status) + ": " + refused), url);
    return result;
  }
  result.permanent = status >= 400 && status < 500 && status != 408 && status != 429;
  result.error = redact_url(shortened("HTTP " + std::to_string(status) + ": " + answer), url);
  return result;
}

}  // namespace zorvane::report::notify
