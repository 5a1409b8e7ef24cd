#pragma once
// Pattern pre-screen and scan of one stock's daily bars.
//
//   rapidjson::Document r = morvik::pre_screen_and_scan(bars, "sh.600519", "all", 3);
//
// The scan is a pure function of its arguments: deterministic, no I/O, no shared state, safe on
// any thread. It never reads the future: every value uses bars up to the last row only, and
// all indicators are causal. Indicators are always computed afresh with candlex::technical
// from the prices and volume, on a private copy: indicator columns the caller's table carries
// are ignored and the caller's table is not modified.
//
// Arguments
//   df         daily bars, oldest first, with "close" and "volume"; "open", "high", "low"
//              default to the close when absent.
//   symbol     the stock code, echoed in the result.
//   mode       "all" (every strategy type) or "trend" (only 趋势跟随 is recognised; anything else
//              is 空仓等待). Other texts throw std::invalid_argument.
//   min_score  the pre-screen passes only when total_score >= min_score.
//   options    a JSON object; recognised keys (others throw std::invalid_argument naming them):
//                "market_bias"          text 偏多 / 震荡 / 偏空 / 避险, picking the tier 强势档 /
//                                       中性档 / 弱势档 / 弱势档. Without it the scan uses the
//                                       stricter of the strong and neutral tiers.
//                "benchmark_return_20d" number, the benchmark's 20-day return in percent; rs_20d
//                                       is then the stock's return minus this.
//                "index_atr_ratio"      number, the market index's ATR over its 60-day mean; the
//                                       volatility regime uses it instead of the stock's own.
//
// Tiers (ADX minimum for trend following, whipsaw cap and max stop in ATR, min reward/risk,
// position cap in percent, environment points):
//   强势档 25 / 2.0 / 1.5 / 1.5 / 50 / 1.0     中性档 22 / 1.8 / 1.8 / 1.8 / 30 / 0.5
//   弱势档 28 / 1.5 / 1.2 / 2.0 / 15 / 0.0     未定档 (unknown) 25 / 1.8 / 1.5 / 1.8 / 30 / 0.5
//
// Strategy types, first match wins ("trend" mode stops after the first):
//   趋势跟随  EMA10 > EMA20 > EMA60 with EMA20 rising over 3 bars; ADX above the tier minimum;
//            price >= VWMA x 0.98 with a positive VWMA slope (channel, EMA5 >= EMA10), or
//            >= VWMA x 0.95 and >= EMA20 - 0.5 ATR (pullback, EMA5 < EMA10); (close - EMA20)
//            / ATR within the tier's whipsaw cap, unless ADX > 30 outside the weak tier and
//            |close - EMA5| <= 1 ATR (the squeeze exemption).
//            A trend that fails only the whipsaw cap is still reported as 趋势跟随 but does
//            not pass the pre-screen (wait for a pullback).
//   底部反转  60-day close percentile <= 0.35; a reversal candle (hammer, bullish engulfing,
//            piercing line or morning star) completed on one of the last 2 bars; momentum
//            turning (MACD golden cross within 3 bars, i.e. the histogram turning positive;
//            the histogram rising 2 bars in a row while negative; or RSI turning up after
//            touching 30 within 5 bars); the reversal bar's volume >= the average volume of
//            the 5 bars before it. A reversal on the bar before the last counts only while the
//            last close holds above its low.
//   均线压缩  (max - min of EMA5/10/20) / EMA20 < 2%; |VWMA - EMA20| / EMA20 <= 1%;
//            ATR <= 1.05 x its lowest value of the last 20 bars.
//   区间震荡  ADX < 20; close inside the Bollinger bands; close within the previous 20 bars'
//            closing range widened by 0.25 ATR (no breakout); 20-bar high/low range at most 20%
//            of the middle band.
//   等待突破  60-day close percentile <= 0.35 with a reversal candle or turning momentum but
//            not every bottom confirmation: a base that still needs its breakout.
//   空仓等待  none of the above (also: fewer than 30 bars, a non-positive close, or the last
//            3 closes identical - suspected suspension).
//
// total_score (0 to 10, two decimals) = pattern strength of the recognised type (0-5)
//   + signal confluence (0.4 per signal, at most 2) + volume quality (0-1.5: up-day volume
//   above down-day volume over 10 bars 1.0, OBV at its 20-bar high 0.5) + environment (tier
//   points, 0-1) + regime (low_vol +0.5 for 均线压缩 / 等待突破 / 趋势跟随, high_vol -0.5 for
//   区间震荡 / 底部反转) - 0.75 per risk flag that counts against the type. 空仓等待 scores 0.
//   Pattern strength rewards what makes one setup better than another, not the recognition
//   conditions themselves:
//     趋势跟随  (ADX - tier minimum) / 15 up to 1; ADX rising 0.5; full EMA5>10>20>60 order 1
//              (0.5 for the core only); price above a rising VWMA 0.5; weekly trend up 1 (flat
//              or unknown 0.5); entry near EMA20: 1 within 0.5 ATR falling to 0 at the cap.
//     底部反转  1, +0.5 when the 120-day close percentile <= 0.40; candle 0.75-1; momentum 1 for
//              a golden cross, 0.75 otherwise; volume 1 from 1.5x, 0.75 from 1x the 5-bar
//              average; VWMA slope turning positive 0.3. 等待突破 the same without volume.
//     均线压缩  1.5 x (1 - spread / 2%); 1 x (1 - VWMA gap / 1%); ATR below its 60-bar mean, 1
//              at 30% below; volume ratio < 0.7 on 3 consecutive bars of the last 5 1; close
//              above EMA60 0.5.
//     区间震荡  (20 - ADX) / 5 up to 1; 1.5 x (1 - position of the close in the 20-bar range);
//              RSI within 35-65 0.5; band width >= 4% of the middle band 1; at least 2 closes
//              within 0.5 ATR of both the 20-bar low and high 1.
//   Flags that describe a decline (高潮量, 放量不涨, 回撤过深, 回撤过长, 放量下跌, RS绝对弱势) are
//   what a bottom follows from: for 底部反转 / 等待突破 only 黄昏星 counts; for 区间震荡 / 均线压缩
//   all but 回撤过深 and 回撤过长 count; for 趋势跟随 all count.
// pre_screen_passed = a type other than 空仓等待, all gates passed, total_score >= min_score.
// urgency: HIGH when passed with total_score >= 7 and the trigger completed on the last bar
//   (a new 20-bar closing high for 趋势跟随, the reversal candle for 底部反转); MEDIUM when
//   passed otherwise; LOW when not passed.
//
// Result members, in this order:
//   "symbol", "mode", "as_of" (last bar date), "bars", "pre_screen_passed", "total_score",
//   "strategy_type", "urgency",
//   "pre_screen": {"strategy_hint", "passed", "min_score", "reasons": [text...],
//                  "checks": {"data", "trend_following", "bottom_reversal", "ma_compression",
//                             "range"}: each {"matched", "conditions": {name: bool}}},
//   "score_breakdown": {"pattern", "confluence", "volume", "environment", "regime", "risk"},
//   "price_context": {"close", "support" (min of 20-bar low and EMA20), "resistance" (max of
//                     20-bar high and upper band), "low_5d" (lowest close of 5 bars),
//                     "low_20d", "high_20d", "ema20", "upper_band", "vwma", "atr"},
//   "classic_pivot_points", "fibonacci_pivot_points": {"P", "R1", "R2", "R3", "S1", "S2",
//                     "S3"} from the high, low and close of the week before the last bar's
//                     week (null when there is no such week),
//   "trend_structure": {"ema_order" ("bullish" / "bearish" / "mixed"), "ema": {EMA_5 ...
//                     EMA_60}, "adx", "adx_slope" (ADX change over 3 bars), "adx_direction"
//                     ("rising" / "falling" / "flat"), "vwma", "vwma_slope" ("positive" /
//                     "negative" / "flat", 3-bar change beyond +-0.1%), "vwma_slope_pct",
//                     "dist_ema20_atr", "close_pct_60d", "close_pct_120d" (share of the
//                     window's earlier closes below the last close; null without enough bars),
//                     "weekly_trend" ("up" / "down" / "flat": weekly close against its 10-week
//                     EMA and that EMA's direction; null with fewer than 10 weeks)},
//   "calculated_constraints": {"base_confidence_score" (0 to 4.5), "confidence_breakdown":
//                     {"trend_resonance" 0-1.5, "volume" 0-1, "market_environment" 0-1,
//                     "signal_confluence" 0-1, "risk_penalty" <= 0}, "min_rrr",
//                     "max_stop_dist_atr", "max_position_pct", "tier"}. The components: trend
//                     resonance 0.5 each for a bullish daily EMA order (0.25 for the trend
//                     core only), an up weekly trend (0.25 flat), ADX above the tier minimum
//                     (0.25 from 20); volume = the reversal bar's volume points for bottoms
//                     (1.0 from 1.5x, 0.75 from 1x the 5-bar average), else volume quality /
//                     1.5; environment = tier points, -0.25 in high_vol; confluence 0.25 per
//                     signal; -0.25 per counted risk flag. min_rrr is the tier's (+0.2 in
//                     high_vol), max_stop_dist_atr the tier's stop cap, max_position_pct the
//                     tier's cap x 0.75 in high_vol x 0.8 with any counted risk flag.
//   "risk_flags": [text...] from 高潮量 (volume ratio > 2.5 with a down close or long upper
//                     shadow, last 2 bars), 放量不涨 (volume ratio > 1.3 with a down body, last 2
//                     bars, not already climax), 黄昏星 (evening star completed on the last 2
//                     bars), 回撤过深 (pullback_depth_pct > 15), 回撤过长 (pullback_days > 15),
//                     放量下跌 (pullback_avg_vr > 1.2), RS绝对弱势 (rs_20d < -5),
//   "risk_metrics": {"pullback_depth_pct" (close below the 60-bar high, percent),
//                     "pullback_days" (bars since that high, its latest occurrence),
//                     "pullback_avg_vr" (mean volume ratio since the high) - all three null
//                     unless the close is at least 3% below that high and the high was made
//                     in an uptrend (EMA20 above EMA60 on its bar); "rs_20d" (20-bar return
//                     in percent, less the benchmark's when given)},
//   "market_context": {"vol_regime" ("high_vol" above 1.3, "low_vol" below 0.85, else
//                     "normal_vol"), "atr_ratio_60d", "atr_source" ("stock" / "index"),
//                     "market_bias", "tier"},
//   "signal_confluence": {"score" (number of signals), "signals": [text...]} from 均线多头排列,
//                     MACD金叉, MACD红柱放大, RSI强势区 (50-70), RSI超卖回升, 放量上涨 (volume
//                     ratio >= 1.3 on an up close), 站上VWMA (with a positive slope), OBV新高
//                     (20 bars), 反转K线(<name>), 底背离 (a lower 10-bar closing low than the 30
//                     bars before, with a higher MACD histogram or RSI),
//   "patterns": {"reversal_candle", "reversal_bar", "evening_star"}.
// Values that cannot be computed (too few bars) are null. Prices have 3 decimals, ratios and
// scores 2 or 3.

#include <rapidjson/document.h>

#include <string_view>

#include "candlex/bar_table.hpp"

namespace morvik {

rapidjson::Document pre_screen_and_scan(const candlex::BarTable& df, std::string_view symbol,
                                        std::string_view mode = "all", double min_score = 3,
                                        const rapidjson::Value* options = nullptr);

}  // namespace morvik
