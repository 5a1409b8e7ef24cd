#pragma once
// The built-in synthetic market, served when no data center is configured.
//
// Each security's bars are a deterministic random walk seeded by a hash of its code and
// generated from a fixed first day (2015-01-05) on its market's rule calendar, so the bars of
// any date are the same whatever the last generated day is. The walk moves through regimes
// (uptrends, downtrends, ranges, and crashes followed by recoveries) so that screens meet
// different patterns. Prices are rounded to the tick (0.01, 0.001 for funds), bars are
// consistent (low <= open, close <= high), volume is positive and amount = close * volume.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "candlex/bar_table.hpp"

namespace candlex {

enum class SampleKind { index, stock, fund };

struct SampleSecurity {
  std::string code;  // canonical code
  std::string name;  // display name; stocks are marked as samples (示例...)
  SampleKind kind = SampleKind::stock;
  double base_price = 10;    // price level around which the walk wanders
  double daily_vol = 0.018;  // typical daily log-return deviation
  double base_volume = 1e7;  // typical daily volume
};

// First bar date of every sample series.
Day sample_first_day();

// The core indices of every market, every ETF of the ETF universe and a few stocks per market.
const std::vector<SampleSecurity>& sample_securities();

// The security, or nullptr when the sample market does not hold `canonical_code`.
const SampleSecurity* find_sample_security(std::string_view canonical_code);

// Bars of `security` from the first sample day through `through` (uncached).
BarTable generate_sample_bars(const SampleSecurity& security, Day through);

// Bars of a sample code through `through`, cached per process; empty for a code the sample
// market does not hold. The first call warns once that the data are synthetic.
std::shared_ptr<const BarTable> sample_daily(std::string_view canonical_code, Day through);

// Writes the whole sample market through `through` as a data center under `dir`
// (daily/<code>.csv with header date,open,high,low,close,volume,amount, and names.csv).
// Returns the number of series written. Throws std::runtime_error when a file cannot be
// written.
std::size_t write_sample_center(const std::filesystem::path& dir, Day through);

// CSV text of a bar table in the data-center layout; numbers in shortest round-trip form.
std::string bars_to_csv(const BarTable& bars);

}  // namespace candlex
