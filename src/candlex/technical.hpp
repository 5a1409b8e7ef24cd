#pragma once
// Technical indicator columns added in place to a bar table, one value per bar (added, or
// replaced when the column exists), NaN while the indicator's window is not yet full.
//
// Inputs: "close" (required unless the table is empty), "high" and "low" (close stands in
// when the table has none), "volume" (volume indicators are all NaN without it). A bar with a
// missing (NaN) input is left out: the indicator runs over the remaining bars, so windows span
// the bars that have data, and the bar left out gets NaN. An empty table gets empty columns.
// A non-empty table without "close" throws std::invalid_argument.

#include "candlex/bar_table.hpp"

namespace candlex::technical {

// Bars per year, for annualising: trading days, and weeks.
inline constexpr int kDailyBarsPerYear = 252;
inline constexpr int kWeeklyBarsPerYear = 52;

// "EMA_5", "EMA_10", "EMA_20", "EMA_60", "EMA_120": alpha 2/(n+1), seeded with the first
// close, so defined from the first bar.
void set_ema(BarTable& df);
// "MACD" = EMA 12 - EMA 26 of close, "MACD_signal" = EMA 9 of MACD, "MACD_hist" = MACD -
// signal (EMAs as in set_ema; defined from the first bar).
void set_macd(BarTable& df);
// "RSI" for `period`, plus "RSI_6", "RSI_12", "RSI_24": Wilder's RSI, the average gain and
// loss seeded with the plain mean of the first n changes; first value at bar n. 100 when no
// close fell over the averaging, 50 when none moved. Throws std::invalid_argument when
// period < 1.
void set_rsi(BarTable& df, int period = 12);
// "upper_band", "middle_band", "lower_band": 20-bar mean of close +- 2 population standard
// deviations; first value at bar 19.
void set_boll(BarTable& df);
// "Volume_MA": mean volume of the last 5 bars (first value at bar 4).
// "Volume_Ratio": volume over the mean volume of the 5 bars before it (first value at bar 5;
// NaN when those bars traded nothing).
// "ATR": 14-bar average true range, Wilder smoothing seeded with the mean of the first 14
// true ranges (bars 1-14); first value at bar 14.
// "Volatility": sample standard deviation of the last 20 returns (close over previous close,
// minus 1), annualised with sqrt(bars_per_year) (kDailyBarsPerYear for daily bars,
// kWeeklyBarsPerYear for weekly ones), in percent (25.0 means 25 %); first value at bar 20.
void set_volume(BarTable& df, int bars_per_year = kDailyBarsPerYear);
// "K", "D", "J" (KDJ 9, 3, 3): RSV = (close - lowest low) / (highest high - lowest low) * 100
// over 9 bars (50 when the range is zero), K = 2/3 K + 1/3 RSV, D = 2/3 D + 1/3 K, both
// starting from 50, J = 3K - 2D; first value at bar 8.
void set_kdj(BarTable& df);
// "OBV": on-balance volume starting at the first bar's volume; unchanged on an unchanged close.
void set_obv(BarTable& df);
// "MFI" (14): 100 * rising money flow / total money flow over the last 14 typical-price
// changes (typical price (high + low + close) / 3, flow typical price * volume); first value
// at bar 14; 50 when no money flowed.
void set_mfi(BarTable& df);
// "ADX" (14, Wilder): +DM, -DM and true range summed over bars 1-14, then smoothed by
// S - S/14 + x; DX = 100 |DI+ - DI-| / (DI+ + DI-); the first ADX (bar 27) is the mean of the
// first 14 DX values, later ones (ADX * 13 + DX) / 14.
void set_adx(BarTable& df);
// "SAR" (Parabolic SAR, acceleration 0.02 up to 0.2): no value at bar 0; the first trend is up
// when close rose from bar 0 to bar 1 (SAR starts at bar 0's low) and down otherwise. The SAR
// never enters the last two bars' range; a bar touching it reverses the trend and takes the
// prior extreme point as its SAR.
void set_sar(BarTable& df);
// "VWMA" (20): sum(close * volume) / sum(volume) over the last 20 bars; first value at bar 19;
// NaN when the window traded nothing.
void set_vwma(BarTable& df);
// Every column above (RSI for period 12; volatility annualised with `bars_per_year`).
void set_all(BarTable& df, int bars_per_year = kDailyBarsPerYear);

}  // namespace candlex::technical
