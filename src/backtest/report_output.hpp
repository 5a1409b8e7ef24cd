#pragma once
// The backtest's outputs: a readable table, or the per-decision rows and the aggregates as
// JSON or CSV.

#include <ostream>
#include <string>
#include <vector>

#include "backtest/aggregates.hpp"
#include "backtest/decision_source.hpp"
#include "backtest/evaluation.hpp"

namespace backtest {

struct BacktestReport {
  EvalSettings settings;
  LoadedDecisions counts;  // its decisions are not read here, only the counts
  std::vector<DecisionResult> results;
  Aggregates aggregates;
};

// Aggregate tables for people, widths aligned for CJK text; `details` adds one line per
// decision.
void write_table(std::ostream& out, const BacktestReport& report, bool details = false);

// {"settings", "counts", "decisions": [...], "aggregates": {...}}; absent and non-finite
// numbers are null.
void write_json(std::ostream& out, const BacktestReport& report);

// The per-decision rows under a header, a blank line, then the aggregate rows (one per
// dimension and group) under their own header.
void write_csv(std::ostream& out, const BacktestReport& report);

// The lines heading the table: decisions by status, reports left out, the rules applied.
std::vector<std::string> count_lines(const BacktestReport& report);

// Figures as the table shows them, "—" when missing: a fraction as a percentage with one
// decimal ("55.0%"), a number with `decimals` ("∞" for plus infinity), a percentage with two
// decimals and its sign ("+1.25%").
std::string fraction_text(double fraction);
std::string number_text(double v, int decimals);
std::string signed_pct_text(double v);

// Terminal columns a UTF-8 text takes (CJK and full-width forms take two).
std::size_t display_width(std::string_view text);

}  // namespace backtest
