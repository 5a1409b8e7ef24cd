#pragma once
// Internal to the offline analysis writer: the facts an analysis prompt hands over and the
// trading plan the prompt's rules derive from them. Not part of the library's contract.

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvane::agent::offline {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

inline bool ok(double v) {
  return std::isfinite(v);
}

// A market tier of the prompt's tier table (ADX threshold, whipsaw cap and stop cap in ATR).
struct Tier {
  std::string name;
  double adx;
  double whipsaw;
  double stop;
  bool weak;
};

// The tier of a brief's bias: 偏多 strong, 震荡 neutral, 偏空 / 避险 weak; without a readable
// bias the stricter of the strong and neutral tiers ("未定档").
Tier tier_of(std::string_view bias);

// What an analysis prompt states. Unknown numbers are NaN, unknown texts empty.
struct Facts {
  std::string market;  // A, US, HK, ETF
  std::string code, name, date;
  double price = kNaN, pct = kNaN;

  // Market brief.
  std::string bias, strength, guidance, risk_line;

  // Bars.
  std::size_t rows = 0;
  std::vector<double> close, high, low, vr, hist, obv, amount;
  double rsi = kNaN, k = kNaN, d = kNaN, j = kNaN, mfi = kNaN, sar = kNaN, dif = kNaN, dea = kNaN;
  std::string weekly_order;  // 多头 / 空头 / 交织, "" when unknown

  // Pattern info (the daily bars stand in for the moving averages, VWMA, ATR and ADX).
  std::string strategy_type, hint;
  double score = kNaN;
  double support = kNaN, resistance = kNaN, low5 = kNaN, low20 = kNaN, high20 = kNaN;
  double ema5 = kNaN, ema10 = kNaN, ema20 = kNaN, ema60 = kNaN, vwma = kNaN, atr = kNaN;
  std::string ema_order, adx_dir, vwma_slope, weekly_trend;
  double adx = kNaN, dist20 = kNaN, pct60 = kNaN, rs20 = kNaN;
  double base = 0, min_rrr = 1.8, max_stop = 1.5, max_pos = 30;
  std::vector<std::string> flags, signals;
  std::string vol_regime;
  double r1 = kNaN, r2 = kNaN, r3 = kNaN, s1 = kNaN, s2 = kNaN, fr3 = kNaN;
};

// The facts of an analysis prompt, or nullopt when the prompt is not one (a summary prompt
// quotes a report, which may mention the data tags, and is not one).
std::optional<Facts> read_analysis_prompt(std::string_view system, std::string_view user);

// The value `back` places before the last one (NaN when there is none).
double last(const std::vector<double>& v, std::size_t back = 0);
// Mean of the finite values among the last `n` (NaN when none).
double tail_mean(const std::vector<double>& v, std::size_t n);
bool has_flag(const Facts& f, std::string_view flag);
// Rounded as the decision JSON writes prices: 3 decimals.
double r3(double v);

// The decision and the working values the report shows.
struct Plan {
  Tier tier;
  std::string mode, direction, action = "观望等待", holder_action = "继续持有", confidence = "低";
  std::string risk_level = "中", sentiment = "中性", holding_period = "无", key_watch;
  double entry_low = 0, entry_high = 0, stop = 0, t1 = 0, t2 = 0, rrr = 0, rrr_max = 0;
  double support = 0, resistance = 0;
  int position = 0;

  // The buy plan the rules are checked on (kept for the report when the decision is a wait).
  double plan_low = kNaN, plan_high = kNaN, plan_stop = kNaN, plan_t1 = kNaN, plan_t2 = kNaN;
  double plan_rrr = kNaN, plan_rrr_max = kNaN, mid = kNaN, defence = kNaN, buffer = 0;
  double stop_dist = kNaN, stop_cap = kNaN, total = kNaN, rrr_points = 0, threshold = 2.5;
  int holding_days = 0;
  std::string defence_src, t1_src, t2_src, entry_src;
  bool squeeze = false, data_short = false, anomaly = false;
  std::vector<std::string> blockers;         // why no buy
  std::vector<std::string> confidence_cuts;  // why confidence was lowered
  double liquidity_cap = kNaN;               // position cap from turnover, when one applies
  std::string liquidity_note;
};

// The prompt's rules applied to the facts: tier, frame, direction, entry range, stop (buffer,
// VWMA fallback, cap), targets, RRR, holder advice, the gates that forbid a buy, confidence
// score and grade, position cap, holding period, and the decision fields. A buy always
// satisfies stop < entry low <= entry high < target 1 < target 2 at three decimals.
Plan make_plan(const Facts& f);

}  // namespace zorvane::agent::offline
