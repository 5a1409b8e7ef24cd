#pragma once
// A named assistant that holds a system message and runs one chat exchange per task.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zorvane/agent/chat_client.hpp"

namespace zorvane::agent {

struct TaskResult {
  // The task (source "user"), then the reply (source = the agent's name).
  std::vector<ChatMessage> messages;
};

class AssistantAgent {
 public:
  // Throws std::invalid_argument when `model_client` is null or `name` is empty.
  AssistantAgent(std::string name, std::shared_ptr<ChatClient> model_client,
                 std::string system_message);

  // One exchange with the model; the client's errors propagate. A reasoning model's separate
  // reasoning text is not part of the reply message. The reply is made well-formed UTF-8
  // (ill-formed sequences become U+FFFD).
  TaskResult run(std::string_view task) const;

  const std::string& name() const { return name_; }
  const std::string& system_message() const { return system_message_; }

 private:
  std::string name_;
  std::shared_ptr<ChatClient> model_client_;
  std::string system_message_;
};

}  // namespace zorvane::agent
