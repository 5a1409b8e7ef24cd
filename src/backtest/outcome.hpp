#pragma once
// What became of one decision: the outcome rules applied to the bars that followed it.
//
// Buy actions ("强烈买入", "建议买入", "谨慎买入"):
//   - prices are scaled by (close on the analysis date / the decision's current_price), so a
//     decision made on an older forward-adjusted price level meets today's bars;
//   - the order may fill on the entry_window bars after the analysis date: on the first bar
//     that trades inside [entry_low, entry_high], at its open when it opens inside, else at
//     the edge it touched; never on a bar locked at the limit-up price;
//   - afterwards the first of stop, target 1 and target 2 decides, from daily highs and lows;
//     a bar that reaches a stop and a target counts the stop; a bar opening beyond a level
//     exits at its open. Target 1 sells half when target 2 lies above it, else everything;
//     target 2 or the stop sells the rest. Without either within `horizon` bars after the
//     fill, the rest is sold at that bar's close;
//   - T+1 markets never exit on the fill bar. Markets with exits on the fill bar check that
//     bar for the stop always, for targets only when the fill was at its open (otherwise its
//     high may have come before the fill);
//   - a bar locked at the limit-down price allows no exit: a stop or horizon exit that falls
//     on it is made at the open of the next bar that is not locked.
// Other actions: the forward return from the analysis close to the close `horizon` bars later.
// Every decision whose window has passed also gets two baselines over the bars after the
// analysis date up to `horizon`: buying the stock at the next open and holding to that close,
// and the market's main index over the same dates.

#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "backtest/trade_rules.hpp"
#include "candlex/bar_table.hpp"

namespace backtest {

using Day = candlex::Day;
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Daily bars as plain columns viewing a BarTable (which must outlive the view).
struct Bars {
  std::span<const Day> dates;
  std::span<const double> open, high, low, close;

  std::size_t size() const { return dates.size(); }
  // Throws std::invalid_argument naming `code` when a price column is missing.
  static Bars of(const candlex::BarTable& table, std::string_view code);
  // Row of `day`, or nullopt.
  std::optional<std::size_t> index_of(Day day) const;
  // First row on or after / last row on or before `day`, or nullopt.
  std::optional<std::size_t> first_from(Day day) const;
  std::optional<std::size_t> last_until(Day day) const;
};

// The parts of a decision the rules read.
struct DecisionPlan {
  std::string action;
  double current_price = 0;
  double entry_low = 0, entry_high = 0, stop = 0, target_1 = 0, target_2 = 0;
  std::string holding_period;
};

struct EvalSettings {
  int entry_window = 5;        // bars after the analysis date on which an order may fill
  int default_horizon = 20;    // bars, when the holding period names no duration
  std::optional<int> horizon;  // bars for every decision, overriding the holding period
};

// closed: the outcome is final; not_filled: a buy whose entry window passed without a fill;
// open: the bars needed have not happened yet; unmatched: no bar on the analysis date.
enum class Status { closed, not_filled, open, unmatched };
enum class ExitReason { none, stop, target_1, target_2, horizon };

std::string_view status_name(Status status);      // "closed", "not_filled", "open", "unmatched"
std::string_view exit_reason_name(ExitReason r);  // "", "stop", "target_1", "target_2", "horizon"

bool is_buy_action(std::string_view action);

struct Outcome {
  Status status = Status::unmatched;
  bool buy = false;
  int horizon_bars = 0;
  double scale = kNaN;  // factor applied to the decision's prices
  bool filled = false;
  std::optional<Day> fill_date;
  double fill_price = kNaN;
  std::optional<Day> partial_date;  // target 1 reached with target 2 above it: half sold
  double partial_price = kNaN;
  std::optional<Day> exit_date;  // when the (rest of the) position was sold
  double exit_price = kNaN;
  ExitReason exit_reason = ExitReason::none;
  double return_pct = kNaN;  // of the whole position, partial exit included
  double r_multiple = kNaN;  // price gain over the fill-to-stop distance; NaN without a stop
  double mae_pct = kNaN;     // worst low while held, in percent of the fill (<= 0)
  double mfe_pct = kNaN;     // best high while held, in percent of the fill (>= 0)
  int days_held = -1;        // bars from fill to final exit
  double forward_return_pct = kNaN;  // analysis close to the close `horizon` bars later
  double baseline_pct = kNaN;        // next open to that close
  double index_pct = kNaN;           // the main index over the same dates
};

// Evaluates `plan`, made on `analysis_date`, against `bars` of its security. `index` (may be
// null) is the market's main index for the baseline.
Outcome evaluate(const DecisionPlan& plan, Day analysis_date, const Bars& bars,
                 const MarketRules& rules, const EvalSettings& settings,
                 const Bars* index = nullptr);

}  // namespace backtest
