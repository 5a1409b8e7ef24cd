#include "backtest/walk_forward.hpp"

#include <stdlib.h>

#include <algorithm>
#include <exception>
#include <map>
#include <stdexcept>
#include <utility>

#include "candlex/calendar.hpp"
#include "candlex/codes.hpp"
#include "candlex/market_data.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"

extern char** environ;

namespace backtest {

namespace {

using zorvane::utils::iso_date;
using zorvane::utils::parse_iso_date;

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Calendar market of a canonical code ("A" for shares, funds and indices of the mainland).
std::string calendar_market(const std::string& code) {
  auto market = candlex::calendar_market_of(code);
  return market.empty() ? "A" : market;
}

}  // namespace

std::vector<candlex::Day> walk_forward_dates(std::string_view market, candlex::Day from,
                                             candlex::Day to, int every) {
  if (every < 1) throw std::invalid_argument("--every 必须是正整数: " + std::to_string(every));
  if (from > to) {
    throw std::invalid_argument("起始日期晚于结束日期: " + iso_date(from) + " > " + iso_date(to));
  }
  const auto last_closed = parse_iso_date(
      candlex::normalize_market_end_date(iso_date(zorvane::utils::today_local()), market));
  to = std::min(to, last_closed);
  std::vector<candlex::Day> days;
  int n = 0;
  for (auto d = from; d <= to; d += std::chrono::days{1}) {
    if (!candlex::is_trading_day(market, d)) continue;
    if (n++ % every == 0) days.push_back(d);
  }
  return days;
}

void isolate_generation_environment(const std::filesystem::path& root) {
  std::vector<std::string> delivery;
  for (char** e = environ; e && *e; ++e) {
    std::string_view entry(*e);
    if (starts_with(entry, "KAFKA_") || starts_with(entry, "NOTIFY_")) {
      delivery.emplace_back(entry.substr(0, entry.find('=')));
    }
  }
  for (const auto& name : delivery) ::unsetenv(name.c_str());
  const auto absolute = std::filesystem::absolute(root).lexically_normal();
  ::setenv("REPORT_DIR", absolute.c_str(), 1);
  ::setenv("ZORVANE_SUMORA_DIR", (absolute / "sumoras").c_str(), 1);
}

GenerationSummary generate(const std::vector<std::string>& codes, candlex::Day from,
                           candlex::Day to, int every, const Analyzer& analyze,
                           std::ostream& progress) {
  GenerationSummary summary;
  std::map<std::string, std::vector<candlex::Day>> dates_of_market;
  std::vector<std::pair<std::string, candlex::Day>> runs;
  for (const auto& code : codes) {
    const auto market = calendar_market(code);
    auto it = dates_of_market.find(market);
    if (it == dates_of_market.end()) {
      it = dates_of_market.emplace(market, walk_forward_dates(market, from, to, every)).first;
    }
    for (auto d : it->second) runs.emplace_back(code, d);
  }
  summary.planned = runs.size();

  // About twenty progress lines whatever the size of the run.
  const std::size_t step = std::max<std::size_t>(1, runs.size() / 20);
  std::size_t done = 0;
  for (const auto& [code, day] : runs) {
    const std::string date = iso_date(day);
    if (done++ % step == 0 || done == runs.size()) {
      progress << "[回测生成] " << done << "/" << runs.size() << " " << code << " " << date << '\n'
               << std::flush;
    }
    try {
      if (candlex::get_any_ohlc(code, date, date).empty()) {
        ++summary.no_bar;
        continue;
      }
      analyze(code, date);
      ++summary.analysed;
    } catch (const std::exception& e) {
      ++summary.failed;
      zorvane::utils::logger.error("[回测生成] 分析失败 | stock=%s date=%s err=%s", code, date,
                                   e.what());
    }
  }
  return summary;
}

}  // namespace backtest
