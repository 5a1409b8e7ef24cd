#include "zorvane/strategy/basic_ai_selector.hpp"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <stdexcept>
#include <utility>

#include "agent/prompts/velmira/fill.hpp"
#include "agent/prompts/velmira/prompts.hpp"
#include "agent/schemas/decision.hpp"
#include "agent/schemas/extraction.hpp"
#include "agent/schemas/stock_decision.hpp"
#include "candlex/codes.hpp"
#include "candlex/technical.hpp"
#include "zorvane/agent/assistant_agent.hpp"
#include "zorvane/agent/reasoning.hpp"
#include "zorvane/market/market_type.hpp"
#include "zorvane/report/html/report_pages.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::strategy {

namespace {

using utils::logger;

constexpr std::string_view kAnalysisAgent = "StockAnalysisAgent";
constexpr std::string_view kSummaryAgent = "StockSummaryAgent";

// One exchange with a freshly built client, closed afterwards whatever happened. Returns the
// reply without reasoning blocks; an empty reply is an error naming `what`.
struct ModelReply {
  std::string content;
  std::string client_type;
  std::string model;
};

ModelReply ask_model(const AIAnalysisServices& services, std::string_view agent_name,
                     const std::string& system, const std::string& user, std::string_view what,
                     const std::string& code, const std::string& date) {
  auto [client, model, reserved, client_type] = services.build_client();
  (void)reserved;
  logger.info("[AI 个股分析] 触发 LLM（%s）| stock=%s date=%s client=%s model=%s", what, code, date,
              client_type, model);
  agent::TaskResult result;
  try {
    agent::AssistantAgent agent(std::string(agent_name), client, system);
    result = agent.run(user);
  } catch (const std::exception& e) {
    try {
      client->close();
    } catch (const std::exception& close_error) {
      logger.debug("[AI 个股分析] 关闭 LLM 客户端失败: %s", close_error.what());
    }
    std::throw_with_nested(std::runtime_error("[AI 个股分析] LLM 调用失败（" + std::string(what) +
                                              "）| stock=" + code + " date=" + date +
                                              " err=" + e.what()));
  }
  try {
    client->close();
  } catch (const std::exception& close_error) {
    logger.debug("[AI 个股分析] 关闭 LLM 客户端失败: %s", close_error.what());
  }
  // The reply is the last message that is not the task itself.
  std::string content;
  for (auto it = result.messages.rbegin(); it != result.messages.rend(); ++it) {
    if (!it->source || *it->source == "user") continue;
    content = agent::strip_reasoning(it->content.value_or(""));
    break;
  }
  if (content.empty()) {
    throw std::runtime_error("[AI 个股分析] LLM 返回空内容（" + std::string(what) +
                             "）| stock=" + code + " date=" + date);
  }
  return {std::move(content), std::move(client_type), std::move(model)};
}

std::optional<std::string> text_field(const rapidjson::Value& object, std::string_view key) {
  const auto* v = utils::json_find(object, key);
  if (v == nullptr || !v->IsString()) return std::nullopt;
  return std::string(v->GetString(), v->GetStringLength());
}

// True when the model's code is a spelling of `code` ("600519" for "sh.600519").
bool same_code(const std::optional<std::string>& model_code, const std::string& code) {
  if (!model_code) return false;
  try {
    return candlex::normalize_code(*model_code) == candlex::normalize_code(code);
  } catch (const std::invalid_argument&) {
    return false;
  }
}

// Replaces the member's value (keeping its place), or adds it at the end.
void set_text_member(rapidjson::Document& object, std::string_view key, const std::string& text) {
  rapidjson::Value value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()),
                         object.GetAllocator());
  for (auto& m : object.GetObject()) {
    if (std::string_view(m.name.GetString(), m.name.GetStringLength()) == key) {
      m.value = value;
      return;
    }
  }
  object.AddMember(
      rapidjson::Value(std::string(key).c_str(), static_cast<rapidjson::SizeType>(key.size()),
                       object.GetAllocator()),
      value, object.GetAllocator());
}

bool is_buy(std::string_view action) {
  return std::find(schemas::kBuyActions.begin(), schemas::kBuyActions.end(), action) !=
         schemas::kBuyActions.end();
}

}  // namespace

namespace detail {

std::string bars_json(const candlex::BarTable& bars) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  const auto columns = bars.columns();
  std::vector<const std::vector<double>*> data;
  data.reserve(columns.size());
  for (const auto& name : columns) data.push_back(&bars.col(name));
  writer.StartArray();
  for (std::size_t row = 0; row < bars.size(); ++row) {
    writer.StartObject();
    writer.Key("Date");
    const auto date = utils::iso_date(bars.dates()[row]);
    writer.String(date.c_str(), static_cast<rapidjson::SizeType>(date.size()));
    for (std::size_t c = 0; c < columns.size(); ++c) {
      writer.Key(columns[c].c_str(), static_cast<rapidjson::SizeType>(columns[c].size()));
      const double v = (*data[c])[row];
      if (!std::isfinite(v)) {
        writer.Null();
        continue;
      }
      // Shortest text of the rounded value: "25.95", "3066412.0".
      const auto text = utils::float_text(utils::round_to(v, 4));
      writer.RawValue(text.c_str(), text.size(), rapidjson::kNumberType);
    }
    writer.EndObject();
  }
  writer.EndArray();
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::pair<std::string, std::string> prompt_bar_blocks(const candlex::BarTable& daily,
                                                      std::size_t daily_rows,
                                                      std::size_t weekly_rows) {
  // Indicators need the whole history to warm up; only the tail goes into the prompt.
  candlex::BarTable d = daily;
  candlex::technical::set_all(d);
  candlex::BarTable w = candlex::to_weekly(daily);
  candlex::technical::set_all(w, candlex::technical::kWeeklyBarsPerYear);
  return {bars_json(d.tail(daily_rows)), bars_json(w.tail(weekly_rows))};
}

std::string current_price_text(const candlex::BarTable& daily) {
  return utils::float_text(utils::round_to(daily.last("close"), 3));
}

std::string pct_change_text(const candlex::BarTable& daily) {
  if (daily.size() < 2) return "0.00";
  const auto& close = daily.col("close");
  const double prev = close[close.size() - 2];
  const double last = close.back();
  if (!std::isfinite(prev) || !std::isfinite(last) || prev == 0.0) return "0.00";
  return utils::fixed_text((last / prev - 1.0) * 100.0, 2);
}

gate::DecisionFacts decision_facts(const candlex::BarTable& daily, const std::string& code,
                                   const std::string& analysis_time,
                                   const std::string& pattern_info,
                                   const std::string& market_ai_brief) {
  gate::DecisionFacts f;
  f.stock_code = code;
  f.analysis_time = analysis_time;
  f.last_close = daily.last("close");
  f.min_rrr = gate::min_rrr_of_pattern_info(pattern_info);
  f.brief_bias = gate::brief_bias(market_ai_brief);
  candlex::BarTable window = daily.tail(250);
  if (window.has("high") && window.has("low")) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (double v : window.col("low")) {
      if (std::isfinite(v)) lo = std::min(lo, v);
    }
    for (double v : window.col("high")) {
      if (std::isfinite(v)) hi = std::max(hi, v);
    }
    if (lo <= hi) f.low_250 = lo, f.high_250 = hi;
    // ATR over the whole history, as the prompt's daily rows carry it.
    candlex::BarTable d = daily;
    candlex::technical::set_volume(d);
    f.atr = d.last("ATR");
  }
  return f;
}

}  // namespace detail

AIAnalysisServices AIAnalysisServices::defaults() {
  return {[] { return agent::build_client(); },
          [](const report::StockReport& r) { report::default_storage().save_stock_report(r); },
          [](const report::StockReport& r, const candlex::BarTable& daily) {
            html::write_stock_page(report::default_storage().root(), r, daily,
                                   html::gate_verdict(r.decision_status, r.gate_checks));
          }};
}

BasicAISelector::BasicAISelector(AIAnalysisServices services) : services_(std::move(services)) {
  if (!services_.build_client || !services_.save_stock_report) {
    throw std::invalid_argument("BasicAISelector: build_client 与 save_stock_report 均不能为空");
  }
}

AIAnalysisResult BasicAISelector::check_async(const indicators::StockStatus& stock_status,
                                              const candlex::BarTable& df,
                                              const std::string& pattern_info,
                                              const std::string& selector_source,
                                              const std::string& analysis_time,
                                              const std::string& market_ai_brief) {
  auto a = analyze(stock_status, df, pattern_info, selector_source, analysis_time, market_ai_brief);
  return {a.is_buy, std::move(a.decision), std::move(a.confidence), std::move(a.summary),
          std::move(a.report)};
}

AIAnalysis BasicAISelector::analyze(const indicators::StockStatus& stock_status,
                                    const candlex::BarTable& df, const std::string& pattern_info,
                                    const std::string& selector_source,
                                    const std::string& analysis_time,
                                    const std::string& market_ai_brief) {
  AIAnalysis out;
  const std::string& code = stock_status.code;
  const std::string& name = stock_status.name;
  if (df.empty()) {
    throw std::invalid_argument("[AI 个股分析] 股票 " + code + " 没有K线数据，无法分析");
  }
  const auto market = utils::get_market_type(code, name);
  // A code that names no market is analysed with the A-share prompt, the most general one.
  const auto& templates = velmira::stock_templates(market.value_or("A"));
  logger.info("[AI 个股分析] 开始 | stock=%s name=%s market=%s date=%s 策略来源=%s", code, name,
              market, analysis_time, selector_source);

  auto [stock_data, stock_week_data] = detail::prompt_bar_blocks(df);
  const std::string current_price = detail::current_price_text(df);
  const std::string user =
      velmira::fill(templates.user, {
                                        {"stock_code", code},
                                        {"stock_name", name},
                                        {"analysis_time", analysis_time},
                                        {"current_price", current_price},
                                        {"pct_change", detail::pct_change_text(df)},
                                        {"stock_data", stock_data},
                                        {"stock_week_data", stock_week_data},
                                        {"pattern_info", pattern_info},
                                        {"market_ai_brief", market_ai_brief},
                                    });

  auto analysis =
      ask_model(services_, kAnalysisAgent, templates.system, user, "分析报告", code, analysis_time);
  std::string report_text = std::move(analysis.content);

  // The decision map, and the record form that travels with the stored report.
  std::optional<rapidjson::Document> decision = schemas::extract_decision_json(report_text);
  std::optional<std::string> decision_json;
  // The model's own map, before anything of the run's is put into it: the gate judges that.
  rapidjson::Document model_map;
  if (decision) {
    model_map.CopyFrom(*decision, model_map.GetAllocator());
    out.model_stock_code = text_field(*decision, "stock_code");
    out.model_analysis_time = text_field(*decision, "analysis_time");
    // The record names the stock and day this run analysed, whatever the model wrote.
    if (!same_code(out.model_stock_code, code) || out.model_analysis_time != analysis_time) {
      logger.warning(
          "[AI 个股分析] 决策 JSON 的代码或日期与本次分析不符，已按本次分析填写 | stock=%s "
          "date=%s 模型代码=%s 模型日期=%s",
          code, analysis_time, out.model_stock_code, out.model_analysis_time);
    }
    set_text_member(*decision, "stock_code", code);
    set_text_member(*decision, "analysis_time", analysis_time);
    try {
      decision_json =
          utils::safe_json_dumps(schemas::StockDecision::from_json(*decision).to_json());
    } catch (const schemas::ValidationError& e) {
      logger.warning(
          "[AI 个股分析] 决策 JSON 无法构成决策记录，按无决策处理 | stock=%s 字段=%s 错误=%s", code,
          e.field(), e.what());
      decision.reset();
    }
  } else {
    logger.warning("[AI 个股分析] 分析报告中没有可用的决策 JSON，决策记为空 | stock=%s date=%s",
                   code, analysis_time);
  }

  gate::CheckResults checks;
  if (decision) {
    checks = gate::run_decision_checks(
        model_map, report_text,
        detail::decision_facts(df, code, analysis_time, pattern_info, market_ai_brief));
    gate::log_failures(checks, code);
  }
  const std::string decision_status = gate::decision_status(decision ? &checks : nullptr);
  if (decision_status == "rejected") {
    logger.warning("[AI 个股分析] 决策未通过关键校验，标记为 rejected | stock=%s date=%s 检查=%s",
                   code, analysis_time, gate::first_critical_failure(checks)->name);
  }

  const std::string summary_user =
      velmira::fill(velmira::SUMMARY_USER_TEMPLATE(), {{"analysis_report", report_text}});
  auto summary = ask_model(services_, kSummaryAgent, velmira::SUMMARY_SYSTEM_TEMPLATE(),
                           summary_user, "投资建议总结", code, analysis_time);

  out.last_bar_date = utils::iso_date(df.last_date());
  report::StockReport record{code,
                             name,
                             market,
                             analysis_time,
                             analysis.client_type,
                             analysis.model,
                             report_text,
                             summary.content,
                             decision_json,
                             decision_status,
                             decision ? std::optional(gate::results_json(checks)) : std::nullopt,
                             out.last_bar_date};
  bool saved = false;
  try {
    services_.save_stock_report(record);
    saved = true;
  } catch (const std::exception& e) {
    out.save_error = e.what();
    logger.error("[AI 个股分析] 保存分析报告失败 | stock=%s date=%s err=%s", code, analysis_time,
                 e.what());
  }
  if (saved && services_.write_page) {
    try {
      services_.write_page(record, df);
    } catch (const std::exception& e) {
      logger.warning("[AI 个股分析] 报告页面生成失败 | stock=%s date=%s err=%s", code,
                     analysis_time, e.what());
    }
  }

  bool buy = false;
  std::string confidence;
  if (decision) {
    buy = decision_status == "valid" && is_buy(utils::json_string(*decision, "action"));
    confidence = utils::json_string(*decision, "confidence");
  }
  logger.info("[AI 个股分析] 完成 | stock=%s date=%s action=%s confidence=%s", code, analysis_time,
              decision ? utils::json_string(*decision, "action") : std::string("None"),
              confidence.empty() ? std::string("None") : confidence);
  out.is_buy = buy;
  out.decision = std::move(decision);
  out.confidence = std::move(confidence);
  out.summary = std::move(summary.content);
  out.report = std::move(report_text);
  out.decision_status = decision_status;
  out.checks = std::move(checks);
  return out;
}

}  // namespace zorvane::strategy
