// Model API faults through the tarsen program: each ends in the brief's own error (status 1,
// the "[大盘 AI 简报] LLM 调用失败" text on standard error, nothing cached or printed), within
// bounded time; transient faults that clear up within the retries still give the brief.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>

#include "e2e/hardening/fixture.hpp"
#include "e2e/tarsen/child_process.hpp"
#include "support/chat_stub.hpp"

namespace hardening {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kFailure =
    "tarsen: error: [大盘 AI 简报] LLM 调用失败 | market=US date=2024-05-10 err=";

// A loopback port with nothing listening on it: bound, read back and closed again.
int closed_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("cannot find a free loopback port");
  }
  ::close(fd);
  return ntohs(addr.sin_port);
}

class ModelFaults : public ::testing::Test {
 protected:
  Env env(Env extra = {}) const {
    Env e = e2e::stub_model_env(sample_center(), project_root(), work.path() / "report",
                                stub.base_url());
    e["OPENAI_API_KEY"] = "sk-hardening-secret";
    e["LLM_TIMEOUT_S"] = "30";
    e["LLM_MAX_RETRIES"] = "2";
    for (auto& [k, v] : extra) e[k] = v;
    return e;
  }

  // US: the brief without the sentiment block, the quickest to prepare.
  Finished tarsen(const std::string& market, Env extra = {}) const {
    return run(TARSEN_EXE, {"-m", market, "-t", kDay}, env(std::move(extra)), work.path(),
               std::chrono::seconds(180));
  }

  fs::path brief_file(const std::string& market) const {
    return work.path() / "report" / "sumoras" / (market + "_" + kDay + "_v4.md");
  }

  std::string endpoint() const { return stub.base_url() + "/chat/completions"; }

  zv_test::TempDir work{"hardening-model"};
  zv_test::ChatStub stub;
};

struct Fault {
  const char* name;
  std::function<void(zv_test::ChatStub&)> script;
  Env extra;
  std::size_t requests;                // model requests the run makes
  std::vector<std::string> err_parts;  // texts the error line carries after kFailure
};

TEST_F(ModelFaults, EachFaultEndsInTheBriefErrorWithinBoundedTime) {
  const std::string quota_body =
      zv_test::ChatStub::error(429, "quota exhausted", "insufficient_quota", "insufficient_quota")
          .body;
  const std::vector<Fault> faults = {
      {"slow past the timeout",
       [](auto& s) {
         auto r = zv_test::ChatStub::reply("来得太晚");
         r.delay = std::chrono::seconds(30);
         s.set_default_response(r);
       },
       {{"LLM_TIMEOUT_S", "0.5"}, {"LLM_MAX_RETRIES", "1"}},
       2,
       {"LLM 请求失败 | status=timeout endpoint=" + endpoint() + " attempts=2 err="}},
      {"server errors until the retries run out",
       [](auto& s) { s.set_default_response(zv_test::ChatStub::error(500, "upstream broke")); },
       {},
       3,
       {"LLM 请求失败 | status=500 endpoint=" + endpoint() + " attempts=3 err=", "upstream broke"}},
      {"body that is not JSON",
       [](auto& s) {
         s.set_default_response(zv_test::ChatStub::raw(200, "<html>busy</html>", "text/html"));
       },
       {},
       1,
       {"LLM 响应无法解析 | status=200 endpoint=" + endpoint() + " err=响应不是 JSON",
        "<html>busy</html>"}},
      {"body cut off mid-JSON",
       [](auto& s) {
         s.set_default_response(zv_test::ChatStub::raw(
             200, R"({"choices":[{"message":{"content":"半截)", "application/json"));
       },
       {},
       1,
       {"LLM 响应无法解析 | status=200", "响应不是 JSON"}},
      {"empty choices list",
       [](auto& s) {
         s.set_default_response(zv_test::ChatStub::raw(
             200, R"({"id":"x","object":"chat.completion","choices":[]})", "application/json"));
       },
       {},
       1,
       {"LLM 响应无法解析 | status=200 endpoint=" + endpoint() + " err=choices 为空或缺失"}},
      {"error object with status 200",
       [](auto& s) {
         auto r = zv_test::ChatStub::error(500, "overloaded", "server_error");
         r.status = 200;
         s.set_default_response(r);
       },
       {},
       1,
       {"choices 为空或缺失 (", "overloaded"}},
      {"quota exhausted is not retried",
       [&](auto& s) {
         s.set_default_response(zv_test::ChatStub::raw(429, quota_body, "application/json"));
       },
       {},
       1,
       {"LLM 请求失败 | status=429 endpoint=" + endpoint() + " attempts=1 err=",
        "quota exhausted"}},
      {"nothing listening",
       [](auto&) {},
       {{"OPENAI_BASE_URL", "http://127.0.0.1:" + std::to_string(closed_port()) + "/v1"},
        {"LLM_MAX_RETRIES", "1"}},
       0,
       {"LLM 请求失败 | status=network endpoint=http://127.0.0.1:", "attempts=2 err="}},
  };

  for (const auto& f : faults) {
    SCOPED_TRACE(f.name);
    stub.clear_requests();
    f.script(stub);
    auto r = tarsen("US", f.extra);
    EXPECT_FALSE(r.hung);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");  // no banners, no partial brief
    EXPECT_THAT(r.err, HasSubstr(kFailure));
    for (const auto& part : f.err_parts) EXPECT_THAT(r.err, HasSubstr(part));
    EXPECT_THAT(r.err, Not(HasSubstr("sk-hardening-secret")));
    EXPECT_THAT(r.err, Not(HasSubstr("执行时间")));
    EXPECT_EQ(stub.request_count(), f.requests);
    EXPECT_FALSE(fs::exists(brief_file("US")));
  }
  // The slow case would take a minute without the timeout; all of them together stay far
  // below that. Nothing was cached by the failures: a healthy model is asked again.
  stub.clear_requests();
  stub.set_default_response(zv_test::ChatStub::reply("恢复后的简报"));
  auto healthy = tarsen("US");
  EXPECT_EQ(healthy.status, 0) << healthy.err;
  EXPECT_EQ(healthy.out, framed("恢复后的简报"));
  EXPECT_EQ(stub.request_count(), 1u);
}

TEST_F(ModelFaults, TimeoutBoundsTheRun) {
  auto r = zv_test::ChatStub::reply("来得太晚");
  r.delay = std::chrono::seconds(60);
  stub.set_default_response(r);
  auto run = tarsen("US", {{"LLM_TIMEOUT_S", "1"}, {"LLM_MAX_RETRIES", "0"}});
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("status=timeout"));
  // One second of model time plus the data work, nowhere near the minute the stub would wait.
  EXPECT_LT(run.elapsed, std::chrono::seconds(40));
}

TEST_F(ModelFaults, RateLimitAndServerHiccupThenSuccess) {
  stub.push(zv_test::ChatStub::error(429, "slow down", "rate_limit_exceeded", "", "1"));
  stub.push(zv_test::ChatStub::error(503, "warming up"));
  stub.set_default_response(zv_test::ChatStub::reply("限流之后的简报"));
  auto r = tarsen("A");
  EXPECT_FALSE(r.hung);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, framed("限流之后的简报"));
  EXPECT_EQ(stub.request_count(), 3u);
  EXPECT_EQ(slurp(brief_file("A")), "限流之后的简报");
  // Retry-After of the 429 was waited out.
  EXPECT_GE(r.elapsed, std::chrono::seconds(1));
  auto logs = log_lines(r.err);
  EXPECT_THAT(logs, Contains(StartsWith("warning|[LLM] 请求失败，")));
  EXPECT_THAT(logs, Contains(AllOf(HasSubstr("(1/2) | status=429"), HasSubstr("slow down"))));
  EXPECT_THAT(logs, Contains(AllOf(HasSubstr("(2/2) | status=503"), HasSubstr("warming up"))));
  EXPECT_THAT(r.err, Not(HasSubstr("sk-hardening-secret")));
}

TEST_F(ModelFaults, HostileErrorBodiesReachNeitherTerminalNorLogRaw) {
  const std::string key = "sk-Q7vXw2Lm9Pz4Rt8K";  // no five characters of it occur elsewhere
  // A body that carries terminal controls (a title change ESC ] ... BEL, a screen clear, a C1
  // control sequence introducer) and echoes the key across the 200-character cut.
  const std::string hostile = "\x1b]0;owned\x07\x1b[2J\xc2\x9b" + std::string(170, '.') + key;
  stub.push(zv_test::ChatStub::raw(503, hostile));
  stub.set_default_response(zv_test::ChatStub::raw(400, "\x1b[31m" + hostile));
  auto r = tarsen("US", {{"LLM_MAX_RETRIES", "1"}, {"OPENAI_API_KEY", key}});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(stub.request_count(), 2u);
  const std::string log_file = slurp(work.path() / "logs" / "zorvane.log");
  ASSERT_THAT(log_file, HasSubstr("[LLM] 请求失败"));  // the retry warning went to the file
  for (const std::string* text : {static_cast<const std::string*>(&r.err), &log_file}) {
    for (std::size_t i = 0; i + 5 <= key.size(); ++i)
      EXPECT_THAT(*text, Not(HasSubstr(key.substr(i, 5))));
    EXPECT_THAT(*text, Not(HasSubstr("\x1b"))) << "raw ESC";
    EXPECT_THAT(*text, Not(HasSubstr("\x07"))) << "raw BEL";
    EXPECT_THAT(*text, Not(HasSubstr("\xc2\x9b"))) << "raw CSI";
    EXPECT_THAT(*text, HasSubstr("\\x1b]0;owned\\x07\\x1b[2J"));
  }
  EXPECT_THAT(r.err, HasSubstr(kFailure));
}

// A reply that is not valid UTF-8 (raw bytes, or JSON escapes of lone surrogates) is repaired
// before it is printed and cached, so the cache accepts it and the next run is a disk hit.
TEST_F(ModelFaults, InvalidUtf8ReplyIsRepairedAndCachedOnce) {
  const std::string repl = "\xEF\xBF\xBD";
  stub.push(zv_test::ChatStub::reply("美股\xff简报\xe4\xb8"));
  stub.push(zv_test::ChatStub::raw(
      200, R"({"choices":[{"message":{"role":"assistant","content":"港股\ud83d简报\udc00完"}}]})",
      "application/json"));
  for (const auto& [market, brief] :
       {std::pair<std::string, std::string>{"US", "美股" + repl + "简报" + repl},
        {"HK", "港股" + repl + "简报" + repl + "完"}}) {
    SCOPED_TRACE(market);
    auto first = tarsen(market);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, framed(brief));
    EXPECT_EQ(slurp(brief_file(market)), brief);
    const auto requests = stub.request_count();
    auto second = tarsen(market);
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out, framed(brief));
    EXPECT_EQ(stub.request_count(), requests) << "the second run called the model again";
    EXPECT_THAT(log_lines(second.err), Contains(StartsWith("info|[大盘 AI 简报] 命中磁盘缓存")));
  }
}

}  // namespace
}  // namespace hardening
