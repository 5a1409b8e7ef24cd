#pragma once
// The scan result as a sortable HTML table with a sparkline of each stock's recent closes.

#include <rapidjson/document.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "apps/scan/scan_output.hpp"
#include "apps/scan/scan_run.hpp"

namespace scan {

// Recent closes per code, oldest first, for the sparklines (codes without bars are absent).
using Closes = std::map<std::string, std::vector<double>>;

// The last `bars` closes of each hit over [start_date, end_date]; unreadable codes are left
// out (their row then has no sparkline).
Closes recent_closes(const std::vector<Hit>& hits, const std::string& start_date,
                     const std::string& end_date, std::size_t bars);

// Radar: one row per record of the three sections, the section named in the first column.
std::string radar_html(const rapidjson::Value& sections, const std::string& frequency,
                       const Summary& summary, const Closes& closes,
                       const std::optional<std::string>& market);
// Selector: one row per passing stock.
std::string selector_html(const std::string& selector, const std::vector<Hit>& passed,
                          const Summary& summary, const Closes& closes,
                          const std::optional<std::string>& market);

}  // namespace scan
