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
#include "e2e/tarsen/child_process.hpp"
#include "support/chat_stub.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const std::string kDay = "2024-05-10";  // a Friday inside the sample history
const std::string kFlushLine = "info|[报告存储] 未配置 KAFKA_BOOTSTRAP_SERVERS";

// "level|message" of each log record on standard error; a message may span several lines.
std::vector<std::string> log_records(const std::string& err) {
  static const std::regex head(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \| (\w+) \| )");
  std::vector<std::string> out;
  std::istringstream in(err);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, head)) {
      out.push_back(m[1].str() + "|" + m.suffix().str());
    } else if (!out.empty()) {
      out.back() += "\n" + line;
    }
  }
  return out;
}

bool has_record_starting(const std::vector<std::string>& records, const std::string& prefix) {
  return std::any_of(records.begin(), records.end(),
                     [&](const std::string& r) { return r.rfind(prefix, 0) == 0; });
}

// Each of `expected` occurs in `records`, in this order (other records may stand between).
void expect_in_order(const std::vector<std::string>& records,
                     const std::vector<std::string>& expected) {
  auto from = records.begin();
  for (const auto& e : expected) {
    auto it = std::find(from, records.end(), e);
    ASSERT_NE(it, records.end()) << "missing or out of order: " << e;
    from = it + 1;
  }
}

// A reply whose decision is a valid buy.
const std::string kReportWithDecision =
    "<think>推理过程</think>\n### 0. 标的信息\nsh.600519 示例酒业\n### 6. 结构化决策摘要\n"
    "```json\n{\"stock_code\": \"sh.600519\", \"stock_name\": \"示例酒业\", \"analysis_time\": "
    "\"2024-05-10\", \"current_price\": 117.71, \"direction\": \"看多\", \"action\": \"谨慎买入\", "
    "\"holder_action\": \"继续持有\", \"strategy_mode\": \"区间震荡\", \"entry_price_low\": "
    "114.06, "
    "\"entry_price_high\": 115.4162, \"stop_loss\": 111.35, \"target_1\": 123.14, \"target_2\": "
    "125.38, \"rrr\": 2.479, \"rrr_max\": 3.0, \"support_price\": 114.06, \"resistance_price\": "
    "123.14, \"position_pct\": 12.5, \"holding_period\": \"7个交易日\", \"confidence\": \"中\", "
    "\"risk_level\": \"中\", \"market_sentiment\": \"中性\", \"key_watch\": \"升级触发：站稳123.14"
    "→加仓；降级触发：跌破111.35→离场\"}\n```\n含 30%% 与 %s 的文字照常输出";

class Kelvo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    center_ = new zv_test::TempDir("kelvo-center");
    auto made =
        e2e::run_child(CANDLEX_SAMPLE_EXE, {"--out", center_->str(), "--through", "2024-06-28"}, {},
                       center_->path());
    ASSERT_EQ(made.status, 0) << made.err;
    // A listed stock whose file holds no bars.
    std::ofstream(center_->path() / "daily" / "sz.000002.csv")
        << "date,open,high,low,close,volume,amount\n";
    project_ = new zv_test::TempDir("kelvo-project");
    fs::create_directories(project_->path() / "data" / "etf");
    fs::copy_file(fs::path(ZV_SOURCE_DIR) / "data" / "etf" / "etf.yaml",
                  project_->path() / "data" / "etf" / "etf.yaml");
  }
  static void TearDownTestSuite() {
    delete center_;
    delete project_;
  }

  std::map<std::string, std::optional<std::string>> env() const {
    return {{"CANDLEX_CENTER", center_->str()},
            {"ZORVANE_PROJECT_ROOT", project_->str()},
            {"REPORT_DIR", report_root().string()},
            {"ZORVANE_SUMORA_DIR", std::nullopt},
            {"KAFKA_BOOTSTRAP_SERVERS", std::nullopt},
            {"LLM_CLIENT_TYPE", "OpenAI"},
            {"ZORVANE_GATE", "report"},  // the stub's replies are not briefs: one call each
            {"OPENAI_API_KEY", "sk-e2e-secret"},
            {"OPENAI_BASE_URL", stub.base_url()},
            {"OPENAI_MODEL", "stub-model"},
            {"LLM_TIMEOUT_S", "10"},
            {"LLM_MAX_RETRIES", "0"},
            {"LLM_RETRY_BASE_MS", "1"}};
  }

  e2e::ChildResult kelvo(const std::vector<std::string>& args,
                         std::map<std::string, std::optional<std::string>> extra = {}) const {
    auto e = env();
    for (auto& [k, v] : extra) e[k] = v;
    return e2e::run_child(KELVO_EXE, args, e, work.path());
  }

  fs::path report_root() const { return work.path() / "report"; }

  // Payloads of the stored stock-report messages.
  std::vector<rapidjson::Document> stock_messages() const {
    std::vector<rapidjson::Document> out;
    if (!fs::exists(report_root() / "reports.db")) return out;
    zorvane::report::ReportStorage storage(report_root());
    for (const auto& row : storage.outbox(false)) {
      if (row.kind == "stock_report") out.push_back(zorvane::utils::parse_json(row.payload));
    }
    return out;
  }

  static zv_test::TempDir* center_;
  static zv_test::TempDir* project_;
  zv_test::TempDir work{"kelvo-run"};
  zv_test::ChatStub stub;
};

zv_test::TempDir* Kelvo::center_ = nullptr;
zv_test::TempDir* Kelvo::project_ = nullptr;

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
  for (const char* bad : {"2024/01/01", "2024-02-30", "yesterday"}) {
    auto run = kelvo({"-s", "us.AAPL", "-t", bad});
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
