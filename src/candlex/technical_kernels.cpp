#include "candlex/technical_kernels.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace candlex::technical::detail {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void check_period(int n, const char* what) {
  if (n < 1)
    throw std::invalid_argument(std::string(what) + " period must be at least 1, got " +
                                std::to_string(n));
}

void fill_nan(Out out, std::size_t from, std::size_t to) {
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(from),
            out.begin() + static_cast<std::ptrdiff_t>(std::min(to, out.size())), kNaN);
}

double true_range(double high, double low, double prev_close) {
  return std::max({high - low, std::abs(high - prev_close), std::abs(low - prev_close)});
}

// Sum of the last w values of a sequence, updated by one add and one remove per step. It is
// rebuilt from the window every w steps, so rounding residue left by large values that have
// dropped out cannot linger, and a window holding only zeros sums to exactly 0.
class WindowSum {
 public:
  explicit WindowSum(std::size_t w) : w_(w) {}

  // Takes in value(i) and drops value(i - w); `value` gives the sequence at any index <= i.
  template <class F>
  void step(std::size_t i, F value) {
    double in = value(i);
    nonzero_ += in != 0.0;
    if (i < w_) {
      sum_ += in;
      return;
    }
    double out = value(i - w_);
    nonzero_ -= out != 0.0;
    if (i % w_ == 0) {
      sum_ = 0.0;
      for (std::size_t t = i + 1 - w_; t <= i; ++t) sum_ += value(t);
    } else {
      sum_ += in - out;
    }
  }

  double sum() const { return nonzero_ ? sum_ : 0.0; }
  bool all_zero() const { return nonzero_ == 0; }

 private:
  std::size_t w_;
  double sum_ = 0.0;
  std::size_t nonzero_ = 0;
};

}  // namespace

void ema(In x, int n, Out out) {
  check_period(n, "EMA");
  if (x.empty()) return;
  const double alpha = 2.0 / (n + 1.0);
  double value = x[0];
  out[0] = value;
  for (std::size_t i = 1; i < x.size(); ++i) {
    value += alpha * (x[i] - value);
    out[i] = value;
  }
}

void sma(In x, int n, Out out) {
  check_period(n, "moving average");
  const auto w = static_cast<std::size_t>(n);
  WindowSum sum(w);
  for (std::size_t i = 0; i < x.size(); ++i) {
    sum.step(i, [&](std::size_t t) { return x[t]; });
    out[i] = i + 1 >= w ? sum.sum() / n : kNaN;
  }
}

void rolling_std(In x, int n, int ddof, Out out) {
  check_period(n, "standard deviation");
  if (ddof < 0 || ddof >= n)
    throw std::invalid_argument("standard deviation needs 0 <= ddof < period, got ddof " +
                                std::to_string(ddof) + " for period " + std::to_string(n));
  const auto w = static_cast<std::size_t>(n);
  // Sums of x - shift and its square slide by one add and one remove per bar. Every w bars
  // they are rebuilt around a value of the current window, which bounds both the rounding
  // drift and the cancellation in s2 - s1^2/n to the window's own range.
  double shift = 0.0, s1 = 0.0, s2 = 0.0;
  std::size_t bad = 0;  // non-finite values inside the window
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (i % w == 0) {
      std::size_t lo = i + 1 >= w ? i + 1 - w : 0;
      shift = std::isfinite(x[i]) ? x[i] : 0.0;
      s1 = s2 = 0.0;
      bad = 0;
      for (std::size_t t = lo; t <= i; ++t) {
        if (!std::isfinite(x[t])) {
          ++bad;
          continue;
        }
        double d = x[t] - shift;
        s1 += d;
        s2 += d * d;
      }
    } else {
      if (std::isfinite(x[i])) {
        double d = x[i] - shift;
        s1 += d;
        s2 += d * d;
      } else {
        ++bad;
      }
      if (i >= w) {
        double gone = x[i - w];
        if (std::isfinite(gone)) {
          double d = gone - shift;
          s1 -= d;
          s2 -= d * d;
        } else {
          --bad;
        }
      }
    }
    if (i + 1 < w || bad > 0) {
      out[i] = kNaN;
      continue;
    }
    out[i] = std::sqrt(std::max(s2 - s1 * s1 / n, 0.0) / (n - ddof));
  }
}

void rsi(In close, int n, Out out) {
  check_period(n, "RSI");
  const auto w = static_cast<std::size_t>(n);
  fill_nan(out, 0, w);
  if (close.size() <= w) return;
  auto value = [](double gain, double loss) {
    double total = gain + loss;
    return total > 0.0 ? 100.0 * gain / total : 50.0;
  };
  double gain = 0.0, loss = 0.0;
  for (std::size_t i = 1; i <= w; ++i) {
    double d = close[i] - close[i - 1];
    (d > 0 ? gain : loss) += std::abs(d);
  }
  gain /= n;
  loss /= n;
  out[w] = value(gain, loss);
  const double inv = 1.0 / n;  // multiply: a division would sit on the loop-carried chain
  for (std::size_t i = w + 1; i < close.size(); ++i) {
    double d = close[i] - close[i - 1];
    gain += ((d > 0 ? d : 0.0) - gain) * inv;
    loss += ((d < 0 ? -d : 0.0) - loss) * inv;
    out[i] = value(gain, loss);
  }
}

void atr(In high, In low, In close, int n, Out out) {
  check_period(n, "ATR");
  const auto w = static_cast<std::size_t>(n);
  fill_nan(out, 0, w);
  if (close.size() <= w) return;
  double value = 0.0;
  for (std::size_t i = 1; i <= w; ++i) value += true_range(high[i], low[i], close[i - 1]);
  value /= n;
  out[w] = value;
  const double inv = 1.0 / n;  // multiply: a division would sit on the loop-carried chain
  for (std::size_t i = w + 1; i < close.size(); ++i) {
    value += (true_range(high[i], low[i], close[i - 1]) - value) * inv;
    out[i] = value;
  }
}

void kdj(In high, In low, In close, int n, int m1, int m2, Out k, Out d, Out j) {
  check_period(n, "KDJ");
  check_period(m1, "KDJ K smoothing");
  check_period(m2, "KDJ D smoothing");
  const auto w = static_cast<std::size_t>(n);
  const double k_step = 1.0 / m1, d_step = 1.0 / m2;
  double kv = 50.0, dv = 50.0;
  for (std::size_t i = 0; i < close.size(); ++i) {
    if (i + 1 < w) {
      k[i] = d[i] = j[i] = kNaN;
      continue;
    }
    double hh = high[i], ll = low[i];
    for (std::size_t t = i + 1 - w; t < i; ++t) {
      hh = std::max(hh, high[t]);
      ll = std::min(ll, low[t]);
    }
    double rsv = hh > ll ? 100.0 * (close[i] - ll) / (hh - ll) : 50.0;
    kv += (rsv - kv) * k_step;
    dv += (kv - dv) * d_step;
    k[i] = kv;
    d[i] = dv;
    j[i] = 3.0 * kv - 2.0 * dv;
  }
}

void obv(In close, In volume, Out out) {
  if (close.empty()) return;
  double value = volume[0];
  out[0] = value;
  for (std::size_t i = 1; i < close.size(); ++i) {
    if (close[i] > close[i - 1])
      value += volume[i];
    else if (close[i] < close[i - 1])
      value -= volume[i];
    out[i] = value;
  }
}

void mfi(In high, In low, In close, In volume, int n, Out out) {
  check_period(n, "MFI");
  const auto w = static_cast<std::size_t>(n);
  std::vector<double> typical(close.size());
  for (std::size_t i = 0; i < close.size(); ++i) typical[i] = (high[i] + low[i] + close[i]) / 3.0;
  // Money flow of bar i when its typical price rose (fell) from the bar before; none at bar 0.
  auto rising = [&](std::size_t i) {
    return i > 0 && typical[i] > typical[i - 1] ? typical[i] * volume[i] : 0.0;
  };
  auto falling = [&](std::size_t i) {
    return i > 0 && typical[i] < typical[i - 1] ? typical[i] * volume[i] : 0.0;
  };
  WindowSum pos(w), neg(w);
  for (std::size_t i = 0; i < close.size(); ++i) {
    pos.step(i, rising);
    neg.step(i, falling);
    if (i < w) {
      out[i] = kNaN;
      continue;
    }
    double p = pos.sum(), total = p + neg.sum();
    out[i] = total > 0.0 ? 100.0 * p / total : 50.0;
  }
}

void adx(In high, In low, In close, int n, Out out) {
  check_period(n, "ADX");
  const auto w = static_cast<std::size_t>(n);
  const std::size_t size = close.size();
  const double inv = 1.0 / n;  // multiply: a division would sit on the loop-carried chain
  double tr = 0.0, plus = 0.0, minus = 0.0, adx_value = 0.0;
  for (std::size_t i = 0; i < size; ++i) {
    if (i == 0) {
      out[i] = kNaN;
      continue;
    }
    double up = high[i] - high[i - 1], down = low[i - 1] - low[i];
    double pdm = up > down && up > 0 ? up : 0.0;
    double mdm = down > up && down > 0 ? down : 0.0;
    double t = true_range(high[i], low[i], close[i - 1]);
    if (i <= w) {
      tr += t, plus += pdm, minus += mdm;
    } else {
      tr += t - tr * inv;
      plus += pdm - plus * inv;
      minus += mdm - minus * inv;
    }
    if (i < w) {
      out[i] = kNaN;
      continue;
    }
    // DI+ and DI- share the smoothed true range, so DX needs only the smoothed DM sums.
    double dx =
        plus + minus > 0.0 && tr > 0.0 ? 100.0 * std::abs(plus - minus) / (plus + minus) : 0.0;
    if (i < 2 * w - 1) {
      adx_value += dx;
      out[i] = kNaN;
    } else if (i == 2 * w - 1) {
      adx_value = (adx_value + dx) / n;
      out[i] = adx_value;
    } else {
      adx_value += (dx - adx_value) * inv;
      out[i] = adx_value;
    }
  }
}

void sar(In high, In low, In close, double step, double max_step, Out out) {
  if (!(step > 0.0) || !(max_step >= step))
    throw std::invalid_argument("SAR needs 0 < step <= maximum");
  const std::size_t size = close.size();
  if (size == 0) return;
  out[0] = kNaN;
  if (size < 2) return;
  bool up = close[1] >= close[0];
  double value = up ? low[0] : high[0];  // SAR of the current bar
  double extreme = up ? high[1] : low[1];
  double af = step;
  for (std::size_t i = 1; i < size; ++i) {
    if (up) {
      if (low[i] <= value) {
        up = false;
        value = std::max(extreme, high[i]);
        out[i] = value;
        af = step;
        extreme = low[i];
        value += af * (extreme - value);
        value = std::max({value, high[i], high[i - 1]});
        continue;
      }
      out[i] = value;
      if (high[i] > extreme) {
        extreme = high[i];
        af = std::min(af + step, max_step);
      }
      value += af * (extreme - value);
      value = std::min({value, low[i], low[i - 1]});
    } else {
      if (high[i] >= value) {
        up = true;
        value = std::min(extreme, low[i]);
        out[i] = value;
        af = step;
        extreme = high[i];
        value += af * (extreme - value);
        value = std::min({value, low[i], low[i - 1]});
        continue;
      }
      out[i] = value;
      if (low[i] < extreme) {
        extreme = low[i];
        af = std::min(af + step, max_step);
      }
      value += af * (extreme - value);
      value = std::max({value, high[i], high[i - 1]});
    }
  }
}

void vwma(In close, In volume, int n, Out out) {
  check_period(n, "VWMA");
  const auto w = static_cast<std::size_t>(n);
  WindowSum pv(w), v(w);
  for (std::size_t i = 0; i < close.size(); ++i) {
    pv.step(i, [&](std::size_t t) { return close[t] * volume[t]; });
    v.step(i, [&](std::size_t t) { return volume[t]; });
    out[i] = i + 1 >= w && !v.all_zero() ? pv.sum() / v.sum() : kNaN;
  }
}

void volume_ratio(In volume, int n, Out out) {
  check_period(n, "volume ratio");
  const auto w = static_cast<std::size_t>(n);
  WindowSum before(w);  // the n volumes before the current bar
  for (std::size_t i = 0; i < volume.size(); ++i) {
    out[i] = i >= w && !before.all_zero() ? volume[i] / (before.sum() / n) : kNaN;
    before.step(i, [&](std::size_t t) { return volume[t]; });
  }
}

void volatility(In close, int n, Out out, int bars_per_year) {
  check_period(n, "volatility");
  if (n < 2) throw std::invalid_argument("volatility period must be at least 2");
  const std::size_t size = close.size();
  if (size == 0) return;
  std::vector<double> returns(size - 1);
  for (std::size_t i = 1; i < size; ++i) returns[i - 1] = close[i] / close[i - 1] - 1.0;
  out[0] = kNaN;
  rolling_std(returns, n, 1, out.subspan(1));
  const double scale = std::sqrt(static_cast<double>(bars_per_year)) * 100.0;
  for (double& v : out) v *= scale;
}

}  // namespace candlex::technical::detail
