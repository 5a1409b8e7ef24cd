#pragma once
// Walk-forward generation: the full stock analysis run at past dates into a report root of
// its own, so its decisions can be evaluated like any stored ones.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "candlex/bar_table.hpp"

namespace backtest {

// Trading days of `market` from `from` to `to` (inclusive), every `every`-th one starting with
// the first. Days after the market's last closed session are left out. Throws
// std::invalid_argument when `every` < 1 or `from` is after `to`.
std::vector<candlex::Day> walk_forward_dates(std::string_view market, candlex::Day from,
                                             candlex::Day to, int every);

// Points this process's report root, brief cache and sentiment cache at `root` and turns
// delivery off (every KAFKA_* and NOTIFY_* variable is removed), whatever the environment or
// .env said. Call before anything has resolved those places (at program start).
void isolate_generation_environment(const std::filesystem::path& root);

// One analysis: (code, analysis date). Errors propagate to generate(), which logs them.
using Analyzer = std::function<void(const std::string& code, const std::string& date)>;

struct GenerationSummary {
  std::size_t planned = 0;   // (stock, date) pairs on the market calendars
  std::size_t analysed = 0;  // analyses that finished (stored, or skipped as already stored)
  std::size_t no_bar = 0;    // the stock had no bar on the date (suspended, not yet listed)
  std::size_t failed = 0;    // analyses that raised an error
};

// Runs `analyze` for every stock of `codes` (canonical codes) at its market's walk-forward
// dates, reporting progress on `progress` (about twenty lines such as
// "[回测生成] 3/50 sh.600519 2024-03-05").
GenerationSummary generate(const std::vector<std::string>& codes, candlex::Day from,
                           candlex::Day to, int every, const Analyzer& analyze,
                           std::ostream& progress);

}  // namespace backtest
