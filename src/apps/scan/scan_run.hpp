#pragma once
// Loading a pool's bars and running a selector over it, both on a thread pool sized to the
// hardware. Results come back in pool order whatever the number of threads.

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "apps/scan/scan_pool.hpp"
#include "morvik/radar.hpp"

namespace scan {

// Progress lines on standard error ("scan: <label> 500/5000 (10%)") at every tenth of the
// work; silent for `total` <= 100. Thread-safe.
class Progress {
 public:
  Progress(std::string label, std::size_t total);
  void step();

 private:
  std::mutex mutex_;
  std::string label_;
  std::size_t total_;
  std::size_t done_ = 0;
  std::size_t next_tenth_ = 1;
  bool enabled_;
};

// A code that could not be scanned, with the reason.
struct Failure {
  std::string code;
  std::string error;
};

struct LoadedPool {
  morvik::RadarPool pool;  // every entry; bars absent when the source has none in the window
  std::size_t with_data = 0;
  std::vector<Failure> failures;  // bars that could not be read (left out of `pool`)
};

// Daily bars of every entry over [start_date, end_date], read from the end of each file and
// kept only in the pool (see candlex::get_any_ohlc_uncached). Running out of memory stops the
// loading and throws std::runtime_error "out of memory while reading the bars of <code> ...".
LoadedPool load_pool(const std::vector<PoolEntry>& entries, const std::string& start_date,
                     const std::string& end_date);

struct Hit {
  std::string code;
  std::string name;
  double score = 0.0;
  std::string strategy_type;
};

struct SelectorRun {
  std::vector<Hit> passed;  // in pool order
  std::size_t with_data = 0;
  std::vector<Failure> failures;
};

// Runs the selector "combined", "tf", "brp" or "all" over every entry (check with the given
// window, bars read as load_pool reads them). Throws std::invalid_argument for another
// selector name, std::runtime_error "out of memory while screening <code> ..." when memory
// runs out.
SelectorRun run_selector(const std::string& selector, const std::vector<PoolEntry>& entries,
                         const std::string& start_date, const std::string& end_date);

}  // namespace scan
