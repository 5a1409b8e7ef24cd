#pragma once
// Stored decisions: the stock-report rows of a report database, read with a selection.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backtest/outcome.hpp"

namespace backtest {

struct StoredDecision {
  std::int64_t id = 0;  // stock_reports row id
  std::string code;     // canonical code
  std::string name;
  std::string market;         // "A", "ETF", "HK", "US" or "" when unknown
  std::string analysis_date;  // YYYY-MM-DD
  std::string client_type;    // model client type, lower case
  std::string model;
  std::string decision_status;  // "valid", "rejected", "none", or "" when not recorded
  std::string direction, holder_action, confidence;
  DecisionPlan plan;
};

// Which rows to read; unset members select everything.
struct Selection {
  std::optional<std::string> from, to;  // analysis dates, inclusive
  std::optional<std::string> market;    // any case
  std::optional<std::string> code;      // any spelling candlex accepts
  std::optional<std::string> model;     // client type, any case
  bool include_rejected = false;        // keep decisions the trust gate rejected
};

struct LoadedDecisions {
  std::vector<StoredDecision> decisions;  // oldest analysis date first, then code
  std::size_t without_decision = 0;       // selected reports that carry no decision
  std::size_t rejected = 0;               // left out as rejected by the trust gate
  std::size_t unreadable = 0;             // decision text that is not a JSON object
  std::size_t superseded = 0;             // older reports of a (code, date, client) re-analysed
};

// Reads the selected decisions of `<root>/reports.db`. Where a stock was analysed more than
// once for one date and client type, the newest report counts. Throws std::runtime_error
// naming the file when the database is missing or unreadable, std::invalid_argument naming a
// bad selection value.
LoadedDecisions load_decisions(const std::filesystem::path& report_root,
                               const Selection& selection);

// The decision part of a stored row from its JSON text; false when the text is not a JSON
// object. Missing or non-numeric prices read as 0, missing texts as "".
bool read_decision_json(std::string_view json, StoredDecision& into);

}  // namespace backtest
