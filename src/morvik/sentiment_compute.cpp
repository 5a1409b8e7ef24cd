#include "morvik/sentiment_compute.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace morvik {

namespace {

using candlex::Day;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

enum Factor { kBreadth, kMomentum, kTurnover, kVolatility, kPositioning, kFactorCount };
constexpr std::array<const char*, kFactorCount> kFactorCodes = {"breadth", "momentum", "turnover",
                                                                "volatility", "positioning"};

// Period key: the day itself (D) or the week index, weeks starting on Monday (W).
long period_key(Day d, bool weekly) {
  long n = d.time_since_epoch().count();
  if (!weekly) return n;
  n -= 4;  // 1970-01-05 is a Monday
  return n >= 0 ? n / 7 : (n - 6) / 7;
}

const std::vector<double>* column_or_null(const candlex::BarTable& t, std::string_view name) {
  return t.has(name) ? &t.col(name) : nullptr;
}

// One ETF's bars of the horizon, as plain arrays.
struct Series {
  std::vector<long> keys;
  std::vector<Day> dates;
  std::vector<double> close, high, low, volume;
};

Series make_series(const candlex::BarTable& bars, bool weekly) {
  Series s;
  s.dates = bars.dates();
  const auto n = s.dates.size();
  s.keys.reserve(n);
  for (auto d : s.dates) s.keys.push_back(period_key(d, weekly));
  const auto* close = column_or_null(bars, "close");
  if (!close) throw std::invalid_argument("情绪温度计: 行情缺少 close 列");
  s.close = *close;
  const auto* high = column_or_null(bars, "high");
  const auto* low = column_or_null(bars, "low");
  const auto* volume = column_or_null(bars, "volume");
  s.high = high ? *high : s.close;
  s.low = low ? *low : s.close;
  s.volume = volume ? *volume : std::vector<double>(n, kNaN);
  return s;
}

bool finite(double v) {
  return std::isfinite(v);
}

// The five per-bar metrics of bar i (NaN where undefined).
std::array<double, kFactorCount> bar_metrics(const Series& s, std::size_t i,
                                             const SentimentParams& p) {
  std::array<double, kFactorCount> m;
  m.fill(kNaN);
  const auto w = p.window;
  const double c = s.close[i];
  if (!finite(c)) return m;

  if (i + 1 >= w) {
    double sum = 0.0, vsum = 0.0;
    bool ok = true, vok = true;
    for (std::size_t k = i + 1 - w; k <= i; ++k) {
      ok = ok && finite(s.close[k]);
      vok = vok && finite(s.volume[k]) && s.volume[k] >= 0.0;
      sum += s.close[k];
      vsum += s.volume[k];
    }
    if (ok) m[kBreadth] = c > sum / static_cast<double>(w) ? 1.0 : 0.0;
    if (vok && vsum > 0.0) m[kTurnover] = s.volume[i] / (vsum / static_cast<double>(w));
  }
  if (i >= w) {
    const double base = s.close[i - w];
    if (finite(base) && base > 0.0) m[kMomentum] = c / base - 1.0;
    std::array<double, 64> small{};
    std::vector<double> big;
    double* r = small.data();
    if (w > small.size()) {
      big.resize(w);
      r = big.data();
    }
    bool ok = true;
    double mean = 0.0;
    for (std::size_t k = 0; k < w && ok; ++k) {
      const double a = s.close[i - w + k], b = s.close[i - w + k + 1];
      ok = finite(a) && finite(b) && a > 0.0 && b > 0.0;
      if (ok) {
        r[k] = std::log(b / a);
        mean += r[k];
      }
    }
    if (ok) {
      mean /= static_cast<double>(w);
      double ss = 0.0;
      for (std::size_t k = 0; k < w; ++k) ss += (r[k] - mean) * (r[k] - mean);
      m[kVolatility] = std::sqrt(ss / static_cast<double>(w));
    }
  }
  if (i + 1 >= p.range_window) {
    double hi = -std::numeric_limits<double>::infinity();
    double lo = std::numeric_limits<double>::infinity();
    bool ok = true;
    for (std::size_t k = i + 1 - p.range_window; k <= i && ok; ++k) {
      const double h = finite(s.high[k]) ? s.high[k] : s.close[k];
      const double l = finite(s.low[k]) ? s.low[k] : s.close[k];
      ok = finite(h) && finite(l);
      hi = std::max({hi, h, l});
      lo = std::min({lo, h, l});
    }
    if (ok) {
      hi = std::max(hi, c);
      lo = std::min(lo, c);
      m[kPositioning] = hi > lo ? (c - lo) / (hi - lo) : 0.5;
    }
  }
  return m;
}

double median_of(std::vector<double>& v) {
  const auto n = v.size();
  const auto mid = v.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(v.begin(), mid, v.end());
  const double upper = *mid;
  if (n % 2 == 1) return upper;
  const double lower = *std::max_element(v.begin(), mid);
  return (lower + upper) / 2.0;
}

// Mid-rank percentile of `value` among the finite entries of `history`; NaN when there are
// fewer than `min_count` of them.
double mid_rank_percentile(const std::vector<double>& history, double value,
                           std::size_t min_count) {
  if (!std::isfinite(value)) return kNaN;
  std::size_t count = 0, below = 0, equal = 0;
  for (double h : history) {
    if (!std::isfinite(h)) continue;
    ++count;
    if (h < value) ++below;
    if (h == value) ++equal;
  }
  if (count == 0 || count < min_count) return kNaN;
  return (static_cast<double>(below) + 0.5 * static_cast<double>(equal)) /
         static_cast<double>(count);
}

}  // namespace

std::string normalize_sentiment_freq(std::string_view freq) {
  auto f = zorvane::utils::to_upper(zorvane::utils::trim(freq));
  if (f != "D" && f != "W") {
    throw std::invalid_argument("情绪温度计: 不支持的周期 " + zorvane::utils::quoted_text(freq) +
                                "（可选 D 或 W）");
  }
  return f;
}

SentimentParams sentiment_params(std::string_view freq) {
  SentimentParams p;
  p.history = normalize_sentiment_freq(freq) == "W" ? 104 : 250;
  return p;
}

std::string sentiment_state(double t) {
  if (std::isnan(t)) throw std::invalid_argument("情绪温度计: 温度不是数值");
  if (t <= 15.0) return "ICE_COLD";
  if (t <= 35.0) return "COLD";
  if (t < 65.0) return "NEUTRAL";
  if (t < 85.0) return "HOT";
  return "OVERHEAT";
}

rapidjson::Document compute_sentiment_from_bars(const std::vector<EtfBars>& etfs,
                                                std::size_t n_universe, std::string_view freq,
                                                Day as_of) {
  const std::string f = normalize_sentiment_freq(freq);
  const bool weekly = f == "W";
  const SentimentParams p = sentiment_params(f);
  const std::string as_of_text = zorvane::utils::iso_date(as_of);

  std::vector<Series> series;
  series.reserve(etfs.size());
  for (const auto& e : etfs) {
    auto bars = e.daily.until(as_of);
    if (bars.empty()) continue;
    series.push_back(make_series(weekly ? candlex::to_weekly(bars) : bars, weekly));
  }
  if (series.empty()) {
    throw std::runtime_error("情绪温度计: ETF 池在 " + as_of_text + " 及之前没有任何行情");
  }

  // Calendar: periods with enough closes.
  const std::size_t n_data = series.size();
  const std::size_t min_members = std::min(n_data, std::max<std::size_t>(3, (n_data + 3) / 4));
  std::vector<std::pair<long, Day>> counted;  // (key, date) of every close
  for (const auto& s : series) {
    for (std::size_t i = 0; i < s.keys.size(); ++i) {
      if (finite(s.close[i])) counted.emplace_back(s.keys[i], s.dates[i]);
    }
  }
  std::sort(counted.begin(), counted.end());
  std::vector<long> calendar;
  std::vector<Day> period_date;  // newest bar date of each period
  for (std::size_t a = 0; a < counted.size();) {
    std::size_t b = a;
    while (b < counted.size() && counted[b].first == counted[a].first) ++b;
    if (b - a >= min_members) {
      calendar.push_back(counted[a].first);
      period_date.push_back(counted[b - 1].second);
    }
    a = b;
  }
  if (calendar.empty()) {
    throw std::runtime_error("情绪温度计: ETF 样本不足，无法形成截面（截至 " + as_of_text + "）");
  }

  // Only the last history + lag periods are ranked; earlier bars serve as look-back only.
  const std::size_t n_periods = calendar.size();
  const std::size_t span = std::min(n_periods, p.history + p.direction_lag);
  const std::size_t first = n_periods - span;
  const long first_key = calendar[first];

  // Cross-sectional buckets per factor and period.
  std::vector<std::array<std::vector<double>, kFactorCount>> buckets(span);
  std::size_t n_etf = 0, n_ready = 0;
  const long last_key = calendar.back();
  for (const auto& s : series) {
    const auto start = static_cast<std::size_t>(
        std::lower_bound(s.keys.begin(), s.keys.end(), first_key) - s.keys.begin());
    std::size_t t = first;
    for (std::size_t i = start; i < s.keys.size(); ++i) {
      while (t < n_periods && calendar[t] < s.keys[i]) ++t;
      if (t == n_periods) break;
      if (calendar[t] != s.keys[i]) continue;  // a thin period left out of the calendar
      const auto m = bar_metrics(s, i, p);
      auto& bucket = buckets[t - first];
      for (int k = 0; k < kFactorCount; ++k) {
        if (finite(m[k])) bucket[k].push_back(m[k]);
      }
      if (s.keys[i] == last_key && finite(s.close[i])) {
        ++n_etf;
        if (i + 1 >= p.range_window) ++n_ready;
      }
    }
  }

  std::array<std::vector<double>, kFactorCount> factor;
  for (auto& v : factor) v.assign(span, kNaN);
  for (std::size_t t = 0; t < span; ++t) {
    for (int k = 0; k < kFactorCount; ++k) {
      auto& values = buckets[t][k];
      if (values.size() < min_members) continue;
      if (k == kBreadth) {
        double sum = 0.0;
        for (double v : values) sum += v;
        factor[k][t] = sum / static_cast<double>(values.size());
      } else {
        factor[k][t] = median_of(values);
      }
    }
  }

  const std::size_t min_history = std::max<std::size_t>(10, p.history / 10);
  // Percentiles of the period at offset t (0-based within the span) against its trailing
  // history, and the temperature they give.
  auto percentiles_at = [&](std::size_t t) {
    std::array<double, kFactorCount> pct;
    const std::size_t from = t + 1 >= p.history ? t + 1 - p.history : 0;
    for (int k = 0; k < kFactorCount; ++k) {
      std::vector<double> window(factor[k].begin() + static_cast<std::ptrdiff_t>(from),
                                 factor[k].begin() + static_cast<std::ptrdiff_t>(t + 1));
      pct[k] = mid_rank_percentile(window, factor[k][t], min_history);
    }
    return pct;
  };
  auto temperature_of = [](const std::array<double, kFactorCount>& pct) {
    double sum = 0.0;
    int n = 0;
    for (int k = 0; k < kFactorCount; ++k) {
      if (!finite(pct[k])) continue;
      sum += k == kVolatility ? 1.0 - pct[k] : pct[k];
      ++n;
    }
    return n ? zorvane::utils::round_to(100.0 * sum / n, 2) : kNaN;
  };

  const std::size_t last = span - 1;
  const auto pct = percentiles_at(last);
  const double temperature = temperature_of(pct);
  if (!finite(temperature)) {
    throw std::runtime_error("情绪温度计: 历史数据不足，无法计算 " + f + " 线温度（截至 " +
                             as_of_text + "）");
  }
  double change = kNaN;
  if (last >= p.direction_lag) {
    const double earlier = temperature_of(percentiles_at(last - p.direction_lag));
    if (finite(earlier)) change = zorvane::utils::round_to(temperature - earlier, 2);
  }
  std::string direction = "flat";
  if (finite(change) && change > p.direction_threshold) direction = "warming";
  if (finite(change) && change < -p.direction_threshold) direction = "cooling";

  double coverage = 0.0;
  {
    const std::size_t from = last + 1 >= p.history ? last + 1 - p.history : 0;
    for (int k = 0; k < kFactorCount; ++k) {
      std::size_t defined = 0;
      for (std::size_t t = from; t <= last; ++t) defined += finite(factor[k][t]) ? 1 : 0;
      coverage += static_cast<double>(defined) / static_cast<double>(p.history);
    }
    coverage /= static_cast<double>(kFactorCount);
  }
  const double universe = static_cast<double>(std::max(n_universe, series.size()));
  const double confidence = zorvane::utils::round_to(
      std::clamp(static_cast<double>(n_ready) / universe * coverage, 0.0, 1.0), 4);

  rapidjson::Document doc(rapidjson::kObjectType);
  auto& a = doc.GetAllocator();
  using zorvane::utils::json_add;
  json_add(doc, "date", zorvane::utils::iso_date(period_date.back()), a);
  json_add(doc, "freq", f, a);
  json_add(doc, "temperature", temperature, a);
  json_add(doc, "state", sentiment_state(temperature), a);
  json_add(doc, "direction", direction, a);
  if (finite(change)) {
    json_add(doc, "temperature_change", change, a);
  } else {
    json_add(doc, "temperature_change", rapidjson::Value(rapidjson::kNullType), a);
  }
  json_add(doc, "confidence", confidence, a);
  json_add(doc, "n_etf", static_cast<long long>(n_etf), a);
  json_add(doc, "n_universe", static_cast<long long>(n_universe), a);
  rapidjson::Value factors(rapidjson::kObjectType);
  for (int k = 0; k < kFactorCount; ++k) {
    if (finite(pct[k])) json_add(factors, kFactorCodes[k], zorvane::utils::round_to(pct[k], 2), a);
  }
  json_add(doc, "factors", std::move(factors), a);
  return doc;
}

}  // namespace morvik
