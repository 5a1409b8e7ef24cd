#pragma once
// The offline model client: answers from the deterministic writers of offline_writers.hpp,
// without any network. For demos, tests and machines without a model API.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zorvane/agent/chat_client.hpp"

namespace zorvane::agent {

class OfflineClient : public ChatClient {
 public:
  using Writer = std::function<std::optional<std::string>(std::string_view, std::string_view)>;

  // The built-in writers: brief, analysis, summary, asked in that order.
  OfflineClient();
  // Custom writers, asked in order (tests).
  explicit OfflineClient(std::vector<Writer> writers);

  // The first writer's answer. Throws std::runtime_error when no writer knows the prompt.
  ChatReply complete(std::string_view system, std::string_view user) override;

 private:
  std::vector<Writer> writers_;
};

}  // namespace zorvane::agent
