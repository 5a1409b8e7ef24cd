#include "candlex/fetch/http_client.hpp"

#include <curl/curl.h>

#include <stdexcept>
#include <thread>

#include "zorvane/utils/env.hpp"

namespace candlex::fetch {

namespace {

using namespace std::chrono;

void init_curl_once() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
      throw std::runtime_error("libcurl initialisation failed");
  });
}

std::size_t append_body(char* data, std::size_t size, std::size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

long env_count(const char* name, long fallback) {
  auto text = zorvane::utils::env_text(name);
  if (!text) return fallback;
  std::size_t used = 0;
  long v = -1;
  try {
    v = std::stol(*text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text->size() || v < 0 || v > 86400000)
    throw std::invalid_argument(std::string(name) + "='" + *text +
                                "' is not a non-negative whole number");
  return v;
}

bool retriable(const HttpResult& r) {
  switch (r.failure) {
    case HttpResult::Failure::dropped:
      return false;
    case HttpResult::Failure::none:
      return r.status >= 500 && r.status != 501 && r.status != 505;
    default:
      return true;
  }
}

}  // namespace

HttpOptions http_options_from_env() {
  HttpOptions o;
  o.min_interval = milliseconds(env_count("CANDLEX_FETCH_DELAY_MS", 500));
  o.retries = static_cast<int>(env_count("CANDLEX_FETCH_RETRIES", 3));
  o.timeout = seconds(env_count("CANDLEX_FETCH_TIMEOUT_S", 20));
  if (o.timeout.count() == 0) o.timeout = seconds(20);
  return o;
}

std::string host_of(const std::string& url) {
  auto scheme = url.find("://");
  auto start = scheme == std::string::npos ? 0 : scheme + 3;
  auto end = url.find('/', start);
  return url.substr(0, end);
}

HttpClient::HttpClient(HttpOptions options)
    : options_(std::move(options)), random_(std::random_device{}()) {
  init_curl_once();
}

long HttpClient::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void HttpClient::wait_turn(const std::string& host) {
  steady_clock::time_point slot;
  {
    std::lock_guard lock(mutex_);
    ++requests_;
    auto now = steady_clock::now();
    auto& next = next_slot_[host];
    slot = std::max(now, next);
    auto gap = options_.min_interval;
    if (gap.count() > 0) {
      std::uniform_int_distribution<long> jitter(0, gap.count() / 2);
      gap += milliseconds(jitter(random_));
    }
    next = slot + gap;
  }
  std::this_thread::sleep_until(slot);
}

HttpResult HttpClient::attempt(const std::string& url) {
  wait_turn(host_of(url));
  HttpResult result;
  CURL* curl = curl_easy_init();
  if (!curl) throw std::runtime_error("curl_easy_init failed");
  char error[CURL_ERROR_SIZE] = {0};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, options_.user_agent.c_str());
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 3L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.timeout.count()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append_body);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  CURLcode rc = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
  curl_easy_cleanup(curl);
  if (rc == CURLE_OK) return result;
  result.error = error[0] ? error : curl_easy_strerror(rc);
  switch (rc) {
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      result.failure = result.body.empty() && result.status == 0 ? HttpResult::Failure::dropped
                                                                 : HttpResult::Failure::transport;
      break;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      result.failure = HttpResult::Failure::unreachable;
      break;
    case CURLE_OPERATION_TIMEDOUT:
      result.failure = HttpResult::Failure::timeout;
      break;
    default:
      result.failure = HttpResult::Failure::transport;
  }
  return result;
}

HttpResult HttpClient::get(const std::string& url) {
  HttpResult result = attempt(url);
  for (int n = 0; n < options_.retries && retriable(result); ++n) {
    std::this_thread::sleep_for(options_.min_interval * 4 * (1 << n));
    result = attempt(url);
  }
  return result;
}

}  // namespace candlex::fetch
