// Chat bodies per service, checked against each service's documented message shape, and the
// splitting of long summaries under each service's length limit.
#include "zorvane/report/notify/webhook_format.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "zorvane/report/notify/webhook_post.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::report::notify {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// A summary payload of `n` stocks.
std::string summary(int n) {
  std::string rows;
  for (int i = 0; i < n; ++i) {
    if (i) rows += ",";
    rows += R"({"code": "sh.6)" + std::to_string(10000 + i) +
            R"(", "name": "示例股份", "market_type": "A", "analysis_time": "2024-05-10",
               "action": "谨慎买入", "confidence": "中", "entry_price_low": 114.06,
               "entry_price_high": 115.4162, "stop_loss": 111.35, "target_1": 123.14,
               "status": "ok"})";
  }
  return R"({"type": "watchlist_summary", "analysis_time": "2024-05-10", "total": )" +
         std::to_string(n) + R"(, "ok": )" + std::to_string(n) +
         R"(, "skipped": 0, "no_decision": 0, "failed": 0, "rows": [)" + rows + "]}";
}

const std::string kBrief =
    R"({"type": "sumora", "market_type": "HK", "analysis_time": "2024-05-10", "content": "**▋ 港股**\n偏强"})";

rapidjson::Document only_body(WebhookFormat f, std::string_view kind, const std::string& payload) {
  const auto bodies = webhook_bodies(f, kind, payload, std::string("-100123"));
  EXPECT_EQ(bodies.size(), 1u);
  return utils::parse_json(bodies.at(0));
}

TEST(WebhookFormat, EachServiceGetsItsDocumentedShape) {
  const std::string payload = summary(2);
  EXPECT_EQ(webhook_bodies(WebhookFormat::json, "watchlist_summary", payload),
            (std::vector{payload}));

  auto feishu = only_body(WebhookFormat::feishu, "watchlist_summary", payload);
  EXPECT_STREQ(feishu["msg_type"].GetString(), "interactive");
  EXPECT_STREQ(feishu["card"]["header"]["title"]["tag"].GetString(), "plain_text");
  EXPECT_STREQ(feishu["card"]["header"]["title"]["content"].GetString(),
               "自选股分析汇总 · 2024-05-10");
  EXPECT_STREQ(feishu["card"]["elements"][0]["tag"].GetString(), "markdown");
  const std::string list = feishu["card"]["elements"][0]["content"].GetString();
  EXPECT_THAT(list, HasSubstr("- **sh.610000 示例股份** 谨慎买入 · 信心 中\n"
                              "  入场 114.06-115.42 · 止损 111.35 · 目标 123.14\n  状态：ok\n"));

  auto ding = only_body(WebhookFormat::dingtalk, "sumora", kBrief);
  EXPECT_STREQ(ding["msgtype"].GetString(), "markdown");
  EXPECT_STREQ(ding["markdown"]["title"].GetString(), "大盘 AI 简报 · HK · 2024-05-10");
  EXPECT_THAT(ding["markdown"]["text"].GetString(), HasSubstr("**▋ 港股**\n偏强"));

  auto wecom = only_body(WebhookFormat::wecom, "watchlist_summary", payload);
  EXPECT_STREQ(wecom["msgtype"].GetString(), "markdown");
  EXPECT_THAT(wecom["markdown"]["content"].GetString(), HasSubstr("sh.610001"));

  auto tg = only_body(WebhookFormat::telegram, "watchlist_summary", payload);
  EXPECT_STREQ(tg["chat_id"].GetString(), "-100123");
  EXPECT_THAT(tg["text"].GetString(), HasSubstr("• sh.610000 示例股份"));
  EXPECT_THAT(tg["text"].GetString(), Not(HasSubstr("**")));
  EXPECT_THROW(webhook_bodies(WebhookFormat::telegram, "sumora", kBrief), std::invalid_argument);

  auto slack = only_body(WebhookFormat::slack, "sumora", kBrief);
  EXPECT_STREQ(slack["text"].GetString(), "*大盘 AI 简报 · HK · 2024-05-10*\n*▋ 港股*\n偏强\n");
  EXPECT_TRUE(slack["mrkdwn"].GetBool());

  EXPECT_EQ(parse_webhook_format(" WeCom "), WebhookFormat::wecom);
  EXPECT_EQ(parse_webhook_format(""), WebhookFormat::json);
  EXPECT_THROW(parse_webhook_format("teams"), std::invalid_argument);
  EXPECT_THROW(webhook_bodies(WebhookFormat::slack, "stock_report", "{}"), std::invalid_argument);
}

TEST(WebhookFormat, LongSummariesAreSplitWithinEachLimit) {
  const std::string payload = summary(200);
  struct Case {
    WebhookFormat format;
    std::size_t max;  // the service's limit on one message
    bool bytes;
    const char* field;
  };
  for (const auto& c : {Case{WebhookFormat::wecom, 4096, true, "content"},
                        Case{WebhookFormat::telegram, 4096, false, "text"},
                        Case{WebhookFormat::slack, 4000, false, "text"}}) {
    const auto bodies = webhook_bodies(c.format, "watchlist_summary", payload, std::string("1"));
    ASSERT_GT(bodies.size(), 1u);
    std::string joined;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
      const auto doc = utils::parse_json(bodies[i]);
      const rapidjson::Value& holder = c.format == WebhookFormat::wecom ? doc["markdown"] : doc;
      const std::string text = holder[c.field].GetString();
      EXPECT_LE(c.bytes ? text.size() : utils::char_count(text), c.max);
      EXPECT_THAT(
          text, HasSubstr("(" + std::to_string(i + 1) + "/" + std::to_string(bodies.size()) + ")"));
      joined += text;
    }
    // Every stock is in exactly one piece, never cut.
    for (int i = 0; i < 200; ++i) {
      const std::string code = "sh.6" + std::to_string(10000 + i) + " ";
      EXPECT_EQ(joined.find(code), joined.rfind(code)) << code;
      EXPECT_NE(joined.find(code), std::string::npos) << code;
    }
  }
  const auto feishu = webhook_bodies(WebhookFormat::feishu, "watchlist_summary", payload);
  for (const auto& b : feishu) EXPECT_LE(b.size(), 20u * 1024);
}

TEST(WebhookPost, SecretsOfTheUrlAreRedacted) {
  const std::string url =
      "https://hooks.example.com/services/T000/B000/XXXXsecretXXXX?key=abcdef123456";
  const std::string echoed =
      "error at " + url + " path /services/T000/B000/XXXXsecretXXXX key=abcdef123456";
  const std::string redacted = redact_url(echoed, url);
  EXPECT_THAT(redacted, Not(HasSubstr("XXXXsecretXXXX")));
  EXPECT_THAT(redacted, Not(HasSubstr("abcdef123456")));
  // Nothing listens on port 9 of the loopback: a transport error without the URL.
  const auto r =
      post_json("http://127.0.0.1:9/hook/XXXXsecretXXXX", "{}", std::chrono::milliseconds(500));
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.permanent);
  EXPECT_THAT(r.error, Not(HasSubstr("XXXXsecretXXXX")));
}

}  // namespace
}  // namespace zorvane::report::notify
