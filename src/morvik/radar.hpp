#pragma once
// Opportunity radar: price-volume anomalies, potential opportunities and risk findings of one
// stock, and of a whole pool sorted into three sections.
//
//   rapidjson::Document item = morvik::evaluate_opportunity_radar_item(bars, "sh.600519");
//   rapidjson::Document sections = morvik::analyze_opportunity_radar(pool, "weekly");
//
// Both are pure functions of their arguments: deterministic, no I/O, no shared state, safe on
// any thread, and they never read past the last bar they evaluate.
//
// Series. "daily" evaluates the daily bars as given. "weekly" evaluates weekly bars built from
// them (candlex::to_weekly). weekly_mode "partial" (the default, also for an absent mode)
// accepts the running week as the last bar; "strict" drops it unless the week is complete,
// that is unless no later day of the same Monday-Sunday week is a trading day of the symbol's
// market by the rule calendar (candlex/calendar.hpp; weekdays for an unknown market). Rows
// whose close is not a finite number are left out. "open", "high" and "low" default to the
// close, "amount" to close x volume. Another frequency or weekly mode is std::invalid_argument.
//
// Measurements at the last bar t of the series (i = t or t - 1 for the states):
//   change_pct  (close[t] / close[t-1] - 1) x 100; 0.0 with one bar.
//   vol_ratio   volume[t] over the mean volume of the up to 5 bars before it; 1.0 when there is
//               no earlier bar or they traded nothing.
//   amount_ea   amount[t] / 1e8 (亿).
//   EMA5, EMA20 of the close (alpha 2 / (n + 1), seeded with the first close); slope20(i) =
//               EMA20[i] - EMA20[i-3], slope5(i) likewise.
//   pos(i)      (close[i] - lowest low) / (highest high - lowest low) over the 60 bars ending
//               at i; 0.5 when that range is zero.
//   stable(i)   the lowest low of bars i-2..i is not below the lowest low of bars i-12..i-3.
//   breakout    close[t] above every close of the 20 bars before it; breakdown: below every one.
//
// States, first match wins (curr_state_cn at t, prev_state_cn at t - 1):
//   底部企稳  pos <= 0.25, stable and close >= EMA5
//   左侧下跌  close < EMA20, EMA5 < EMA20 and slope20 < 0
//   高位震荡  pos >= 0.75 and slope5 <= 0
//   右侧上涨  close > EMA20, EMA5 > EMA20 and slope20 > 0
//   横盘整理  anything else
// With fewer than 20 bars both states are 数据不足 and every flag is false (the score is 0).
//
// Flags (spike = vol_ratio >= min_vol_ratio; liquid = no min_amount_ea, or amount_ea >= it):
//   is_vol_abnormal  spike, |change_pct| >= min_pct_change and liquid.
//   is_risk          any risk reason: 放量下跌 (spike and change_pct <= -min_pct_change),
//                    破位新低 (breakdown with change_pct < 0), 高位放量滞涨 (pos >= 0.8, spike
//                    and close below open).
//   has_sell_signal  趋势转弱 (previous state 右侧上涨 or 高位震荡, current 左侧下跌 or 横盘整理,
//                    change_pct < 0) or 放量跌破均线 (close crossed below EMA20 on a spike).
//   has_buy_signal   右侧启动 (current 右侧上涨 from a state other than 右侧上涨 / 高位震荡, with
//                    change_pct > 0) or 放量突破 (breakout on a spike with change_pct > 0).
//   is_opportunity   liquid, no risk, no sell signal, and a buy signal, or 止跌回升 (底部企稳
//                    after 左侧下跌 with change_pct > 0), or 回踩均线 (右侧上涨 with the close at
//                    most 2% above EMA20 and change_pct >= 0).
// The liquidity floor applies to the two findings that make a candidate, never to risks.
//
// tech_score (0 to 10, two decimals) = state points (右侧上涨 4, 底部企稳 3, 横盘整理 2,
//   高位震荡 1.5, 左侧下跌 0.5) + trend 1 (EMA5 > EMA20 and slope20 > 0) + volume 0-2 on an up
//   bar (min(vol_ratio, 3) / 3 x 2) + momentum 0-1 (change_pct clamped to 0..5, / 5)
//   + 2 for a buy signal, else 1 for an opportunity - 3 for a risk - 2 for a sell signal,
//   clamped to 0..10.
//
// The item also carries the pattern scan (morvik::pre_screen_and_scan, mode "all", min_score
// 3) of the daily bars up to the evaluated last bar, as "pre_screen_res" (an empty object when
// there are no bars). The scan is carried, not scored: flags and score come from the rules
// above only, so a pool scan (which skips the pattern scan) finds exactly what item
// evaluation finds.

#include <rapidjson/document.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "candlex/bar_table.hpp"

namespace morvik {

// Section names, in the order a stock is placed: the first one it qualifies for.
inline constexpr std::string_view kRadarAbnormal = "量化异动";
inline constexpr std::string_view kRadarOpportunity = "潜在机会";
inline constexpr std::string_view kRadarRisk = "风险提示";

// Pool: code -> (display name, daily bars or none).
using RadarPool = std::map<std::string, std::pair<std::string, std::optional<candlex::BarTable>>>;

// The radar item of one stock. Members, in this order:
//   "symbol", "name", "frequency", "as_of" (date of the evaluated last bar, null without bars),
//   "bars" (number of evaluated bars), "tech_score", "is_opportunity", "is_vol_abnormal",
//   "is_risk", "has_buy_signal", "has_sell_signal", "curr_state_cn", "prev_state_cn",
//   "vol_ratio", "change_pct", "amount_ea" (two decimals each), "close",
//   "signals" ([text...]: buy and sell signals and opportunity reasons), "risk_reasons"
//   ([text...]), "pre_screen_res".
// Throws std::invalid_argument for an unknown frequency or weekly mode, and when a non-empty
// table lacks "close" or "volume".
rapidjson::Document evaluate_opportunity_radar_item(
    const candlex::BarTable& df, std::string_view symbol, std::string_view name = "",
    std::string_view frequency = "daily", std::optional<double> min_amount_ea = std::nullopt,
    double min_vol_ratio = 1.5, double min_pct_change = 1.5,
    const std::optional<std::string>& weekly_mode = std::nullopt);

// Evaluates every entry of the pool (entries without bars, or with an empty table, are
// skipped) on a thread pool sized to the hardware, and sorts the findings into
//   {"量化异动": [...], "潜在机会": [...], "风险提示": [...]}
// 量化异动: is_vol_abnormal with change_pct > 0 and no risk; 潜在机会: is_opportunity;
// 风险提示: is_risk or has_sell_signal. A stock lands in the first section it qualifies for
// (so the sections are mutually exclusive) and in none when it qualifies for none. Codes that
// name the same security ("600519", "sh.600519") are evaluated once, for the first of them in
// pool order. 量化异动 and 潜在机会 are sorted by score descending, 风险提示 by score ascending
// (the weakest first); ties by code. Each record: {"code", "name", "state", "prev_state",
// "score", "vol_ratio", "change_pct", "amount_ea", "reasons" ([text...])}.
// The result does not depend on the number of threads. An error evaluating any entry is
// rethrown (the first in pool order) after the workers have stopped.
rapidjson::Document analyze_opportunity_radar(
    const RadarPool& etf_pool, std::string_view frequency = "daily",
    std::optional<double> min_amount_ea = std::nullopt, double min_vol_ratio = 1.5,
    double min_pct_change = 1.5, const std::optional<std::string>& weekly_mode = std::nullopt,
    unsigned threads = 0);

}  // namespace morvik
