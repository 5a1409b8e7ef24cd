#pragma once
// Client of the OpenAI-compatible chat-completions protocol over libcurl:
// POST {base_url}/chat/completions with a Bearer key and {model, messages, stream: false}.

#include <chrono>
#include <string>
#include <string_view>

#include "zorvane/agent/chat_client.hpp"

namespace zorvane::agent {

struct OpenAIClientConfig {
  std::string base_url;  // e.g. "https://api.openai.com/v1"; a trailing '/' is ignored
  std::string api_key;   // empty: no Authorization header (local servers)
  std::string model;
  std::chrono::milliseconds timeout{120'000};  // bounds each HTTP attempt
  std::chrono::milliseconds connect_timeout{10'000};
  int max_retries = 3;                          // further attempts after the first
  std::chrono::milliseconds retry_base{1'000};  // back-off base: base * 2^n, jittered
  std::chrono::milliseconds retry_cap{60'000};  // no single wait is longer than this
};

// Whether an HTTP status is worth another attempt: 429 and server errors other than
// 501/505, which say the request itself will never work.
bool is_retryable_status(long status);

// Wait before retry `attempt` (0-based): max(retry_after, jittered base * 2^attempt), where the
// jitter draws from [0.5, 1.0] of the exponential value, capped at `cap`.
std::chrono::milliseconds retry_delay(int attempt, std::chrono::milliseconds base,
                                      std::chrono::milliseconds retry_after,
                                      std::chrono::milliseconds cap);

class OpenAICompatibleClient : public ChatClient {
 public:
  explicit OpenAICompatibleClient(OpenAIClientConfig config);

  // Retries 429, 5xx (see is_retryable_status) and transport failures up to max_retries times;
  // never 4xx otherwise nor a 429 whose error code is "insufficient_quota". Errors are
  // std::runtime_error naming the status and the endpoint, never the key.
  ChatReply complete(std::string_view system, std::string_view user) override;

  const std::string& endpoint() const { return endpoint_; }
  const OpenAIClientConfig& config() const { return config_; }

 private:
  OpenAIClientConfig config_;
  std::string endpoint_;        // full URL requests go to
  std::string endpoint_label_;  // endpoint without any user:password part, for messages
};

}  // namespace zorvane::agent
