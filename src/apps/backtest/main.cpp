// backtest: what became of stored trading decisions, judged by the bars that followed them;
// with --generate, a walk-forward run of the stock analysis at past dates first.
//
//   backtest [--from D] [--to D] [--market M] [--code C] [--model T] [--include-rejected]
//            [--report-dir DIR] [--entry-window N] [--horizon N]
//            [--format table|json|csv|html] [--out FILE]
//   backtest --generate --pool FILE --from D1 --to D2 [--every N]
//            [--client offline|deepseek|openai|ollama] [--root DIR] [--force]
//
// Results go to standard output, or to FILE with --out; --format html (a sortable table page
// with the headline figures) needs --out. Exit status: 0 on success; 2 for option errors; 1
// when the report database cannot be read or, with --generate, when any analysis failed (the
// table of the others is still printed).

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/common/program.hpp"
#include "apps/kelvo/analyze_stock.hpp"
#include "apps/scan/scan_pool.hpp"
#include "backtest/aggregates.hpp"
#include "backtest/decision_source.hpp"
#include "backtest/evaluation.hpp"
#include "backtest/report_html.hpp"
#include "backtest/report_output.hpp"
#include "backtest/walk_forward.hpp"
#include "zorvane/report/html/report_pages.hpp"
#include "zorvane/report/report_root.hpp"
#include "zorvane/utils/atomic_file.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"

namespace {

namespace fs = std::filesystem;

struct Options {
  backtest::Selection selection;
  backtest::EvalSettings settings;
  std::optional<std::string> report_dir;
  std::string format = "table";
  std::optional<std::string> out;
  bool details = false;
  bool generate = false;
  std::optional<std::string> pool;
  int every = 5;
  std::string client = "offline";
  std::string root = "backtest_reports";
  bool force = false;
};

// Option values the parser cannot check by itself; throws std::invalid_argument naming them.
void check_options(const Options& o) {
  for (const auto* date : {&o.selection.from, &o.selection.to}) {
    if (*date) zorvane::utils::parse_iso_date(**date);
  }
  if (o.generate && (!o.pool || !o.selection.from || !o.selection.to)) {
    throw std::invalid_argument("--generate 需要 --pool、--from 与 --to");
  }
  if (!o.generate && o.pool) throw std::invalid_argument("--pool 只能与 --generate 一起使用");
  if (o.format == "html" && !o.out) throw std::invalid_argument("--format html 需要 --out FILE");
}

int evaluate_and_print(const Options& o, const fs::path& root,
                       const std::optional<std::set<std::string>>& pool_codes) {
  auto loaded = backtest::load_decisions(root, o.selection);
  if (pool_codes) {
    std::erase_if(loaded.decisions,
                  [&](const backtest::StoredDecision& d) { return !pool_codes->count(d.code); });
  }
  backtest::BacktestReport report;
  report.settings = o.settings;
  report.results = backtest::evaluate_all(loaded.decisions, o.settings);
  loaded.decisions.clear();
  report.counts = std::move(loaded);
  report.aggregates = backtest::aggregate(report.results);
  std::ostringstream text;
  if (o.format == "json") {
    backtest::write_json(text, report);
  } else if (o.format == "csv") {
    backtest::write_csv(text, report);
  } else if (o.format == "html") {
    text << backtest::report_html(report);
  } else {
    text << "报告目录: " << root.string() << "\n";
    backtest::write_table(text, report, o.details);
  }
  if (o.out) {
    if (o.format == "html") {
      zorvane::html::write_page_file(*o.out, text.str());
    } else {
      zorvane::utils::write_file_atomic(*o.out, text.str());
    }
    std::cerr << "backtest: 结果已写入 " << *o.out << "\n";
  } else {
    std::cout << text.str();
    std::cout.flush();
  }
  return 0;
}

int run(int argc, char** argv) {
  apps::load_env_quietly();

  CLI::App app{"回测：用其后的K线检验已存储的交易决策；--generate 先在历史日期上逐日生成分析",
               "backtest"};
  Options o;
  app.add_option("--from", o.selection.from, "分析日期下限 YYYY-MM-DD (含)");
  app.add_option("--to", o.selection.to, "分析日期上限 YYYY-MM-DD (含)");
  app.add_option("--market", o.selection.market, "只看该市场: A、ETF、HK、US");
  app.add_option("--code", o.selection.code, "只看该股票代码");
  app.add_option("--model", o.selection.model, "只看该模型类型 (offline、deepseek ...)");
  app.add_flag("--include-rejected", o.selection.include_rejected, "包括信任检查拒绝的决策");
  app.add_option("--report-dir", o.report_dir, "报告目录 (默认: 当前配置的报告目录)");
  app.add_option("--entry-window", o.settings.entry_window, "分析日后可成交的K线数 (默认 5)")
      ->check(CLI::PositiveNumber);
  app.add_option("--horizon", o.settings.horizon, "统一的持有期 (K线数)，覆盖决策的持仓周期")
      ->check(CLI::PositiveNumber);
  app.add_option("--default-horizon", o.settings.default_horizon,
                 "持仓周期无法解析时的持有期 (K线数，默认 20)")
      ->check(CLI::PositiveNumber);
  app.add_option("--format", o.format,
                 "输出格式: table (默认)、json、csv、html (可排序的表格页面，需 --out)")
      ->check(CLI::IsMember({"table", "json", "csv", "html"}));
  app.add_option(
      "--out", o.out,
      "结果写入文件而不是标准输出；写进报告目录 (或其日期文件夹) 的 html 页面列入索引页");
  app.add_flag("--details", o.details, "表格输出附上每条决策");
  app.add_flag("--generate", o.generate, "先在 --from 至 --to 的历史日期上生成分析，再回测");
  app.add_option("--pool", o.pool, "生成用的股票池文件 (每行一个代码)");
  app.add_option("--every", o.every, "每隔 N 个交易日分析一次 (默认 5)")
      ->check(CLI::PositiveNumber);
  app.add_option("--client", o.client, "生成用的模型类型 (默认 offline)")
      ->check(CLI::IsMember({"offline", "deepseek", "openai", "ollama"}));
  app.add_option("--root", o.root, "生成用的独立报告目录 (默认 ./backtest_reports)");
  app.add_flag("--force", o.force, "生成时重新分析已存在的报告");
  if (auto status = apps::parse_command_line(app, argc, argv)) return *status;

  try {
    check_options(o);
  } catch (const std::invalid_argument& e) {
    std::cerr << "backtest: error: " << e.what() << "\n";
    return 2;
  }

  if (!o.generate) {
    zorvane::utils::setup_logging("WARNING", fs::current_path() / "logs");
    const fs::path root = o.report_dir ? fs::absolute(*o.report_dir).lexically_normal()
                                       : zorvane::report::report_root();
    return evaluate_and_print(o, root, std::nullopt);
  }

  const fs::path user_root = zorvane::report::report_root();
  const fs::path root = fs::absolute(o.root).lexically_normal();
  if (root == user_root) {
    std::cerr << "backtest: error: 生成目录不能是当前的报告目录: " << root.string() << "\n";
    return 2;
  }
  std::vector<scan::PoolEntry> pool;
  try {
    pool = scan::read_pool_file(*o.pool);
  } catch (const std::exception& e) {  // unreadable file or a line that is not a code
    std::cerr << "backtest: error: " << e.what() << "\n";
    return 2;
  }
  backtest::isolate_generation_environment(root);
  ::setenv("LLM_CLIENT_TYPE", o.client.c_str(), 1);
  zorvane::utils::setup_logging("WARNING", root / "logs");

  std::vector<std::string> codes;
  for (const auto& entry : pool) codes.push_back(entry.code);
  const auto summary = backtest::generate(
      codes, zorvane::utils::parse_iso_date(*o.selection.from),
      zorvane::utils::parse_iso_date(*o.selection.to), o.every,
      [&](const std::string& code, const std::string& date) {
        // Generation stores decisions only: nothing is delivered to Kafka or a webhook.
        const auto outcome = kelvo::analyze_stock(code, date, o.force, /*flush=*/false);
        if (outcome.save_error) throw std::runtime_error(*outcome.save_error);
      },
      std::cerr);
  std::cerr << "[回测生成] 完成：计划 " << summary.planned << "，已分析 " << summary.analysed
            << "，当日无K线 " << summary.no_bar << "，失败 " << summary.failed << "\n";

  Options eval = o;
  eval.selection.model = o.client;
  eval.selection.code.reset();
  evaluate_and_print(eval, root, std::set<std::string>(codes.begin(), codes.end()));
  return summary.failed > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  return apps::run_program("backtest", run, argc, argv);
}
