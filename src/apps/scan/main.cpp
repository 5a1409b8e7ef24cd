// scan: screens a pool of stocks with the opportunity radar or a technical selector.
//
//   scan --pool FILE | --market A|HK|US|ETF [-t YYYY-MM-DD]
//        [--selector radar|combined|tf|brp|all] [--format text|json|html] [--out FILE]
//        [--log-level LEVEL]
//
// Results go to standard output, or to FILE with --out (html: a sortable table page); progress
// (pools over 100 stocks), warnings and logs to standard error. Exit status: 0 when the scan ran
// (stocks that could not be read are reported and skipped), 2 for bad options, an unreadable or
// invalid pool file, or a bad date, 1 when the scan itself fails (running out of memory
// included: "scan: error: out of memory while ...", naming the stock being read).

#include <CLI/CLI.hpp>

#include <chrono>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/common/program.hpp"
#include "apps/scan/scan_html.hpp"
#include "apps/scan/scan_output.hpp"
#include "apps/scan/scan_pool.hpp"
#include "apps/scan/scan_run.hpp"
#include "strategy/radar/opportunity_radar_selector.hpp"
#include "zorvane/report/html/report_pages.hpp"
#include "zorvane/utils/atomic_file.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"

namespace {

using zorvane::utils::logger;

// Bars loaded per stock: the calendar days before the end date, enough for the 60-bar
// averages and the radar's 60-bar range.
constexpr int kWindowDays = 400;
// Closes drawn in each sparkline of the HTML table.
constexpr std::size_t kSparkBars = 60;

int usage_error(const std::string& message) {
  std::cerr << "scan: error: " << message << "\nRun with --help for more information.\n";
  return 2;
}

void report_failures(const std::vector<scan::Failure>& failures) {
  for (const auto& f : failures) logger.warning("%s 无法读取，已跳过: %s", f.code, f.error);
  if (!failures.empty())
    std::cerr << "scan: " << failures.size() << " 只股票无法读取，已跳过（详见日志）\n";
}

int run(int argc, char** argv) {
  apps::load_env_quietly();

  CLI::App app{"股票池筛选：机会雷达三段结果，或技术选股器的通过列表", "scan"};
  std::string pool_file, market, date, selector = "radar", format = "text", log_level = "WARNING";
  auto* pool_opt =
      app.add_option("--pool", pool_file, "股票池文件：每行一个代码，可写 代码,名称；# 之后为注释");
  auto* market_opt = app.add_option("--market", market, "市场：A / HK / US / ETF")
                         ->check(CLI::IsMember({"A", "HK", "US", "ETF"}));
  pool_opt->excludes(market_opt);
  app.add_option("-t,--date", date, "截止日 YYYY-MM-DD（默认：今天）");
  app.add_option("--selector", selector, "radar（默认）/ combined / tf / brp / all")
      ->check(CLI::IsMember({"radar", "combined", "tf", "brp", "all"}));
  std::string out_file;
  app.add_option("--format", format, "text（默认）/ json / html")
      ->check(CLI::IsMember({"text", "json", "html"}));
  app.add_option("--out", out_file, "结果写入文件而不是标准输出");
  app.add_option("--log-level", log_level, "DEBUG / INFO / WARNING（默认）/ ERROR")
      ->check(CLI::IsMember({"DEBUG", "INFO", "WARNING", "ERROR"}, CLI::ignore_case));
  if (auto status = apps::parse_command_line(app, argc, argv)) return *status;
  if (pool_opt->count() == 0 && market_opt->count() == 0)
    return usage_error("one of --pool FILE or --market A|HK|US|ETF is required");

  const auto today = zorvane::utils::today_local();
  std::optional<std::string> target_date;
  auto end_day = today;
  if (!date.empty() || app.count("--date") != 0) {
    try {
      end_day = apps::parse_command_date(date);
    } catch (const std::invalid_argument&) {
      return usage_error("invalid date '" + date + "', expected YYYY-MM-DD");
    }
    if (end_day > today) return usage_error("date " + date + " is in the future");
    target_date = date;
  }
  const std::string end_date = zorvane::utils::iso_date(end_day);
  const std::string start_date = zorvane::utils::iso_date(end_day - std::chrono::days{kWindowDays});

  zorvane::utils::setup_logging(log_level, std::filesystem::current_path() / "logs");

  std::vector<scan::PoolEntry> entries;
  if (pool_opt->count() != 0) {
    try {
      entries = scan::read_pool_file(pool_file);
    } catch (const std::exception& e) {
      return usage_error(e.what());
    }
  } else {
    entries = scan::market_pool(market);
  }
  scan::fill_names(entries);
  if (entries.empty()) std::cerr << "scan: 股票池为空\n";

  scan::Summary summary{end_date, entries.size(), 0};
  std::string output;
  // Chart colours follow the market; a pool file may mix markets, and gets the default.
  const std::optional<std::string> pool_market =
      market.empty() ? std::nullopt : std::optional<std::string>(market);
  // Running out of memory is an error naming what was being done, never an abort; the
  // loaders name the stock themselves.
  std::string doing;
  try {
    if (selector == "radar") {
      auto loaded = scan::load_pool(entries, start_date, end_date);
      report_failures(loaded.failures);
      summary.with_data = loaded.with_data;
      doing = "evaluating the radar over " + std::to_string(loaded.with_data) + " stocks";
      const std::string frequency = radar::pool_reference_frequency(loaded.pool, {}, target_date);
      const auto sections = radar::OpportunityRadarSelector::analyze_pool(
          loaded.pool, std::nullopt, std::nullopt, 1.5, 1.5, std::nullopt, target_date);
      doing = "writing the results";
      if (format == "html") {
        scan::Closes closes;
        for (const auto& [code, entry] : loaded.pool) {
          if (entry.second && entry.second->has("close")) {
            closes[code] = entry.second->tail(kSparkBars).col("close");
          }
        }
        output = scan::radar_html(sections, frequency, summary, closes, pool_market);
      } else {
        output = format == "json" ? scan::radar_json(sections, frequency, summary)
                                  : scan::radar_text(sections, frequency, summary);
      }
    } else {
      auto result = scan::run_selector(selector, entries, start_date, end_date);
      report_failures(result.failures);
      summary.with_data = result.with_data;
      doing = "writing the results";
      if (format == "html") {
        output = scan::selector_html(
            selector, result.passed, summary,
            scan::recent_closes(result.passed, start_date, end_date, kSparkBars), pool_market);
      } else {
        output = format == "json" ? scan::selector_json(selector, result.passed, summary)
                                  : scan::selector_text(selector, result.passed, summary);
      }
    }
  } catch (const std::bad_alloc&) {
    if (doing.empty()) throw;
    throw std::runtime_error("out of memory while " + doing);
  }
  if (out_file.empty()) {
    std::cout << output;
    std::cout.flush();
  } else {
    if (format == "html") {
      zorvane::html::write_page_file(out_file, output);  // listed when written into a report root
    } else {
      zorvane::utils::write_file_atomic(out_file, output);
    }
    std::cerr << "scan: 结果已写入 " << out_file << '\n';
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 1;
  try {
    status = run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "scan: error: out of memory\n";
  } catch (const std::exception& e) {
    std::cerr << "scan: error: " << e.what() << '\n';
  }
  zorvane::utils::shutdown_logging();
  return status;
}
