#include "backtest/outcome.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace backtest {

namespace {

bool positive(double v) {
  return std::isfinite(v) && v > 0;
}

// Prices within half a tick plus 0.1% of a limit price count as at the limit: the stored
// (rounded, often forward-adjusted) prices rarely equal the computed limit exactly.
double limit_tolerance(double limit_price) {
  return 0.001 * limit_price + 0.005;
}

class LimitCheck {
 public:
  LimitCheck(const Bars& bars, const MarketRules& rules) : bars_(bars), pct_(rules.limit_pct) {}

  // Opened at the limit-up price and stayed there: no one sold, so no buy order filled.
  bool locked_up(std::size_t i) const {
    if (pct_ <= 0 || i == 0) return false;
    const double up = bars_.close[i - 1] * (1 + pct_);
    const double floor = up - limit_tolerance(up);
    return bars_.open[i] >= floor && bars_.low[i] >= floor;
  }

  // Never left the limit-down price: no one bought, so no sell order filled.
  bool locked_down(std::size_t i) const {
    if (pct_ <= 0 || i == 0) return false;
    const double down = bars_.close[i - 1] * (1 - pct_);
    return bars_.high[i] <= down + limit_tolerance(down);
  }

 private:
  const Bars& bars_;
  double pct_;
};

// Lowest and highest prices seen while the position was certainly held.
struct Excursion {
  double low = kNaN, high = kNaN;
  void see(double lo, double hi) {
    low = std::isnan(low) ? lo : std::min(low, lo);
    high = std::isnan(high) ? hi : std::max(high, hi);
  }
  void see(double price) { see(price, price); }
};

struct Levels {
  double entry_low = 0, entry_high = 0, stop = 0, target_1 = 0, target_2 = 0;
};

Levels scaled_levels(const DecisionPlan& plan, double scale) {
  auto s = [scale](double v) { return positive(v) ? v * scale : 0.0; };
  Levels l{s(plan.entry_low), s(plan.entry_high), s(plan.stop), s(plan.target_1), s(plan.target_2)};
  // A range given by one bound is a single price; reversed bounds are read as a range.
  if (l.entry_low <= 0) l.entry_low = l.entry_high;
  if (l.entry_high <= 0) l.entry_high = l.entry_low;
  if (l.entry_low > l.entry_high) std::swap(l.entry_low, l.entry_high);
  return l;
}

void add_baselines(Outcome& out, const Bars& bars, std::size_t a, const Bars* index) {
  const std::size_t end = a + static_cast<std::size_t>(out.horizon_bars);
  if (end >= bars.size()) return;
  out.forward_return_pct = (bars.close[end] / bars.close[a] - 1) * 100;
  out.baseline_pct = (bars.close[end] / bars.open[a + 1] - 1) * 100;
  if (!index) return;
  auto s = index->first_from(bars.dates[a + 1]);
  auto e = index->last_until(bars.dates[end]);
  if (s && e && *s <= *e) out.index_pct = (index->close[*e] / index->open[*s] - 1) * 100;
}

// Fills the exit part of `out` for a position opened on bar `f`.
void run_position(Outcome& out, const Bars& b, const Levels& lv, const MarketRules& rules,
                  std::size_t f, bool fill_at_open) {
  const LimitCheck limits(b, rules);
  const double fill = out.fill_price;
  const bool partial_mode = lv.target_1 > 0 && lv.target_2 > lv.target_1;
  const double full_target = lv.target_1 > 0 ? lv.target_1 : lv.target_2;
  const ExitReason full_reason = lv.target_1 > 0 ? ExitReason::target_1 : ExitReason::target_2;
  const std::size_t last = f + static_cast<std::size_t>(out.horizon_bars);

  double remaining = 1.0, proceeds = 0.0;
  Excursion seen;
  seen.see(fill);
  std::optional<ExitReason> pending;  // an exit a locked limit-down bar held back

  auto finish = [&](std::size_t i, double price, ExitReason reason) {
    proceeds += remaining * price;
    remaining = 0;
    seen.see(price);
    out.exit_date = b.dates[i];
    out.exit_price = price;
    out.exit_reason = reason;
    out.days_held = static_cast<int>(i - f);
  };

  for (std::size_t i = f; i < b.size(); ++i) {
    const bool fill_bar = i == f;
    // On the fill bar only what follows a fill at the open is known to have happened after it.
    const bool whole_bar_known = !fill_bar || fill_at_open;
    if (fill_bar && rules.t_plus_one) {
      whole_bar_known ? seen.see(b.low[i], b.high[i]) : seen.see(b.close[i]);
      continue;
    }
    if (!fill_bar && limits.locked_down(i)) {
      if (lv.stop > 0 && b.low[i] <= lv.stop) pending = ExitReason::stop;
      if (i >= last && !pending) pending = ExitReason::horizon;
      seen.see(b.low[i], b.high[i]);
      continue;
    }
    if (pending) {
      finish(i, b.open[i], *pending);
      break;
    }
    if (lv.stop > 0 && b.low[i] <= lv.stop) {
      finish(i, whole_bar_known ? std::min(b.open[i], lv.stop) : lv.stop, ExitReason::stop);
      break;
    }
    if (whole_bar_known) {
      if (partial_mode) {
        if (!out.partial_date && b.high[i] >= lv.target_1) {
          const double price = std::max(b.open[i], lv.target_1);
          proceeds += 0.5 * price;
          remaining = 0.5;
          seen.see(price);
          out.partial_date = b.dates[i];
          out.partial_price = price;
        }
        if (out.partial_date && b.high[i] >= lv.target_2) {
          finish(i, std::max(b.open[i], lv.target_2), ExitReason::target_2);
          break;
        }
      } else if (full_target > 0 && b.high[i] >= full_target) {
        finish(i, std::max(b.open[i], full_target), full_reason);
        break;
      }
    }
    if (i >= last) {
      seen.see(b.low[i], b.high[i]);
      finish(i, b.close[i], ExitReason::horizon);
      break;
    }
    whole_bar_known ? seen.see(b.low[i], b.high[i]) : seen.see(b.close[i]);
  }

  if (!out.exit_date) {
    out.status = Status::open;
    return;
  }
  out.status = Status::closed;
  out.return_pct = (proceeds / fill - 1) * 100;
  if (lv.stop > 0 && fill > lv.stop) out.r_multiple = (proceeds - fill) / (fill - lv.stop);
  out.mae_pct = std::min(0.0, (seen.low / fill - 1) * 100);
  out.mfe_pct = std::max(0.0, (seen.high / fill - 1) * 100);
}

}  // namespace

Bars Bars::of(const candlex::BarTable& table, std::string_view code) {
  for (const char* name : {"open", "high", "low", "close"}) {
    if (!table.has(name)) {
      throw std::invalid_argument("行情缺少 " + std::string(name) + " 列: " + std::string(code));
    }
  }
  return {table.dates(), table.col("open"), table.col("high"), table.col("low"),
          table.col("close")};
}

std::optional<std::size_t> Bars::index_of(Day day) const {
  auto it = std::lower_bound(dates.begin(), dates.end(), day);
  if (it == dates.end() || *it != day) return std::nullopt;
  return static_cast<std::size_t>(it - dates.begin());
}

std::optional<std::size_t> Bars::first_from(Day day) const {
  auto it = std::lower_bound(dates.begin(), dates.end(), day);
  if (it == dates.end()) return std::nullopt;
  return static_cast<std::size_t>(it - dates.begin());
}

std::optional<std::size_t> Bars::last_until(Day day) const {
  auto it = std::upper_bound(dates.begin(), dates.end(), day);
  if (it == dates.begin()) return std::nullopt;
  return static_cast<std::size_t>(it - dates.begin()) - 1;
}

std::string_view status_name(Status status) {
  switch (status) {
    case Status::closed:
      return "closed";
    case Status::not_filled:
      return "not_filled";
    case Status::open:
      return "open";
    case Status::unmatched:
      return "unmatched";
  }
  return "";
}

std::string_view exit_reason_name(ExitReason r) {
  switch (r) {
    case ExitReason::none:
      return "";
    case ExitReason::stop:
      return "stop";
    case ExitReason::target_1:
      return "target_1";
    case ExitReason::target_2:
      return "target_2";
    case ExitReason::horizon:
      return "horizon";
  }
  return "";
}

bool is_buy_action(std::string_view action) {
  return action == "强烈买入" || action == "建议买入" || action == "谨慎买入";
}

Outcome evaluate(const DecisionPlan& plan, Day analysis_date, const Bars& bars,
                 const MarketRules& rules, const EvalSettings& settings, const Bars* index) {
  Outcome out;
  out.buy = is_buy_action(plan.action);
  out.horizon_bars =
      std::max(1, settings.horizon.value_or(
                      holding_period_bars(plan.holding_period).value_or(settings.default_horizon)));
  auto at = bars.index_of(analysis_date);
  if (!at || !positive(bars.close[*at])) return out;  // unmatched
  const std::size_t a = *at;
  out.scale = positive(plan.current_price) ? bars.close[a] / plan.current_price : 1.0;

  add_baselines(out, bars, a, index);
  if (!out.buy) {
    out.status = std::isnan(out.forward_return_pct) ? Status::open : Status::closed;
    return out;
  }

  const Levels lv = scaled_levels(plan, out.scale);
  const LimitCheck limits(bars, rules);
  const std::size_t window_end = a + static_cast<std::size_t>(std::max(1, settings.entry_window));
  for (std::size_t i = a + 1; i <= window_end && i < bars.size() && lv.entry_high > 0; ++i) {
    if (limits.locked_up(i)) continue;
    if (bars.low[i] > lv.entry_high || bars.high[i] < lv.entry_low) continue;
    const double open = bars.open[i];
    const bool at_open = open >= lv.entry_low && open <= lv.entry_high;
    out.filled = true;
    out.fill_date = bars.dates[i];
    out.fill_price = at_open ? open : (open > lv.entry_high ? lv.entry_high : lv.entry_low);
    run_position(out, bars, lv, rules, i, at_open);
    return out;
  }
  out.status = window_end < bars.size() ? Status::not_filled : Status::open;
  return out;
}

}  // namespace backtest
