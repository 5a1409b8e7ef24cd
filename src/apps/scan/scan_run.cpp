#include "apps/scan/scan_run.hpp"
#include "zorvane/utils/worker_threads.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "candlex/data_center.hpp"
#include "candlex/market_data.hpp"
#include "strategy/technical/selectors.hpp"

namespace scan {

namespace {

// fn(i) for every i in [0, n), one index at a time, on the hardware's threads, until fn
// returns false.
template <class Fn>
void parallel_for(std::size_t n, Fn fn) {
  if (n == 0) return;
  const unsigned workers = static_cast<unsigned>(
      std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), n));
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  auto run = [&] {
    for (std::size_t i = next.fetch_add(1); i < n && !stop; i = next.fetch_add(1))
      if (!fn(i)) stop = true;
  };
  zorvane::utils::run_workers(workers, run);
}

// The error that ends a scan which ran out of memory on `code`.
std::runtime_error out_of_memory(const std::string& doing, const std::string& code,
                                 std::size_t done, std::size_t total) {
  return std::runtime_error("out of memory while " + doing + " " + code + " (" +
                            candlex::daily_file_name(code) + ", " + std::to_string(done) + " of " +
                            std::to_string(total) + " stocks done)");
}

std::unique_ptr<zorvane::strategy::StockSelector> make_selector(const std::string& name) {
  // Bars are read as load_pool reads them: the window only, nothing cached.
  auto deps = technical::SelectorDeps::defaults();
  deps.load_bars = [](const std::string& code, const std::string& start, const std::string& end) {
    return candlex::get_any_ohlc_uncached(code, start, end);
  };
  if (name == "combined") return std::make_unique<technical::CombinedSelector>(deps);
  if (name == "tf") return std::make_unique<technical::TFSelector>(deps);
  if (name == "brp") return std::make_unique<technical::BRPSelector>(deps);
  if (name == "all") return std::make_unique<technical::AllStockSelector>(deps);
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

// fn(i) for every entry on the hardware's threads, with a progress line `label`; returns the
// error each entry's fn threw (null where it returned). Running out of memory on any entry
// stops the others and ends the whole run with an error naming the stock and what was
// `doing`.
template <class Fn>
std::vector<std::exception_ptr> for_each_entry(const std::vector<PoolEntry>& entries,
                                               const std::string& label, const std::string& doing,
                                               Fn fn) {
  std::vector<std::exception_ptr> errors(entries.size());
  std::atomic<std::size_t> done{0}, failed_at{entries.size()};
  Progress progress(label, entries.size());
  parallel_for(entries.size(), [&](std::size_t i) {
    try {
      fn(i);
    } catch (const std::bad_alloc&) {
      failed_at = i;
      return false;
    } catch (...) {
      errors[i] = std::current_exception();
    }
    ++done;
    progress.step();
    return true;
  });
  if (failed_at < entries.size())
    throw out_of_memory(doing, entries[failed_at].code, done, entries.size());
  return errors;
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
  // Only the window's rows are read, and nothing stays in the process-wide cache: the pool
  // holds the only copy of each stock's bars.
  const auto errors =
      for_each_entry(entries, "读取行情", "reading the bars of", [&](std::size_t i) {
        auto table = candlex::get_any_ohlc_uncached(entries[i].code, start_date, end_date);
        if (!table.empty()) bars[i] = std::move(table);
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
  // Selectors keep no state between checks, so one object serves every thread.
  const auto errors = for_each_entry(entries, "筛选", "screening", [&](std::size_t i) {
    auto r = sel->check(entries[i].code, start_date, end_date);
    outcomes[i] = {!std::get<zorvane::strategy::kBars>(r).empty(),
                   std::get<zorvane::strategy::kIsEligible>(r),
                   std::get<zorvane::strategy::kTotalScore>(r),
                   std::move(std::get<zorvane::strategy::kStrategyType>(r))};
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
