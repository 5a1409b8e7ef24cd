// Several tarsen processes asking for one market and day at once: each makes at most one
// model call, all print a complete brief, and a reader of the brief file never sees a partial
// one while writers replace it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "e2e/hardening/fixture.hpp"
#include "e2e/tarsen/child_process.hpp"
#include "support/chat_stub.hpp"
#include "zorvane/utils/file_lock.hpp"
#include "zorvane/utils/json.hpp"

namespace hardening {
namespace {

using ::testing::AnyOf;
using ::testing::Eq;

// A brief large enough that a non-atomic write would be seen half done.
std::string big_brief(const std::string& tag, int lines) {
  std::string out = "**▋ " + tag + " 市场研判 · 震荡 / 中**\n";
  for (int i = 0; i < lines; ++i)
    out += "- 第 " + std::to_string(i) + " 行：指数窄幅震荡，量能温和，" + tag + "\n";
  return out + "⚠️ **风险**：" + tag + " 结束";
}

class BriefProcesses : public ::testing::Test {
 protected:
  Env env(const std::string& model) const {
    Env e = e2e::stub_model_env(sample_center(), project_root(), work.path() / "report",
                                stub.base_url());
    e["OPENAI_API_KEY"] = "sk-hardening";
    e["OPENAI_MODEL"] = model;
    e["LLM_TIMEOUT_S"] = "60";
    e.erase("LLM_RETRY_BASE_MS");
    return e;
  }

  fs::path sumoras() const { return work.path() / "report" / "sumoras"; }
  fs::path brief_file() const { return sumoras() / ("A_" + kDay + "_v4.md"); }

  // Reads the brief file until `done`; returns every content that was neither absent nor one
  // of `allowed`, and counts the reads that found a file.
  std::vector<std::string> read_until(const std::atomic<bool>& done,
                                      const std::set<std::string>& allowed, int& found) const {
    std::vector<std::string> bad;
    found = 0;
    while (!done) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));  // leave the writers CPU
      std::ifstream in(brief_file(), std::ios::binary);
      if (!in) continue;  // not written yet, or deleted by a forced run
      std::stringstream ss;
      ss << in.rdbuf();
      ++found;
      if (allowed.count(ss.str()) == 0) bad.push_back(ss.str().substr(0, 80));
    }
    return bad;
  }

  // Nothing but briefs, sidecars and their generation locks: a failed or interrupted write
  // leaves no temporary file.
  std::vector<std::string> stray_files() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(sumoras())) {
      auto name = e.path().filename().string();
      if (!name.ends_with("_v4.md") && !name.ends_with("_v4.meta.json") &&
          !name.ends_with("_v4.md.lock"))
        out.push_back(name);
    }
    return out;
  }

  zv_test::TempDir work{"hardening-procs"};
  zv_test::ChatStub stub;
};

TEST_F(BriefProcesses, ColdCacheAtMostOneModelCallPerProcessAndOneBriefForAll) {
  const std::string brief = big_brief("并发", 3000);
  auto reply = zv_test::ChatStub::reply(brief);
  reply.delay = std::chrono::milliseconds(500);  // the processes overlap in the model call
  stub.set_default_response(reply);

  // A and ETF share one brief; each process names its own model so that requests can be
  // told apart.
  std::vector<std::unique_ptr<Child>> children;
  for (int i = 0; i < 4; ++i) {
    children.push_back(std::make_unique<Child>(
        TARSEN_EXE, std::vector<std::string>{"-m", i % 2 ? "ETF" : "A", "-t", kDay},
        env("model-" + std::to_string(i)), work.path()));
  }
  std::atomic<bool> done{false};
  int found = 0;
  std::vector<std::string> bad;
  std::thread reader([&] { bad = read_until(done, {brief}, found); });
  std::vector<Finished> runs;
  for (auto& c : children) runs.push_back(c->wait(std::chrono::seconds(240)));
  done = true;
  reader.join();

  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_FALSE(runs[i].hung) << i;
    EXPECT_EQ(runs[i].status, 0) << i << "\n" << runs[i].err;
    EXPECT_TRUE(runs[i].out == framed(brief)) << i << ": printed brief differs";
  }
  std::map<std::string, int> calls;
  for (const auto& r : stub.requests()) ++calls[r.text_field("model").value_or("?")];
  EXPECT_GE(stub.request_count(), 1u);
  for (const auto& [model, n] : calls) EXPECT_LE(n, 1) << model << " called the model twice";
  EXPECT_THAT(bad, ::testing::IsEmpty());

  EXPECT_TRUE(slurp(brief_file()) == brief);
  auto meta = zorvane::utils::parse_json(slurp(sumoras() / ("A_" + kDay + "_v4.meta.json")));
  ASSERT_TRUE(meta.IsObject());
  EXPECT_EQ(calls.count(meta["llm_model"].GetString()), 1u) << "sidecar of a process that wrote";
  EXPECT_THAT(stray_files(), ::testing::IsEmpty());
}

TEST_F(BriefProcesses, ForcedRewritesNeverExposeAPartialFile) {
  // Two briefs of very different sizes, handed out alternately.
  const std::string large = big_brief("甲", 6000);
  const std::string small = big_brief("乙", 40);
  const int kProcesses = 3, kRounds = 3;
  for (int i = 0; i < kProcesses * kRounds; ++i)
    stub.push(zv_test::ChatStub::reply(i % 2 ? small : large));

  std::atomic<bool> done{false};
  int found = 0;
  std::vector<std::string> bad;
  std::thread reader([&] { bad = read_until(done, {large, small}, found); });
  std::vector<std::vector<Finished>> runs(kProcesses);
  std::vector<std::thread> writers;
  for (int p = 0; p < kProcesses; ++p) {
    writers.emplace_back([&, p] {
      for (int r = 0; r < kRounds; ++r) {
        runs[p].push_back(run(TARSEN_EXE, {"-m", "A", "-t", kDay, "--force"},
                              env("model-" + std::to_string(p)), work.path(),
                              std::chrono::seconds(240)));
      }
    });
  }
  for (auto& w : writers) w.join();
  done = true;
  reader.join();

  for (const auto& per_process : runs) {
    for (const auto& r : per_process) {
      EXPECT_FALSE(r.hung);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(r.out == framed(large) || r.out == framed(small)) << "printed brief is torn";
    }
  }
  // A forced run always calls the model: exactly one call per run.
  EXPECT_EQ(stub.request_count(), static_cast<std::size_t>(kProcesses * kRounds));
  EXPECT_GT(found, 0);
  EXPECT_THAT(bad, ::testing::IsEmpty());
  EXPECT_THAT(slurp(brief_file()), AnyOf(Eq(large), Eq(small)));
  EXPECT_THAT(stray_files(), ::testing::IsEmpty());
}

// Waits until the stub has seen `n` requests (a process is then inside its model call).
void wait_for_requests(const zv_test::ChatStub& stub, std::size_t n) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (stub.request_count() < n && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GE(stub.request_count(), n) << "no model call within two minutes";
}

TEST_F(BriefProcesses, ColdDayThreeProcessesOneModelCallInAll) {
  auto reply = zv_test::ChatStub::reply("冷启动简报");
  reply.delay = std::chrono::milliseconds(1500);  // all three are running before it answers
  stub.set_default_response(reply);
  std::vector<std::unique_ptr<Child>> children;
  for (int i = 0; i < 3; ++i) {
    children.push_back(std::make_unique<Child>(
        TARSEN_EXE, std::vector<std::string>{"-m", "A", "-t", kDay}, env("m"), work.path()));
  }
  for (auto& c : children) {
    auto r = c->wait(std::chrono::seconds(240));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, framed("冷启动简报"));
  }
  EXPECT_EQ(stub.request_count(), 1u);
}

TEST_F(BriefProcesses, ReadersDuringAForcedRewriteDoNotRegenerate) {
  // Cold day: readers that start while a forced run is in its model call wait for it.
  auto slow = [](const std::string& text) {
    auto r = zv_test::ChatStub::reply(text);
    r.delay = std::chrono::milliseconds(3000);
    return r;
  };
  auto reader = [&] {
    return std::make_unique<Child>(TARSEN_EXE, std::vector<std::string>{"-m", "A", "-t", kDay},
                                   env("reader"), work.path());
  };
  stub.push(slow("强制第一版"));
  Child forced(TARSEN_EXE, {"-m", "A", "-t", kDay, "--force"}, env("forced"), work.path());
  wait_for_requests(stub, 1);
  auto cold_reader = reader();
  EXPECT_EQ(forced.wait(std::chrono::seconds(240)).status, 0);
  auto cold = cold_reader->wait(std::chrono::seconds(240));
  EXPECT_EQ(cold.status, 0) << cold.err;
  EXPECT_EQ(cold.out, framed("强制第一版"));
  EXPECT_EQ(stub.request_count(), 1u);

  // Warm day: the old brief stays in place during the rewrite, and readers get it at once
  // (or the new one, should the machine be so slow that the rewrite is done by then).
  stub.push(slow("强制第二版"));
  Child again(TARSEN_EXE, {"-m", "A", "-t", kDay, "--force"}, env("forced"), work.path());
  wait_for_requests(stub, 2);
  auto warm = reader()->wait(std::chrono::seconds(240));
  EXPECT_EQ(warm.status, 0) << warm.err;
  EXPECT_THAT(warm.out, AnyOf(Eq(framed("强制第一版")), Eq(framed("强制第二版"))));
  auto rewritten = again.wait(std::chrono::seconds(240));
  EXPECT_EQ(rewritten.out, framed("强制第二版"));
  EXPECT_EQ(stub.request_count(), 2u);
  EXPECT_EQ(slurp(brief_file()), "强制第二版");
}

// A holder that never finishes cannot hold the others forever: they wait for its model call
// at the longest (timeout x attempts, plus back-off and a margin for the data work), then
// generate themselves.
TEST_F(BriefProcesses, WaitForAnotherHolderIsBounded) {
  fs::create_directories(sumoras());
  auto held = zorvane::utils::FileLock::acquire(sumoras() / ("US_" + kDay + "_v4.md.lock"),
                                                std::chrono::milliseconds(0));
  ASSERT_TRUE(held.locked());
  stub.set_default_reply("自行生成");
  auto e = env("m");
  e["LLM_TIMEOUT_S"] = "1";
  auto r = run(TARSEN_EXE, {"-m", "US", "-t", kDay}, e, work.path(), std::chrono::seconds(120));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, framed("自行生成"));
  EXPECT_GE(r.elapsed, std::chrono::seconds(10));
  auto logs = log_lines(r.err);
  EXPECT_THAT(logs, ::testing::Contains(
                        "info|[大盘 AI 简报] 等待其他进程生成简报 | market=US date=" + kDay));
  EXPECT_THAT(logs, ::testing::Contains(::testing::StartsWith(
                        "warning|[大盘 AI 简报] 等待简报生成锁超时，自行生成 | path=")));
}

}  // namespace
}  // namespace hardening
