#include "zorvane/agent/assistant_agent.hpp"

#include <stdexcept>
#include <utility>

#include "zorvane/utils/text.hpp"

namespace zorvane::agent {

AssistantAgent::AssistantAgent(std::string name, std::shared_ptr<ChatClient> model_client,
                               std::string system_message)
    : name_(std::move(name)),
      model_client_(std::move(model_client)),
      system_message_(std::move(system_message)) {
  if (name_.empty()) throw std::invalid_argument("AssistantAgent: name 不能为空");
  if (!model_client_) throw std::invalid_argument("AssistantAgent: model_client 不能为空");
}

TaskResult AssistantAgent::run(std::string_view task) const {
  ChatReply reply = model_client_->complete(system_message_, task);
  TaskResult result;
  result.messages.push_back(ChatMessage{"user", std::string(task)});
  // Whatever bytes a server sends, the reply that is printed, cached, stored and delivered is
  // well-formed UTF-8 (a cache reader rejects anything else and would pay for a call again).
  if (reply.content) reply.content = utils::valid_utf8(*reply.content);
  result.messages.push_back(ChatMessage{name_, std::move(reply.content)});
  return result;
}

}  // namespace zorvane::agent
