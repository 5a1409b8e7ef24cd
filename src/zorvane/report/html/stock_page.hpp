#pragma once
// The page of one stored stock report: decision card, daily chart with the decision's levels,
// weekly chart, report and summary.

#include <optional>
#include <string>
#include <vector>

#include "candlex/bar_table.hpp"
#include "zorvane/report/html/chart.hpp"
#include "zorvane/report/html/colors.hpp"
#include "zorvane/report/report_records.hpp"

namespace zorvane::html {

// What a trust check said about the decision, shown on the card when known.
struct DecisionVerdict {
  std::string status;                      // "valid", "rejected", "none"
  std::vector<std::string> failed_checks;  // one line per failed check
};

// The trust gate's verdict as stored beside a decision: its status ("valid", "rejected",
// "none") and its check results, a JSON array of {"name", "passed", "severity", "detail"}.
// Failed checks become lines "[critical] decision.current_price: <detail>". None without a
// status; results that are not such an array are ignored.
std::optional<DecisionVerdict> gate_verdict(const std::optional<std::string>& status,
                                            const std::optional<std::string>& checks_json);

// The decision's levels as chart levels: entry range (a band, or a line when both bounds are
// equal or only one is set), stop-loss, targets 1 and 2, support and resistance. Zero, absent
// or non-numeric prices are left out. `decision_json` is the stored decision or none.
std::vector<Level> decision_levels(const std::optional<std::string>& decision_json,
                                   const ChartColors& colors);

// The whole page. `daily` is the stock's daily history up to the analysis date, oldest first
// (the last 120 bars are drawn, the weekly chart is built from it). Model text is escaped.
// Throws std::invalid_argument when the decision is not a JSON object.
std::string stock_page_html(const report::StockReport& report, const candlex::BarTable& daily,
                            const ChartColors& colors,
                            const std::optional<DecisionVerdict>& verdict = std::nullopt);

}  // namespace zorvane::html
