#pragma once
// Authoritative per-index facts computed from daily bars: day change, volume ratio,
// EMA5/20/60 position and amplitude, with their text forms for the brief's table and facts.

#include <string>

#include "candlex/bar_table.hpp"

namespace sumora {

// Index performance record. Three shapes share this struct:
//   valid:             valid = true and every field set;
//   insufficient data: valid = false, pct = ratio = "—", trend = ma_fact = "数据不足";
//   error:             valid = false and nothing else (texts empty, numbers 0).
// Only records with valid = true are read beyond `valid`.
struct IndexPerformance {
  bool valid = false;
  std::string pct;      // "+0.52%", "-1.30%", "+0.00%"
  std::string ratio;    // "0.85"
  std::string trend;    // trend label
  std::string ma_fact;  // close-versus-EMA sentence
  double pct_val = 0.0;
  double ratio_val = 0.0;
  double close = 0.0;
  double ema5 = 0.0;
  double ema20 = 0.0;
  double ema60 = 0.0;
  bool ema_bull = false;  // ema5 > ema20 > ema60
  bool ema_bear = false;  // ema5 < ema20 < ema60
  double amp_today = 0.0;
  double amp_avg20 = 0.0;

  static IndexPerformance insufficient();
  static IndexPerformance error();
};

// "上方+5.00%" / "下方-12.50%": the side of close `c` relative to `ema` and the distance in
// percent of the EMA; "—" when the EMA is exactly 0.
std::string _rel(double c, double ema);

// The record for one index's daily bars (oldest first). Fewer than two rows (or no table)
// gives the insufficient-data record. Throws std::out_of_range when "close" or "volume" is
// missing; "high"/"low" are optional (amplitudes 0.0 without them).
IndexPerformance _calculate_index_performance(const candlex::BarTable* df);
IndexPerformance _calculate_index_performance(const candlex::BarTable& df);

}  // namespace sumora
