#include "agent/sumora/brief.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "agent/sumora/cache.hpp"
#include "agent/sumora/prompts.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace sumora {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using zorvane::agent::ChatReply;

// Scripted stand-ins for every outside service of the pipeline, recording what they see.
struct Fakes {
  std::mutex mutex;
  std::vector<std::string> prompts;
  std::vector<std::string> systems;
  std::vector<zorvane::report::SumoraReport> pushed;
  std::atomic<int> calls{0};
  std::atomic<int> closes{0};
  std::atomic<int> block_calls{0};

  std::string env = "ENV-BLOCK";
  std::string hist = "HIST-BLOCK";
  std::string ind = "IND-BLOCK";
  std::string hist_meta = R"({"skip_reason": "no_data"})";
  std::string env_meta = R"({"skip_reason": "stale_data"})";
  std::string sentiment;
  std::vector<bool> sentiment_refresh;  // the refresh flag of every sentiment request
  std::function<ChatReply()> reply = [] { return ChatReply{"简报正文", std::nullopt}; };
  std::chrono::milliseconds model_delay{0};
  bool close_throws = false;
  bool push_throws = false;

  class Client : public zorvane::agent::ChatClient {
   public:
    explicit Client(Fakes& f) : f_(f) {}
    ChatReply complete(std::string_view system, std::string_view user) override {
      ++f_.calls;
      {
        std::lock_guard lock(f_.mutex);
        f_.systems.emplace_back(system);
        f_.prompts.emplace_back(user);
      }
      std::this_thread::sleep_for(f_.model_delay);
      return f_.reply();
    }
    void close() override {
      ++f_.closes;
      if (f_.close_throws) throw std::runtime_error("socket already gone");
    }

   private:
    Fakes& f_;
  };

  static BlockResult block(const std::string& text, const std::string& meta) {
    rapidjson::Document doc;
    doc.Parse(meta.c_str());
    return {text, std::move(doc)};
  }

  BriefServices services() {
    BriefServices s;
    s.environment_block = [this](const std::string&, const std::string&) {
      ++block_calls;
      return block(env, env_meta);
    };
    s.history_block = [this](const std::string&, int days, const std::string&) {
      EXPECT_EQ(days, 60);
      return block(hist, hist_meta);
    };
    s.indicator_block = [this](const std::string&, int days, const std::string&) {
      EXPECT_EQ(days, 60);
      return block(ind, "{}");
    };
    s.core_index_table = [](const std::string&, const std::string&) {
      return CoreIndexTable{"TABLE", "FACTS", {"偏空", "中", "空仓等待", "RATIONALE"}};
    };
    s.sentiment_block = [this](const std::string&, const std::string&, bool refresh) {
      sentiment_refresh.push_back(refresh);
      return sentiment;
    };
    s.build_client = [this] {
      return zorvane::agent::BuiltClient{std::make_shared<Client>(*this), "fake-model", {}, "fake"};
    };
    s.save_sumora = [this](const zorvane::report::SumoraReport& r) {
      if (push_throws) throw std::runtime_error("outbox locked");
      std::lock_guard lock(mutex);
      pushed.push_back(r);
    };
    return s;
  }
};

class Brief : public ::testing::Test {
 protected:
  void SetUp() override { clear_sumora_cache(); }
  void TearDown() override { clear_sumora_cache(); }

  std::string get(const std::optional<std::string>& market, const std::string& date,
                  bool force = false, bool ensure_mq = false) {
    return get_market_ai_brief(market, date, force, ensure_mq, services);
  }
  fs::path file(const std::string& name) const { return dir.path() / name; }

  zv_test::TempDir dir{"sumora-brief"};
  zv_test::EnvGuard env{"ZORVANE_SUMORA_DIR", dir.str()};
  // These fakes' replies are not briefs: pin the single model call.
  zv_test::EnvGuard gate_mode{"ZORVANE_GATE", "report"};
  Fakes fakes;
  BriefServices services = fakes.services();
};

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "<no error>";
}

TEST_F(Brief, MarketTypeChecks) {
  zorvane::utils::LogCapture logs;
  EXPECT_EQ(get(std::nullopt, "2024-05-10"), "");
  EXPECT_TRUE(logs.lines().empty());
  EXPECT_EQ(error_of([&] { get("", "2024-05-10"); }), "[大盘 AI 简报] market_type 不能为空");
  EXPECT_EQ(error_of([&] { get("jp", "2024-05-10"); }), "[大盘 AI 简报] 不支持的市场类型: jp");
  EXPECT_EQ(error_of([&] { get("A", "../../x"); }), "[大盘 AI 简报] 非法分析日期: ../../x");
  EXPECT_EQ(fakes.block_calls, 0);
  EXPECT_EQ(fakes.calls, 0);
}

TEST_F(Brief, EtfAndAnyCaseShareTheShareBrief) {
  EXPECT_EQ(get("etf", "2024-05-10"), "简报正文");
  EXPECT_EQ(get("A", "2024-05-10"), "简报正文");
  EXPECT_EQ(get("ETF", "2024-05-10_1530"), "简报正文");
  EXPECT_EQ(fakes.calls, 1);
  EXPECT_TRUE(fs::exists(file("A_2024-05-10_v4.md")));
  EXPECT_FALSE(fs::exists(file("ETF_2024-05-10_v4.md")));
  ASSERT_EQ(fakes.pushed.size(), 1u);
  EXPECT_EQ(fakes.pushed[0].market_type, "A");
}

TEST_F(Brief, PromptAndLogsForADateWithTime) {
  zorvane::utils::LogCapture logs;
  get("a", "2024-05-10_1530");
  ASSERT_EQ(fakes.prompts.size(), 1u);
  const auto& prompt = fakes.prompts[0];
  EXPECT_EQ(fakes.systems[0], SUMORA_SYSTEM_MESSAGE);
  EXPECT_THAT(prompt,
              HasSubstr("- **市场范围**：A 股大盘（上证、深证、创业板、科创50、沪深300、中证500）\n"
                        "- **分析日期**：2024-05-10\n"));
  EXPECT_THAT(prompt, HasSubstr("- **bias（研判方向）**：偏空\n- **强度**：中\n"
                                "- **策略指引**：空仓等待\n- **判定依据**：RATIONALE\n"));
  EXPECT_THAT(prompt, HasSubstr("比对）\nFACTS\n</authoritative_facts>"));
  EXPECT_THAT(prompt, HasSubstr("中）\nTABLE\n</core_index_table>"));
  EXPECT_THAT(prompt, HasSubstr("### 1. 大盘指数实时快照\nENV-BLOCK\n\n### 2."));
  EXPECT_THAT(prompt, HasSubstr("OHLCV\nHIST-BLOCK\n\n### 3."));
  EXPECT_THAT(prompt, HasSubstr("基于全量历史计算）\nIND-BLOCK\n\n### 4."));
  EXPECT_THAT(prompt, HasSubstr("市场提供）\n（情绪温度计数据暂不可用）\n</market_raw_data>"));
  EXPECT_EQ(logs.matching("info|[大盘 AI 简报] 触发 LLM | market=A date=2024-05-10_1530 "
                          "client=fake model=fake-model")
                .size(),
            1u);
  EXPECT_EQ(
      logs.matching("info|[大盘 AI 简报] 生成完成 | market=A date=2024-05-10_1530 字数=4").size(),
      1u);
  // The pushed report carries the day, not the time.
  ASSERT_EQ(fakes.pushed.size(), 1u);
  EXPECT_EQ(fakes.pushed[0].analysis_time, "2024-05-10");
  EXPECT_EQ(fakes.pushed[0].llm_client_type, "fake");
  EXPECT_EQ(fakes.pushed[0].llm_model, "fake-model");
}

TEST_F(Brief, EmptyIndicatorBlockAndSentimentText) {
  fakes.ind = "";
  fakes.sentiment = "### 4. A 股情绪温度计（sentiment_thermometer 权威计算）\n- D线：…\n";
  get("A", "2024-05-10");
  EXPECT_THAT(fakes.prompts[0], HasSubstr("基于全量历史计算）\n（暂无指标数据）\n\n### 4."));
  EXPECT_THAT(fakes.prompts[0],
              HasSubstr("市场提供）\n### 4. A 股情绪温度计（sentiment_thermometer 权威计算）\n- "
                        "D线：…\n\n</market_raw_data>"));
}

TEST_F(Brief, PushOnlyWhenAskedForCacheHits) {
  get("HK", "2024-05-10");               // fresh: pushed although ensure_mq is false
  get("HK", "2024-05-10");               // memory hit, not pushed
  get("HK", "2024-05-10", false, true);  // memory hit, pushed
  clear_sumora_cache();
  get("HK", "2024-05-10");  // disk hit, not pushed
  clear_sumora_cache();
  zorvane::utils::LogCapture logs;
  get("HK", "2024-05-10_0930", false, true);  // disk hit, pushed with the sidecar's meta
  EXPECT_EQ(fakes.calls, 1);
  ASSERT_EQ(fakes.pushed.size(), 3u);
  EXPECT_EQ(fakes.pushed[2].llm_model, "fake-model");
  EXPECT_EQ(
      logs.matching("info|[大盘 AI 简报] 命中磁盘缓存 | market=HK date=2024-05-10_0930 字数=4")
          .size(),
      1u);
}

TEST_F(Brief, MemoryHitDoesNotTouchTheDisk) {
  get("US", "2024-05-10");
  fs::remove(file("US_2024-05-10_v4.md"));
  zorvane::utils::LogCapture logs;
  EXPECT_EQ(get("US", "2024-05-10"), "简报正文");
  EXPECT_EQ(logs.matching("debug|[大盘 AI 简报] 命中内存缓存 | market=US date=2024-05-10").size(),
            1u);
  EXPECT_FALSE(fs::exists(file("US_2024-05-10_v4.md")));
  EXPECT_EQ(fakes.calls, 1);
}

TEST_F(Brief, ForcedRegenerationReplacesTheFile) {
  get("A", "2024-05-10");
  fakes.reply = [] { return ChatReply{"新简报", std::nullopt}; };
  zorvane::utils::LogCapture logs;
  EXPECT_EQ(get("A", "2024-05-10", true), "新简报");
  EXPECT_EQ(fakes.calls, 2);
  EXPECT_EQ(
      logs.matching("info|[大盘 AI 简报] 已清理磁盘缓存以触发强制重推: A_2024-05-10_v4.md").size(),
      1u);
  std::ifstream in(file("A_2024-05-10_v4.md"));
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "新简报");
  EXPECT_EQ(get("A", "2024-05-10"), "新简报");  // memory now holds the new brief
  // The forced run recomputed the sentiment snapshots instead of reading their cache.
  EXPECT_EQ(fakes.sentiment_refresh, (std::vector<bool>{false, true}));
}

TEST_F(Brief, FailedForcedRegenerationKeepsTheOldBrief) {
  get("A", "2024-05-10");
  const std::string sidecar = [&] {
    std::ifstream in(file("A_2024-05-10_v4.meta.json"));
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }();
  ASSERT_FALSE(sidecar.empty());
  fakes.reply = []() -> ChatReply { throw std::runtime_error("model down"); };
  zorvane::utils::LogCapture logs;
  EXPECT_THAT(error_of([&] { get("A", "2024-05-10", true); }),
              HasSubstr("[大盘 AI 简报] LLM 调用失败 | market=A date=2024-05-10 err=model down"));
  EXPECT_TRUE(logs.matching("已清理磁盘缓存").empty());

  // Another process (memory cleared) still finds the old brief and its sidecar on disk.
  clear_sumora_cache();
  std::ifstream in(file("A_2024-05-10_v4.meta.json"));
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), sidecar);
  EXPECT_EQ(get("A", "2024-05-10"), "简报正文");
  EXPECT_EQ(fakes.calls, 2);
}

TEST_F(Brief, ReasoningBlocksAreRemoved) {
  fakes.reply = [] {
    return ChatReply{"<think>先想一想\n再想</think>\n\n**▋ 简报**", std::nullopt};
  };
  EXPECT_EQ(get("A", "2024-05-10"), "**▋ 简报**");

  EXPECT_EQ(_strip_reasoning("a<think>x</think>b<think>y</think>c"), "abc");
  EXPECT_EQ(_strip_reasoning("<think>open only\nbrief"), "<think>open only\nbrief");
  EXPECT_EQ(_strip_reasoning("  <think>a</think> b </think> "), "b </think>");
}

TEST_F(Brief, UnusableRepliesFail) {
  fakes.reply = [] { return ChatReply{"  <think>\nonly thinking\n</think>  ", std::nullopt}; };
  EXPECT_EQ(error_of([&] { get("US", "2024-05-10"); }),
            "[大盘 AI 简报] LLM 返回内容仅含 <think>，剥离后为空 | market=US");
  fakes.reply = [] { return ChatReply{std::nullopt, std::string("reasoning")}; };
  EXPECT_EQ(error_of([&] { get("US", "2024-05-10_1530"); }),
            "[大盘 AI 简报] LLM 返回空内容 | market=US date=2024-05-10_1530");
  fakes.reply = [] { return ChatReply{" \n ", std::nullopt}; };
  EXPECT_EQ(error_of([&] { get("US", "2024-05-10"); }),
            "[大盘 AI 简报] LLM 返回空内容 | market=US date=2024-05-10");
  EXPECT_FALSE(fs::exists(file("US_2024-05-10_v4.md")));
  EXPECT_TRUE(fakes.pushed.empty());
  EXPECT_EQ(fakes.closes, 3);
}

TEST_F(Brief, ModelFailureIsWrappedAndTheClientStillClosed) {
  fakes.reply = []() -> ChatReply { throw std::runtime_error("HTTP 500 from endpoint"); };
  try {
    get("A", "2024-05-10");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "[大盘 AI 简报] LLM 调用失败 | market=A date=2024-05-10 err=HTTP 500 from endpoint");
    try {
      std::rethrow_if_nested(e);
      ADD_FAILURE() << "cause not attached";
    } catch (const std::runtime_error& cause) {
      EXPECT_STREQ(cause.what(), "HTTP 500 from endpoint");
    }
  }
  EXPECT_EQ(fakes.closes, 1);
  EXPECT_EQ(detail::MEM_CACHE.size(), 0u);
  EXPECT_FALSE(fs::exists(file("A_2024-05-10_v4.md")));
}

TEST_F(Brief, CloseAndPushFailuresOnlyLog) {
  fakes.close_throws = true;
  fakes.push_throws = true;
  zorvane::utils::LogCapture logs;
  EXPECT_EQ(get("A", "2024-05-10"), "简报正文");
  EXPECT_EQ(logs.matching("debug|[大盘 AI 简报] 关闭 LLM 客户端失败: socket already gone").size(),
            1u);
  EXPECT_EQ(logs.matching("warning|[大盘 AI 简报] 推送 MQ 失败: outbox locked").size(), 1u);
}

TEST_F(Brief, MissingMarketDataFailsBeforeTheModel) {
  fakes.env = "";
  EXPECT_EQ(error_of([&] { get("etf", "2024-05-10"); }),
            "[大盘 AI 简报] 大盘实时快照数据缺失 | market=A date=2024-05-10 reason=stale_data");
  fakes.env_meta = "{}";
  EXPECT_EQ(error_of([&] { get("A", "2024-05-10"); }),
            "[大盘 AI 简报] 大盘实时快照数据缺失 | market=A date=2024-05-10 reason=unknown");
  fakes.env = "ENV";
  fakes.hist = "";
  EXPECT_EQ(
      error_of([&] { get("HK", "2024-05-10"); }),
      "[大盘 AI 简报] 大盘历史趋势数据缺失 | market=HK date=2024-05-10 meta={\"skip_reason\": "
      "\"no_data\"}");
  EXPECT_EQ(fakes.calls, 0);
  EXPECT_EQ(detail::MEM_CACHE.size(), 0u);
}

TEST_F(Brief, TheThreeBlocksAreFetchedTogether) {
  // Each block waits until all three have started: a sequential fetch would time out.
  std::mutex m;
  std::condition_variable cv;
  int started = 0;
  auto rendezvous = [&] {
    std::unique_lock lock(m);
    ++started;
    cv.notify_all();
    if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return started >= 3; })) {
      throw std::runtime_error("blocks were fetched one after another");
    }
  };
  auto base = services;
  services.environment_block = [&, base](const std::string& m1, const std::string& d) {
    rendezvous();
    return base.environment_block(m1, d);
  };
  services.history_block = [&, base](const std::string& m1, int n, const std::string& d) {
    rendezvous();
    return base.history_block(m1, n, d);
  };
  services.indicator_block = [&, base](const std::string& m1, int n, const std::string& d) {
    rendezvous();
    return base.indicator_block(m1, n, d);
  };
  auto blocks = _fetch_market_blocks("a", "2024-05-10", services);
  EXPECT_EQ(blocks.env, "ENV-BLOCK");
  EXPECT_EQ(blocks.history, "HIST-BLOCK");
  EXPECT_EQ(blocks.indicators, "IND-BLOCK");
}

TEST_F(Brief, ConcurrentCallersShareOneModelCall) {
  fakes.model_delay = std::chrono::milliseconds(150);
  std::vector<std::string> results(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back(
        [&, i] { results[i] = get(i % 2 ? "ETF" : "a", "2024-05-10", false, true); });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(fakes.calls, 1);
  for (const auto& r : results) EXPECT_EQ(r, "简报正文");
}

}  // namespace
}  // namespace sumora
