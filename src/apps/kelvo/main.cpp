// kelvo: the AI analysis of one stock for one day.
//
//   kelvo -s sh.600519 [-t YYYY-MM-DD] [--force]
//
// Exit status: 0 on success, for a skipped or data-less stock and when the date is refused
// (future or malformed, logged); 2 for option errors; 1 when the analysis fails (error on
// standard error), among others when a known market has no brief.

#include <CLI/CLI.hpp>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "apps/common/program.hpp"
#include "apps/kelvo/analyze_stock.hpp"
#include "zorvane/market/market_dates.hpp"
#include "zorvane/market/market_type.hpp"
#include "zorvane/report/notify/webhook_sink.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"

namespace {

using zorvane::utils::logger;

int run(int argc, char** argv) {
  apps::load_env_quietly();

  CLI::App app{"股票分析命令行工具", "kelvo"};
  std::string stock_code;
  std::string analysis_time = zorvane::utils::iso_date(zorvane::utils::today_local());
  bool force = false;
  app.add_option("-s,--stock_code", stock_code,
                 "股票代码，如：sh.600000、hk.00001、us.AAPL、510050")
      ->required();
  app.add_option("-t,--analysis_time", analysis_time,
                 "股票K线的日期，格式：YYYY-MM-DD (默认: 今天)");
  app.add_flag("--force", force, "强制重新分析，即使报告已存在");
  if (auto status = apps::parse_command_line(app, argc, argv)) return *status;

  zorvane::utils::setup_logging("INFO", std::filesystem::current_path() / "logs");
  // Before anything is queued: the webhook owes only what is queued while it is configured.
  zorvane::notify::register_webhook_from_env(zorvane::report::default_storage());

  try {
    const auto day = zorvane::utils::parse_iso_date(analysis_time);
    if (day > zorvane::utils::today_local()) {
      logger.warning("输入日期 %s 是未来日期，系统将直接退出。", analysis_time);
      return 0;
    }
    const std::string input_date = analysis_time;
    // A code of no known market ("") closes with Shanghai.
    analysis_time = zorvane::utils::normalize_end_date_for_market(
        analysis_time, zorvane::utils::get_market_type(stock_code).value_or(""));
    if (analysis_time != input_date) {
      logger.info("日期已从 %s 调整为 %s (由于市场未收盘或非交易日)", input_date, analysis_time);
    }
  } catch (const std::invalid_argument&) {
    logger.error("日期格式错误: %s，应为 YYYY-MM-DD", analysis_time);
    return 0;
  }

  kelvo::analyze_stock(stock_code, analysis_time, force);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return apps::run_program("kelvo", run, argc, argv);
}
