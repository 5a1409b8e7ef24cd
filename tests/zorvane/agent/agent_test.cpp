// The assistant agent, the offline client and the text helpers used in client errors.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "zorvane/agent/assistant_agent.hpp"
#include "zorvane/agent/http_text.hpp"
#include "zorvane/agent/offline_client.hpp"

namespace zorvane::agent {
namespace {

class ScriptedClient : public ChatClient {
 public:
  ChatReply reply;
  std::string seen_system, seen_user;
  ChatReply complete(std::string_view system, std::string_view user) override {
    seen_system = system;
    seen_user = user;
    return reply;
  }
};

class FailingClient : public ChatClient {
 public:
  ChatReply complete(std::string_view, std::string_view) override {
    throw std::runtime_error("LLM 请求失败 | status=500");
  }
};

TEST(AssistantAgent, RunReturnsTaskThenReply) {
  auto client = std::make_shared<ScriptedClient>();
  client->reply = {"<think>x</think>\n\n简报", "hidden reasoning"};
  AssistantAgent agent("SumoraAgent", client, "系统消息");
  TaskResult r = agent.run("用户任务");
  EXPECT_EQ(client->seen_system, "系统消息");
  EXPECT_EQ(client->seen_user, "用户任务");
  ASSERT_EQ(r.messages.size(), 2u);
  EXPECT_EQ(r.messages[0].source, "user");
  EXPECT_EQ(r.messages[0].content, "用户任务");
  EXPECT_EQ(r.messages[1].source, "SumoraAgent");
  // Inline think blocks are the caller's business; the separate reasoning is dropped here.
  EXPECT_EQ(r.messages[1].content, "<think>x</think>\n\n简报");

  client->reply = {std::nullopt, std::nullopt};
  r = agent.run("again");
  ASSERT_EQ(r.messages.size(), 2u);
  EXPECT_FALSE(r.messages[1].content);
}

TEST(AssistantAgent, ErrorsPropagateAndBadArgumentsRejected) {
  AssistantAgent agent("A", std::make_shared<FailingClient>(), "s");
  EXPECT_THROW(agent.run("t"), std::runtime_error);
  EXPECT_THROW(AssistantAgent("A", nullptr, "s"), std::invalid_argument);
  EXPECT_THROW(AssistantAgent("", std::make_shared<FailingClient>(), "s"), std::invalid_argument);
}

TEST(OfflineClient, FirstWriterThatKnowsThePromptAnswers) {
  int calls = 0;
  OfflineClient client({[&](std::string_view, std::string_view user) -> std::optional<std::string> {
                          ++calls;
                          if (user != "brief") return std::nullopt;
                          return "brief text";
                        },
                        [&](std::string_view, std::string_view user) -> std::optional<std::string> {
                          ++calls;
                          if (user != "report") return std::nullopt;
                          return "report text";
                        }});
  EXPECT_EQ(client.complete("s", "brief").content, "brief text");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(client.complete("s", "report").content, "report text");
  EXPECT_EQ(calls, 3);
  try {
    client.complete("一个没有写作器认识的系统提示", "other");
    FAIL() << "expected an error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("离线"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("一个没有写作器认识的系统提示"), std::string::npos);
  }
}

TEST(HttpText, RedactionAndClipping) {
  EXPECT_EQ(redact_url("http://u:p@host:1/v1/chat?x=1"), "http://host:1/v1/chat?x=1");
  EXPECT_EQ(redact_url("https://host/v1"), "https://host/v1");
  EXPECT_EQ(redact_url("https://host/v1?email=a@b"), "https://host/v1?email=a@b");
  EXPECT_EQ(redact_secret("key sk-1 and sk-1", "sk-1"), "key *** and ***");
  EXPECT_EQ(redact_secret("text", ""), "text");

  EXPECT_EQ(clip_text("上证指数\n下跌", 10), "上证指数 下跌");
  EXPECT_EQ(clip_text("上证指数下跌", 4), "上证指数…");
  EXPECT_EQ(clip_text("abc", 3), "abc");
  EXPECT_EQ(clip_text("", 3), "");
}

TEST(HttpText, ErrorBodies) {
  EXPECT_EQ(error_summary(R"({"error": {"message": "bad key", "type": "auth", "code": "401"}})"),
            "bad key (type=auth) (code=401)");
  EXPECT_EQ(error_summary(R"({"error": "plain"})"), "plain");
  EXPECT_EQ(error_summary(R"({"message": "top level"})"), "top level");
  EXPECT_EQ(error_summary("<html>Bad Gateway</html>\n"), "<html>Bad Gateway</html>");
  EXPECT_EQ(error_summary(""), "(empty body)");
  EXPECT_TRUE(is_quota_error(R"({"error": {"code": "insufficient_quota"}})"));
  EXPECT_TRUE(is_quota_error(R"({"error": {"type": "insufficient_quota", "code": null}})"));
  EXPECT_FALSE(is_quota_error(R"({"error": {"code": "rate_limit_exceeded"}})"));
  EXPECT_FALSE(is_quota_error("not json"));
}

}  // namespace
}  // namespace zorvane::agent
