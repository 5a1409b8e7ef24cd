#include "agent/sumora/index_performance.hpp"

#include <cmath>
#include <vector>

#include "zorvane/market/ema.hpp"
#include "zorvane/utils/text.hpp"

namespace sumora {

namespace {

using zorvane::utils::fixed_text;

// "%+.2f": sign always shown.
std::string signed2(double v) {
  auto t = fixed_text(v, 2);
  return t.empty() || t.front() == '-' ? t : "+" + t;
}

// Mean of the non-NaN values; NaN when there are none.
double mean_skipna(const std::vector<double>& values) {
  double sum = 0.0;
  std::size_t n = 0;
  for (double v : values) {
    if (!std::isnan(v)) {
      sum += v;
      ++n;
    }
  }
  return n == 0 ? std::nan("") : sum / static_cast<double>(n);
}

double last_ema(const std::vector<double>& closes, int span) {
  auto ema = zorvane::utils::_ema(closes, span);
  return ema.empty() ? std::nan("") : ema.back();
}

std::string trend_label(double c, double ema5, double ema20, double ema60, bool above20) {
  if (ema5 > ema20 && ema20 > ema60) {
    return above20 ? "EMA5/20/60 多头" : "EMA5/20/60 多头（收盘跌破EMA20）";
  }
  if (ema5 < ema20 && ema20 < ema60) {
    return above20 ? "EMA5/20/60 空头（收盘已站上EMA20）" : "EMA5/20/60 空头";
  }
  return c > ema20 ? "EMA20 支撑" : "EMA20 压制";
}

}  // namespace

IndexPerformance IndexPerformance::insufficient() {
  IndexPerformance p;
  p.pct = "—";
  p.ratio = "—";
  p.trend = "数据不足";
  p.ma_fact = "数据不足";
  return p;
}

IndexPerformance IndexPerformance::error() {
  return IndexPerformance{};
}

std::string _rel(double c, double ema) {
  if (ema == 0.0) return "—";
  return std::string(c >= ema ? "上方" : "下方") + signed2((c - ema) / ema * 100.0) + "%";
}

IndexPerformance _calculate_index_performance(const candlex::BarTable& df) {
  return _calculate_index_performance(&df);
}

IndexPerformance _calculate_index_performance(const candlex::BarTable* df) {
  if (df == nullptr || df->size() < 2) return IndexPerformance::insufficient();
  const auto& close = df->col("close");
  const auto& volume = df->col("volume");
  const std::size_t n = df->size();

  IndexPerformance p;
  p.valid = true;
  const double c = close[n - 1];
  const double prev_close = close[n - 2];
  p.close = c;
  p.pct_val = prev_close == 0.0 ? 0.0 : (c - prev_close) / prev_close * 100.0;

  // Reference volume: up to five bars before the last one.
  const double vol = volume[n - 1];
  std::vector<double> ref(
      volume.begin() + static_cast<std::ptrdiff_t>(n - 1 - std::min<std::size_t>(5, n - 1)),
      volume.end() - 1);
  double vol_ma5 = ref.empty() ? 0.0 : mean_skipna(ref);
  p.ratio_val = vol_ma5 > 0 ? vol / vol_ma5 : 1.0;

  p.ema5 = last_ema(close, 5);
  p.ema20 = last_ema(close, 20);
  p.ema60 = last_ema(close, 60);
  p.ema_bull = p.ema5 > p.ema20 && p.ema20 > p.ema60;
  p.ema_bear = p.ema5 < p.ema20 && p.ema20 < p.ema60;
  const bool above20 = c >= p.ema20;
  p.trend = trend_label(c, p.ema5, p.ema20, p.ema60, above20);

  p.ma_fact = std::string(above20 ? "收盘已站上 EMA20" : "收盘仍在 EMA20 下方") + "。收盘 " +
              fixed_text(c, 2) + "；vs EMA5 " + fixed_text(p.ema5, 2) + "（" + _rel(c, p.ema5) +
              "）、vs EMA20 " + fixed_text(p.ema20, 2) + "（" + _rel(c, p.ema20) + "）、vs EMA60 " +
              fixed_text(p.ema60, 2) + "（" + _rel(c, p.ema60) + "）";

  if (df->has("high") && df->has("low")) {
    const auto& high = df->col("high");
    const auto& low = df->col("low");
    // amplitude[i] = (high - low) / previous close * 100; the first bar has none.
    std::vector<double> amp(n, std::nan(""));
    for (std::size_t i = 1; i < n; ++i) amp[i] = (high[i] - low[i]) / close[i - 1] * 100.0;
    p.amp_today = std::isnan(amp[n - 1]) ? 0.0 : amp[n - 1];
    std::vector<double> history;
    for (std::size_t i = 0; i + 1 < n; ++i) {
      if (!std::isnan(amp[i])) history.push_back(amp[i]);
    }
    if (history.size() > 20) history.erase(history.begin(), history.end() - 20);
    p.amp_avg20 = history.empty() ? 0.0 : mean_skipna(history);
  }

  p.pct = signed2(p.pct_val) + "%";
  p.ratio = fixed_text(p.ratio_val, 2);
  return p;
}

}  // namespace sumora
