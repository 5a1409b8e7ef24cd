#pragma once
// The chat-model client interface: one system message plus one user message in, one reply out.

#include <optional>
#include <string>
#include <string_view>

namespace zorvane::agent {

// One message of an exchange. `source` is "user" for the task itself, else the agent's name.
struct ChatMessage {
  std::optional<std::string> source;
  std::optional<std::string> content;
};

// A model reply. `content` is absent when the model sent none (a null content). `reasoning` is
// a reasoning model's separate thinking text: kept for diagnostics, never part of the reply.
struct ChatReply {
  std::optional<std::string> content;
  std::optional<std::string> reasoning;
};

class ChatClient {
 public:
  virtual ~ChatClient() = default;

  // One blocking exchange. Throws std::runtime_error when no usable reply was obtained.
  virtual ChatReply complete(std::string_view system, std::string_view user) = 0;

  // Releases what the client holds. Idempotent; clients that hold nothing keep the default.
  virtual void close() {}
};

}  // namespace zorvane::agent
