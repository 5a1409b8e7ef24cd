#pragma once
// The core index table, the close-versus-EMA fact lines and the market verdict of one market
// on one day: the three authoritative inputs of the brief prompt.

#include <functional>
#include <string>
#include <vector>

#include "agent/sumora/market_verdict.hpp"
#include "candlex/bar_table.hpp"

namespace sumora {

struct CoreIndexTable {
  std::string table;  // Markdown table the model copies verbatim
  std::string facts;  // one "- **<index>**：..." line per core index
  MarketVerdict verdict;
};

// An index of a market's catalogue: the code handed to the market-data source and the display
// name shown in the table.
struct CoreIndex {
  std::string code;
  std::string name;
};

// Where the table gets its data (replaceable in tests).
struct CoreIndexSource {
  // The market's index catalogue, in the brief's order; called with the market type as
  // received.
  std::function<std::vector<CoreIndex>(const std::string& market_type)> catalogue;
  // Daily bars of one index up to and including `end_date` ("YYYY-MM-DD").
  std::function<candlex::BarTable(const std::string& code, const std::string& end_date)> bars;
};

// Catalogue from the market utilities, bars from candlex.
CoreIndexSource default_core_index_source();

// Positions of the catalogue used as core indices: A/ETF 0, 2, 3, 4; HK the first two; US the
// first three; any other market the first one (never beyond the catalogue's end, except that
// A/ETF need five entries).
std::vector<std::size_t> core_index_positions(const std::string& market_type,
                                              std::size_t catalogue_size);

// Bars are fetched one index after another. A failure for one index is logged and becomes its
// "数据错误" row; a failing catalogue or a too-short A-share catalogue propagates.
CoreIndexTable _generate_core_index_table(const std::string& market_type,
                                          const std::string& analysis_date);
CoreIndexTable _generate_core_index_table(const std::string& market_type,
                                          const std::string& analysis_date,
                                          const CoreIndexSource& source);

}  // namespace sumora
