#include "zorvane/agent/client_builder.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/chat_stub.hpp"
#include "support/env_guard.hpp"
#include "zorvane/agent/offline_client.hpp"

namespace zorvane::agent {
namespace {

using zv_test::EnvGuard;

// Clears every variable the builder reads so the host environment cannot leak in.
struct CleanEnv {
  std::vector<std::unique_ptr<EnvGuard>> guards;
  CleanEnv() {
    for (const char* name :
         {"LLM_CLIENT_TYPE", "LLM_TIMEOUT_S", "LLM_MAX_RETRIES", "LLM_RETRY_BASE_MS",
          "DEEPSEEK_API_KEY", "DEEPSEEK_BASE_URL", "DEEPSEEK_MODEL", "OPENAI_API_KEY",
          "OPENAI_BASE_URL", "OPENAI_MODEL", "OLLAMA_API_KEY", "OLLAMA_BASE_URL", "OLLAMA_MODEL"}) {
      guards.push_back(std::make_unique<EnvGuard>(name, std::nullopt));
    }
  }
};

template <class E, class F>
std::string error_of(F&& call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  }
  ADD_FAILURE() << "expected exception not thrown";
  return {};
}

TEST(BuildClient, DefaultsPerProvider) {
  CleanEnv clean;
  EnvGuard key("DEEPSEEK_API_KEY", "k1");
  auto [client, model, reserved, type] = build_client();
  EXPECT_EQ(type, "deepseek");
  EXPECT_EQ(model, "deepseek-chat");
  auto* http = dynamic_cast<OpenAICompatibleClient*>(client.get());
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->endpoint(), "https://api.deepseek.com/chat/completions");
  EXPECT_EQ(http->config().timeout, std::chrono::seconds(120));
  EXPECT_EQ(http->config().max_retries, 3);

  auto ollama = http_client_config("ollama");
  EXPECT_EQ(ollama.base_url, "http://127.0.0.1:11434/v1");
  EXPECT_EQ(ollama.model, "qwen2.5:7b");
  EXPECT_EQ(ollama.api_key, "");  // ollama runs without a key

  EnvGuard okey("OPENAI_API_KEY", "k2");
  auto o = http_client_config("openai");
  EXPECT_EQ(o.base_url, "https://api.openai.com/v1");
  EXPECT_EQ(o.model, "gpt-4o-mini");
  EXPECT_EQ(o.api_key, "k2");
}

TEST(BuildClient, ReadsTypeAndSettingsFromEnvironment) {
  CleanEnv clean;
  zv_test::ChatStub stub;
  stub.set_default_reply("来自桩服务");
  EnvGuard type("LLM_CLIENT_TYPE", "  OpenAI ");
  EnvGuard key("OPENAI_API_KEY", "sk-env");
  EnvGuard url("OPENAI_BASE_URL", stub.base_url());
  EnvGuard model("OPENAI_MODEL", "my-model");
  EnvGuard timeout("LLM_TIMEOUT_S", "2.5");
  EnvGuard retries("LLM_MAX_RETRIES", "0");

  auto [client, model_name, reserved, client_type] = build_client();
  EXPECT_EQ(client_type, "openai");
  EXPECT_EQ(model_name, "my-model");
  auto* http = dynamic_cast<OpenAICompatibleClient*>(client.get());
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->config().timeout, std::chrono::milliseconds(2500));
  EXPECT_EQ(http->config().max_retries, 0);

  EXPECT_EQ(client->complete("s", "u").content, "来自桩服务");
  auto reqs = stub.requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].header("Authorization"), "Bearer sk-env");
  EXPECT_EQ(reqs[0].text_field("model"), "my-model");
}

TEST(BuildClient, MissingKeyFailsBeforeAnyRequest) {
  CleanEnv clean;
  zv_test::ChatStub stub;
  for (const char* t : {"deepseek", "openai"}) {
    EnvGuard type("LLM_CLIENT_TYPE", t);
    std::string upper = std::string(t) == "deepseek" ? "DEEPSEEK" : "OPENAI";
    EnvGuard url(upper + "_BASE_URL", stub.base_url());
    EnvGuard blank(upper + "_API_KEY", "   ");  // blank counts as missing
    std::string err = error_of<std::runtime_error>([] { build_client(); });
    EXPECT_NE(err.find(upper + "_API_KEY"), std::string::npos) << err;
  }
  EXPECT_EQ(stub.request_count(), 0u);
}

TEST(BuildClient, RejectsUnknownTypeAndBadNumbers) {
  CleanEnv clean;
  {
    EnvGuard type("LLM_CLIENT_TYPE", "Gemini");
    std::string err = error_of<std::invalid_argument>([] { build_client(); });
    EXPECT_NE(err.find("'gemini'"), std::string::npos) << err;
  }
  EnvGuard type("LLM_CLIENT_TYPE", "ollama");
  for (auto [name, value] : {std::pair{"LLM_TIMEOUT_S", "abc"}, std::pair{"LLM_TIMEOUT_S", "0"},
                             std::pair{"LLM_TIMEOUT_S", "-3"}, std::pair{"LLM_MAX_RETRIES", "1.5"},
                             std::pair{"LLM_MAX_RETRIES", "-1"}}) {
    EnvGuard bad(name, value);
    std::string err = error_of<std::invalid_argument>([] { build_client(); });
    EXPECT_NE(err.find(name), std::string::npos) << err;
    EXPECT_NE(err.find(value), std::string::npos) << err;
  }
}

TEST(BuildClient, OfflineNeedsNothing) {
  CleanEnv clean;
  EnvGuard type("LLM_CLIENT_TYPE", "OFFLINE");
  auto [client, model, reserved, client_type] = build_client();
  EXPECT_EQ(client_type, "offline");
  EXPECT_FALSE(model.empty());
  EXPECT_NE(dynamic_cast<OfflineClient*>(client.get()), nullptr);
}

}  // namespace
}  // namespace zorvane::agent
