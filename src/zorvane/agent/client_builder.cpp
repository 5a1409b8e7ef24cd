#include "zorvane/agent/client_builder.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "zorvane/agent/offline_client.hpp"
#include "zorvane/utils/env.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::agent {

namespace {

struct Provider {
  std::string_view type;
  std::string_view base_url;
  std::string_view model;
  bool needs_key;
};

constexpr Provider kProviders[] = {
    {"deepseek", "https://api.deepseek.com", "deepseek-chat", true},
    {"openai", "https://api.openai.com/v1", "gpt-4o-mini", true},
    {"ollama", "http://127.0.0.1:11434/v1", "qwen2.5:7b", false},
};

const Provider* find_provider(std::string_view type) {
  for (const auto& p : kProviders) {
    if (p.type == type) return &p;
  }
  return nullptr;
}

std::string unknown_type_message(std::string_view type) {
  return "不支持的 LLM_CLIENT_TYPE: " + utils::quoted_text(type) +
         "（可选 deepseek、openai、ollama、offline）";
}

double env_number(const char* name, double fallback, double min_value) {
  auto text = utils::env_text(name);
  if (!text) return fallback;
  double value = 0;
  auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec != std::errc() || end != text->data() + text->size() || !std::isfinite(value) ||
      value < min_value) {
    throw std::invalid_argument(std::string(name) + " 取值无效: " + utils::quoted_text(*text));
  }
  return value;
}

}  // namespace

std::string configured_client_type() {
  return utils::to_lower(utils::env_or("LLM_CLIENT_TYPE", "deepseek"));
}

OpenAIClientConfig http_client_config(std::string_view client_type) {
  const Provider* provider = find_provider(client_type);
  if (provider == nullptr) throw std::invalid_argument(unknown_type_message(client_type));
  const std::string prefix = utils::to_upper(client_type);
  const std::string key_var = prefix + "_API_KEY";

  OpenAIClientConfig config;
  config.api_key = utils::env_or(key_var.c_str(), "");
  if (provider->needs_key && config.api_key.empty()) {
    throw std::runtime_error("LLM_CLIENT_TYPE=" + std::string(client_type) +
                             " 需要 API key，请设置环境变量 " + key_var);
  }
  config.base_url = utils::env_or((prefix + "_BASE_URL").c_str(), provider->base_url);
  config.model = utils::env_or((prefix + "_MODEL").c_str(), provider->model);

  double timeout_s = env_number("LLM_TIMEOUT_S", 120.0, 0.0);
  if (timeout_s <= 0.0) {
    throw std::invalid_argument("LLM_TIMEOUT_S 必须大于 0: " +
                                utils::quoted_text(utils::env_or("LLM_TIMEOUT_S", "")));
  }
  // Huge values mean "no practical limit"; bounded so the millisecond count cannot overflow.
  constexpr double kMaxMs = 1e12;
  config.timeout = std::chrono::milliseconds(
      std::max<long long>(1, std::llround(std::min(timeout_s * 1000, kMaxMs))));
  double retries = env_number("LLM_MAX_RETRIES", 3, 0);
  if (retries != std::floor(retries) || retries > 100) {
    throw std::invalid_argument("LLM_MAX_RETRIES 取值无效: " +
                                utils::quoted_text(utils::env_or("LLM_MAX_RETRIES", "")));
  }
  config.max_retries = static_cast<int>(retries);
  config.retry_base = std::chrono::milliseconds(
      std::llround(std::min(env_number("LLM_RETRY_BASE_MS", 1000, 0), kMaxMs)));
  return config;
}

std::chrono::milliseconds model_call_bound() {
  const std::string type = configured_client_type();
  if (type == "offline") return std::chrono::milliseconds{0};
  OpenAIClientConfig config;
  try {
    config = http_client_config(type);
  } catch (const std::exception&) {
    // keep the defaults: the call will fail with the real error before it waits for anything
  }
  const auto attempts = static_cast<long long>(config.max_retries) + 1;
  return config.timeout * attempts + config.retry_cap * config.max_retries;
}

BuiltClient build_client() {
  const std::string type = configured_client_type();
  if (type == "offline") {
    return {std::make_shared<OfflineClient>(), "offline", std::monostate{}, type};
  }
  if (find_provider(type) == nullptr) throw std::invalid_argument(unknown_type_message(type));
  OpenAIClientConfig config = http_client_config(type);
  std::string model = config.model;
  return {std::make_shared<OpenAICompatibleClient>(std::move(config)), std::move(model),
          std::monostate{}, type};
}

}  // namespace zorvane::agent
