// End-to-end runs of kelvo over a watchlist: mixed markets, a stock without data, a stock whose
// model call fails, one brief per market under --jobs 4, the summary as text and JSON, and the
// chat webhook (a receiver that fails, then recovers, gets each message once).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "agent/sumora/prompts.hpp"
#include "e2e/kelvo/kelvo_fixture.hpp"
#include "zorvane/utils/json.hpp"

namespace {

using namespace kelvo_e2e;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kWatchlist =
    "# 自选股\n"
    "sh.600519\n"
    "00700.HK,腾讯控股\n"
    "us.AAPL\n"
    "510050   # 基金\n"
    "sz.000002\n"
    "sz.000001\n";

class Watchlist : public Kelvo {
 protected:
  void SetUp() override {
    std::ofstream(work.path() / "watch.txt") << kWatchlist;
    stub.set_default_reply(kReportWithDecision);
    // The analysis of sz.000001 fails at the model (no retries in these runs).
    stub.set_rule([](const zv_test::StubRequest& r) -> std::optional<zv_test::StubResponse> {
      if (r.user_message().value_or("").find("- 股票代码：sz.000001") != std::string::npos) {
        return zv_test::ChatStub::error(500, "model down");
      }
      return std::nullopt;
    });
  }

  std::size_t brief_requests() const {
    std::size_t n = 0;
    for (const auto& r : stub.requests()) n += r.system_message() == sumora::SUMORA_SYSTEM_MESSAGE;
    return n;
  }

  // Lines of standard output that start with `code`.
  std::vector<std::string> rows_of(const std::string& out) const {
    std::vector<std::string> rows;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
      for (const char* p : {"sh.", "hk.", "us.", "sz.", "51"}) {
        if (line.rfind(p, 0) == 0) rows.push_back(line);
      }
    }
    return rows;
  }
};

TEST_F(Watchlist, MixedMarketsEndInOneSummaryRowEach) {
  auto run = kelvo({"--watchlist", "watch.txt", "-t", kDay, "--jobs", "4"});
  EXPECT_EQ(run.status, 1) << run.err;  // two stocks failed

  const auto rows = rows_of(run.out);
  ASSERT_EQ(rows.size(), 6u) << run.out;
  // Watchlist order, with the decision's action, confidence and prices.
  EXPECT_THAT(rows[0], HasSubstr("sh.600519"));
  EXPECT_THAT(rows[0], HasSubstr("谨慎买入"));
  EXPECT_THAT(rows[0], HasSubstr("114.06-115.42"));
  EXPECT_THAT(rows[0], HasSubstr("111.35"));
  EXPECT_THAT(rows[0], HasSubstr("123.14"));
  EXPECT_THAT(rows[0], testing::EndsWith("ok"));
  // The stub's one decision names sh.600519's close: for the other stocks the trust gate
  // rejects it, and the row says which check failed.
  EXPECT_THAT(rows[1], HasSubstr("腾讯控股"));
  EXPECT_THAT(rows[1], testing::EndsWith("rejected: decision.current_price"));
  EXPECT_THAT(rows[2], HasSubstr("us.AAPL"));
  EXPECT_THAT(rows[2], testing::EndsWith("rejected: decision.current_price"));
  EXPECT_THAT(rows[3], HasSubstr("510050"));
  EXPECT_THAT(rows[4], testing::EndsWith("failed: no data"));
  EXPECT_THAT(rows[5], HasSubstr("failed: [AI 个股分析] LLM 调用失败"));
  EXPECT_THAT(run.out, HasSubstr("共 6 只: ok 1, skipped 0, no decision 0, failed 5"));

  // One brief per market and day (A for the shares and the fund, HK, US), not one per stock.
  EXPECT_EQ(brief_requests(), 3u);
  // Each stock's log lines carry its code.
  EXPECT_THAT(run.err, HasSubstr("[hk.00700] 检测到股票代码: hk.00700 ("));
  EXPECT_THAT(run.err, HasSubstr("[sz.000002] 获取股票数据失败: sz.000002"));
  EXPECT_THAT(run.err, Not(HasSubstr("sk-e2e-secret")));
  // No terminal, no progress bar.
  EXPECT_THAT(run.err, Not(HasSubstr("失败 2")));

  // Stored and queued: four reports and the summary.
  zorvane::report::ReportStorage storage(report_root());
  std::vector<std::string> kinds;
  for (const auto& row : storage.outbox(false)) {
    kinds.push_back(row.kind);
    if (row.kind != "watchlist_summary") continue;
    // The queued summary carries its message id, as every outbox message does.
    EXPECT_EQ(row.key, "watchlist:" + kDay);
    const auto queued = zorvane::utils::parse_json(row.payload);
    ASSERT_TRUE(queued.HasMember("message_id"));
    EXPECT_EQ(queued["message_id"].GetString(), row.message_id);
    EXPECT_EQ(queued["rows"].Size(), 6u);
  }
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "stock_report"), 4);
  ASSERT_EQ(std::count(kinds.begin(), kinds.end(), "watchlist_summary"), 1);

  // Again as JSON: the analysed stocks are skipped, the failing ones fail again.
  auto again = kelvo({"-s", "sh.600519,hk.00700,sz.000002", "-t", kDay, "--format", "json"});
  EXPECT_EQ(again.status, 1);
  const auto doc = zorvane::utils::parse_json(again.out);
  EXPECT_STREQ(doc["type"].GetString(), "watchlist_summary");
  ASSERT_EQ(doc["rows"].Size(), 3u);
  EXPECT_STREQ(doc["rows"][0]["status"].GetString(), "skipped");
  EXPECT_STREQ(doc["rows"][1]["code"].GetString(), "hk.00700");
  EXPECT_STREQ(doc["rows"][1]["market_type"].GetString(), "HK");
  EXPECT_STREQ(doc["rows"][2]["status"].GetString(), "failed: no data");
  EXPECT_EQ(doc["skipped"].GetInt(), 2);

  auto fine = kelvo({"-s", "sh.600519,510050", "-t", kDay});
  EXPECT_EQ(fine.status, 0) << fine.err;
}

TEST_F(Watchlist, BadWatchlistsAreUsageErrors) {
  std::ofstream(work.path() / "bad.txt") << "sh.600519\nhello world\n";
  auto bad = kelvo({"--watchlist", "bad.txt", "-t", kDay});
  EXPECT_EQ(bad.status, 2);
  EXPECT_THAT(bad.err, HasSubstr("bad.txt line 2: not a security code"));
  auto missing = kelvo({"--watchlist", "none.txt", "-t", kDay});
  EXPECT_EQ(missing.status, 2);
  EXPECT_THAT(missing.err, HasSubstr("none.txt"));
  auto listed = kelvo({"-s", "sh.600519,!!!", "-t", kDay});
  EXPECT_EQ(listed.status, 2);
  EXPECT_THAT(listed.err, HasSubstr("not a security code: '!!!'"));
  EXPECT_EQ(kelvo({"-s", "sh.600519", "--watchlist", "watch.txt"}).status, 2);
  EXPECT_EQ(stub.request_count(), 0u);
}

TEST_F(Watchlist, WebhookGetsEachMessageOnceAfterRecovering) {
  zv_test::ChatStub hook;
  const std::string url = "http://127.0.0.1:" + std::to_string(hook.port()) +
                          "/open-apis/bot/v2/hook/secret-token-7f3a9c";
  hook.set_default_response(
      zv_test::ChatStub::raw(200, R"({"code":0,"msg":"success"})", "application/json"));
  hook.push(zv_test::ChatStub::raw(503, "busy " + url));  // echoes the URL
  const std::map<std::string, std::optional<std::string>> notify{
      {"LLM_CLIENT_TYPE", "offline"},
      {"NOTIFY_WEBHOOK_URL", url},
      {"NOTIFY_WEBHOOK_FORMAT", "feishu"},
      {"NOTIFY_BRIEF", "1"}};

  auto first = kelvo({"-s", "sh.600519,510050", "-t", kDay}, notify);
  EXPECT_EQ(first.status, 0) << first.err;  // a late notification does not fail the run
  EXPECT_THAT(first.err, HasSubstr("[报告存储] Webhook 投递失败"));
  auto second = kelvo({"-s", "sh.600519,510050", "-t", kDay}, notify);
  EXPECT_EQ(second.status, 0) << second.err;
  auto third = kelvo({"-s", "sh.600519", "-t", kDay}, notify);  // a single run: nothing new owed
  EXPECT_EQ(third.status, 0) << third.err;

  // First run: the A brief (503: kept owed, and the summary queued after it waits to keep the
  // chat's order). Second run: the brief, then both runs' summaries. The brief was owed once
  // for both stocks and both runs.
  const auto requests = hook.requests();
  ASSERT_EQ(requests.size(), 4u);
  std::vector<std::string> titles;
  for (const auto& r : requests) {
    EXPECT_EQ(r.path, "/open-apis/bot/v2/hook/secret-token-7f3a9c");
    const auto body = zorvane::utils::parse_json(r.body);
    EXPECT_STREQ(body["msg_type"].GetString(), "interactive");
    EXPECT_STREQ(body["card"]["elements"][0]["tag"].GetString(), "div");
    titles.emplace_back(body["card"]["header"]["title"]["content"].GetString());
  }
  EXPECT_EQ(titles[0], "市场简报 A 2024-05-10");
  EXPECT_EQ(titles[1], titles[0]);
  EXPECT_EQ(titles[2], "自选股汇总 2024-05-10");
  EXPECT_EQ(titles[3], titles[2]);
  EXPECT_THAT(requests[2].body, HasSubstr("sh.600519"));
  EXPECT_THAT(requests[3].body, HasSubstr("skipped"));

  // The URL and its token appear nowhere in the output or the log file.
  std::ifstream log(work.path() / "logs" / "zorvane.log");
  const std::string log_text((std::istreambuf_iterator<char>(log)), {});
  for (const auto& text : {first.err, second.err, third.err, log_text}) {
    EXPECT_THAT(text, Not(HasSubstr("secret-token-7f3a9c")));
  }
}

}  // namespace
