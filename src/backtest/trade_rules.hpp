#pragma once
// Market rules a decision is evaluated under: the daily price limit of its board, whether a
// position may be closed on the day it was opened, and the holding period in bars.

#include <optional>
#include <string>
#include <string_view>

namespace backtest {

struct MarketRules {
  std::string limit_rule;  // "主板10%", "创业板20%", "科创板20%", "北交所30%", "ST5%" or "无"
  double limit_pct = 0;     // daily limit as a fraction (0.1); 0 when the market has none
  bool t_plus_one = false;  // no exit on the fill day
};

// Rules for a canonical code with its display name and market type ("A", "ETF", "HK", "US").
// Mainland shares: ST (the name holds "ST") 5%, STAR (688/689) and ChiNext (300/301) 20%,
// Beijing (bj.) 30%, other boards 10%, all T+1. Exchange funds: no limit, T+1. HK, US and
// unknown markets: no limit, exits allowed on the fill day.
MarketRules market_rules(std::string_view code, std::string_view name, std::string_view market);

// Bars a holding period text stands for, or nullopt when it names no duration.
// "10个交易日", "5日", "3天", "3-5天" (upper bound: 5), "1-2周" (weeks are 5 bars: 10),
// "1个月" (21 bars), "5 days", "2w"; full-width digits and "~"/"至"/"到" ranges are accepted.
// "无", "" and texts without a number give nullopt.
std::optional<int> holding_period_bars(std::string_view text);

}  // namespace backtest
