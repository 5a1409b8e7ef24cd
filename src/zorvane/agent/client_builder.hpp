#pragma once
// Builds the configured model client from the environment.
//
//   LLM_CLIENT_TYPE   deepseek (default) | openai | ollama | offline (any case)
//   <TYPE>_API_KEY    required for deepseek and openai, optional for ollama
//   <TYPE>_BASE_URL   defaults: https://api.deepseek.com, https://api.openai.com/v1,
//                     http://127.0.0.1:11434/v1
//   <TYPE>_MODEL      defaults: deepseek-chat, gpt-4o-mini, qwen2.5:7b
//   LLM_TIMEOUT_S     seconds per HTTP attempt (default 120, fractions allowed)
//   LLM_MAX_RETRIES   further attempts after a retryable failure (default 3)
//   LLM_RETRY_BASE_MS back-off base in milliseconds (default 1000)

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>

#include "zorvane/agent/chat_client.hpp"
#include "zorvane/agent/openai_client.hpp"

namespace zorvane::agent {

// (client, model name, reserved, client type). The third element carries nothing.
using BuiltClient =
    std::tuple<std::shared_ptr<ChatClient>, std::string, std::monostate, std::string>;

// The client type named by LLM_CLIENT_TYPE, trimmed and lower-cased ("deepseek" when unset).
std::string configured_client_type();

// HTTP settings of an OpenAI-compatible type ("deepseek", "openai", "ollama") from the
// environment. Throws std::runtime_error when the type needs a key and none is set (before any
// request is made), std::invalid_argument for an unknown type or a malformed number.
OpenAIClientConfig http_client_config(std::string_view client_type);

// The longest one model call of the configured client can take: the timeout of every attempt
// (LLM_TIMEOUT_S x (LLM_MAX_RETRIES + 1)) plus the back-off waits between them, each counted
// at its cap (a server's Retry-After can stretch any wait that far). Zero for the offline
// client; the defaults when the settings are unusable (the call itself then fails at once).
std::chrono::milliseconds model_call_bound();

// The configured client. Errors as http_client_config, and std::invalid_argument naming an
// unknown LLM_CLIENT_TYPE.
BuiltClient build_client();

}  // namespace zorvane::agent
