#include "apps/scan/scan_run.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include "candlex/market_data.hpp"
#include "strategy/technical/selectors.hpp"

namespace scan {

namespace {

// fn(i) for every i in [0, n), one index at a time, on the hardware's threads.
template <class Fn>
void parallel_for(std::size_t n, Fn fn) {
  if (n == 0) return;
  const unsigned workers = static_cast<unsigned>(
      std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), n));
  std::atomic<std::size_t> next{0};
  auto run = [&] {
    for (std::size_t i = next.fetch_add(1); i < n; i = next.fetch_add(1)) fn(i);
  };
  std::vector<std::jthread> pool;
  for (unsigned w = 1; w < workers; ++w) pool.emplace_back(run);
  run();
}

std::unique_ptr<zorvane::strategy::StockSelector> make_selector(const std::string& name) {
  if (name == "combined") return std::make_unique<technical::CombinedSelector>();
  if (name == "tf") return std::make_unique<technical::TFSelector>();
  if (name == "brp") return std::make_unique<technical::BRPSelector>();
  if (name == "all") return std::make_unique<technical::AllStockSelector>();
  throw std::invalid_argument("unknown selector '" + name + "'");
}

std::string what_of(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace

Progress::Progress(std::string label, std::size_t total)
    : label_(std::move(label)), total_(total), enabled_(total > 100) {}

void Progress::step() {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  ++done_;
  if (done_ * 10 < next_tenth_ * total_) return;
  while (next_tenth_ * total_ <= done_ * 10) ++next_tenth_;
  std::cerr << "scan: " << label_ << ' ' << done_ << '/' << total_ << " (" << done_ * 100 / total_
            << "%)\n";
}

LoadedPool load_pool(const std::vector<PoolEntry>& entries, const std::string& start_date,
                     const std::string& end_date) {
  std::vector<std::optional<candlex::BarTable>> bars(entries.size());
  std::vector<std::exception_ptr> errors(entries.size());
  Progress progress("读取行情", entries.size());
  parallel_for(entries.size(), [&](std::size_t i) {
    try {
      auto table = candlex::get_any_ohlc(entries[i].code, start_date, end_date);
      if (!table.empty()) bars[i] = std::move(table);
    } catch (...) {
      errors[i] = std::current_exception();
    }
    progress.step();
  });

  LoadedPool out;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (errors[i]) {
      out.failures.push_back({entries[i].code, what_of(errors[i])});
      continue;
    }
    if (bars[i]) ++out.with_data;
    out.pool.emplace(entries[i].code, std::make_pair(entries[i].name, std::move(bars[i])));
  }
  return out;
}

SelectorRun run_selector(const std::string& selector, const std::vector<PoolEntry>& entries,
                         const std::string& start_date, const std::string& end_date) {
  auto sel = make_selector(selector);
  // Only what is printed is kept: a pool of thousands would otherwise hold every bar table.
  struct Outcome {
    bool has_data = false;
    bool eligible = false;
    double score = 0.0;
    std::string strategy_type;
  };
  std::vector<Outcome> outcomes(entries.size());
  std::vector<std::exception_ptr> errors(entries.size());
  Progress progress("筛选", entries.size());
  // Selectors keep no state between checks, so one object serves every thread.
  parallel_for(entries.size(), [&](std::size_t i) {
    try {
      auto r = sel->check(entries[i].code, start_date, end_date);
      outcomes[i] = {!std::get<zorvane::strategy::kBars>(r).empty(),
                     std::get<zorvane::strategy::kIsEligible>(r),
                     std::get<zorvane::strategy::kTotalScore>(r),
                     std::move(std::get<zorvane::strategy::kStrategyType>(r))};
    } catch (...) {
      errors[i] = std::current_exception();
    }
    progress.step();
  });

  SelectorRun out;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (errors[i]) {
      out.failures.push_back({entries[i].code, what_of(errors[i])});
      continue;
    }
    const auto& o = outcomes[i];
    if (o.has_data) ++out.with_data;
    if (o.eligible)
      out.passed.push_back({entries[i].code, entries[i].name, o.score, o.strategy_type});
  }
  return out;
}

}  // namespace scan
