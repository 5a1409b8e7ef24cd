// candlex-fetch: fills and updates a data center with daily bars from public sources
// (Eastmoney first, Tencent as fallback).
//
//   candlex-fetch [--center DIR] [--codes C1,C2,...] [--pool FILE] [--market A|HK|US|ETF
//                 [--all]] [--start YYYY-MM-DD] [--adjust qfq|none|hfq]
//                 [--source auto|eastmoney|tencent] [--jobs N]
//
// Exit status: 0 when every code was fetched, 1 when any failed (good files are kept), 2
// for bad input (options, codes, dates, a center that cannot be written).

#include <unistd.h>
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "candlex/calendar.hpp"
#include "candlex/fetch/center_config.hpp"
#include "candlex/fetch/center_update.hpp"
#include "candlex/fetch/code_plan.hpp"
#include "candlex/fetch/eastmoney.hpp"
#include "candlex/fetch/http_client.hpp"
#include "candlex/fetch/progress_bar.hpp"
#include "candlex/fetch/tencent.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/env.hpp"
#include "zorvane/utils/file_lock.hpp"
#include "zorvane/utils/temp_files.hpp"
#include "zorvane/utils/text.hpp"

namespace {

namespace fs = std::filesystem;
using namespace candlex::fetch;

// Bad input: printed and the run ends with status 2.
struct BadInput : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Options {
  std::string center;
  std::vector<std::string> codes;
  std::string pool;
  std::string market;
  bool all = false;
  std::string start;
  std::string adjust;
  std::string source = "auto";
  int jobs = 1;
};

fs::path center_of(const Options& o) {
  if (!o.center.empty()) return zorvane::utils::expand_user(o.center);
  if (auto dir = zorvane::utils::env_text("CANDLEX_CENTER"))
    return zorvane::utils::expand_user(*dir);
  throw BadInput("no data center: pass --center DIR or set CANDLEX_CENTER");
}

// Creates the center's layout and takes its lock: two runs on one center would fetch every
// code twice and the later names.csv and center.json would drop what the other run added.
zorvane::utils::FileLock lock_center(const fs::path& center) {
  std::error_code ec;
  fs::create_directories(center / "daily", ec);
  if (ec) throw BadInput("cannot write data center " + center.string() + ": " + ec.message());
  auto lock = zorvane::utils::FileLock::acquire(center / ".candlex-fetch.lock",
                                                std::chrono::milliseconds(0));
  if (!lock.locked())
    throw std::runtime_error("another candlex-fetch is updating " + center.string() +
                             "; wait for it to finish");
  return lock;
}

// Settles the center's adjustment against center.json.
CenterConfig prepare_center(const fs::path& center, const std::string& asked, ProgressBar& bar) {
  std::error_code ec;
  // Temporary files of a run killed between writing and renaming (older than an hour).
  zorvane::utils::remove_stale_temp_files(center / "daily");
  zorvane::utils::remove_stale_temp_files(center);
  std::optional<CenterConfig> config;
  try {
    config = read_center_config(center);
  } catch (const std::runtime_error& e) {
    throw BadInput(e.what());
  }
  if (config) {
    if (!asked.empty() && parse_adjust(asked) != config->adjust)
      throw BadInput("data center " + center.string() + " holds " + adjust_text(config->adjust) +
                     " bars; --adjust " + asked + " would mix adjustments (use a new center for " +
                     asked + ")");
    return *config;
  }
  CenterConfig fresh;
  fresh.adjust = asked.empty() ? Adjust::qfq : parse_adjust(asked);
  if (!fs::is_empty(center / "daily", ec))
    bar.note("adopting " + center.string() + " (no center.json): its bars are taken as " +
             adjust_text(fresh.adjust) +
             ", and files that differ from the source are fetched again");
  try {
    write_center_config(center, fresh);
  } catch (const std::runtime_error& e) {
    throw BadInput(std::string("cannot write data center: ") + e.what());
  }
  return fresh;
}

int run(const Options& o) {
  if (o.codes.empty() && o.pool.empty() && o.market.empty())
    throw BadInput("nothing to fetch: give --codes, --pool or --market");
  const fs::path center = center_of(o);
  std::optional<candlex::Day> start;
  if (!o.start.empty()) {
    auto day = zorvane::utils::try_parse_date(o.start);
    if (!day || o.start.size() != 10)
      throw BadInput("--start '" + o.start + "' is not a YYYY-MM-DD date");
    if (*day > zorvane::utils::today_local())
      throw BadInput("--start " + o.start + " is in the future");
    start = day;
  }
  if (!o.adjust.empty()) parse_adjust(o.adjust);

  std::vector<std::string> codes;
  for (const auto& text : o.codes)
    if (!zorvane::utils::trim(text).empty()) codes.push_back(fetchable_code(text));
  if (!o.pool.empty()) {
    try {
      auto listed = read_code_list(o.pool);
      codes.insert(codes.end(), listed.begin(), listed.end());
    } catch (const std::runtime_error& e) {
      throw BadInput(e.what());
    }
  }
  const HttpOptions http_options = http_options_from_env();
  ProgressBar bar(::isatty(STDERR_FILENO) == 1);
  auto notice = [&bar](const std::string& text) { bar.note(text); };
  const auto lock = lock_center(center);
  CenterConfig config = prepare_center(center, o.adjust, bar);

  HttpClient http(http_options);
  UsPrefixes prefixes(config.us_prefix);
  eastmoney::Source east(http, eastmoney::hosts_from_env(), prefixes);
  tencent::Source tencent(http, tencent::hosts_from_env(), prefixes);
  std::vector<BarSource*> sources;
  if (o.source != "tencent") sources.push_back(&east);
  if (o.source != "eastmoney") sources.push_back(&tencent);

  std::map<std::string, std::string> listed_names;
  if (!o.market.empty()) {
    auto more = market_codes(o.market, center, notice);
    codes.insert(codes.end(), more.begin(), more.end());
    if (o.all) {
      const auto key = candlex::market_key(o.market);
      for (auto& row : east.list_market(key)) {
        codes.push_back(row.code);
        listed_names[row.code] = row.name;
      }
    }
  }
  const auto plan = with_market_indices(codes);

  UpdateOptions update;
  update.center = center;
  update.adjust = config.adjust;
  update.start = start;
  update.jobs = o.jobs;
  CenterUpdater updater(update, sources, notice);
  auto report = updater.run(plan, [&](const Progress& p) { bar.update(p); });
  bar.finish();

  int status = report.stopped.empty() ? 0 : 1;
  auto names = updater.names();
  for (const auto& [code, name] : listed_names)
    if (names.count(code) && names[code].empty()) names[code] = name;
  try {
    merge_names(center, names);
  } catch (const std::runtime_error& e) {
    notice(std::string("names.csv not updated: ") + e.what());
    status = 1;
  }
  config.us_prefix = prefixes.all();
  write_center_config(center, config);

  std::map<Outcome, int> counts;
  for (const auto& c : report.codes) ++counts[c.outcome];
  std::printf(
      "candlex-fetch: %zu codes into %s (%s): created %d, updated %d, unchanged %d, "
      "restated %d, failed %d",
      report.codes.size(), center.string().c_str(), adjust_text(config.adjust).c_str(),
      counts[Outcome::created], counts[Outcome::updated], counts[Outcome::unchanged],
      counts[Outcome::restated], counts[Outcome::failed]);
  if (counts[Outcome::not_run]) std::printf(", not fetched %d", counts[Outcome::not_run]);
  std::printf("\n");
  for (const auto& c : report.codes) {
    if (c.outcome == Outcome::failed || c.outcome == Outcome::not_run) {
      std::printf("  %s %s: %s\n", outcome_text(c.outcome).c_str(), c.code.c_str(),
                  c.reason.c_str());
      status = 1;
    }
  }
  if (!report.stopped.empty()) std::printf("stopped: %s\n", report.stopped.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    zorvane::utils::load_zorvane_env();
  } catch (const std::exception&) {
    // Running without a readable .env is fine.
  }
  CLI::App app{"Fills and updates a data center with daily bars from public sources."};
  Options o;
  app.add_option("--center", o.center, "data center directory (default: $CANDLEX_CENTER)");
  app.add_option("--codes", o.codes, "codes to fetch, comma-separated")->delimiter(',');
  app.add_option("--pool", o.pool, "file with one code per line");
  auto* market =
      app.add_option("--market", o.market, "a market's core indices, ETF universe and stored codes")
          ->check(CLI::IsMember({"A", "HK", "US", "ETF"}));
  app.add_flag("--all", o.all, "with --market: every listed security of the market")->needs(market);
  app.add_option("--start", o.start, "first date of a fresh fill, YYYY-MM-DD (default: all)");
  app.add_option("--adjust", o.adjust, "price adjustment, recorded in center.json (default qfq)")
      ->check(CLI::IsMember({"qfq", "none", "hfq"}));
  app.add_option("--source", o.source, "auto (Eastmoney, then Tencent), eastmoney or tencent")
      ->check(CLI::IsMember({"auto", "eastmoney", "tencent"}));
  app.add_option("--jobs", o.jobs, "codes fetched at once (default 1)")->check(CLI::Range(1, 16));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return e.get_exit_code() == 0 ? code : 2;
  }
  try {
    if (o.all && o.source == "tencent")
      throw BadInput("--all needs the Eastmoney list endpoint; use --source auto or eastmoney");
    return run(o);
  } catch (const BadInput& e) {
    std::fprintf(stderr, "candlex-fetch: %s\n", e.what());
    return 2;
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "candlex-fetch: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "candlex-fetch: error: %s\n", e.what());
    return 1;
  }
}
