#include "zorvane/strategy/basic_ai_selector.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <stdexcept>

#include "agent/prompts/velmira/fill.hpp"
#include "agent/prompts/velmira/prompts.hpp"
#include "agent/schemas/decision.hpp"
#include "agent/schemas/extraction.hpp"
#include "agent/schemas/stock_decision.hpp"
#include "candlex/market_data.hpp"
#include "candlex/technical.hpp"
#include "indicators/evaluate.hpp"
#include "morvik/pattern_scan.hpp"
#include "support/env_guard.hpp"
#include "zorvane/agent/offline_client.hpp"
#include "zorvane/agent/offline_writers.hpp"
#include "zorvane/agent/reasoning.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"
#include "zorvane/utils/text.hpp"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using zorvane::agent::BuiltClient;
using zorvane::agent::ChatClient;
using zorvane::agent::ChatReply;
using zorvane::report::StockReport;
using zorvane::strategy::AIAnalysisServices;
using zorvane::strategy::BasicAISelector;
namespace detail = zorvane::strategy::detail;

const std::string kDay = "2024-05-10";  // a Friday inside the sample history

// What the fake model saw and how it was treated.
struct Exchange {
  std::vector<std::pair<std::string, std::string>> prompts;  // (system, user)
  std::deque<std::optional<std::string>> replies;            // nullopt: the call throws
  int closed = 0;
  std::vector<StockReport> saved;
};

class ScriptedClient : public ChatClient {
 public:
  explicit ScriptedClient(std::shared_ptr<Exchange> ex) : ex_(std::move(ex)) {}
  ChatReply complete(std::string_view system, std::string_view user) override {
    ex_->prompts.emplace_back(std::string(system), std::string(user));
    if (ex_->replies.empty()) throw std::runtime_error("no scripted reply");
    auto reply = ex_->replies.front();
    ex_->replies.pop_front();
    if (!reply) throw std::runtime_error("connection refused");
    return ChatReply{*reply, std::nullopt};
  }
  void close() override { ++ex_->closed; }

 private:
  std::shared_ptr<Exchange> ex_;
};

AIAnalysisServices scripted(const std::shared_ptr<Exchange>& ex) {
  return {[ex]() -> BuiltClient {
            return {std::make_shared<ScriptedClient>(ex), "stub-model", {}, "stub"};
          },
          [ex](const StockReport& r) { ex->saved.push_back(r); }};
}

AIAnalysisServices offline(std::vector<StockReport>* saved) {
  return {[]() -> BuiltClient {
            return {std::make_shared<zorvane::agent::OfflineClient>(), "offline", {}, "offline"};
          },
          [saved](const StockReport& r) { saved->push_back(r); }};
}

// The sample market's bars and the inputs kelvo derives from them.
struct StockInputs {
  candlex::BarTable bars;
  indicators::StockStatus status;
  std::string pattern_info;
};

StockInputs inputs(const std::string& code, const std::string& day) {
  StockInputs in;
  in.bars = candlex::get_any_ohlc(code, candlex::get_default_start_date(), day);
  in.status = indicators::get_stock_status(in.bars, code);
  in.pattern_info = zorvane::utils::safe_json_dumps(morvik::pre_screen_and_scan(in.bars, code));
  return in;
}

std::string brief_with_bias(const std::string& bias) {
  return "**▋ A 股大盘市场研判 · " + bias +
         " / 中**\n- **市场氛围**：多空均衡。\n- **策略指引**：**轻仓试探**\n\n---\n\n"
         "**▋ 风险提示**\n⚠️ **风险**：警惕量能不济。";
}

// A report whose decision is a buy that passes the schema checks (and the trust checks when
// `price` is the stock's last close).
std::string report_with_buy(const std::string& code, const std::string& price = "10.0") {
  return "<think>先看均线</think>\n### 0. 标的信息\n结论如下。\n```json\n{\"stock_code\": \"" +
         code +
         "\", \"stock_name\": \"示例\", \"analysis_time\": \"2024-05-10\", \"current_price\": " +
         price +
         ", "
         "\"direction\": \"看多\", \"action\": \"建议买入\", \"holder_action\": \"继续持有\", "
         "\"strategy_mode\": \"趋势跟随\", \"entry_price_low\": 9.8, \"entry_price_high\": 10.0, "
         "\"stop_loss\": 9.5, \"target_1\": 11.0, \"target_2\": 11.5, \"rrr\": 2.2222, "
         "\"rrr_max\": 3.0, \"support_price\": 9.6, \"resistance_price\": 11.0, "
         "\"position_pct\": 20, \"holding_period\": \"8个交易日\", \"confidence\": \"中\", "
         "\"risk_level\": \"中\", \"market_sentiment\": \"中性\", \"key_watch\": "
         "\"升级触发：x；降级触发：y\"}\n"
         "```\n";
}

// Top-level text between <tag> and </tag> in a prompt.
std::string tagged(const std::string& text, const std::string& tag) {
  auto b = text.find("<" + tag + ">\n");
  auto e = text.find("\n</" + tag + ">");
  if (b == std::string::npos || e == std::string::npos) return "";
  b += tag.size() + 3;
  return text.substr(b, e - b);
}

class Selector : public ::testing::Test {
 protected:
  zv_test::EnvGuard no_center{"CANDLEX_CENTER", nullptr};  // the built-in sample market
  std::shared_ptr<Exchange> ex = std::make_shared<Exchange>();
};

TEST_F(Selector, FillsTheMarketTemplatesAndAsksForReportThenSummary) {
  auto in = inputs("sh.600519", kDay);
  ex->replies = {report_with_buy("sh.600519"), "总结正文"};
  BasicAISelector selector(scripted(ex));
  selector.check_async(in.status, in.bars, in.pattern_info, "混合", kDay, "大盘{简报}");

  ASSERT_EQ(ex->prompts.size(), 2u);
  const auto& [system, user] = ex->prompts[0];
  EXPECT_EQ(system, velmira::stock_templates("A").system);
  const std::string price = zorvane::utils::float_text(in.bars.last("close"));
  EXPECT_THAT(
      user,
      StartsWith("\n## 输入数据\n### 1. 标的信息\n- 股票代码：sh.600519\n- 股票名称：示例酒业\n"
                 "- 分析时间：2024-05-10\n- 当前价格：" +
                 price + "\n- 今日涨幅："));
  EXPECT_EQ(tagged(user, "pattern_info"), in.pattern_info);
  EXPECT_EQ(tagged(user, "market_ai_brief"), "大盘{简报}");
  // Without the inserted values, the only braces left are the example JSON's own pair: every
  // placeholder was filled and every doubled brace made single.
  std::string frame = user;
  for (const auto& tag : {"daily_data", "weekly_data", "pattern_info", "market_ai_brief"}) {
    frame = zorvane::utils::replace_all(frame, tagged(user, tag), "");
  }
  EXPECT_EQ(std::count(frame.begin(), frame.end(), '{'), 1) << frame;
  EXPECT_EQ(std::count(frame.begin(), frame.end(), '}'), 1) << frame;
  EXPECT_THAT(frame, HasSubstr("```json\n{\n  \"stock_code\": \"sh.600519\",\n"));
  EXPECT_THAT(frame, HasSubstr("\n  \"current_price\": " + price + ",\n"));

  // The summary prompt carries the report without its reasoning block.
  const auto report = zorvane::agent::strip_reasoning(report_with_buy("sh.600519"));
  EXPECT_EQ(ex->prompts[1].first, velmira::SUMMARY_SYSTEM_TEMPLATE());
  EXPECT_EQ(ex->prompts[1].second,
            velmira::fill(velmira::SUMMARY_USER_TEMPLATE(), {{"analysis_report", report}}));
  EXPECT_EQ(ex->closed, 2);
}

TEST_F(Selector, BarBlocksHoldTheLastSixtyDaysAndTwentyWeeksWithIndicators) {
  auto in = inputs("sh.600519", kDay);
  ex->replies = {"报告", "总结"};
  BasicAISelector(scripted(ex)).check_async(in.status, in.bars, in.pattern_info, "混合", kDay, "b");
  const auto& user = ex->prompts.at(0).second;

  auto daily = zorvane::utils::parse_json(tagged(user, "daily_data"));
  auto weekly = zorvane::utils::parse_json(tagged(user, "weekly_data"));
  ASSERT_TRUE(daily.IsArray());
  ASSERT_EQ(daily.Size(), 60u);
  ASSERT_EQ(weekly.Size(), 20u);

  candlex::BarTable expected = in.bars;
  candlex::technical::set_all(expected);
  std::vector<std::string> keys{"Date"};
  for (const auto& c : expected.columns()) keys.push_back(c);
  for (const auto* rows : {&daily, &weekly}) {
    std::vector<std::string> got;
    for (const auto& m : (*rows)[0].GetObject()) got.emplace_back(m.name.GetString());
    EXPECT_EQ(got, keys);  // Date first, then every column in table order
  }
  EXPECT_STREQ(daily[59]["Date"].GetString(), "2024-05-10");
  EXPECT_STREQ(daily[0]["Date"].GetString(),
               zorvane::utils::iso_date(in.bars.dates()[in.bars.size() - 60]).c_str());
  EXPECT_DOUBLE_EQ(daily[59]["close"].GetDouble(), in.bars.last("close"));
  EXPECT_NEAR(daily[59]["EMA_20"].GetDouble(), expected.last("EMA_20"), 1e-4);
  // The weekly bars are the daily ones aggregated, their last week ending on the day itself.
  auto weeks = candlex::to_weekly(in.bars);
  EXPECT_STREQ(weekly[19]["Date"].GetString(), "2024-05-10");
  EXPECT_DOUBLE_EQ(weekly[19]["high"].GetDouble(), weeks.last("high"));
  EXPECT_DOUBLE_EQ(weekly[19]["volume"].GetDouble(), weeks.last("volume"));
  // Weekly returns are annualised over 52 weeks: the sample deviation of the last 20.
  const auto& wc = weeks.col("close");
  std::vector<double> returns;
  for (std::size_t i = wc.size() - 20; i < wc.size(); ++i) returns.push_back(wc[i] / wc[i - 1] - 1);
  double mean = 0, ss = 0;
  for (double r : returns) mean += r / 20;
  for (double r : returns) ss += (r - mean) * (r - mean);
  EXPECT_NEAR(weekly[19]["Volatility"].GetDouble(), std::sqrt(ss / 19) * std::sqrt(52.0) * 100,
              1e-3);
}

TEST(BarsJson, DateFirstNanAsNullFourDecimals) {
  candlex::BarTable t(
      {zorvane::utils::parse_iso_date("2024-05-09"), zorvane::utils::parse_iso_date("2024-05-10")});
  t.set("close", {10.123456, 10.5});
  t.set("ADX", {std::nan(""), INFINITY});
  t.set("volume", {3066412, 12});
  EXPECT_EQ(detail::bars_json(t),
            "[{\"Date\":\"2024-05-09\",\"close\":10.1235,\"ADX\":null,\"volume\":3066412.0},"
            "{\"Date\":\"2024-05-10\",\"close\":10.5,\"ADX\":null,\"volume\":12.0}]");
  EXPECT_EQ(detail::bars_json(candlex::BarTable{}), "[]");

  // A young stock: the indicator warm-up rows are null, nothing is NaN.
  auto young = candlex::get_any_ohlc("sh.600519", "2024-03-01", kDay);
  auto [daily, weekly] = detail::prompt_bar_blocks(young);
  EXPECT_THAT(daily, HasSubstr("\"ADX\":null"));
  EXPECT_THAT(daily + weekly, Not(HasSubstr("NaN")));
  EXPECT_NO_THROW(zorvane::utils::parse_json(weekly));
}

TEST(PriceTexts, LastCloseAndChange) {
  candlex::BarTable t(
      {zorvane::utils::parse_iso_date("2024-05-09"), zorvane::utils::parse_iso_date("2024-05-10")});
  t.set("close", {10.0, 10.456789});
  EXPECT_EQ(detail::current_price_text(t), "10.457");
  EXPECT_EQ(detail::pct_change_text(t), "4.57");
  t.set("close", {20.0, 19.0});
  EXPECT_EQ(detail::current_price_text(t), "19.0");
  EXPECT_EQ(detail::pct_change_text(t), "-5.00");
  EXPECT_EQ(detail::pct_change_text(t.tail(1)), "0.00");  // no earlier close
}

TEST_F(Selector, TemplatesFollowTheMarketOfTheCode) {
  const std::map<std::string, std::string> markets{
      {"hk.00700", "HK"}, {"us.AAPL", "US"}, {"510050", "ETF"}};
  for (const auto& [code, market] : markets) {
    auto in = inputs(code, kDay);
    ex->prompts.clear();
    ex->replies = {"报告", "总结"};
    BasicAISelector(scripted(ex))
        .check_async(in.status, in.bars, in.pattern_info, "混合", kDay, "b");
    EXPECT_EQ(ex->prompts.at(0).first, velmira::stock_templates(market).system) << code;
    EXPECT_EQ(ex->saved.back().market_type, market);
    if (market == "ETF") {
      EXPECT_THAT(ex->prompts.at(0).second, HasSubstr("- ETF代码：510050\n"));
    }
  }

  // A code that names no market is analysed with the A-share prompt and stored without one.
  auto bars = candlex::get_any_ohlc("sh.600519", "2024-01-01", kDay);
  indicators::StockStatus status("xx.1");
  ex->replies = {"报告", "总结"};
  BasicAISelector(scripted(ex)).check_async(status, bars, "{}", "混合", kDay, "");
  EXPECT_EQ(ex->prompts.back().first, velmira::SUMMARY_SYSTEM_TEMPLATE());
  EXPECT_EQ(ex->prompts[ex->prompts.size() - 2].first, velmira::stock_templates("A").system);
  EXPECT_EQ(ex->saved.back().market_type, std::nullopt);
}

TEST_F(Selector, AcceptedDecisionIsReturnedAndStoredWithTheReport) {
  auto in = inputs("sh.600519", kDay);
  ex->replies = {report_with_buy("sh.600519", detail::current_price_text(in.bars)), "  执行手册  "};
  auto [is_buy, decision, confidence, summary, report] =
      BasicAISelector(scripted(ex))
          .check_async(in.status, in.bars, in.pattern_info, "混合", kDay, "b");
  EXPECT_TRUE(is_buy);
  ASSERT_TRUE(decision.has_value());
  EXPECT_STREQ((*decision)["action"].GetString(), "建议买入");
  EXPECT_DOUBLE_EQ((*decision)["rrr"].GetDouble(), 2.222);  // normalised to 3 decimals
  EXPECT_EQ(confidence, "中");
  EXPECT_EQ(summary, "执行手册");
  EXPECT_THAT(report, StartsWith("### 0. 标的信息"));

  ASSERT_EQ(ex->saved.size(), 1u);
  const auto& r = ex->saved[0];
  EXPECT_EQ(r.code, "sh.600519");
  EXPECT_EQ(r.name, "示例酒业");
  EXPECT_EQ(r.market_type, "A");
  EXPECT_EQ(r.analysis_date, kDay);
  EXPECT_EQ(r.llm_client_type, "stub");
  EXPECT_EQ(r.llm_model, "stub-model");
  EXPECT_EQ(r.report, report);
  EXPECT_EQ(r.summary, "执行手册");
  ASSERT_TRUE(r.decision_json.has_value());
  auto stored = zorvane::utils::parse_json(*r.decision_json);
  EXPECT_EQ(schemas::StockDecision::from_json(stored),
            schemas::StockDecision::from_json(*decision));
  EXPECT_STREQ(stored["position_pct"].GetString(), "20%");  // the record's text form
  // The gate's verdict sits beside the decision, not in it.
  EXPECT_EQ(r.decision_status, "valid");
  EXPECT_THAT(r.gate_checks.value_or(""),
              HasSubstr(R"("name": "decision.current_price", "passed": true)"));
  EXPECT_FALSE(stored.HasMember("decision_status"));
}

TEST_F(Selector, DecisionFailingACriticalCheckIsStoredAsRejectedNeverAsABuy) {
  auto in = inputs("sh.600519", kDay);
  ex->replies = {report_with_buy("sh.600519", "10.0"), "执行手册"};  // an invented price
  zorvane::utils::LogCapture logs;
  auto a =
      BasicAISelector(scripted(ex)).analyze(in.status, in.bars, in.pattern_info, "混合", kDay, "b");
  EXPECT_FALSE(a.is_buy);
  ASSERT_TRUE(a.decision.has_value());  // kept, with the report, for people to read
  EXPECT_EQ(a.decision_status, "rejected");
  EXPECT_EQ(gate::first_critical_failure(a.checks)->name, "decision.current_price");
  ASSERT_EQ(ex->saved.size(), 1u);
  EXPECT_EQ(ex->saved[0].decision_status, "rejected");
  EXPECT_TRUE(ex->saved[0].decision_json.has_value());
  EXPECT_EQ(logs.matching("[可信校验] 未通过 | 对象=sh.600519 检查=decision.current_price").size(),
            1u);
  EXPECT_EQ(logs.matching("决策未通过关键校验，标记为 rejected | stock=sh.600519 date=2024-05-10 "
                          "检查=decision.current_price")
                .size(),
            1u);
  // No decision at all: status none, no results.
  ex->replies = {"只有文字的报告", "总结"};
  auto none =
      BasicAISelector(scripted(ex)).analyze(in.status, in.bars, in.pattern_info, "混合", kDay, "b");
  EXPECT_EQ(none.decision_status, "none");
  EXPECT_EQ(ex->saved.back().decision_status, "none");
  EXPECT_EQ(ex->saved.back().gate_checks, std::nullopt);
}

TEST_F(Selector, ReportWithoutUsableDecisionKeepsTheReportAndANullDecision) {
  auto in = inputs("sh.600519", kDay);
  for (const std::string& reply : {std::string("只有文字的报告")}) {
    ex->saved.clear();
    ex->prompts.clear();
    ex->replies = {reply, "总结"};
    zorvane::utils::LogCapture logs;
    auto [is_buy, decision, confidence, summary, report] =
        BasicAISelector(scripted(ex))
            .check_async(in.status, in.bars, in.pattern_info, "混合", kDay, "b");
    EXPECT_FALSE(is_buy);
    EXPECT_FALSE(decision.has_value());
    EXPECT_EQ(confidence, "");
    EXPECT_EQ(summary, "总结");
    EXPECT_EQ(report, zorvane::agent::strip_reasoning(reply));
    EXPECT_EQ(ex->prompts.size(), 2u);  // the summary is still asked for
    ASSERT_EQ(ex->saved.size(), 1u);
    EXPECT_EQ(ex->saved[0].decision_json, std::nullopt);
    EXPECT_EQ(logs.matching("决策").size(), 1u);
    EXPECT_THAT(logs.matching("决策").at(0), StartsWith("warning|[AI 个股分析] "));
  }
}

TEST_F(Selector, DecisionTakesTheRunsCodeAndDateAndKeepsTheModels) {
  auto in = inputs("sh.600519", kDay);
  // A decision without a stock code, and one naming another stock and day.
  std::string no_code = report_with_buy("sh.600519");
  no_code.replace(no_code.find("\"stock_code\": \"sh.600519\", "), 27, "");
  std::string other = report_with_buy("000001.SZ");
  other.replace(other.find(kDay), kDay.size(), "2023-01-02");
  struct Case {
    std::string reply;
    std::optional<std::string> model_code, model_date;
  };
  for (const auto& c :
       {Case{no_code, std::nullopt, kDay}, Case{other, "000001.SZ", "2023-01-02"}}) {
    ex->saved.clear();
    ex->replies = {c.reply, "总结"};
    zorvane::utils::LogCapture logs;
    auto analysis = BasicAISelector(scripted(ex))
                        .analyze(in.status, in.bars, in.pattern_info, "混合", kDay, "b");
    const auto& decision = analysis.decision;
    ASSERT_TRUE(decision.has_value());
    EXPECT_STREQ((*decision)["stock_code"].GetString(), "sh.600519");
    EXPECT_STREQ((*decision)["analysis_time"].GetString(), "2024-05-10");
    EXPECT_EQ(analysis.model_stock_code, c.model_code);
    EXPECT_EQ(analysis.model_analysis_time, c.model_date);
    ASSERT_EQ(ex->saved.size(), 1u);
    auto stored = zorvane::utils::parse_json(ex->saved[0].decision_json.value_or("{}"));
    EXPECT_STREQ(stored["stock_code"].GetString(), "sh.600519");
    EXPECT_EQ(logs.matching("代码或日期与本次分析不符").size(), 1u);
  }
}

TEST_F(Selector, FailedOrEmptyModelCallsStopTheAnalysisAndCloseTheClient) {
  auto in = inputs("sh.600519", kDay);
  struct Case {
    std::deque<std::optional<std::string>> replies;
    std::string message;
    int calls;
  };
  const std::vector<Case> cases{
      {{std::nullopt},
       "[AI 个股分析] LLM 调用失败（分析报告）| stock=sh.600519 date=2024-05-10 err=connection "
       "refused",
       1},
      {{"<think>只有推理</think>"},
       "[AI 个股分析] LLM 返回空内容（分析报告）| stock=sh.600519 date=2024-05-10",
       1},
      {{"报告", "  \n"},
       "[AI 个股分析] LLM 返回空内容（投资建议总结）| stock=sh.600519 date=2024-05-10",
       2},
  };
  for (const auto& c : cases) {
    ex = std::make_shared<Exchange>();
    ex->replies = c.replies;
    try {
      BasicAISelector(scripted(ex))
          .check_async(in.status, in.bars, in.pattern_info, "混合", kDay, "b");
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(ex->closed, c.calls);
    EXPECT_TRUE(ex->saved.empty());  // nothing half-made is stored
  }
  EXPECT_THROW(
      BasicAISelector(scripted(ex)).check_async(in.status, candlex::BarTable{}, "", "", kDay, ""),
      std::invalid_argument);
}

TEST_F(Selector, StorageFailureIsLoggedAndTheAnalysisStillReturned) {
  auto in = inputs("sh.600519", kDay);
  ex->replies = {"报告", "总结"};
  auto services = scripted(ex);
  services.save_stock_report = [](const StockReport&) {
    throw std::runtime_error("database is locked");
  };
  zorvane::utils::LogCapture logs;
  auto result =
      BasicAISelector(services).check_async(in.status, in.bars, in.pattern_info, "混合", kDay, "b");
  EXPECT_EQ(std::get<4>(result), "报告");
  EXPECT_EQ(std::get<3>(result), "总结");
  EXPECT_THAT(logs.matching("保存分析报告失败"),
              ElementsAre("error|[AI 个股分析] 保存分析报告失败 | stock=sh.600519 "
                          "date=2024-05-10 err=database is locked"));
  ex->replies = {"报告", "总结"};
  auto analysis =
      BasicAISelector(services).analyze(in.status, in.bars, in.pattern_info, "混合", kDay, "b");
  EXPECT_EQ(analysis.save_error, "database is locked");
  EXPECT_EQ(analysis.last_bar_date, kDay);
}

// ---- the offline client's analysis and summary -------------------------------------------

double num(const rapidjson::Value& obj, std::initializer_list<const char*> keys) {
  const rapidjson::Value* v = &obj;
  for (const char* k : keys) v = zorvane::utils::json_find(*v, k);
  return v != nullptr && v->IsNumber() ? v->GetDouble() : std::nan("");
}

TEST_F(Selector, OfflineDecisionsPassTheSchemaAndFollowThePromptRules) {
  const std::vector<std::string> codes{"sh.600519", "sz.000001", "sz.300750", "sh.688981",
                                       "hk.00700",  "hk.09988",  "us.AAPL",   "us.MSFT",
                                       "us.NVDA",   "510050",    "159915",    "588000"};
  const std::vector<std::string> biases{"偏多", "震荡", "偏空", "避险"};
  std::map<std::string, int> actions;
  std::set<std::string> modes;
  std::vector<StockReport> saved;
  int runs = 0, false_alarms = 0;
  for (std::size_t ci = 0; ci < codes.size(); ++ci) {
    for (int step = 0; step < 10; ++step) {
      auto day =
          zorvane::utils::parse_iso_date("2023-01-06") + std::chrono::days(37 * step + 3 * ci);
      const std::string date = zorvane::utils::iso_date(day);
      auto in = inputs(codes[ci], date);
      if (in.bars.empty()) continue;
      const std::string bias = biases[(ci + step) % biases.size()];
      auto [is_buy, decision, confidence, summary, report] =
          BasicAISelector(offline(&saved))
              .check_async(in.status, in.bars, in.pattern_info, "混合", date,
                           brief_with_bias(bias));
      ++runs;
      const std::string where = codes[ci] + " " + date + " " + bias;
      // The offline writer is the gate's false-alarm test: not even a warning.
      EXPECT_EQ(saved.back().decision_status, "valid") << where;
      if (saved.back().gate_checks.value_or("").find("\"passed\": false") != std::string::npos) {
        ++false_alarms;
        ADD_FAILURE() << where << ": " << *saved.back().gate_checks;
      }
      // extract_decision_json accepts it: enums and price chain hold.
      ASSERT_TRUE(decision.has_value()) << where << "\n" << report;
      const auto& d = *decision;
      ASSERT_TRUE(saved.back().decision_json.has_value()) << where;  // a valid record
      std::vector<std::string> keys;
      for (const auto& m : d.GetObject()) keys.emplace_back(m.name.GetString());
      EXPECT_EQ(keys, std::vector<std::string>(schemas::DECISION_JSON_FIELDS.begin(),
                                               schemas::DECISION_JSON_FIELDS.end()))
          << where;
      EXPECT_EQ(d["stock_code"].GetString(), codes[ci]);
      EXPECT_EQ(d["analysis_time"].GetString(), date);

      auto pattern = zorvane::utils::parse_json(in.pattern_info);
      const double atr = num(pattern, {"price_context", "atr"});
      const double min_rrr = num(pattern, {"calculated_constraints", "min_rrr"});
      const double max_stop = num(pattern, {"calculated_constraints", "max_stop_dist_atr"});
      const double max_pos = num(pattern, {"calculated_constraints", "max_position_pct"});
      const std::string action = d["action"].GetString();
      const int position = d["position_pct"].GetInt();
      actions[action]++;
      modes.insert(d["strategy_mode"].GetString());
      EXPECT_EQ(is_buy, action != "观望等待") << where;
      if (is_buy) {
        const double low = d["entry_price_low"].GetDouble(),
                     high = d["entry_price_high"].GetDouble();
        const double stop = d["stop_loss"].GetDouble(), price = d["current_price"].GetDouble();
        EXPECT_GE(d["rrr"].GetDouble(), min_rrr) << where;
        EXPECT_LE(((low + high) / 2 - stop) / atr, max_stop + 0.01) << where;
        EXPECT_GT(stop, 0) << where;
        EXPECT_GE(position, 1) << where;
        EXPECT_LE(position, max_pos) << where;
        if (action == "谨慎买入") {
          EXPECT_LE(position, 15) << where;
        }
        EXPECT_GE(low, price * 0.92 - 0.001) << where;
        EXPECT_LE(low, price * 1.05 + 0.001) << where;
        EXPECT_NE(std::string(d["direction"].GetString()), "看空") << where;
        EXPECT_NE(confidence, "低") << where;
        EXPECT_NE(std::string(d["strategy_mode"].GetString()), "均线压缩") << where;
        EXPECT_THAT(d["holding_period"].GetString(), HasSubstr("个交易日"));
        EXPECT_THAT(summary, HasSubstr("「买入方案」"));
        EXPECT_THAT(summary, HasSubstr("| 止损位 | " + zorvane::utils::fixed_text(stop, 3) + " |"));
      } else {
        EXPECT_EQ(d["rrr"].GetDouble(), 0.0) << where;
        EXPECT_EQ(d["rrr_max"].GetDouble(), 0.0) << where;
        EXPECT_EQ(position, 0) << where;
        EXPECT_THAT(summary, HasSubstr("「观望方案」"));
        // Every reason given for waiting is true: a score is only called low when it is.
        static const std::regex low_score(R"(置信总分 ([0-9.]+) 低于门槛 ([0-9.]+))");
        for (std::sregex_iterator it(report.begin(), report.end(), low_score), end; it != end;
             ++it) {
          EXPECT_LT(std::stod((*it)[1]), std::stod((*it)[2])) << where << ": " << it->str();
        }
        if (std::string(d["holder_action"].GetString()) != "继续持有") {
          EXPECT_EQ(d["stop_loss"].GetDouble(), 0.0) << where;
          EXPECT_EQ(d["target_1"].GetDouble(), 0.0) << where;
          EXPECT_STREQ(d["holding_period"].GetString(), "无") << where;
        }
      }
      EXPECT_GT(d["support_price"].GetDouble(), 0) << where;
      EXPECT_GT(d["resistance_price"].GetDouble(), d["support_price"].GetDouble()) << where;
      EXPECT_GE(d["target_2"].GetDouble(), d["target_1"].GetDouble()) << where;
      const std::map<std::string, std::string> sentiment{
          {"偏多", "看多"}, {"震荡", "中性"}, {"偏空", "看空"}, {"避险", "中性"}};
      EXPECT_EQ(d["market_sentiment"].GetString(), sentiment.at(bias)) << where;
      EXPECT_THAT(report, StartsWith("## "));
      for (const char* step_heading : {"### 0. ", "### 1. ", "### 2. ", "### 3. ", "### 4. ",
                                       "### 5. ", "### 5.3 ", "### 6. "}) {
        EXPECT_THAT(report, HasSubstr(step_heading)) << where;
      }
      EXPECT_THAT(summary,
                  HasSubstr("###### 📝 标的信息\n" + std::string(d["stock_name"].GetString())));
      EXPECT_THAT(summary, testing::EndsWith("股市有风险，买卖自己定。*"));
    }
  }
  EXPECT_GE(runs, 100);
  std::cout << "[offline decisions] runs=" << runs << " false alarms=" << false_alarms << "\n";
  // Both branches of the rules are exercised.
  EXPECT_GT(actions["观望等待"], 0);
  EXPECT_GT(runs - actions["观望等待"], 0);
  EXPECT_GE(modes.size(), 3u);
}

TEST_F(Selector, OfflineAnalysisWaitsOnThinOrSuspiciousData) {
  std::vector<StockReport> saved;
  // 25 bars, and no pattern info at all.
  auto young = candlex::get_any_ohlc("sh.600519", "2024-04-01", kDay);
  ASSERT_LT(young.size(), 30u);
  auto status = indicators::get_stock_status(young, "sh.600519");
  auto result = BasicAISelector(offline(&saved))
                    .check_async(status, young, "", "混合", kDay, brief_with_bias("偏多"));
  ASSERT_TRUE(std::get<1>(result).has_value());
  EXPECT_STREQ((*std::get<1>(result))["action"].GetString(), "观望等待");
  EXPECT_STREQ((*std::get<1>(result))["strategy_mode"].GetString(), "空仓等待");
  EXPECT_EQ(std::get<2>(result), "低");
  EXPECT_THAT(std::get<4>(result), HasSubstr("数据不足，分析结论置信度强制降为低"));

  // The last three closes identical: a suspension.
  auto bars = candlex::get_any_ohlc("sz.000001", candlex::get_default_start_date(), kDay);
  auto close = bars.col("close");
  close[close.size() - 2] = close[close.size() - 3];
  close.back() = close[close.size() - 3];
  bars.set("close", close);
  auto in_status = indicators::get_stock_status(bars, "sz.000001");
  auto info = zorvane::utils::safe_json_dumps(morvik::pre_screen_and_scan(bars, "sz.000001"));
  result = BasicAISelector(offline(&saved))
               .check_async(in_status, bars, info, "混合", kDay, brief_with_bias("偏多"));
  ASSERT_TRUE(std::get<1>(result).has_value());
  EXPECT_STREQ((*std::get<1>(result))["action"].GetString(), "观望等待");
  EXPECT_EQ(std::get<2>(result), "低");
  EXPECT_THAT(std::get<4>(result), HasSubstr("疑似停牌/数据异常"));
}

// `reply` with the value of the decision JSON's `key` replaced by the raw JSON text `value`.
std::string with_field(std::string reply, const std::string& key, const std::string& value) {
  const std::string head = "\"" + key + "\": ";
  auto p = reply.find(head, reply.find("```json"));
  if (p == std::string::npos) throw std::invalid_argument("no field " + key);
  p += head.size();
  return reply.replace(p, reply.find_first_of(",\n", p) - p, value);
}

// `reply` with the action the 5.2 section recommends replaced.
std::string with_text_action(std::string reply, const std::string& action) {
  auto open = reply.find("【", reply.find("#### 5.2"));
  auto close = reply.find("】", open);
  return reply.replace(open + std::string("【").size(), close - open - std::string("【").size(),
                       action);
}

TEST_F(Selector, EachDecisionMutationIsCaughtByExactlyItsCheck) {
  struct Mutation {
    std::string check;
    bool buys_only;
    std::function<std::string(const std::string&, const gate::DecisionFacts&)> apply;
  };
  auto f3 = [](double v) { return zorvane::utils::fixed_text(v, 3); };
  const std::vector<Mutation> mutations{
      {"decision.current_price", false,
       [&](const std::string& r, const gate::DecisionFacts& f) {
         return with_field(r, "current_price", f3(f.last_close * 1.01));
       }},
      {"decision.stock_code", false,
       [](const std::string& r, const gate::DecisionFacts&) {
         return with_field(r, "stock_code", "\"600000.SH\"");
       }},
      {"decision.analysis_time", false,
       [](const std::string& r, const gate::DecisionFacts&) {
         return with_field(r, "analysis_time", "\"2020-01-02\"");
       }},
      {"decision.min_rrr", true,
       [&](const std::string& r, const gate::DecisionFacts& f) {
         return with_field(r, "rrr", f3(*f.min_rrr - 0.2));
       }},
      {"decision.price_band", true,  // a far-fetched second target
       [&](const std::string& r, const gate::DecisionFacts& f) {
         return with_field(r, "target_2", f3(f.high_250 + 10 * f.atr));
       }},
      {"decision.market_sentiment", false,
       [](const std::string& r, const gate::DecisionFacts&) {
         const bool bullish = r.find("\"market_sentiment\": \"看多\"") != std::string::npos;
         return with_field(r, "market_sentiment", bullish ? "\"看空\"" : "\"看多\"");
       }},
      {"decision.action_matches_text", false,  // the text recommends another action
       [](const std::string& r, const gate::DecisionFacts&) {
         const bool wait = r.find("\"action\": \"观望等待\"") != std::string::npos;
         return with_text_action(r, wait ? "谨慎买入" : "观望等待");
       }},
  };
  // Offline analyses of the sample market: a few waits and a few buys to mutate.
  const std::vector<std::string> codes{"sh.600519", "sz.300750", "hk.00700", "us.NVDA", "510050"};
  int buys = 0, waits = 0, tried = 0, caught = 0;
  for (std::size_t ci = 0; ci < codes.size() && (buys < 3 || waits < 3); ++ci) {
    for (int step = 0; step < 12 && (buys < 3 || waits < 3); ++step) {
      const auto date = zorvane::utils::iso_date(zorvane::utils::parse_iso_date("2023-01-06") +
                                                 std::chrono::days(31 * step + 5 * ci));
      auto in = inputs(codes[ci], date);
      if (in.bars.empty()) continue;
      const std::string brief = brief_with_bias(step % 2 ? "偏多" : "偏空");
      std::vector<StockReport> saved;
      auto base = BasicAISelector(offline(&saved))
                      .analyze(in.status, in.bars, in.pattern_info, "混合", date, brief);
      ASSERT_EQ(base.decision_status, "valid") << codes[ci] << " " << date;
      const bool buy = std::string((*base.decision)["action"].GetString()) != "观望等待";
      if ((buy && buys >= 3) || (!buy && waits >= 3)) continue;
      ++(buy ? buys : waits);
      const auto facts = detail::decision_facts(in.bars, codes[ci], date, in.pattern_info, brief);
      for (const auto& m : mutations) {
        if (m.buys_only && !buy) continue;
        ++tried;
        ex->replies = {m.apply(base.report, facts), "总结"};
        auto a = BasicAISelector(scripted(ex))
                     .analyze(in.status, in.bars, in.pattern_info, "混合", date, brief);
        std::vector<std::string> names;
        for (const auto& r : a.checks) {
          if (!r.passed) names.push_back(r.name);
        }
        const bool critical = m.check == "decision.current_price" ||
                              m.check == "decision.min_rrr" ||
                              m.check == "decision.action_matches_text";
        if (names == std::vector<std::string>{m.check} &&
            a.decision_status == (critical ? "rejected" : "valid")) {
          ++caught;
        } else {
          ADD_FAILURE() << codes[ci] << " " << date << " " << m.check << " -> "
                        << ::testing::PrintToString(names) << " " << a.decision_status;
        }
      }
    }
  }
  EXPECT_EQ(buys, 3);
  EXPECT_EQ(waits, 3);
  std::cout << "[decision mutations] caught " << caught << " of " << tried << "\n";
}

TEST(OfflineWriters, AnswerOnlyTheirOwnPrompts) {
  using zorvane::agent::offline_analysis_reply;
  using zorvane::agent::offline_summary_reply;
  EXPECT_EQ(offline_analysis_reply("sys", "你好"), std::nullopt);
  EXPECT_EQ(offline_summary_reply("sys", "你好"), std::nullopt);
  // A summary prompt quoting a report that mentions the data tags is still a summary prompt.
  const std::string summary_user =
      velmira::fill(velmira::SUMMARY_USER_TEMPLATE(), {{"analysis_report",
                                                        "<daily_data>\n[]\n</daily_data>\n"
                                                        "<pattern_info>\n{}\n</pattern_info>"}});
  EXPECT_EQ(offline_analysis_reply(velmira::SUMMARY_SYSTEM_TEMPLATE(), summary_user), std::nullopt);
  auto summary = offline_summary_reply(velmira::SUMMARY_SYSTEM_TEMPLATE(), summary_user);
  ASSERT_TRUE(summary.has_value());
  // Nothing to copy from: every value is "not mentioned", and no buy plan is made up.
  EXPECT_THAT(*summary, HasSubstr("| 止损位 | 报告未提及 |"));
  EXPECT_THAT(*summary, HasSubstr("「观望方案」"));
  EXPECT_THAT(*summary, Not(HasSubstr("「买入方案」")));
}

}  // namespace
