#include "apps/kelvo/analyze_stock.hpp"

#include <chrono>
#include <exception>
#include <stdexcept>
#include <tuple>

#include "agent/gate/check_result.hpp"
#include "agent/sumora/brief.hpp"
#include "candlex/market_data.hpp"
#include "indicators/evaluate.hpp"
#include "strategy/technical/pattern_selectors.hpp"
#include "zorvane/agent/client_builder.hpp"
#include "zorvane/market/market_type.hpp"
#include "zorvane/report/notify/webhook_sink.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/strategy/basic_ai_selector.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"

namespace kelvo {

namespace {

double wall_seconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

StockOutcome analyze_stock(const std::string& stock_code, const std::string& analysis_time,
                           bool force, bool flush) {
  using zorvane::utils::logger;
  StockOutcome outcome;
  logger.info("开始 AI 股票分析: stock=%s, analysis_time=%s, force=%s", stock_code, analysis_time,
              force);

  // The same lower-cased type the model client is built from, so the check matches what the
  // analysis stores.
  const std::string model_type = zorvane::agent::configured_client_type();
  if (!force && zorvane::report::default_storage().exists(stock_code, analysis_time, model_type)) {
    logger.info("股票 %s 在 %s 的分析报告 (%s) 已存在，跳过执行。 (使用 --force 强制重新分析)",
                stock_code, analysis_time, model_type);
    outcome.status = StockOutcome::Status::skipped;
    return outcome;
  }

  const double start = wall_seconds();

  std::string stock_name;
  try {
    stock_name = candlex::get_name_from_code(stock_code);
  } catch (const std::exception& e) {
    logger.info("获取股票名称时出错: %s", e.what());
  }
  const auto market_type = zorvane::utils::get_market_type(stock_code, stock_name);
  logger.info("检测到股票代码: %s (%s)，背景市场类型: %s", stock_code, stock_name, market_type);

  outcome.name = stock_name;
  outcome.market_type = market_type;

  // The window ends on the analysis day, so a past day sees as much history as today.
  const std::string start_date = candlex::get_default_start_date(analysis_time);
  auto bars = candlex::get_any_ohlc(stock_code, start_date, analysis_time);
  if (bars.empty()) {
    logger.info("获取股票数据失败: %s", stock_code);
    outcome.status = StockOutcome::Status::no_data;
    return outcome;
  }
  candlex::warn_if_stale(stock_code, bars, zorvane::utils::parse_iso_date(analysis_time));

  const auto stock_status = indicators::get_stock_status(bars, stock_code);

  // The pre-screen's verdict is not consulted: only its pattern info and strategy type are.
  auto result = technical::CombinedSelector().check(stock_code, start_date, analysis_time);
  const std::string pattern_info = std::get<zorvane::strategy::kPatternInfoStr>(result);
  const std::string selector_source = std::get<zorvane::strategy::kStrategyType>(result);

  const std::string market_ai_brief =
      sumora::get_market_ai_brief(market_type, analysis_time, false, true);
  if (market_ai_brief.empty() && market_type) {
    throw std::runtime_error("大盘 AI 简报生成失败 (" + *market_type + ")，分析无法继续。");
  }

  logger.info("正在分析股票...");
  zorvane::strategy::BasicAISelector selector;
  auto analysis = selector.analyze(stock_status, bars, pattern_info, selector_source, analysis_time,
                                   market_ai_brief);
  const std::string& summary = analysis.summary;
  const std::string& report = analysis.report;
  outcome.save_error = std::move(analysis.save_error);
  if (const auto& decision = analysis.decision) {
    outcome.decision_json = zorvane::utils::safe_json_dumps(*decision);
  }
  if (analysis.decision_status == "rejected") {
    if (const auto* failed = gate::first_critical_failure(analysis.checks)) {
      outcome.rejected_by = failed->name;
    }
  }

  // Texts go through "%s" so that a "%" in a report is printed, not interpreted.
  logger.info("%s", "\n===== 股票分析报告 =====");
  logger.info("%s", report);
  logger.info("%s", "\n===== 分析报告结束 =====");
  logger.info("%s", "\n===== 投资建议总结 =====");
  logger.info("%s", summary);
  logger.info("%s", "\n===== 总结结束 =====");

  logger.info("\n执行时间: %.2f 秒", wall_seconds() - start);

  if (!flush) return outcome;
  try {
    zorvane::report::default_storage().flush();
    zorvane::notify::flush_webhook_from_env(zorvane::report::default_storage());
  } catch (const std::exception& e) {
    logger.debug("刷新 MQ 失败: %s", e.what());
  }
  return outcome;
}

}  // namespace kelvo
