// The brief pipeline under many threads of one process against the loopback model stub: a
// failed generation releases its key for the callers waiting on it and caches nothing, and
// different keys are generated independently, one model call each.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "agent/sumora/brief.hpp"
#include "agent/sumora/cache.hpp"
#include "support/chat_stub.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"

namespace {

using ::testing::Each;
using ::testing::Eq;
using ::testing::StartsWith;

const std::string kDay = "2024-05-10";

class BriefThreads : public ::testing::Test {
 protected:
  void SetUp() override { sumora::clear_sumora_cache(); }
  void TearDown() override { sumora::clear_sumora_cache(); }

  // Runs one brief request per market on its own thread; returns each brief or error text.
  std::vector<std::string> ask_all(const std::vector<std::string>& markets) {
    std::vector<std::string> out(markets.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < markets.size(); ++i) {
      threads.emplace_back([&, i] {
        try {
          out[i] = sumora::get_market_ai_brief(markets[i], kDay, false, true);
        } catch (const std::runtime_error& e) {
          out[i] = std::string("error: ") + e.what();
        }
      });
    }
    for (auto& t : threads) t.join();
    return out;
  }

  zv_test::ChatStub stub;
  zv_test::TempDir report{"hardening-threads"};
  // Environment first, before any thread starts: the sample market, a private report root.
  zv_test::EnvGuard center{"CANDLEX_CENTER", std::nullopt};
  zv_test::EnvGuard project{"ZORVANE_PROJECT_ROOT", ZV_SOURCE_DIR};
  zv_test::EnvGuard report_dir{"REPORT_DIR", report.str()};
  zv_test::EnvGuard sumora_dir{"ZORVANE_SUMORA_DIR", std::nullopt};
  zv_test::EnvGuard kafka{"KAFKA_BOOTSTRAP_SERVERS", std::nullopt};
  zv_test::EnvGuard type{"LLM_CLIENT_TYPE", "openai"};
  zv_test::EnvGuard gate_mode{"ZORVANE_GATE", "report"};  // the stub's replies are not briefs
  zv_test::EnvGuard key{"OPENAI_API_KEY", "sk-threads"};
  zv_test::EnvGuard url{"OPENAI_BASE_URL", stub.base_url()};
  zv_test::EnvGuard retries{"LLM_MAX_RETRIES", "0"};
  zv_test::EnvGuard timeout{"LLM_TIMEOUT_S", "60"};
};

TEST_F(BriefThreads, FailedGenerationReleasesTheKeyAndCachesNothing) {
  // The first model call fails after the other callers have queued behind it.
  auto failure = zv_test::ChatStub::error(500, "upstream broke");
  failure.delay = std::chrono::milliseconds(400);
  stub.push(failure);
  stub.set_default_reply("恢复后的简报");

  auto results = ask_all({"US", "us", "US", "Us", "US", "US"});
  std::size_t errors = 0;
  for (const auto& r : results) {
    if (r.rfind("error: ", 0) == 0) {
      ++errors;
      EXPECT_THAT(r, StartsWith("error: [大盘 AI 简报] LLM 调用失败 | market=US date=2024-05-10 "
                                "err=LLM 请求失败 | status=500"));
    } else {
      EXPECT_EQ(r, "恢复后的简报");
    }
  }
  // Exactly the caller whose call failed sees the failure; the next caller generates once and
  // everyone after it is served from the cache.
  EXPECT_EQ(errors, 1u);
  EXPECT_EQ(stub.request_count(), 2u);
}

TEST_F(BriefThreads, EachKeyIsGeneratedOnceWhateverTheMix) {
  auto reply = zv_test::ChatStub::reply("同一简报");
  reply.delay = std::chrono::milliseconds(300);
  stub.set_default_response(reply);

  auto results = ask_all({"US", "HK", "A", "ETF", "us", "hk", "a", "etf", "US", "HK", "A", "ETF"});
  EXPECT_THAT(results, Each(Eq("同一简报")));
  // Three keys (ETF shares A's), one call each, each prompt for its own market.
  ASSERT_EQ(stub.request_count(), 3u);
  std::set<std::string> labels;
  for (const auto& r : stub.requests()) {
    auto user = r.user_message().value_or("");
    auto at = user.find("- **市场范围**：");
    ASSERT_NE(at, std::string::npos);
    labels.insert(user.substr(at, user.find('\n', at) - at));
  }
  EXPECT_EQ(labels.size(), 3u);
  EXPECT_EQ(sumora::detail::MEM_CACHE.size(), 3u);
}

}  // namespace
