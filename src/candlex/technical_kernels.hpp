#pragma once
// Array kernels behind the indicator setters. Every kernel reads dense, gap-free inputs of one
// length and writes one value per input into its output spans (same length), NaN where the
// indicator is not yet defined. The setters remove bars with missing inputs before calling
// them, so the kernels never see NaN prices.

#include <span>

namespace candlex::technical::detail {

using In = std::span<const double>;
using Out = std::span<double>;

// Exponential average with alpha 2/(n+1), seeded with x[0]; defined from the first value.
void ema(In x, int n, Out out);

// Mean of the last n values; first value at index n-1.
void sma(In x, int n, Out out);

// Standard deviation of the last n values with `ddof` (0 population, 1 sample); first value at
// index n-1. Non-finite inputs make every window that holds them NaN.
void rolling_std(In x, int n, int ddof, Out out);

// Wilder's RSI: average gain and loss seeded with the plain mean of the first n changes,
// then smoothed by (prev*(n-1) + x)/n; first value at index n. 100 when nothing fell in
// the window, 50 when nothing moved at all.
void rsi(In close, int n, Out out);

// Average true range with Wilder smoothing; true range starts at bar 1, the first ATR (at
// index n) is the plain mean of the first n true ranges.
void atr(In high, In low, In close, int n, Out out);

// KDJ: RSV over n bars, K = (m1-1)/m1 K + RSV/m1 and D = (m2-1)/m2 D + K/m2, both seeded with
// 50 at the first full window; J = 3K - 2D. RSV is 50 when the window's high equals its low.
void kdj(In high, In low, In close, int n, int m1, int m2, Out k, Out d, Out j);

// On-balance volume starting at the first bar's volume.
void obv(In close, In volume, Out out);

// Money flow index over n typical-price changes; first value at index n. 100 when no flow
// was negative, 50 when no money flowed at all.
void mfi(In high, In low, In close, In volume, int n, Out out);

// Wilder's ADX: +DM, -DM and true range summed over bars 1..n, then smoothed by
// S - S/n + x; DX from index n; the first ADX (index 2n-1) is the mean of the first n DX
// values, later ones (prev*(n-1) + DX)/n.
void adx(In high, In low, In close, int n, Out out);

// Parabolic SAR with acceleration `step` up to `max_step`. Bar 0 has no value; the first
// trend is up when close[1] >= close[0] (SAR starts at low[0], the extreme point at high[1])
// and down otherwise. A bar whose low reaches the SAR of an up-trend (high for a down-trend)
// reverses it: that bar's SAR becomes the prior extreme point (at least the bar's high,
// resp. at most its low).
void sar(In high, In low, In close, double step, double max_step, Out out);

// Volume-weighted mean of close over n bars; NaN when the window traded no volume.
void vwma(In close, In volume, int n, Out out);

// Volume over the mean volume of the n bars before it; first value at index n; NaN when
// those bars traded nothing.
void volume_ratio(In volume, int n, Out out);

// Sample standard deviation (ddof 1) of the last n simple returns, annualised with
// sqrt(bars_per_year) and expressed in percent; first value at index n.
void volatility(In close, int n, Out out, int bars_per_year = 252);

}  // namespace candlex::technical::detail
