#pragma once
// Technical indicator columns added in place to a bar table, one value per bar, NaN while the
// indicator's window is not yet full.

#include "candlex/bar_table.hpp"

namespace candlex::technical {

// "EMA_5", "EMA_10", "EMA_20", "EMA_60", "EMA_120" (alpha 2/(n+1), seeded with the first close).
void set_ema(BarTable& df);
// "MACD", "MACD_signal", "MACD_hist" (12, 26, 9).
void set_macd(BarTable& df);
// "RSI" for `period`, plus "RSI_6", "RSI_12", "RSI_24" (Wilder smoothing).
void set_rsi(BarTable& df, int period = 12);
// "upper_band", "middle_band", "lower_band" (20, 2; population standard deviation).
void set_boll(BarTable& df);
// "Volume_MA", "Volume_Ratio", "ATR", "Volatility".
void set_volume(BarTable& df);
// "K", "D", "J" (KDJ 9, 3, 3).
void set_kdj(BarTable& df);
// "OBV".
void set_obv(BarTable& df);
// "MFI" (14).
void set_mfi(BarTable& df);
// "ADX" (14, Wilder).
void set_adx(BarTable& df);
// "SAR" (Parabolic SAR 0.02 / 0.2).
void set_sar(BarTable& df);
// "VWMA" (20).
void set_vwma(BarTable& df);
// Every column above.
void set_all(BarTable& df);

}  // namespace candlex::technical
