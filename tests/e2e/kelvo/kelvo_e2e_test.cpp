// End-to-end runs of kelvo: a sample data center on disk, a temporary report root and a
// loopback chat-completions stub standing in for the model API.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "agent/prompts/velmira/fill.hpp"
#include "agent/prompts/velmira/prompts.hpp"
#include "agent/schemas/extraction.hpp"
#include "agent/schemas/stock_decision.hpp"
#include "agent/sumora/prompts.hpp"
#include "e2e/kelvo/kelvo_fixture.hpp"
#include "e2e/tarsen/child_process.hpp"
#include "support/chat_stub.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"

namespace {

using namespace kelvo_e2e;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

TEST_F(Kelvo, FilledPromptsReachTheModelAndTheDecisionIsStored) {
  stub.push(zv_test::ChatStub::reply("**▋ A 股大盘市场研判 · 震荡 / 中**\n大盘正文"));
  stub.push(zv_test::ChatStub::reply(kReportWithDecision));
  stub.push(zv_test::ChatStub::reply("操作手册 50% 仓位"));
  auto run = kelvo({"-s", "sh.600519", "-t", kDay});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");  // everything goes through the logger

  ASSERT_EQ(stub.request_count(), 3u);
  const auto reqs = stub.requests();
  EXPECT_EQ(reqs[0].system_message(), sumora::SUMORA_SYSTEM_MESSAGE);
  EXPECT_EQ(reqs[1].system_message(), velmira::stock_templates("A").system);
  const std::string user = reqs[1].user_message().value_or("");
  EXPECT_THAT(user,
              HasSubstr("- 股票代码：sh.600519\n- 股票名称：示例酒业\n- 分析时间：2024-05-10\n"));
  EXPECT_THAT(user, HasSubstr("<market_ai_brief>\n**▋ A 股大盘市场研判 · 震荡 / 中**\n大盘正文\n"
                              "</market_ai_brief>"));
  // Cut out the inserted data: the frame keeps no placeholder and no doubled brace, only the
  // single pair of the example JSON.
  std::string frame = user;
  for (const char* tag : {"daily_data", "weekly_data", "pattern_info"}) {
    const std::string open = std::string("<") + tag + ">\n";
    auto b = frame.find(open);
    auto e = frame.find(std::string("\n</") + tag + ">");
    ASSERT_NE(b, std::string::npos) << tag;
    ASSERT_NE(e, std::string::npos) << tag;
    const auto inner = frame.substr(b + open.size(), e - b - open.size());
    EXPECT_NO_THROW(zorvane::utils::parse_json(inner)) << tag;
    frame.erase(b + open.size(), e - b - open.size());
  }
  EXPECT_EQ(std::count(frame.begin(), frame.end(), '{'), 1) << frame;
  EXPECT_EQ(std::count(frame.begin(), frame.end(), '}'), 1) << frame;
  EXPECT_THAT(frame, HasSubstr("\"stock_code\": \"sh.600519\""));

  // The summary prompt holds the report without its reasoning block.
  const std::string report = kReportWithDecision.substr(kReportWithDecision.find("### 0."));
  EXPECT_EQ(reqs[2].system_message(), velmira::SUMMARY_SYSTEM_TEMPLATE());
  EXPECT_EQ(reqs[2].user_message(),
            velmira::fill(velmira::SUMMARY_USER_TEMPLATE(), {{"analysis_report", report}}));

  auto records = log_records(run.err);
  expect_in_order(
      records,
      {"info|开始 AI 股票分析: stock=sh.600519, analysis_time=2024-05-10, force=False",
       "info|检测到股票代码: sh.600519 (示例酒业)，背景市场类型: A", "info|正在分析股票...",
       "info|\n===== 股票分析报告 =====", "info|" + report, "info|\n===== 分析报告结束 =====",
       "info|\n===== 投资建议总结 =====", "info|操作手册 50% 仓位", "info|\n===== 总结结束 ====="});
  auto timing = std::find_if(records.begin(), records.end(), [](const std::string& r) {
    return r.rfind("info|\n执行时间: ", 0) == 0;
  });
  ASSERT_NE(timing, records.end());
  EXPECT_TRUE(std::regex_match(*timing, std::regex("info\\|\n执行时间: \\d+\\.\\d\\d 秒")))
      << *timing;
  ASSERT_NE(timing + 1, records.end());
  EXPECT_THAT(*(timing + 1), ::testing::StartsWith(kFlushLine));  // flushed after the timing
  EXPECT_THAT(run.err, Not(HasSubstr("sk-e2e-secret")));

  // Stored with its decision record, and kept as Markdown under the day.
  auto messages = stock_messages();
  ASSERT_EQ(messages.size(), 1u);
  const auto& m = messages[0];
  EXPECT_STREQ(m["code"].GetString(), "sh.600519");
  EXPECT_STREQ(m["llm_client_type"].GetString(), "openai");
  EXPECT_STREQ(m["report"].GetString(), report.c_str());
  EXPECT_STREQ(m["summary"].GetString(), "操作手册 50% 仓位");
  auto expected = schemas::StockDecision::from_json(*schemas::extract_decision_json(report));
  EXPECT_EQ(schemas::StockDecision::from_json(m["decision"]), expected);
  EXPECT_STREQ(m["decision"]["position_pct"].GetString(), "12%");
  EXPECT_DOUBLE_EQ(m["decision"]["entry_price_high"].GetDouble(), 115.416);
  EXPECT_TRUE(fs::exists(report_root() / kDay / "sh.600519_openai.md"));
}

TEST_F(Kelvo, ReplyWithoutDecisionStillCompletesWithANullDecision) {
  stub.push(zv_test::ChatStub::reply("**▋ 简报**"));
  stub.push(zv_test::ChatStub::reply("只有分析文字，没有决策 JSON。"));
  stub.push(zv_test::ChatStub::reply("总结"));
  auto run = kelvo({"-s", "sh.600519", "-t", kDay});
  ASSERT_EQ(run.status, 0) << run.err;
  auto records = log_records(run.err);
  EXPECT_TRUE(has_record_starting(records, "warning|[AI 个股分析] 分析报告中没有可用的决策 JSON"));
  expect_in_order(records, {"info|只有分析文字，没有决策 JSON。", "info|总结"});
  EXPECT_TRUE(has_record_starting(records, kFlushLine));
  auto messages = stock_messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0]["decision"].IsNull());
}

TEST_F(Kelvo, ExistingReportIsSkippedUnlessForced) {
  stub.set_default_reply("**▋ 简报**");
  auto first = kelvo({"-s", "sh.600519", "-t", kDay});
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_EQ(stub.request_count(), 3u);

  auto again = kelvo({"-s", "sh.600519", "-t", kDay});
  EXPECT_EQ(again.status, 0);
  EXPECT_THAT(
      log_records(again.err),
      ElementsAre("info|开始 AI 股票分析: stock=sh.600519, analysis_time=2024-05-10, force=False",
                  "info|股票 sh.600519 在 2024-05-10 的分析报告 (openai) 已存在，跳过执行。 "
                  "(使用 --force 强制重新分析)"));
  EXPECT_EQ(stub.request_count(), 3u);

  // Another client type has no report yet.
  auto other = kelvo({"-s", "sh.600519", "-t", kDay}, {{"LLM_CLIENT_TYPE", "offline"}});
  EXPECT_EQ(other.status, 0);
  EXPECT_TRUE(has_record_starting(log_records(other.err), "info|正在分析股票..."));

  // Forced: the brief comes from its cache file, the analysis is asked for again.
  auto forced = kelvo({"-s", "sh.600519", "-t", kDay, "--force"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  auto records = log_records(forced.err);
  EXPECT_EQ(records.front(),
            "info|开始 AI 股票分析: stock=sh.600519, analysis_time=2024-05-10, force=True");
  EXPECT_TRUE(
      has_record_starting(records, "info|[大盘 AI 简报] 命中磁盘缓存 | market=A date=2024-05-10"));
  EXPECT_EQ(stub.request_count(), 5u);
  EXPECT_EQ(stock_messages().size(), 3u);
}

TEST_F(Kelvo, RefusedDatesEndQuietlyWithStatusZero) {
  auto tomorrow = zorvane::utils::iso_date(zorvane::utils::today_local() + std::chrono::days(1));
  for (const std::string& future : {std::string("2099-01-01"), tomorrow}) {
    auto run = kelvo({"-s", "sh.600519", "-t", future});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(log_records(run.err), std::vector<std::string>{"warning|输入日期 " + future +
                                                             " 是未来日期，系统将直接退出。"});
  }
  for (const char* bad :
       {"2024/01/01", "2024-02-30", "yesterday", "0000-01-01", "0001-01-01", "1899-12-31"}) {
    auto run = kelvo({"-s", bad[0] == '0' ? "sh.600519" : "us.AAPL", "-t", bad});
    EXPECT_EQ(run.status, 0) << bad;
    EXPECT_EQ(log_records(run.err), std::vector<std::string>{std::string("error|日期格式错误: ") +
                                                             bad + "，应为 YYYY-MM-DD"});
  }
  EXPECT_EQ(stub.request_count(), 0u);
  EXPECT_FALSE(fs::exists(report_root()));  // storage never touched
}

TEST_F(Kelvo, StocksWithoutBarsFinishBeforeAnyModelCall) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> records;
  };
  const std::vector<Case> cases{
      // Unknown code: no name, no market, no data.
      {{"-s", "xx.12345", "-t", kDay},
       {"info|开始 AI 股票分析: stock=xx.12345, analysis_time=2024-05-10, force=False",
        "info|检测到股票代码: xx.12345 ()，背景市场类型: None", "info|获取股票数据失败: xx.12345"}},
      // A Saturday moves back to Friday; the file exists but holds no bars.
      {{"-s", "sz.000002", "-t", "2024-05-11"},
       {"info|日期已从 2024-05-11 调整为 2024-05-10 (由于市场未收盘或非交易日)",
        "info|开始 AI 股票分析: stock=sz.000002, analysis_time=2024-05-10, force=False",
        "info|检测到股票代码: sz.000002 ()，背景市场类型: A", "info|获取股票数据失败: sz.000002"}},
      // Memorial Day is no NYSE trading day: the US normaliser moves it to the Friday before.
      {{"-s", "us.ZZZZ", "-t", "2024-05-27"},
       {"info|日期已从 2024-05-27 调整为 2024-05-24 (由于市场未收盘或非交易日)",
        "info|开始 AI 股票分析: stock=us.ZZZZ, analysis_time=2024-05-24, force=False",
        "info|检测到股票代码: us.ZZZZ ()，背景市场类型: US", "info|获取股票数据失败: us.ZZZZ"}},
  };
  for (const auto& c : cases) {
    auto run = kelvo(c.args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(log_records(run.err), c.records) << run.err;  // no flush on an early finish
  }
  EXPECT_EQ(stub.request_count(), 0u);
}

TEST_F(Kelvo, MissingBriefStopsTheAnalysisWithAnError) {
  stub.push(zv_test::ChatStub::reply(std::nullopt, std::string("只有推理")));
  auto run = kelvo({"-s", "510050", "-t", kDay});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err,
              HasSubstr("kelvo: error: [大盘 AI 简报] LLM 返回空内容 | market=A date=2024-05-10"));
  auto records = log_records(run.err);
  EXPECT_TRUE(
      has_record_starting(records, "info|检测到股票代码: 510050 (上证50ETF)，背景市场类型: ETF"));
  EXPECT_FALSE(has_record_starting(records, "info|正在分析股票..."));
  EXPECT_FALSE(has_record_starting(records, kFlushLine));
  EXPECT_EQ(stub.request_count(), 1u);  // the analysis was never asked for
  EXPECT_THAT(stock_messages(), IsEmpty());
}

TEST_F(Kelvo, OptionErrorsAreUsageErrors) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"-t", kDay}, {"-s"}, {"-s", "sh.600519", "--bogus"}}) {
    auto run = kelvo(args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
    EXPECT_THAT(log_records(run.err), IsEmpty());
  }
  auto help = kelvo({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* text : {"股票分析命令行工具", "-s,--stock_code",
                           "股票代码，如：sh.600000、hk.00001、us.AAPL、510050",
                           "-t,--analysis_time", "股票K线的日期，格式：YYYY-MM-DD (默认: 今天)",
                           "--force", "强制重新分析，即使报告已存在"}) {
    EXPECT_THAT(help.out, HasSubstr(text));
  }
  EXPECT_FALSE(fs::exists(work.path() / "logs"));
}

TEST_F(Kelvo, OfflineClientAnalysesEveryMarketWithAValidDecision) {
  for (const std::string code : {"sh.600519", "hk.00700", "us.AAPL", "510050"}) {
    // Under the gate's default: neither brief nor decision trips a check (no warning line).
    auto run = kelvo({"-s", code, "-t", kDay},
                     {{"LLM_CLIENT_TYPE", "offline"}, {"ZORVANE_GATE", std::nullopt}});
    ASSERT_EQ(run.status, 0) << code << "\n" << run.err;
    auto records = log_records(run.err);
    EXPECT_TRUE(has_record_starting(records, "info|## ")) << code;                // the report
    EXPECT_TRUE(has_record_starting(records, "info|###### 📝 标的信息")) << code;  // the summary
    EXPECT_FALSE(has_record_starting(records, "warning|")) << code << "\n" << run.err;
  }
  auto messages = stock_messages();
  ASSERT_EQ(messages.size(), 4u);
  for (const auto& m : messages) {
    ASSERT_TRUE(m["decision"].IsObject()) << m["code"].GetString();
    EXPECT_STREQ(m["decision"]["stock_code"].GetString(), m["code"].GetString());
    EXPECT_STREQ(m["llm_client_type"].GetString(), "offline");
    EXPECT_STREQ(m["decision_status"].GetString(), "valid");
    ASSERT_TRUE(m["gate_checks"].IsArray());
    EXPECT_EQ(m["gate_checks"].Size(), 7u);
  }
  EXPECT_EQ(stub.request_count(), 0u);
}

}  // namespace

namespace {

// The decision of kReportWithDecision with its code and date replaced (nullopt: left out).
std::string report_with(const std::optional<std::string>& code,
                        const std::optional<std::string>& date) {
  std::string r = kReportWithDecision;
  auto swap = [&r](const std::string& field, const std::optional<std::string>& value) {
    const std::string key = "\"" + field + "\": \"";
    const auto at = r.find(key);
    const auto end = r.find("\", ", at + key.size()) + 3;
    r.replace(at, end - at, value ? key + *value + "\", " : std::string());
  };
  swap("stock_code", code);
  swap("analysis_time", date);
  return r;
}

TEST_F(Kelvo, EverySpellingIsAnalysedAsItsCanonicalCode) {
  const std::map<std::string, std::optional<std::string>> offline{{"LLM_CLIENT_TYPE", "offline"}};
  auto hk = kelvo({"-s", "00700.HK", "-t", kDay}, offline);
  ASSERT_EQ(hk.status, 0) << hk.err;
  auto records = log_records(hk.err);
  EXPECT_TRUE(has_record_starting(
      records, "info|开始 AI 股票分析: stock=hk.00700, analysis_time=2024-05-10"));
  EXPECT_TRUE(has_record_starting(records, "info|检测到股票代码: hk.00700 ("));
  EXPECT_TRUE(has_record_starting(records, "info|[大盘 AI 简报] ")) << hk.err;
  EXPECT_THAT(hk.err, HasSubstr("market=HK"));

  auto us = kelvo({"-s", "AAPL.US", "-t", kDay}, offline);
  ASSERT_EQ(us.status, 0) << us.err;
  auto sh = kelvo({"-s", "sh.600519", "-t", kDay}, offline);
  ASSERT_EQ(sh.status, 0) << sh.err;
  // Other spellings of a stored stock are skipped.
  for (const char* spelling : {"600519", "sh600519", "600519.SH"}) {
    auto again = kelvo({"-s", spelling, "-t", kDay}, offline);
    EXPECT_EQ(again.status, 0);
    EXPECT_TRUE(has_record_starting(
        log_records(again.err), "info|股票 sh.600519 在 2024-05-10 的分析报告 (offline) 已存在"))
        << spelling << "\n"
        << again.err;
  }
  auto messages = stock_messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_STREQ(messages[0]["code"].GetString(), "hk.00700");
  EXPECT_STREQ(messages[0]["market_type"].GetString(), "HK");
  EXPECT_STREQ(messages[1]["code"].GetString(), "us.AAPL");
  EXPECT_STREQ(messages[1]["market_type"].GetString(), "US");
}

TEST_F(Kelvo, PastDaysSeeTheFullWindowAndStaleDataIsNamed) {
  // A day over five years back still has its five years of bars, 20 of them weekly.
  stub.set_default_reply("**▋ 简报**");
  auto old = kelvo({"-s", "sh.600519", "-t", "2019-05-10"});
  ASSERT_EQ(old.status, 0) << old.err;
  ASSERT_EQ(stub.request_count(), 3u);
  const std::string user = stub.requests()[1].user_message().value_or("");
  const auto b = user.find("<weekly_data>\n") + 14;
  const auto weekly = zorvane::utils::parse_json(user.substr(b, user.find("\n</weekly_data>") - b));
  ASSERT_EQ(weekly.Size(), 20u);
  EXPECT_STREQ(weekly[19]["Date"].GetString(), "2019-05-10");
  EXPECT_FALSE(weekly[0]["Volatility"].IsNull());
  EXPECT_FALSE(has_record_starting(log_records(old.err), "warning|[行情数据]"));

  // A stock whose bars stop three weeks before the day: its data are stale.
  {
    std::ifstream in(center_->path() / "daily" / "sh.600519.csv");
    std::ofstream out(center_->path() / "daily" / "sh.601111.csv");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("2024-04-2", 0) == 0) break;  // rows are oldest first
      out << line << "\n";
    }
  }
  auto stale = kelvo({"-s", "sh.601111", "-t", kDay}, {{"LLM_CLIENT_TYPE", "offline"}});
  ASSERT_EQ(stale.status, 0) << stale.err;
  auto records = log_records(stale.err);
  EXPECT_TRUE(
      has_record_starting(records, "warning|[行情数据] sh.601111 的最后一根K线为 2024-04-19"))
      << stale.err;
  auto messages = stock_messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_STREQ(messages[0]["last_bar_date"].GetString(), "2019-05-10");
  EXPECT_STREQ(messages[1]["last_bar_date"].GetString(), "2024-04-19");
}

TEST_F(Kelvo, DecisionCarriesTheRunsCodeAndDate) {
  stub.set_default_reply("**▋ 简报**");
  stub.push(zv_test::ChatStub::reply("**▋ 简报**"));
  stub.push(zv_test::ChatStub::reply(report_with("000001.SZ", "2024-01-01")));
  stub.push(zv_test::ChatStub::reply("总结"));
  auto other = kelvo({"-s", "sh.600519", "-t", kDay});
  ASSERT_EQ(other.status, 0) << other.err;
  EXPECT_TRUE(has_record_starting(log_records(other.err),
                                  "warning|[AI 个股分析] 决策 JSON 的代码或日期与本次分析不符"));

  stub.push(zv_test::ChatStub::reply(report_with(std::nullopt, std::nullopt)));
  stub.push(zv_test::ChatStub::reply("总结"));
  auto missing = kelvo({"-s", "sh.600519", "-t", kDay, "--force"});
  ASSERT_EQ(missing.status, 0) << missing.err;

  auto messages = stock_messages();
  ASSERT_EQ(messages.size(), 2u);
  for (const auto& m : messages) {
    ASSERT_TRUE(m["decision"].IsObject());
    EXPECT_STREQ(m["decision"]["stock_code"].GetString(), "sh.600519");
    EXPECT_STREQ(m["decision"]["analysis_time"].GetString(), "2024-05-10");
  }
}

TEST_F(Kelvo, ReportThatCannotBeStoredEndsWithStatusOne) {
  // A file where the day's folder of Markdown copies belongs.
  fs::create_directories(report_root());
  std::ofstream(report_root() / kDay) << "in the way";
  auto run = kelvo({"-s", "sh.600519", "-t", kDay}, {{"LLM_CLIENT_TYPE", "offline"}});
  EXPECT_EQ(run.status, 1);
  auto records = log_records(run.err);
  // The analysis is logged first, then the error names what could not be written.
  EXPECT_TRUE(has_record_starting(records, "info|###### 📝 标的信息"));
  EXPECT_TRUE(has_record_starting(records, "error|[AI 个股分析] 保存分析报告失败"));
  EXPECT_THAT(run.err,
              HasSubstr("kelvo: error: 分析报告未能保存 (stock=sh.600519, date=2024-05-10"));
  EXPECT_THAT(run.err, HasSubstr((report_root() / kDay).string()));
  EXPECT_LT(run.err.find("###### 📝 标的信息"), run.err.find("kelvo: error:"));
}

}  // namespace
