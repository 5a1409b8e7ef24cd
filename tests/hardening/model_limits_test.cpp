// Extreme numbers from the environment and from the model server: they bound the client's
// waits sensibly instead of overflowing into zero or negative durations.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "support/chat_stub.hpp"
#include "support/env_guard.hpp"
#include "zorvane/agent/client_builder.hpp"
#include "zorvane/agent/openai_client.hpp"

namespace {

using namespace std::chrono_literals;

TEST(ModelLimits, HugeConfiguredWaitsStayHuge) {
  zv_test::EnvGuard key{"OPENAI_API_KEY", "sk-limits"};
  zv_test::EnvGuard retries{"LLM_MAX_RETRIES", "1"};
  for (const char* huge : {"1e300", "1e15", "9223372036854775807"}) {
    zv_test::EnvGuard timeout{"LLM_TIMEOUT_S", huge};
    zv_test::EnvGuard base{"LLM_RETRY_BASE_MS", huge};
    auto config = zorvane::agent::http_client_config("openai");
    // A day at the very least: never the one millisecond an overflow used to leave.
    EXPECT_GE(config.timeout, std::chrono::milliseconds(24h)) << huge;
    EXPECT_GE(config.retry_base, std::chrono::milliseconds(24h)) << huge;
  }
}

TEST(ModelLimits, AbsurdRetryAfterIsCappedNotOverflowed) {
  zv_test::ChatStub stub;
  stub.push(zv_test::ChatStub::error(429, "slow down", "rate_limit", "", "10000000000000000"));
  stub.set_default_reply("终于");
  zorvane::agent::OpenAIClientConfig config;
  config.base_url = stub.base_url();
  config.model = "stub-model";
  config.timeout = 10s;
  config.max_retries = 1;
  config.retry_base = 1ms;
  config.retry_cap = 200ms;
  zorvane::agent::OpenAICompatibleClient client(config);

  auto start = std::chrono::steady_clock::now();
  auto reply = client.complete("system", "user");
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(reply.content, "终于");
  EXPECT_EQ(stub.request_count(), 2u);
  // The server's wait was taken at the cap: neither skipped nor endless.
  EXPECT_GE(waited, 200ms);
  EXPECT_LT(waited, 10s);
}

}  // namespace
