#include "morvik/radar_rules.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "candlex/calendar.hpp"
#include "candlex/codes.hpp"
#include "zorvane/utils/text.hpp"

namespace morvik::radar_detail {

namespace {

using candlex::BarTable;
using candlex::Day;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Two decimals, as printed; a value that rounds to zero is +0, never -0.
double shown(double x) {
  const double r = zorvane::utils::round_to(x, 2);
  return r == 0.0 ? 0.0 : r;
}

const char* const kBottom = "底部企稳";
const char* const kFalling = "左侧下跌";
const char* const kHigh = "高位震荡";
const char* const kRising = "右侧上涨";
const char* const kSideways = "横盘整理";

std::vector<double> column_or(const BarTable& df, std::string_view name,
                              const std::vector<double>& fallback) {
  return df.has(name) ? df.col(name) : fallback;
}

std::vector<double> ema(const std::vector<double>& x, int period) {
  std::vector<double> out(x.size());
  const double alpha = 2.0 / (period + 1.0);
  double value = x.empty() ? 0.0 : x[0];
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (i > 0) value += alpha * (x[i] - value);
    out[i] = value;
  }
  return out;
}

// The market whose rule calendar decides whether a week is over.
std::string market_of(std::string_view symbol) {
  try {
    return candlex::calendar_market_of(candlex::normalize_code(symbol));
  } catch (const std::invalid_argument&) {
    return "";
  }
}

struct View {
  const std::vector<double>& open;
  const std::vector<double>& high;
  const std::vector<double>& low;
  const std::vector<double>& close;
  const std::vector<double>& volume;
  const std::vector<double>& amount;
};

double lowest(const std::vector<double>& x, std::ptrdiff_t from, std::ptrdiff_t to) {
  double m = kNaN;
  for (std::ptrdiff_t i = std::max<std::ptrdiff_t>(from, 0); i <= to; ++i) {
    const double v = x[static_cast<std::size_t>(i)];
    if (std::isfinite(v) && !(v >= m)) m = v;
  }
  return m;
}

double highest(const std::vector<double>& x, std::ptrdiff_t from, std::ptrdiff_t to) {
  double m = kNaN;
  for (std::ptrdiff_t i = std::max<std::ptrdiff_t>(from, 0); i <= to; ++i) {
    const double v = x[static_cast<std::size_t>(i)];
    if (std::isfinite(v) && !(v <= m)) m = v;
  }
  return m;
}

class StateRules {
 public:
  StateRules(const View& v, const std::vector<double>& ema5, const std::vector<double>& ema20)
      : v_(v), ema5_(ema5), ema20_(ema20) {}

  double pos(std::ptrdiff_t i) const {
    const double lo = lowest(v_.low, i - 59, i);
    const double hi = highest(v_.high, i - 59, i);
    if (!(hi > lo)) return 0.5;
    return (v_.close[static_cast<std::size_t>(i)] - lo) / (hi - lo);
  }
  double slope20(std::ptrdiff_t i) const { return at(ema20_, i) - at(ema20_, i - 3); }
  double slope5(std::ptrdiff_t i) const { return at(ema5_, i) - at(ema5_, i - 3); }

  bool stable(std::ptrdiff_t i) const {
    const double recent = lowest(v_.low, i - 2, i);
    const double before = lowest(v_.low, i - 12, i - 3);
    return !(recent < before);
  }

  std::string state(std::ptrdiff_t i) const {
    const double c = at(v_.close, i), e5 = at(ema5_, i), e20 = at(ema20_, i);
    const double p = pos(i);
    if (p <= 0.25 && stable(i) && c >= e5) return kBottom;
    if (c < e20 && e5 < e20 && slope20(i) < 0) return kFalling;
    if (p >= 0.75 && slope5(i) <= 0) return kHigh;
    if (c > e20 && e5 > e20 && slope20(i) > 0) return kRising;
    return kSideways;
  }

 private:
  static double at(const std::vector<double>& x, std::ptrdiff_t i) {
    return x[static_cast<std::size_t>(std::max<std::ptrdiff_t>(i, 0))];
  }

  const View& v_;
  const std::vector<double>& ema5_;
  const std::vector<double>& ema20_;
};

double state_points(const std::string& state) {
  if (state == kRising) return 4.0;
  if (state == kBottom) return 3.0;
  if (state == kSideways) return 2.0;
  if (state == kHigh) return 1.5;
  if (state == kFalling) return 0.5;
  return 0.0;
}

}  // namespace

Frequency parse_frequency(std::string_view text) {
  if (text == "daily") return Frequency::daily;
  if (text == "weekly") return Frequency::weekly;
  throw std::invalid_argument("radar frequency must be 'daily' or 'weekly', got '" +
                              std::string(text) + "'");
}

WeeklyMode parse_weekly_mode(const std::optional<std::string>& text) {
  if (!text || *text == "partial") return WeeklyMode::partial;
  if (*text == "strict") return WeeklyMode::strict;
  throw std::invalid_argument("radar weekly_mode must be 'strict' or 'partial', got '" + *text +
                              "'");
}

bool week_complete(Day last, std::string_view market) {
  const int weekday = static_cast<int>(std::chrono::weekday(last).iso_encoding()) - 1;  // Mon 0
  bool known = true;
  try {
    candlex::market_key(market);
  } catch (const std::invalid_argument&) {
    known = false;
  }
  for (int d = weekday + 1; d <= 6; ++d) {
    const Day later = last + std::chrono::days{d - weekday};
    const bool trading = known ? candlex::is_rule_trading_day(market, later) : d <= 4;
    if (trading) return false;
  }
  return true;
}

EvaluatedSeries evaluated_series(const BarTable& df, std::string_view symbol, Frequency frequency,
                                 WeeklyMode mode) {
  EvaluatedSeries out;
  if (df.empty()) return out;
  for (const char* required : {"close", "volume"}) {
    if (!df.has(required))
      throw std::invalid_argument("radar: bars of " + std::string(symbol) + " lack column '" +
                                  required + "'");
  }
  const auto& close = df.col("close");
  const auto& volume = df.col("volume");
  const auto open = column_or(df, "open", close);
  const auto high = column_or(df, "high", close);
  const auto low = column_or(df, "low", close);

  std::vector<Day> dates;
  std::vector<double> o, h, l, c, v, a;
  const std::size_t n = df.size();
  dates.reserve(n);
  for (auto* col : {&o, &h, &l, &c, &v, &a}) col->reserve(n);
  const std::vector<double>* amount = df.has("amount") ? &df.col("amount") : nullptr;
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(close[i])) continue;
    dates.push_back(df.dates()[i]);
    c.push_back(close[i]);
    o.push_back(std::isfinite(open[i]) ? open[i] : close[i]);
    h.push_back(std::isfinite(high[i]) ? high[i] : close[i]);
    l.push_back(std::isfinite(low[i]) ? low[i] : close[i]);
    v.push_back(volume[i]);
    const double amt = amount ? (*amount)[i] : kNaN;
    a.push_back(std::isfinite(amt) ? amt : close[i] * volume[i]);
  }
  BarTable clean(std::move(dates));
  clean.set("open", std::move(o));
  clean.set("high", std::move(h));
  clean.set("low", std::move(l));
  clean.set("close", std::move(c));
  clean.set("volume", std::move(v));
  clean.set("amount", std::move(a));

  if (frequency == Frequency::daily || clean.empty()) {
    out.daily = clean;
    out.bars = std::move(clean);
    return out;
  }
  BarTable weekly = candlex::to_weekly(clean);
  if (mode == WeeklyMode::strict && !weekly.empty() &&
      !week_complete(clean.last_date(), market_of(symbol))) {
    weekly = weekly.slice(0, weekly.size() - 1);
  }
  out.daily = weekly.empty() ? BarTable() : clean.until(weekly.last_date());
  out.bars = std::move(weekly);
  return out;
}

Findings find(const BarTable& bars, const Thresholds& th) {
  Findings f;
  f.bars = bars.size();
  if (bars.empty()) return f;

  const auto& close = bars.col("close");
  const std::vector<double> nan_column(bars.size(), kNaN);
  const auto& volume = bars.has("volume") ? bars.col("volume") : nan_column;
  const auto open = column_or(bars, "open", close);
  const auto high = column_or(bars, "high", close);
  const auto low = column_or(bars, "low", close);
  std::vector<double> amount = column_or(bars, "amount", nan_column);
  for (std::size_t i = 0; i < amount.size(); ++i)
    if (!std::isfinite(amount[i])) amount[i] = close[i] * volume[i];
  const View v{open, high, low, close, volume, amount};

  const std::size_t n = bars.size();
  const std::ptrdiff_t t = static_cast<std::ptrdiff_t>(n) - 1;
  const std::size_t ut = n - 1;
  f.as_of = bars.dates()[ut];
  f.close = close[ut];
  if (n >= 2 && close[ut - 1] != 0.0) f.change_pct = (close[ut] / close[ut - 1] - 1.0) * 100.0;
  {
    double sum = 0.0;
    int count = 0;
    for (std::ptrdiff_t i = std::max<std::ptrdiff_t>(t - 5, 0); i < t; ++i) {
      const double x = volume[static_cast<std::size_t>(i)];
      if (std::isfinite(x)) sum += x, ++count;
    }
    const double mean = count ? sum / count : 0.0;
    if (mean > 0.0 && std::isfinite(volume[ut])) f.vol_ratio = volume[ut] / mean;
  }
  f.amount_ea = std::isfinite(amount[ut]) ? amount[ut] / 1e8 : 0.0;
  // The radar shows these with two decimals; they are kept, and judged, as shown, so a stock
  // shown at "+1.50%" is treated alike whatever binary value lies behind it.
  f.change_pct = shown(f.change_pct);
  f.vol_ratio = shown(f.vol_ratio);
  f.amount_ea = shown(f.amount_ea);
  if (n < kMinBars) return f;

  const auto ema5 = ema(close, 5);
  const auto ema20 = ema(close, 20);
  const StateRules rules(v, ema5, ema20);
  f.curr_state = rules.state(t);
  f.prev_state = rules.state(t - 1);

  const double chg = f.change_pct;
  const bool spike = f.vol_ratio >= th.min_vol_ratio;
  const bool liquid = !th.min_amount_ea || f.amount_ea >= *th.min_amount_ea;
  const double prior_high = highest(close, t - 20, t - 1);
  const double prior_low = lowest(close, t - 20, t - 1);
  const bool breakout = close[ut] > prior_high;
  const bool breakdown = close[ut] < prior_low;
  const double pos = rules.pos(t);

  f.is_vol_abnormal = spike && std::fabs(chg) >= th.min_pct_change && liquid;

  if (spike && chg <= -th.min_pct_change) f.risk_reasons.emplace_back("放量下跌");
  if (breakdown && chg < 0) f.risk_reasons.emplace_back("破位新低");
  if (pos >= 0.8 && spike && close[ut] < open[ut]) f.risk_reasons.emplace_back("高位放量滞涨");
  f.is_risk = !f.risk_reasons.empty();

  const bool was_up = f.prev_state == kRising || f.prev_state == kHigh;
  if (was_up && (f.curr_state == kFalling || f.curr_state == kSideways) && chg < 0) {
    f.signals.emplace_back("趋势转弱");
    f.has_sell_signal = true;
  }
  if (close[ut - 1] >= ema20[ut - 1] && close[ut] < ema20[ut] && spike) {
    f.signals.emplace_back("放量跌破均线");
    f.has_sell_signal = true;
  }
  if (f.curr_state == kRising && !was_up && chg > 0) {
    f.signals.emplace_back("右侧启动");
    f.has_buy_signal = true;
  }
  if (breakout && spike && chg > 0) {
    f.signals.emplace_back("放量突破");
    f.has_buy_signal = true;
  }

  if (liquid && !f.is_risk && !f.has_sell_signal) {
    bool opportunity = f.has_buy_signal;
    if (f.curr_state == kBottom && f.prev_state == kFalling && chg > 0) {
      f.signals.emplace_back("止跌回升");
      opportunity = true;
    }
    if (f.curr_state == kRising && close[ut] <= ema20[ut] * 1.02 && chg >= 0) {
      f.signals.emplace_back("回踩均线");
      opportunity = true;
    }
    f.is_opportunity = opportunity;
  }

  double score = state_points(f.curr_state);
  if (ema5[ut] > ema20[ut] && rules.slope20(t) > 0) score += 1.0;
  if (chg > 0) score += std::min(f.vol_ratio, 3.0) / 3.0 * 2.0;
  score += std::clamp(chg, 0.0, 5.0) / 5.0;
  if (f.has_buy_signal) {
    score += 2.0;
  } else if (f.is_opportunity) {
    score += 1.0;
  }
  if (f.is_risk) score -= 3.0;
  if (f.has_sell_signal) score -= 2.0;
  f.tech_score = std::clamp(score, 0.0, 10.0);
  return f;
}

}  // namespace morvik::radar_detail
