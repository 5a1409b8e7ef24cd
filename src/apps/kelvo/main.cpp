// kelvo: the AI analysis of one stock, or of a watchlist, for one day.
//
//   kelvo -s sh.600519 [-t YYYY-MM-DD] [--force]
//   kelvo -s sh.600519,hk.00700,us.AAPL | --watchlist FILE [-t YYYY-MM-DD] [--force]
//         [--jobs N] [--format text|json|html]
//
// A watchlist run also writes its summary as a table page beside the reports
// (<report root>/<date>/watchlist_<HHMMSS>.html, listed by the index); with --format html
// standard output carries only that page's path. A page that cannot be written is a warning
// (and --format html then prints the text summary).
//
// Exit status: 0 on success, for a skipped or data-less single stock and when the date is
// refused (future or malformed, logged); 2 for option errors and an unusable watchlist; 1 when
// the analysis fails (error on standard error), among others when a known market has no brief
// or when the report could not be stored. A watchlist run ends with 0 when every stock is
// "ok" or "skipped", else 1.

#include <unistd.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/common/pool_file.hpp"
#include "apps/common/program.hpp"
#include "apps/kelvo/analyze_stock.hpp"
#include "apps/kelvo/progress_bar.hpp"
#include "apps/kelvo/watchlist.hpp"
#include "apps/kelvo/watchlist_page.hpp"
#include "apps/kelvo/watchlist_summary.hpp"
#include "candlex/codes.hpp"
#include "candlex/market_data.hpp"
#include "zorvane/agent/client_builder.hpp"
#include "zorvane/market/market_dates.hpp"
#include "zorvane/market/market_type.hpp"
#include "zorvane/report/notify/webhook_sink.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace {

using zorvane::utils::logger;

int usage_error(const std::string& message) {
  std::cerr << message << "\nRun with --help for more information.\n";
  return 2;
}

// The stocks of `-s A,B,C`: canonical codes, duplicates dropped. Throws std::invalid_argument
// naming the first item that is not a security code.
std::vector<apps::PoolEntry> listed_codes(const std::string& list) {
  std::vector<apps::PoolEntry> out;
  std::set<std::string> seen;
  std::size_t from = 0;
  while (from <= list.size()) {
    const auto comma = std::min(list.find(',', from), list.size());
    const auto item = zorvane::utils::trim(std::string_view(list).substr(from, comma - from));
    from = comma + 1;
    if (item.empty()) continue;
    std::string code = candlex::normalize_code(item);
    if (!candlex::is_security_code(code)) {
      throw std::invalid_argument("-s: not a security code: " + zorvane::utils::quoted_text(item));
    }
    if (seen.insert(code).second) out.push_back({code, ""});
  }
  if (out.empty()) throw std::invalid_argument("-s: no stock code given");
  return out;
}

// The date checks of a run: returns false (after logging why) when the date is refused.
bool date_accepted(const std::string& analysis_time) {
  try {
    if (apps::parse_command_date(analysis_time) > zorvane::utils::today_local()) {
      logger.warning("输入日期 %s 是未来日期，系统将直接退出。", analysis_time);
      return false;
    }
  } catch (const std::invalid_argument&) {
    logger.error("日期格式错误: %s，应为 YYYY-MM-DD", analysis_time);
    return false;
  }
  return true;
}

int run_single(std::string stock_code, std::string analysis_time, bool force) {
  // Every spelling the data layer accepts becomes one code here, so the market, the brief,
  // the prompt, the calendar, the skip check and the stored row all agree.
  stock_code = candlex::normalize_code(stock_code);

  if (!date_accepted(analysis_time)) return 0;
  try {
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

  const auto outcome = kelvo::analyze_stock(stock_code, analysis_time, force);
  if (outcome.save_error) {
    throw std::runtime_error("分析报告未能保存 (stock=" + stock_code + ", date=" + analysis_time +
                             ", 报告目录=" + zorvane::report::default_storage().root().string() +
                             "): " + *outcome.save_error);
  }
  return 0;
}

// The run's summary page; nullopt (after a warning) when it could not be written, as the
// stored reports are what the run is for.
std::optional<std::filesystem::path> write_summary_page(
    const std::vector<kelvo::WatchlistRow>& rows, const std::string& analysis_time,
    std::time_t started) {
  try {
    const auto path =
        kelvo::write_watchlist_page(zorvane::report::default_storage().root(), rows, analysis_time,
                                    zorvane::agent::configured_client_type(), started);
    logger.info("自选股汇总页面: %s", path.string());
    return path;
  } catch (const std::exception& e) {
    logger.warning("自选股汇总页面未能写入: %s", e.what());
    return std::nullopt;
  }
}

int run_watchlist(std::vector<apps::PoolEntry> entries, const std::string& analysis_time,
                  bool force, int jobs, const std::string& format) {
  if (!date_accepted(analysis_time)) return 0;
  const std::time_t started = std::time(nullptr);
  for (auto& e : entries) {
    if (!e.name.empty()) continue;
    try {
      e.name = candlex::get_name_from_code(e.code);
    } catch (const std::exception& err) {
      logger.info("获取股票名称时出错: %s", err.what());
    }
  }
  logger.info("自选股分析开始: %d 只, analysis_time=%s, jobs=%d, force=%s", entries.size(),
              analysis_time, jobs, force);

  std::vector<kelvo::WatchlistRow> rows;
  {
    kelvo::ProgressBar bar(entries.size(), ::isatty(STDERR_FILENO) == 1);
    rows = kelvo::run_watchlist(
        entries, analysis_time, jobs,
        [force](const std::string& code, const std::string& date) {
          return kelvo::analyze_stock(code, date, force, false);
        },
        [&bar](std::size_t done, std::size_t failed) { bar.update(done, failed); });
  }

  const auto page = write_summary_page(rows, analysis_time, started);
  if (format == "json") {
    std::cout << kelvo::summary_json(rows, analysis_time, "", true) << "\n";
  } else if (format == "html" && page) {
    std::cout << page->string() << "\n";
  } else {
    std::cout << kelvo::summary_text(rows, analysis_time);
    if (page) std::cout << "汇总页面: " << page->string() << "\n";
  }
  std::cout.flush();

  auto& storage = zorvane::report::default_storage();
  try {
    storage.save_message(
        "watchlist_summary", kelvo::summary_key(analysis_time),
        [&rows, &analysis_time](const std::string& message_id, const std::string& created_at) {
          return kelvo::summary_json(rows, analysis_time, created_at, false, message_id);
        });
  } catch (const std::exception& e) {
    logger.error("保存自选股汇总失败: %s", e.what());
  }
  try {
    storage.flush();
  } catch (const std::exception& e) {
    logger.debug("刷新 MQ 失败: %s", e.what());
  }
  zorvane::notify::flush_webhook_from_env(storage);

  bool all_good = true;
  for (const auto& r : rows) all_good = all_good && r.succeeded();
  return all_good ? 0 : 1;
}

int run(int argc, char** argv) {
  apps::load_env_quietly();

  CLI::App app{"股票分析命令行工具", "kelvo"};
  std::string stock_code;
  std::string watchlist;
  std::string analysis_time = zorvane::utils::iso_date(zorvane::utils::today_local());
  bool force = false;
  int jobs = 4;
  std::string format = "text";
  auto* code_opt = app.add_option("-s,--stock_code", stock_code,
                                  "股票代码，如：sh.600000、hk.00001、us.AAPL、510050"
                                  "（多只用逗号分隔）");
  auto* list_opt = app.add_option("--watchlist", watchlist,
                                  "自选股文件：每行一个代码，可写 代码,名称；# 之后为注释");
  code_opt->excludes(list_opt);
  app.add_option("-t,--analysis_time", analysis_time,
                 "股票K线的日期，格式：YYYY-MM-DD (默认: 今天)");
  app.add_flag("--force", force, "强制重新分析，即使报告已存在");
  app.add_option("--jobs", jobs, "自选股同时分析的只数 (默认: 4)")->check(CLI::Range(1, 64));
  app.add_option("--format", format,
                 "自选股汇总格式：text（默认，附汇总页面路径）/ json / html（只输出汇总页面的路径；"
                 "页面总会写在报告目录的日期文件夹下）")
      ->check(CLI::IsMember({"text", "json", "html"}));
  if (auto status = apps::parse_command_line(app, argc, argv)) return *status;
  if (code_opt->count() == 0 && list_opt->count() == 0) {
    return usage_error("-s,--stock_code or --watchlist is required");
  }

  // A single code (no comma) is the one-stock run, exactly as it always was.
  const bool single = list_opt->count() == 0 && stock_code.find(',') == std::string::npos;
  std::vector<apps::PoolEntry> entries;
  if (!single) {
    try {
      entries = list_opt->count() != 0 ? apps::read_pool_file(watchlist) : listed_codes(stock_code);
    } catch (const std::exception& e) {
      return usage_error(std::string("kelvo: error: ") + e.what());
    }
    if (entries.empty()) return usage_error("kelvo: error: watchlist " + watchlist + " is empty");
  }

  zorvane::utils::setup_logging("INFO", std::filesystem::current_path() / "logs");
  // Before anything is queued: the webhook owes only what is queued while it is configured.
  zorvane::notify::register_webhook_from_env(zorvane::report::default_storage());
  if (single) return run_single(stock_code, analysis_time, force);
  return run_watchlist(std::move(entries), analysis_time, force, jobs, format);
}

}  // namespace

int main(int argc, char** argv) {
  return apps::run_program("kelvo", run, argc, argv);
}
