#pragma once
// Evaluation of stored decisions against the bars of the data source.

#include <functional>
#include <string>
#include <vector>

#include "backtest/decision_source.hpp"
#include "backtest/outcome.hpp"
#include "backtest/trade_rules.hpp"
#include "candlex/bar_table.hpp"

namespace backtest {

struct DecisionResult {
  StoredDecision decision;
  MarketRules rules;
  Outcome outcome;
  // Closes over the bars the outcome was judged on: from the analysis date to the exit, else
  // to the horizon (or the last bar); empty when unmatched.
  std::vector<double> span_closes;
};

// Every daily bar of a code (or index); empty when there are none.
using BarLoader = std::function<candlex::BarTable(const std::string& code)>;

// All bars the data source holds for the code. A file that cannot be read is logged (warning,
// naming it) and counts as no bars, so one damaged file leaves the other decisions standing.
candlex::BarTable load_all_bars(const std::string& code);

// Outcomes of `decisions`, in their order. Bars are loaded once per code, and once per market
// for its main index (sh.000001 for A and ETF, hk.HSI, us.SPX).
std::vector<DecisionResult> evaluate_all(const std::vector<StoredDecision>& decisions,
                                         const EvalSettings& settings,
                                         const BarLoader& load = load_all_bars);

}  // namespace backtest
