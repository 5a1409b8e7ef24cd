// tarsen: prints the AI market brief of one market for one day.
//
//   tarsen -m A [-t YYYY-MM-DD] [--force]
//
// Exit status: 0 on success and when the date is refused (future or malformed, logged);
// 2 for option errors; 1 when the brief cannot be produced (error on standard error).

#include <CLI/CLI.hpp>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/common/program.hpp"
#include "apps/tarsen/analyze_market.hpp"
#include "zorvane/market/market_dates.hpp"
#include "zorvane/report/notify/webhook_sink.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace tarsen::detail {
const std::vector<std::string> MARKET_CHOICES = {"A", "US", "HK", "ETF"};
}  // namespace tarsen::detail

namespace {

using zorvane::utils::logger;

int run(int argc, char** argv) {
  apps::load_env_quietly();

  CLI::App app{"大盘环境 AI 简报（与个股分析注入的大盘判断同源）", "tarsen"};
  std::string market;
  std::string analysis_time = zorvane::utils::iso_date(zorvane::utils::today_local());
  bool force = false;
  app.add_option("-m,--market", market, "市场类型：A（A股指数）/ US / HK / ETF（与 A 股大盘同源）")
      ->required()
      ->check(CLI::IsMember(tarsen::detail::MARKET_CHOICES));
  app.add_option("-t,--analysis_time", analysis_time, "截止日，格式 YYYY-MM-DD（默认：今天）")
      ->capture_default_str();
  app.add_flag("--force", force, "删除该日该市场的磁盘缓存并重新调用 LLM");
  if (auto status = apps::parse_command_line(app, argc, argv)) return *status;

  zorvane::utils::setup_logging("INFO", std::filesystem::current_path() / "logs");
  // Before anything is queued: the webhook owes only what is queued while it is configured.
  zorvane::notify::register_webhook_from_env(zorvane::report::default_storage());

  const std::string market_type = zorvane::utils::to_upper(market);
  const std::string entered = analysis_time;
  try {
    auto day = apps::parse_command_date(analysis_time);
    if (day > zorvane::utils::today_local()) {
      logger.warning("输入日期 %s 是未来日期，退出。", analysis_time);
      return 0;
    }
    analysis_time = zorvane::utils::normalize_end_date_for_market(analysis_time, market_type);
    if (analysis_time != entered) {
      logger.info("日期已从 %s 调整为 %s（未收盘或非交易日等）", entered, analysis_time);
    }
  } catch (const std::invalid_argument&) {
    logger.error("日期格式错误: %s，应为 YYYY-MM-DD", entered);
    return 0;
  }

  tarsen::analyze_market(market_type, analysis_time, force);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return apps::run_program("tarsen", run, argc, argv);
}
