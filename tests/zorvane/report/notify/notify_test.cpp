#include <gtest/gtest.h>

#include <set>

#include <map>
#include <string>
#include <vector>

#include "support/chat_stub.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/report/notify/notify_format.hpp"
#include "zorvane/report/notify/webhook_sink.hpp"
#include "zorvane/utils/external_text.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"
#include "zorvane/utils/text.hpp"

namespace {

using zorvane::notify::NotifySettings;
using zorvane::notify::WebhookFormat;
using zorvane::report::OutboxMessage;
using zorvane::utils::json_find;
using zorvane::utils::parse_json;

std::string text_at(const rapidjson::Value& v, std::initializer_list<const char*> path) {
  const rapidjson::Value* cur = &v;
  for (const char* key : path) {
    cur = json_find(*cur, key);
    if (cur == nullptr) return "<missing " + std::string(key) + ">";
  }
  return cur->IsString() ? std::string(cur->GetString(), cur->GetStringLength()) : "<not text>";
}

const std::string kSummaryPayload =
    R"({"type": "watchlist_summary", "message_id": "m-1", "analysis_time": "2024-05-10", )"
    R"("rows": [{"code": "600519", "name": "贵州茅台", "action": "买入", "confidence": 0.8, )"
    R"("entry_price_low": 1700, "entry_price_high": 1720, "stop_loss": 1650, "target_1": 1800, )"
    R"("status": "ok"}, )"
    R"({"code": "AAPL", "name": "Apple <Inc> & Co", "status": "failed: no data"}]})";

OutboxMessage summary_message(std::int64_t id = 1) {
  return {id, "m-1", "watchlist_summary", "watchlist:2024-05-10", kSummaryPayload, ""};
}

OutboxMessage brief_message(const std::string& content) {
  rapidjson::Document doc(rapidjson::kObjectType);
  auto& a = doc.GetAllocator();
  zorvane::utils::json_add(doc, "type", "sumora", a);
  zorvane::utils::json_add(doc, "market_type", "A", a);
  zorvane::utils::json_add(doc, "analysis_time", "2024-05-10", a);
  zorvane::utils::json_add(doc, "content", std::string_view(content), a);
  return {2, "m-2", "sumora", "A:2024-05-10", zorvane::utils::strict_json_dumps(doc), ""};
}

zv_test::StubResponse answer(int status, std::string body) {
  return {status, std::move(body), std::chrono::milliseconds(0), {}, "application/json"};
}

NotifySettings settings_for(WebhookFormat format) {
  NotifySettings s;
  s.url = "http://127.0.0.1:1/hook";
  s.format = format;
  s.telegram_chat_id = "-100123";
  return s;
}

// Each service's documented body shape, with the stock rows readable in it.
TEST(WebhookBodies, EachFormatHasItsServiceShape) {
  const auto msg = summary_message();
  auto one = [&](WebhookFormat f) {
    auto bodies = zorvane::notify::webhook_bodies(settings_for(f), msg);
    EXPECT_EQ(bodies.size(), 1u);
    return parse_json(bodies.at(0));
  };
  EXPECT_EQ(zorvane::notify::webhook_bodies(settings_for(WebhookFormat::json), msg),
            std::vector<std::string>{kSummaryPayload});

  auto feishu = one(WebhookFormat::feishu);
  EXPECT_EQ(text_at(feishu, {"msg_type"}), "interactive");
  EXPECT_EQ(text_at(feishu, {"card", "header", "title", "tag"}), "plain_text");
  EXPECT_EQ(text_at(feishu, {"card", "header", "title", "content"}), "自选股汇总 2024-05-10");
  const auto& el = (*json_find(*json_find(feishu, "card"), "elements"))[0];
  EXPECT_EQ(text_at(el, {"text", "tag"}), "lark_md");
  EXPECT_NE(text_at(el, {"text", "content"}).find("**600519 贵州茅台** 买入 · 信心 0.8"),
            std::string::npos);

  auto ding = one(WebhookFormat::dingtalk);
  EXPECT_EQ(text_at(ding, {"msgtype"}), "markdown");
  EXPECT_EQ(text_at(ding, {"markdown", "title"}), "自选股汇总 2024-05-10");
  EXPECT_NE(text_at(ding, {"markdown", "text"}).find("入场 1700-1720 · 止损 1650 · 目标 1800"),
            std::string::npos);

  auto wecom = one(WebhookFormat::wecom);
  EXPECT_EQ(text_at(wecom, {"msgtype"}), "markdown");
  EXPECT_NE(text_at(wecom, {"markdown", "content"}).find("状态 failed: no data"),
            std::string::npos);

  auto tg = one(WebhookFormat::telegram);
  EXPECT_EQ(text_at(tg, {"chat_id"}), "-100123");
  EXPECT_EQ(text_at(tg, {"parse_mode"}), "HTML");
  const std::string tg_text = text_at(tg, {"text"});
  EXPECT_NE(tg_text.find("<b>AAPL Apple &lt;Inc&gt; &amp; Co</b>"), std::string::npos) << tg_text;

  auto slack = one(WebhookFormat::slack);
  EXPECT_NE(text_at(slack, {"text"}).find("*AAPL Apple &lt;Inc&gt; &amp; Co*"), std::string::npos);
}

// Long briefs are split at line ends within each service's limit, and nothing is lost.
TEST(WebhookBodies, LongTextIsSplitWithinTheServiceLimit) {
  std::string content;
  for (int i = 0; content.size() < 30'000; ++i) {
    content += "第" + std::to_string(i) + "行：市场情绪 & <波动> 较大，关注成交量变化。\n";
  }
  const auto msg = brief_message(content);

  auto wecom = zorvane::notify::webhook_bodies(settings_for(WebhookFormat::wecom), msg);
  ASSERT_GE(wecom.size(), 8u);
  std::string joined;
  for (std::size_t i = 0; i < wecom.size(); ++i) {
    const std::string part = text_at(parse_json(wecom[i]), {"markdown", "content"});
    EXPECT_LE(part.size(), 4096u);
    const std::string head = "**市场简报 A 2024-05-10 (" + std::to_string(i + 1) + "/" +
                             std::to_string(wecom.size()) + ")**\n";
    ASSERT_EQ(part.rfind(head, 0), 0u) << part.substr(0, 80);
    joined += part.substr(head.size());
  }
  EXPECT_EQ(joined, content);

  auto tg = zorvane::notify::webhook_bodies(settings_for(WebhookFormat::telegram), msg);
  ASSERT_GE(tg.size(), 2u);
  for (const auto& body : tg) {
    const std::string text = text_at(parse_json(body), {"text"});
    EXPECT_LE(zorvane::utils::char_count(text), 4096u);
    EXPECT_TRUE(zorvane::utils::is_valid_utf8(text));
  }

  // A single line longer than the limit is cut between characters, never inside one.
  const auto pieces = zorvane::notify::split_text(std::string(3000, 'x') + std::string(900, '\xe4'),
                                                  1000, zorvane::notify::LengthUnit::bytes);
  EXPECT_EQ(pieces.size(), 4u);
}

class WebhookDelivery : public ::testing::Test {
 protected:
  zv_test::TempDir root;
  zv_test::ChatStub receiver;
  NotifySettings settings;

  void SetUp() override {
    settings.url = "http://127.0.0.1:" + std::to_string(receiver.port()) +
                   "/robot/send?access_token=SECRET-TOKEN-7f3a9c";
    settings.format = WebhookFormat::dingtalk;
    settings.timeout = std::chrono::milliseconds(5000);
    zorvane::notify::register_url_secrets(settings.url);
  }

  std::int64_t save_summary(zorvane::report::ReportStorage& storage, const std::string& key) {
    return storage.save_message("watchlist_summary", key,
                                [&](const std::string& id, const std::string&) {
                                  return R"({"type": "watchlist_summary", "message_id": ")" + id +
                                         R"(", "analysis_date": ")" + key + R"(", "rows": []})";
                                });
  }

  std::size_t received() { return receiver.requests().size(); }
};

// A receiver that fails and recovers gets each message once; a message queued before the
// webhook was configured is not owed; the token never reaches the logs.
TEST_F(WebhookDelivery, FailingReceiverGetsEachMessageOnceAndTokenStaysOutOfLogs) {
  zorvane::utils::LogCapture logs;
  zorvane::report::ReportStorage storage(root.path());
  save_summary(storage, "before");  // queued before the webhook was configured
  zorvane::notify::register_webhook(storage, settings);
  save_summary(storage, "w1");
  save_summary(storage, "w2");

  receiver.push(answer(500, "down: " + settings.url));
  auto first = zorvane::notify::flush_webhook(storage, settings);
  EXPECT_EQ(first.delivered, 0u);
  EXPECT_EQ(first.pending, 2u);
  EXPECT_FALSE(first.error.empty());

  receiver.push(answer(200, R"({"errcode": 0})"));
  receiver.push(answer(200, R"({"errcode": 130101, "errmsg": "send too fast"})"));
  auto second = zorvane::notify::flush_webhook(storage, settings);
  EXPECT_EQ(second.delivered, 1u);
  EXPECT_EQ(second.pending, 1u);

  receiver.set_default_response(answer(200, R"({"errcode": 0})"));
  auto third = zorvane::notify::flush_webhook(storage, settings);
  EXPECT_EQ(third.delivered, 1u);
  EXPECT_EQ(third.pending, 0u);
  zorvane::notify::flush_webhook(storage, settings);

  // Four requests: w1 failed, w1 ok, w2 rate-limited, w2 ok; none after.
  const auto reqs = receiver.requests();
  ASSERT_EQ(reqs.size(), 4u);
  EXPECT_EQ(reqs[0].body, reqs[1].body);
  EXPECT_EQ(reqs[2].body, reqs[3].body);
  EXPECT_NE(reqs[1].body, reqs[3].body);

  bool warned = false;
  for (const auto& line : logs.lines()) {
    EXPECT_EQ(line.find("SECRET-TOKEN-7f3a9c"), std::string::npos) << line;
    warned = warned || line.find("Webhook 投递失败") != std::string::npos;
  }
  EXPECT_TRUE(warned);
}

// A refusal for good marks the message failed; after `retry` it goes out once.
TEST_F(WebhookDelivery, RejectedMessageWaitsForRetry) {
  zorvane::report::ReportStorage storage(root.path());
  zorvane::notify::register_webhook(storage, settings);
  const auto id = save_summary(storage, "w1");
  receiver.push(answer(200, R"({"errcode": 310000, "errmsg": "keywords not in content"})"));
  auto r = zorvane::notify::flush_webhook(storage, settings);
  EXPECT_EQ(r.rejected, 1u);
  EXPECT_EQ(r.pending, 0u);
  zorvane::notify::flush_webhook(storage, settings);
  EXPECT_EQ(received(), 1u);
  ASSERT_EQ(storage.failed_deliveries().size(), 1u);
  EXPECT_EQ(storage.retry_failed(id, std::string("webhook")), 1);
  receiver.set_default_response(answer(200, R"({"errcode": 0})"));
  EXPECT_EQ(zorvane::notify::flush_webhook(storage, settings).delivered, 1u);
  EXPECT_EQ(received(), 2u);
}

// A split message that fails part way resumes where it stopped: the chat never gets a part
// twice.
TEST_F(WebhookDelivery, SplitMessageResumesAfterTheLastAcceptedPart) {
  settings.format = WebhookFormat::wecom;  // 4096 bytes a message
  settings.notify_brief = true;
  zorvane::report::ReportStorage storage(root.path());
  zorvane::notify::register_webhook(storage, settings);
  std::string brief;
  for (int i = 0; i < 120; ++i)
    brief += "第" + std::to_string(i) + "行 " + std::string(70, 'x') + "\n";
  storage.save_sumora({"A", brief, "2024-05-10", {}, {}});

  receiver.push(answer(200, R"({"errcode": 0, "errmsg": "ok"})"));
  receiver.push(answer(503, "busy"));
  auto first = zorvane::notify::flush_webhook(storage, settings);
  EXPECT_EQ(first.delivered, 0u);
  EXPECT_EQ(first.pending, 1u);
  receiver.set_default_response(answer(200, R"({"errcode": 0, "errmsg": "ok"})"));
  EXPECT_EQ(zorvane::notify::flush_webhook(storage, settings).delivered, 1u);

  // Part 1, part 2 refused, part 2 again, part 3.
  const auto reqs = receiver.requests();
  ASSERT_EQ(reqs.size(), 4u);
  EXPECT_EQ(reqs[1].body, reqs[2].body);
  std::set<std::string> parts;
  for (const auto& r : reqs) parts.insert(r.body);
  EXPECT_EQ(parts.size(), 3u);
  EXPECT_NE(reqs[0].body.find("(1/3)"), std::string::npos) << reqs[0].body.substr(0, 200);
  EXPECT_NE(reqs[3].body.find("(3/3)"), std::string::npos);
}

// The brief is notified once per market and day however many runs save it; without
// NOTIFY_BRIEF it is not notified at all. Kafka still gets every copy.
TEST_F(WebhookDelivery, BriefIsNotifiedOncePerMarketAndDay) {
  receiver.set_default_response(answer(200, R"({"errcode": 0})"));
  {
    zorvane::report::ReportStorage storage(root.path());
    zorvane::notify::register_webhook(storage, settings);  // NOTIFY_BRIEF off
    storage.save_sumora({"A", "off", "2024-05-09", {}, {}});
    EXPECT_EQ(zorvane::notify::flush_webhook(storage, settings).delivered, 0u);
  }
  settings.notify_brief = true;
  for (int run = 0; run < 3; ++run) {
    zorvane::report::ReportStorage storage(root.path());
    zorvane::notify::register_webhook(storage, settings);
    for (const char* market : {"A", "A", "US"}) {
      storage.save_sumora({market, "brief", "2024-05-10", {}, {}});
    }
    zorvane::notify::flush_webhook(storage, settings);
  }
  EXPECT_EQ(received(), 2u);  // A and US, once each
  zorvane::report::ReportStorage storage(root.path());
  EXPECT_EQ(storage.outbox().size(), 10u);  // all still owed to Kafka
}

TEST(NotifySettings, FromEnvironment) {
  zv_test::EnvGuard url("NOTIFY_WEBHOOK_URL",
                        "https://api.telegram.org/botSECRET-BOT-TOKEN-1/sendMessage");
  zv_test::EnvGuard chat("NOTIFY_TELEGRAM_CHAT_ID", nullptr);
  {
    zv_test::EnvGuard format("NOTIFY_WEBHOOK_FORMAT", "telegram");
    EXPECT_THROW(NotifySettings::from_env(), std::invalid_argument);
  }
  {
    zv_test::EnvGuard format("NOTIFY_WEBHOOK_FORMAT", "teams");
    try {
      NotifySettings::from_env();
      ADD_FAILURE() << "unknown format accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("'teams'"), std::string::npos) << e.what();
    }
  }
  zv_test::EnvGuard format("NOTIFY_WEBHOOK_FORMAT", nullptr);
  auto s = NotifySettings::from_env();
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->format, WebhookFormat::json);
  EXPECT_FALSE(s->notify_brief);
  EXPECT_EQ(zorvane::utils::printable_external("err at /botSECRET-BOT-TOKEN-1/sendMessage"),
            "err at ***");
}

}  // namespace
