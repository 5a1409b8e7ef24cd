#pragma once
// Internal to the pattern scan: candlestick patterns completed at a given bar. Sizes are
// measured in the bar's size unit (ATR, see size_unit), so the rules scale with the stock.

#include <cstddef>

#include "morvik/pattern_series.hpp"

namespace morvik::pattern {

enum class Reversal { none, hammer, piercing_line, bullish_engulfing, morning_star };

// "锤子线", "刺透形态", "看涨吞没", "启明星"; "" for none.
const char* reversal_name(Reversal kind);

// Confirmation strength used by the scoring: 1.0 for engulfing and morning star, 0.75 for
// hammer and piercing line, 0 for none.
double reversal_strength(Reversal kind);

// The strongest bullish reversal pattern completed at bar t:
//   hammer            after a decline (close[t-1] below close[t-6]): lower shadow >= 2 bodies,
//                     upper shadow <= a quarter of the range, range >= 0.8 unit;
//   piercing line     bar t-1 bearish with a body >= 0.6 unit; bar t opens below that close
//                     and closes above the middle of that body, but below its open;
//   bullish engulfing after a decline: bar t-1 bearish, bar t bullish with a body >= 0.5 unit
//                     that covers bar t-1's body;
//   morning star      bar t-2 bearish with a body >= 0.6 unit; bar t-1 a small body (at most
//                     half of it) whose top stays near or below that close (within a tenth of
//                     the body); bar t bullish, body >= half of bar t-2's, closing above the
//                     middle of bar t-2's body.
Reversal reversal_at(const Series& s, std::size_t t);

// The mirror image of the morning star completed at bar t (a top warning): bar t-2 bullish
// with a body >= 0.6 unit; bar t-1 a small body whose bottom stays near or above that close;
// bar t bearish, body >= half of bar t-2's, closing below the middle of bar t-2's body.
bool evening_star_at(const Series& s, std::size_t t);

}  // namespace morvik::pattern
