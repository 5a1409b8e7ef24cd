#pragma once
// Loopback stand-in for an OpenAI-compatible chat-completions server, for tests.
//
//   zv_test::ChatStub stub;                       // listens on 127.0.0.1:<free port>
//   stub.set_default_reply("brief text");         // answer when the script is empty
//   stub.push(zv_test::ChatStub::error(429, "slow down", "rate_limit", "", "0"));
//   setenv("OPENAI_BASE_URL", stub.base_url().c_str(), 1);
//   ... run the code under test ...
//   auto reqs = stub.requests();                  // every request, in arrival order
//   reqs[0].user_message();
//
// Scripted responses are consumed in order, one per request; once the queue is empty each
// request gets the default reply. Handlers run on the server's thread pool, so every piece of
// shared state is guarded. Link PkgConfig::HTTPLIB and zorvane_utils.

#include <httplib.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "zorvane/utils/json.hpp"

namespace zv_test {

// One scripted answer.
struct StubResponse {
  int status = 200;
  std::string body;
  std::chrono::milliseconds delay{0};                        // wait this long before answering
  std::vector<std::pair<std::string, std::string>> headers;  // e.g. {"Retry-After", "1"}
  std::string content_type = "application/json";
};

// One request as received.
struct StubRequest {
  std::string method;
  std::string path;
  std::string body;
  std::multimap<std::string, std::string> headers;  // names as sent

  std::string header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
      if (key.size() != name.size()) continue;
      bool same = true;
      for (std::size_t i = 0; i < key.size() && same; ++i) {
        same = std::tolower(static_cast<unsigned char>(key[i])) ==
               std::tolower(static_cast<unsigned char>(name[i]));
      }
      if (same) return value;
    }
    return {};
  }

  // Content of the first chat message with `role`, or nullopt when the body is not a
  // chat request or has no such message.
  std::optional<std::string> message(std::string_view role) const {
    try {
      auto doc = zorvane::utils::parse_json(body);
      const auto* messages = zorvane::utils::json_find(doc, "messages");
      if (messages == nullptr || !messages->IsArray()) return std::nullopt;
      for (const auto& m : messages->GetArray()) {
        const auto* r = zorvane::utils::json_find(m, "role");
        const auto* c = zorvane::utils::json_find(m, "content");
        if (r && r->IsString() && std::string_view(r->GetString(), r->GetStringLength()) == role &&
            c && c->IsString()) {
          return std::string(c->GetString(), c->GetStringLength());
        }
      }
    } catch (const std::exception&) {
    }
    return std::nullopt;
  }
  std::optional<std::string> system_message() const { return message("system"); }
  std::optional<std::string> user_message() const { return message("user"); }

  // Top-level text member of the JSON body ("model"), or nullopt.
  std::optional<std::string> text_field(std::string_view key) const {
    try {
      auto doc = zorvane::utils::parse_json(body);
      const auto* v = zorvane::utils::json_find(doc, key);
      if (v && v->IsString()) return std::string(v->GetString(), v->GetStringLength());
    } catch (const std::exception&) {
    }
    return std::nullopt;
  }
};

class ChatStub {
 public:
  ChatStub() {
    server_.Post(".*",
                 [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); });
    server_.Get(".*",
                [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("chat stub: cannot bind 127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  ~ChatStub() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();  // release handlers that are sleeping out a delay
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }

  ChatStub(const ChatStub&) = delete;
  ChatStub& operator=(const ChatStub&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:PORT/v1": what a client takes as its base URL.
  std::string base_url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/v1"; }

  // Queues one scripted answer.
  void push(StubResponse response) {
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(response));
  }

  // The answer once the script is used up: a reply whose content is `content`.
  void set_default_reply(std::string content, std::optional<std::string> reasoning = {}) {
    auto r = reply(content, reasoning);
    std::lock_guard lock(mutex_);
    default_ = std::move(r);
  }
  void set_default_response(StubResponse response) {
    std::lock_guard lock(mutex_);
    default_ = std::move(response);
  }

  // Answers decided by the request itself (e.g. an error for one stock's prompt), before the
  // script: `rule` returns the answer, or nullopt to go on with the script.
  void set_rule(std::function<std::optional<StubResponse>(const StubRequest&)> rule) {
    std::lock_guard lock(mutex_);
    rule_ = std::move(rule);
  }

  std::vector<StubRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::size_t request_count() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
  }
  void clear_requests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
  }

  // A chat-completions reply body. `content` nullopt writes "content": null.
  static std::string reply_json(const std::optional<std::string>& content,
                                const std::optional<std::string>& reasoning = {},
                                const std::string& model = "stub-model") {
    rapidjson::Document doc(rapidjson::kObjectType);
    auto& a = doc.GetAllocator();
    using zorvane::utils::json_add;
    json_add(doc, "id", "chatcmpl-stub", a);
    json_add(doc, "object", "chat.completion", a);
    json_add(doc, "model", model, a);
    rapidjson::Value message(rapidjson::kObjectType);
    json_add(message, "role", "assistant", a);
    if (content) {
      json_add(message, "content", std::string_view(*content), a);
    } else {
      json_add(message, "content", rapidjson::Value(rapidjson::kNullType), a);
    }
    if (reasoning) json_add(message, "reasoning_content", std::string_view(*reasoning), a);
    rapidjson::Value choice(rapidjson::kObjectType);
    json_add(choice, "index", 0, a);
    json_add(choice, "message", std::move(message), a);
    json_add(choice, "finish_reason", "stop", a);
    rapidjson::Value choices(rapidjson::kArrayType);
    choices.PushBack(std::move(choice), a);
    json_add(doc, "choices", std::move(choices), a);
    return zorvane::utils::safe_json_dumps(doc);
  }

  static StubResponse reply(const std::optional<std::string>& content,
                            const std::optional<std::string>& reasoning = {}) {
    StubResponse r;
    r.body = reply_json(content, reasoning);
    return r;
  }

  // An error answer with the usual {"error": {"message", "type", "code"}} body.
  static StubResponse error(int status, const std::string& message, const std::string& type = "",
                            const std::string& code = "", const std::string& retry_after = "") {
    rapidjson::Document doc(rapidjson::kObjectType);
    auto& a = doc.GetAllocator();
    rapidjson::Value err(rapidjson::kObjectType);
    zorvane::utils::json_add(err, "message", std::string_view(message), a);
    zorvane::utils::json_add(err, "type", std::string_view(type), a);
    zorvane::utils::json_add(err, "code", std::string_view(code), a);
    zorvane::utils::json_add(doc, "error", std::move(err), a);
    StubResponse r;
    r.status = status;
    r.body = zorvane::utils::safe_json_dumps(doc);
    if (!retry_after.empty()) r.headers.emplace_back("Retry-After", retry_after);
    return r;
  }

  // A raw answer (for bodies that are not JSON).
  static StubResponse raw(int status, std::string body, std::string content_type = "text/plain") {
    StubResponse r;
    r.status = status;
    r.body = std::move(body);
    r.content_type = std::move(content_type);
    return r;
  }

 private:
  void handle(const httplib::Request& req, httplib::Response& res) {
    StubResponse answer;
    {
      std::unique_lock lock(mutex_);
      StubRequest recorded{req.method, req.path, req.body, {}};
      for (const auto& [key, value] : req.headers) recorded.headers.emplace(key, value);
      std::optional<StubResponse> ruled;
      if (rule_) ruled = rule_(recorded);
      requests_.push_back(std::move(recorded));
      if (ruled) {
        answer = std::move(*ruled);
      } else if (!script_.empty()) {
        answer = std::move(script_.front());
        script_.pop_front();
      } else {
        answer = default_;
      }
      if (answer.delay.count() > 0) {
        wake_.wait_for(lock, answer.delay, [this] { return stopping_; });
      }
    }
    res.status = answer.status;
    for (const auto& [key, value] : answer.headers) res.set_header(key, value);
    res.set_content(answer.body, answer.content_type);
  }

  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::deque<StubResponse> script_;
  StubResponse default_ = reply("stub reply");
  std::vector<StubRequest> requests_;
  std::function<std::optional<StubResponse>(const StubRequest&)> rule_;
};

}  // namespace zv_test
