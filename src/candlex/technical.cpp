#include "candlex/technical.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "candlex/technical_kernels.hpp"

namespace candlex::technical {
namespace {

namespace k = detail;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using Column = std::vector<double>;

// The price and volume columns an indicator reads. High and low fall back to close when the
// table has none; volume is null when absent (volume indicators are then all NaN).
struct Prices {
  const std::vector<double>* close;
  const std::vector<double>* high;
  const std::vector<double>* low;
  const std::vector<double>* volume;
};

Prices prices_of(const BarTable& df) {
  static const std::vector<double> kEmpty;
  auto find = [&](const char* name) { return df.has(name) ? &df.col(name) : nullptr; };
  const std::vector<double>* close = find("close");
  if (!close) {
    if (!df.empty()) throw std::invalid_argument("bar table has no 'close' column");
    close = &kEmpty;
  }
  const auto* high = find("high");
  const auto* low = find("low");
  return {close, high ? high : close, low ? low : close, find("volume")};
}

// A column restricted to the rows an indicator uses: a view of the column itself when every
// row is used (the usual case, no copy), else a compact copy. Neither copyable nor movable,
// since the view may point into the copy.
class Series {
 public:
  Series(const Column& column, const std::vector<std::size_t>* rows) {
    if (!rows) {
      view_ = column;
      return;
    }
    owned_.resize(rows->size());
    for (std::size_t i = 0; i < rows->size(); ++i) owned_[i] = column[(*rows)[i]];
    view_ = owned_;
  }
  Series(const Series&) = delete;
  Series& operator=(const Series&) = delete;

  operator k::In() const { return view_; }

 private:
  Column owned_;
  k::In view_;
};

// The rows whose inputs are all numbers. Kernels run over these rows only, so a missing bar
// neither poisons a recursive indicator for good nor shortens its history; rows left out get
// NaN.
class Rows {
 public:
  Rows(std::size_t size, std::initializer_list<const Column*> inputs) : size_(size) {
    auto finite = [](const Column* c) {
      return std::all_of(c->begin(), c->end(), [](double v) { return std::isfinite(v); });
    };
    dense_ = std::all_of(inputs.begin(), inputs.end(), finite);
    if (dense_) return;
    for (std::size_t i = 0; i < size; ++i) {
      bool ok = true;
      for (const auto* in : inputs) ok = ok && std::isfinite((*in)[i]);
      if (ok) rows_.push_back(i);
    }
  }

  std::size_t count() const { return dense_ ? size_ : rows_.size(); }

  // The column over the rows used. The result views `column`: use it before the table changes.
  Series gather(const Column& column) const { return Series(column, dense_ ? nullptr : &rows_); }

  // Full-length column from values over the rows used, NaN on the rows left out.
  Column scatter(Column compact) const {
    if (dense_) return compact;
    Column out(size_, kNaN);
    for (std::size_t i = 0; i < rows_.size(); ++i) out[rows_[i]] = compact[i];
    return out;
  }

  Column buffer() const { return Column(count()); }

 private:
  std::size_t size_;
  bool dense_ = true;
  std::vector<std::size_t> rows_;
};

void set_all_nan(BarTable& df, std::initializer_list<const char*> names) {
  for (const char* name : names) df.set(name, std::vector<double>(df.size(), kNaN));
}

}  // namespace

void set_ema(BarTable& df) {
  Prices p = prices_of(df);
  Rows rows(df.size(), {p.close});
  auto close = rows.gather(*p.close);
  constexpr int kSpans[] = {5, 10, 20, 60, 120};
  Column out[std::size(kSpans)];
  for (std::size_t s = 0; s < std::size(kSpans); ++s) {
    out[s] = rows.buffer();
    k::ema(close, kSpans[s], out[s]);
  }
  for (std::size_t s = 0; s < std::size(kSpans); ++s)
    df.set("EMA_" + std::to_string(kSpans[s]), rows.scatter(std::move(out[s])));
}

void set_macd(BarTable& df) {
  Prices p = prices_of(df);
  Rows rows(df.size(), {p.close});
  auto close = rows.gather(*p.close);
  auto fast = rows.buffer(), slow = rows.buffer(), signal = rows.buffer();
  k::ema(close, 12, fast);
  k::ema(close, 26, slow);
  auto& macd = fast;
  for (std::size_t i = 0; i < macd.size(); ++i) macd[i] -= slow[i];
  k::ema(macd, 9, signal);
  auto& hist = slow;
  for (std::size_t i = 0; i < hist.size(); ++i) hist[i] = macd[i] - signal[i];
  df.set("MACD", rows.scatter(std::move(macd)));
  df.set("MACD_signal", rows.scatter(std::move(signal)));
  df.set("MACD_hist", rows.scatter(std::move(hist)));
}

void set_rsi(BarTable& df, int period) {
  if (period < 1)
    throw std::invalid_argument("RSI period must be at least 1, got " + std::to_string(period));
  Prices p = prices_of(df);
  Rows rows(df.size(), {p.close});
  auto close = rows.gather(*p.close);
  auto column = [&](int n) {
    auto out = rows.buffer();
    k::rsi(close, n, out);
    return rows.scatter(std::move(out));
  };
  Column rsi6 = column(6), rsi12 = column(12), rsi24 = column(24);
  Column rsi = period == 6 ? rsi6 : period == 12 ? rsi12 : period == 24 ? rsi24 : column(period);
  df.set("RSI", std::move(rsi));
  df.set("RSI_6", std::move(rsi6));
  df.set("RSI_12", std::move(rsi12));
  df.set("RSI_24", std::move(rsi24));
}

void set_boll(BarTable& df) {
  Prices p = prices_of(df);
  Rows rows(df.size(), {p.close});
  auto close = rows.gather(*p.close);
  auto middle = rows.buffer(), upper = rows.buffer(), lower = rows.buffer();
  k::sma(close, 20, middle);
  k::rolling_std(close, 20, 0, upper);
  for (std::size_t i = 0; i < middle.size(); ++i) {
    double width = 2.0 * upper[i];
    upper[i] = middle[i] + width;
    lower[i] = middle[i] - width;
  }
  df.set("upper_band", rows.scatter(std::move(upper)));
  df.set("middle_band", rows.scatter(std::move(middle)));
  df.set("lower_band", rows.scatter(std::move(lower)));
}

void set_volume(BarTable& df, int bars_per_year) {
  // Every result is computed before the first set(): adding a column may move the table's
  // columns and invalidate the input pointers.
  Prices p = prices_of(df);
  std::vector<double> ma(df.size(), kNaN), ratio(df.size(), kNaN);
  if (p.volume) {
    Rows rows(df.size(), {p.volume});
    auto volume = rows.gather(*p.volume);
    auto m = rows.buffer(), r = rows.buffer();
    k::sma(volume, 5, m);
    k::volume_ratio(volume, 5, r);
    ma = rows.scatter(std::move(m));
    ratio = rows.scatter(std::move(r));
  }
  Rows hlc(df.size(), {p.high, p.low, p.close});
  auto atr = hlc.buffer();
  k::atr(hlc.gather(*p.high), hlc.gather(*p.low), hlc.gather(*p.close), 14, atr);
  Rows closes(df.size(), {p.close});
  auto vol = closes.buffer();
  k::volatility(closes.gather(*p.close), 20, vol, bars_per_year);

  df.set("Volume_MA", std::move(ma));
  df.set("Volume_Ratio", std::move(ratio));
  df.set("ATR", hlc.scatter(std::move(atr)));
  df.set("Volatility", closes.scatter(std::move(vol)));
}

void set_kdj(BarTable& df) {
  Prices p = prices_of(df);
  Rows rows(df.size(), {p.high, p.low, p.close});
  auto kk = rows.buffer(), dd = rows.buffer(), jj = rows.buffer();
  k::kdj(rows.gather(*p.high), rows.gather(*p.low), rows.gather(*p.close), 9, 3, 3, kk, dd, jj);
  df.set("K", rows.scatter(std::move(kk)));
  df.set("D", rows.scatter(std::move(dd)));
  df.set("J", rows.scatter(std::move(jj)));
}

void set_obv(BarTable& df) {
  Prices p = prices_of(df);
  if (!p.volume) return set_all_nan(df, {"OBV"});
  Rows rows(df.size(), {p.close, p.volume});
  auto out = rows.buffer();
  k::obv(rows.gather(*p.close), rows.gather(*p.volume), out);
  df.set("OBV", rows.scatter(std::move(out)));
}

void set_mfi(BarTable& df) {
  Prices p = prices_of(df);
  if (!p.volume) return set_all_nan(df, {"MFI"});
  Rows rows(df.size(), {p.high, p.low, p.close, p.volume});
  auto out = rows.buffer();
  k::mfi(rows.gather(*p.high), rows.gather(*p.low), rows.gather(*p.close), rows.gather(*p.volume),
         14, out);
  df.set("MFI", rows.scatter(std::move(out)));
}

void set_adx(BarTable& df) {
  Prices p = prices_of(df);
  Rows rows(df.size(), {p.high, p.low, p.close});
  auto out = rows.buffer();
  k::adx(rows.gather(*p.high), rows.gather(*p.low), rows.gather(*p.close), 14, out);
  df.set("ADX", rows.scatter(std::move(out)));
}

void set_sar(BarTable& df) {
  Prices p = prices_of(df);
  Rows rows(df.size(), {p.high, p.low, p.close});
  auto out = rows.buffer();
  k::sar(rows.gather(*p.high), rows.gather(*p.low), rows.gather(*p.close), 0.02, 0.2, out);
  df.set("SAR", rows.scatter(std::move(out)));
}

void set_vwma(BarTable& df) {
  Prices p = prices_of(df);
  if (!p.volume) return set_all_nan(df, {"VWMA"});
  Rows rows(df.size(), {p.close, p.volume});
  auto out = rows.buffer();
  k::vwma(rows.gather(*p.close), rows.gather(*p.volume), 20, out);
  df.set("VWMA", rows.scatter(std::move(out)));
}

void set_all(BarTable& df, int bars_per_year) {
  set_ema(df);
  set_macd(df);
  set_rsi(df);
  set_boll(df);
  set_volume(df, bars_per_year);
  set_kdj(df);
  set_obv(df);
  set_mfi(df);
  set_adx(df);
  set_sar(df);
  set_vwma(df);
}

}  // namespace candlex::technical
