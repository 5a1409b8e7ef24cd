#pragma once
// A polite HTTP GET client for the public daily-bar sources.
//
// Requests to one host are spaced by at least `min_interval` plus a random jitter of up to
// half of it, across every thread that shares the client. Timeouts, transfers cut short and
// 5xx replies are retried with exponential back-off (base 4 x min_interval); a connection
// closed without any response is returned at once and never retried, since that is how the
// sources refuse a client they have blocked.

#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <string>

namespace candlex::fetch {

struct HttpOptions {
  std::chrono::milliseconds min_interval{500};
  int retries = 3;
  std::chrono::milliseconds timeout{20000};
  std::string user_agent = "candlex-fetch/1.0 (daily bars; one request at a time)";
};

struct HttpResult {
  enum class Failure {
    none,         // a reply came; see status
    dropped,      // connection closed without a response
    unreachable,  // could not connect or resolve
    timeout,      // no complete reply in time
    transport,    // other transfer errors (a body cut short, ...)
  };
  Failure failure = Failure::none;
  long status = 0;
  std::string body;
  std::string error;  // curl's text for a failure
};

// Reads the options from the environment: CANDLEX_FETCH_DELAY_MS (minimum spacing per host,
// default 500), CANDLEX_FETCH_RETRIES (default 3), CANDLEX_FETCH_TIMEOUT_S (default 20).
// Throws std::invalid_argument naming a variable that is not a non-negative whole number.
HttpOptions http_options_from_env();

class HttpClient {
 public:
  explicit HttpClient(HttpOptions options);
  HttpResult get(const std::string& url);
  // Requests sent so far (attempts, retries included).
  long requests() const;

 private:
  HttpResult attempt(const std::string& url);
  void wait_turn(const std::string& host);

  HttpOptions options_;
  mutable std::mutex mutex_;
  std::map<std::string, std::chrono::steady_clock::time_point> next_slot_;
  std::mt19937 random_;
  long requests_ = 0;
};

// "scheme://host[:port]" part of a URL (the pacing key).
std::string host_of(const std::string& url);

}  // namespace candlex::fetch
