// End-to-end runs of tarsen: a sample data center on disk, a temporary report root and a
// loopback chat-completions stub standing in for the model API.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "agent/sumora/brief.hpp"
#include "agent/sumora/cache.hpp"
#include "agent/sumora/prompts.hpp"
#include "agent/sumora/sentiment_block.hpp"
#include "e2e/tarsen/child_process.hpp"
#include "support/chat_stub.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/market/market_blocks.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kDay = "2024-05-10";  // a Friday inside the sample history

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string repeat(const std::string& unit, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += unit;
  return out;
}

// What tarsen prints for a brief.
std::string framed(const std::string& brief) {
  return "\n" + repeat("━", 30) + " [ 大盘 AI 研判 ] " + repeat("━", 30) + "\n" + brief + "\n" +
         repeat("━", 78) + "\n\n";
}

// "level|message" of each console log line ("<time> | <level> | <message>").
std::vector<std::string> log_lines(const std::string& err) {
  std::vector<std::string> out;
  std::istringstream in(err);
  std::string line;
  while (std::getline(in, line)) {
    auto a = line.find(" | ");
    if (a == std::string::npos) continue;
    auto b = line.find(" | ", a + 3);
    if (b == std::string::npos) continue;
    out.push_back(line.substr(a + 3, b - a - 3) + "|" + line.substr(b + 3));
  }
  return out;
}

class Tarsen : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    center_ = new zv_test::TempDir("tarsen-center");
    auto made =
        e2e::run_child(CANDLEX_SAMPLE_EXE, {"--out", center_->str(), "--through", "2024-06-28"}, {},
                       center_->path());
    ASSERT_EQ(made.status, 0) << made.err;
    project_ = new zv_test::TempDir("tarsen-project");
    fs::create_directories(project_->path() / "data" / "etf");
    fs::copy_file(fs::path(ZV_SOURCE_DIR) / "data" / "etf" / "etf.yaml",
                  project_->path() / "data" / "etf" / "etf.yaml");
  }
  static void TearDownTestSuite() {
    delete center_;
    delete project_;
  }

  std::map<std::string, std::optional<std::string>> env() const {
    return e2e::stub_model_env(center_->path(), project_->path(), work.path() / "report",
                               stub.base_url());
  }

  e2e::ChildResult tarsen(const std::vector<std::string>& args,
                          std::map<std::string, std::optional<std::string>> extra = {}) const {
    auto e = env();
    for (auto& [k, v] : extra) e[k] = v;
    return e2e::run_child(TARSEN_EXE, args, e, work.path());
  }

  fs::path brief_file(const std::string& name) const {
    return work.path() / "report" / "sumoras" / name;
  }

  static zv_test::TempDir* center_;
  static zv_test::TempDir* project_;
  zv_test::TempDir work{"tarsen-run"};
  zv_test::ChatStub stub;
};

zv_test::TempDir* Tarsen::center_ = nullptr;
zv_test::TempDir* Tarsen::project_ = nullptr;

TEST_F(Tarsen, PromptReachesTheModelAndTheBriefIsPrintedAndCached) {
  stub.set_default_reply("**▋ 简报**\n正文");
  auto run = tarsen({"-m", "A", "-t", kDay});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, framed("**▋ 简报**\n正文"));

  ASSERT_EQ(stub.request_count(), 1u);
  auto req = stub.requests()[0];
  EXPECT_EQ(req.path, "/v1/chat/completions");
  EXPECT_EQ(req.system_message(), sumora::SUMORA_SYSTEM_MESSAGE);
  EXPECT_EQ(req.text_field("model"), "stub-model");

  // The same inputs computed here, from the same data center, give the same prompt.
  zv_test::EnvGuard center{"CANDLEX_CENTER", center_->str()};
  zv_test::EnvGuard project{"ZORVANE_PROJECT_ROOT", project_->str()};
  zv_test::EnvGuard report{"REPORT_DIR", (work.path() / "expected").string()};
  auto core = sumora::_generate_core_index_table("A", kDay);
  auto env_block = zorvane::utils::format_market_environment_block("A", kDay).first;
  auto hist_block = zorvane::utils::format_market_history_block("A", 60, kDay).first;
  auto ind_block = zorvane::utils::format_market_indicator_block("A", 60, kDay).first;
  auto sentiment = sumora::_format_sentiment_block("A", kDay).first;
  auto expected =
      sumora::_build_user_prompt("A", kDay, core, env_block, hist_block, ind_block, sentiment);
  EXPECT_EQ(req.user_message(), expected);

  // And that prompt carries the computed verdict, facts and table in their slots.
  const auto user = req.user_message().value_or("");
  EXPECT_THAT(user, HasSubstr("- **分析日期**：2024-05-10\n"));
  EXPECT_THAT(user, HasSubstr("- **bias（研判方向）**：" + core.verdict.bias + "\n- **强度**：" +
                              core.verdict.strength + "\n- **策略指引**：" + core.verdict.strategy +
                              "\n- **判定依据**：" + core.verdict.rationale + "\n"));
  EXPECT_THAT(user, HasSubstr("\n" + core.facts + "\n</authoritative_facts>"));
  EXPECT_THAT(user, HasSubstr("| 指数名称 | 涨跌幅 | 量比 | 趋势状态 |\n| :--- | :--- | :--- | "
                              ":--- |\n| **上证指数** | "));
  EXPECT_THAT(user,
              HasSubstr("### 4. A 股情绪温度计（sentiment_thermometer 权威计算）\n- D线：温度 **"));
  EXPECT_THAT(core.facts, HasSubstr("- **创业板指**：涨跌幅 "));

  // Cache file, sidecar and the logged path.
  EXPECT_EQ(slurp(brief_file("A_2024-05-10_v4.md")), "**▋ 简报**\n正文");
  EXPECT_EQ(slurp(brief_file("A_2024-05-10_v4.meta.json")),
            "{\n  \"llm_client_type\": \"openai\",\n  \"llm_model\": \"stub-model\"\n}");
  auto logs = log_lines(run.err);
  EXPECT_THAT(logs, ::testing::Contains("info|缓存文件: " +
                                        fs::canonical(brief_file("A_2024-05-10_v4.md")).string()));
  EXPECT_THAT(logs,
              ::testing::Contains(
                  "info|开始大盘 AI 简报 | market=A | analysis_time=2024-05-10 | force=False"));
  EXPECT_THAT(logs, ::testing::Contains(StartsWith("info|执行时间: ")));
  EXPECT_THAT(run.err, Not(HasSubstr("sk-e2e-secret")));
}

TEST_F(Tarsen, LaterRunsReuseTheFileAndForceRegenerates) {
  stub.set_default_reply("第一版");
  ASSERT_EQ(tarsen({"-m", "A", "-t", kDay}).status, 0);

  auto again = tarsen({"-m", "A", "-t", kDay});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, framed("第一版"));
  EXPECT_THAT(
      log_lines(again.err),
      ::testing::Contains("info|[大盘 AI 简报] 命中磁盘缓存 | market=A date=2024-05-10 字数=3"));

  auto etf = tarsen({"-m", "ETF", "-t", kDay});
  EXPECT_EQ(etf.status, 0);
  EXPECT_EQ(etf.out, framed("第一版"));
  EXPECT_THAT(log_lines(etf.err),
              ::testing::Contains("info|缓存文件: " +
                                  fs::canonical(brief_file("A_2024-05-10_v4.md")).string()));
  EXPECT_EQ(stub.request_count(), 1u);

  stub.set_default_reply("第二版");
  auto forced = tarsen({"-m", "A", "-t", kDay, "--force"});
  EXPECT_EQ(forced.status, 0);
  EXPECT_EQ(forced.out, framed("第二版"));
  EXPECT_EQ(stub.request_count(), 2u);
  auto logs = log_lines(forced.err);
  EXPECT_THAT(logs, ::testing::Contains(
                        "info|[大盘 AI 简报] 已清理磁盘缓存以触发强制重推: A_2024-05-10_v4.md"));
  EXPECT_THAT(logs,
              ::testing::Contains(
                  "info|开始大盘 AI 简报 | market=A | analysis_time=2024-05-10 | force=True"));
  EXPECT_EQ(slurp(brief_file("A_2024-05-10_v4.md")), "第二版");
}

TEST_F(Tarsen, ReasoningIsNotPartOfTheBrief) {
  stub.push(zv_test::ChatStub::reply("<think>\n先看指数\n</think>\n\n**▋ 美股简报**",
                                     std::string("hidden chain")));
  auto run = tarsen({"-m", "US", "-t", kDay});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, framed("**▋ 美股简报**"));
  EXPECT_EQ(slurp(brief_file("US_2024-05-10_v4.md")), "**▋ 美股简报**");
  // No sentiment for the US market: the placeholder stands in the prompt.
  EXPECT_THAT(stub.requests()[0].user_message().value_or(""),
              HasSubstr("仅 A 股/ETF 市场提供）\n（情绪温度计数据暂不可用）\n</market_raw_data>"));
}

TEST_F(Tarsen, WeekendDateIsMovedToTheTradingDay) {
  stub.set_default_reply("周五简报");
  auto run = tarsen({"-m", "HK", "-t", "2024-05-11"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(
      log_lines(run.err),
      ::testing::Contains("info|日期已从 2024-05-11 调整为 2024-05-10（未收盘或非交易日等）"));
  EXPECT_TRUE(fs::exists(brief_file("HK_2024-05-10_v4.md")));
  EXPECT_THAT(stub.requests()[0].user_message().value_or(""),
              HasSubstr("- **分析日期**：2024-05-10\n"));
}

struct Failure {
  const char* name;
  std::function<void(zv_test::ChatStub&)> script;
  std::string message;
};

TEST_F(Tarsen, PipelineFailuresEndWithTheErrorOnStandardError) {
  const std::vector<Failure> cases = {
      {"server error", [](auto& s) { s.push(zv_test::ChatStub::error(500, "upstream broke")); },
       "[大盘 AI 简报] LLM 调用失败 | market=A date=2024-05-10 err="},
      {"only reasoning", [](auto& s) { s.push(zv_test::ChatStub::reply("<think>嗯</think>  ")); },
       "[大盘 AI 简报] LLM 返回内容仅含 <think>，剥离后为空 | market=A"},
      {"null content",
       [](auto& s) { s.push(zv_test::ChatStub::reply(std::nullopt, std::string("r"))); },
       "[大盘 AI 简报] LLM 返回空内容 | market=A date=2024-05-10"},
  };
  for (const auto& c : cases) {
    c.script(stub);
    auto run = tarsen({"-m", "A", "-t", kDay});
    EXPECT_NE(run.status, 0) << c.name;
    EXPECT_EQ(run.out, "") << c.name;  // no banners
    EXPECT_THAT(run.err, HasSubstr(c.message)) << c.name;
    EXPECT_THAT(run.err, Not(HasSubstr("执行时间"))) << c.name;
    EXPECT_THAT(run.err, Not(HasSubstr("sk-e2e-secret"))) << c.name;
    EXPECT_FALSE(fs::exists(brief_file("A_2024-05-10_v4.md"))) << c.name;
  }
}

TEST_F(Tarsen, MissingMarketDataFailsBeforeAnyRequest) {
  // A data center without the Hong Kong indices.
  zv_test::TempDir bare{"tarsen-bare"};
  fs::create_directories(bare.path() / "daily");
  auto run = tarsen({"-m", "HK", "-t", kDay}, {{"CANDLEX_CENTER", bare.str()}});
  EXPECT_NE(run.status, 0);
  EXPECT_THAT(
      run.err,
      HasSubstr("[大盘 AI 简报] 大盘实时快照数据缺失 | market=HK date=2024-05-10 reason=no_data"));
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(stub.request_count(), 0u);
}

TEST_F(Tarsen, OptionErrorsAreUsageErrors) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"-m", "etf"}, {"-m", "JP"}, {"-m", "A", "--bogus"}, {"--market"}}) {
    auto run = tarsen(args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(log_lines(run.err).empty()) << run.err;
  }
  EXPECT_FALSE(fs::exists(work.path() / "logs"));
  auto help = tarsen({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("大盘环境 AI 简报（与个股分析注入的大盘判断同源）"));
  EXPECT_THAT(help.out, HasSubstr("-m,--market"));
  EXPECT_THAT(help.out, HasSubstr("-t,--analysis_time"));
}

TEST_F(Tarsen, RefusedDatesEndQuietlyWithStatusZero) {
  auto tomorrow = zorvane::utils::iso_date(zorvane::utils::today_local() + std::chrono::days(1));
  auto future = tarsen({"-m", "A", "-t", tomorrow});
  EXPECT_EQ(future.status, 0);
  EXPECT_EQ(future.out, "");
  EXPECT_EQ(log_lines(future.err),
            std::vector<std::string>{"warning|输入日期 " + tomorrow + " 是未来日期，退出。"});

  for (const char* bad : {"2024-13-01", "2024-02-30", "10/05/2024", "yesterday", "0000-01-01",
                          "0001-01-01", "1899-12-31"}) {
    auto run = tarsen({"-m", "US", "-t", bad});
    EXPECT_EQ(run.status, 0) << bad;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(log_lines(run.err), std::vector<std::string>{std::string("error|日期格式错误: ") +
                                                           bad + "，应为 YYYY-MM-DD"});
  }
  EXPECT_EQ(stub.request_count(), 0u);
  EXPECT_TRUE(fs::exists(work.path() / "logs"));  // logging was set up in the working directory
}

TEST_F(Tarsen, OfflineClientCopiesTheComputedValues) {
  // Under the gate's default: the offline brief passes, so nothing is retried or corrected.
  auto run = tarsen({"-m", "A", "-t", kDay},
                    {{"LLM_CLIENT_TYPE", "offline"}, {"ZORVANE_GATE", std::nullopt}});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, Not(HasSubstr("[可信校验]")));
  zv_test::EnvGuard center{"CANDLEX_CENTER", center_->str()};
  auto core = sumora::_generate_core_index_table("A", kDay);
  EXPECT_THAT(run.out, HasSubstr("**▋ A 股大盘市场研判 · " + core.verdict.bias + " / " +
                                 core.verdict.strength + "**\n"));
  EXPECT_THAT(run.out, HasSubstr("- **策略指引**：**" + core.verdict.strategy + "**\n"));
  EXPECT_THAT(run.out, HasSubstr("**▋ 核心指数动态**\n" + core.table + "\n> **关键解读**：\n"));
  EXPECT_THAT(run.out, HasSubstr("**▋ 情绪温度计**\n中线 W 线温度 "));
  EXPECT_THAT(run.out, HasSubstr("**▋ 风险提示**\n⚠️ **风险**："));
  EXPECT_EQ(stub.request_count(), 0u);
  EXPECT_EQ(slurp(brief_file("A_2024-05-10_v4.meta.json")),
            "{\n  \"llm_client_type\": \"offline\",\n  \"llm_model\": \"offline\"\n}");
}

TEST_F(Tarsen, GateAsksOnceMoreThenPutsTheComputedHeadlineStrategyAndTable) {
  const std::string wrong =
      "**▋ A 股大盘市场研判 · 偏多 / 极强**\n- **市场氛围**：普涨。\n- **策略指引**：**满仓出击**"
      "\n\n---\n\n**▋ 核心指数动态**\n| 指数名称 | 涨跌幅 |\n| :--- | :--- |\n| **上证指数** | "
      "+9.99% |\n> **关键解读**：全线大涨。\n\n---\n\n**▋ 风险提示**\n⚠️ "
      "**风险**：暂无。";
  stub.set_default_reply(wrong);
  auto run = tarsen({"-m", "A", "-t", kDay}, {{"ZORVANE_GATE", "Enforce"}});
  ASSERT_EQ(run.status, 0) << run.err;

  zv_test::EnvGuard center{"CANDLEX_CENTER", center_->str()};
  const auto core = sumora::_generate_core_index_table("A", kDay);
  const auto& v = core.verdict;
  // The second request is the first prompt with a correction naming what differed.
  ASSERT_EQ(stub.request_count(), 2u);
  const auto first = stub.requests()[0].user_message().value_or("");
  const auto second = stub.requests()[1].user_message().value_or("");
  EXPECT_EQ(second.rfind(first, 0), 0u);
  EXPECT_THAT(second, HasSubstr("<gate_correction>"));
  EXPECT_THAT(second, HasSubstr("- 标题研判：应为「" + v.bias + " / " + v.strength +
                                "」，实际「偏多 / 极强」\n"));
  EXPECT_THAT(second, HasSubstr("- 策略指引：应为「" + v.strategy + "」，实际「满仓出击」\n"));

  // Both replies failed: the computed headline, strategy line and table stand in the brief,
  // the model's prose around them stays.
  EXPECT_THAT(run.out, HasSubstr("**▋ A 股大盘市场研判 · " + v.bias + " / " + v.strength +
                                 "**\n"
                                 "- **市场氛围**：普涨。\n- **策略指引**：**" +
                                 v.strategy + "**\n"));
  EXPECT_THAT(run.out,
              HasSubstr("**▋ 核心指数动态**\n" + core.table + "\n> **关键解读**：全线大涨。"));
  EXPECT_THAT(run.out, Not(HasSubstr("+9.99%")));
  auto logs = log_lines(run.err);
  EXPECT_THAT(logs, ::testing::Contains(HasSubstr("warning|[可信校验] 未通过 | 对象=大盘简报 A "
                                                  "2024-05-10 检查=brief.table 级别=critical")));
  EXPECT_THAT(logs, ::testing::Contains(HasSubstr("已用系统计算的标题、策略指引与核心指数表替换")));
  EXPECT_THAT(slurp(brief_file("A_2024-05-10_v4.meta.json")),
              HasSubstr("\"gate_status\": \"corrected\""));
  zorvane::report::ReportStorage storage(work.path() / "report");
  auto rows = storage.outbox(false);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_THAT(rows[0].payload, HasSubstr("\"brief_status\": \"corrected\", \"gate_checks\": [{"));

  // Cached like any other brief: the next run costs no model call.
  auto again = tarsen({"-m", "A", "-t", kDay}, {{"ZORVANE_GATE", std::nullopt}});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, run.out);
  EXPECT_EQ(stub.request_count(), 2u);
}

TEST_F(Tarsen, UnknownGateSettingIsAnErrorNamingIt) {
  auto run = tarsen({"-m", "A", "-t", kDay}, {{"ZORVANE_GATE", "strict"}});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("ZORVANE_GATE 取值无效: 'strict'（可选 enforce、report）"));
  EXPECT_EQ(stub.request_count(), 0u);
}

TEST_F(Tarsen, EightThreadsOneModelCall) {
  stub.set_default_response([] {
    auto r = zv_test::ChatStub::reply("并发简报");
    r.delay = std::chrono::milliseconds(300);
    return r;
  }());
  zv_test::EnvGuard center{"CANDLEX_CENTER", center_->str()};
  zv_test::EnvGuard project{"ZORVANE_PROJECT_ROOT", project_->str()};
  zv_test::EnvGuard report{"REPORT_DIR", (work.path() / "report").string()};
  zv_test::EnvGuard sumora_dir{"ZORVANE_SUMORA_DIR", std::nullopt};
  zv_test::EnvGuard type{"LLM_CLIENT_TYPE", "openai"};
  zv_test::EnvGuard gate_mode{"ZORVANE_GATE", "report"};
  zv_test::EnvGuard key{"OPENAI_API_KEY", "sk-e2e-secret"};
  zv_test::EnvGuard url{"OPENAI_BASE_URL", stub.base_url()};
  zv_test::EnvGuard kafka{"KAFKA_BOOTSTRAP_SERVERS", std::nullopt};
  sumora::clear_sumora_cache();

  std::vector<std::string> briefs(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      briefs[i] = sumora::get_market_ai_brief(i % 2 ? "ETF" : "A", "2024-05-09", false, true);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(stub.request_count(), 1u);
  for (const auto& b : briefs) EXPECT_EQ(b, "并发简报");
  EXPECT_EQ(slurp(brief_file("A_2024-05-09_v4.md")), "并发简报");
  sumora::clear_sumora_cache();
}

}  // namespace
