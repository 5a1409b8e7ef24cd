#pragma once
// The watchlist run's summary as a table page beside the reports,
//   <report root>/<date>/watchlist_<HHMMSS>.html
// one row per stock: its code linked to the stock's report page when that page exists, and a
// sparkline of its recent closes.

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "apps/kelvo/watchlist.hpp"

namespace kelvo {

// What a page row shows beside the summary row.
struct PageRowExtras {
  std::string report_href;     // relative link to the stock's report page; none when empty
  std::vector<double> closes;  // oldest first; no sparkline when empty
};

// Recent closes of `code` up to `date`, oldest first; empty when there are none.
using ClosesFn =
    std::function<std::vector<double>(const std::string& code, const std::string& date)>;

// The last 60 daily closes up to `date`, read as scan reads (the window only, nothing kept in
// the process-wide cache); empty when the stock has no bars or they cannot be read.
std::vector<double> recent_closes(const std::string& code, const std::string& date);

// The page of `rows` (`extras` has one entry per row), titled with the run's input date.
std::string watchlist_page_html(const std::vector<WatchlistRow>& rows,
                                const std::vector<PageRowExtras>& extras,
                                const std::string& analysis_time);

// Where the page of a run started at `started` goes: the folder of the latest date the rows
// were analysed for (beside the reports it links), else of the input date.
std::filesystem::path watchlist_page_path(const std::filesystem::path& root,
                                          const std::vector<WatchlistRow>& rows,
                                          const std::string& analysis_time, std::time_t started);

// Writes the page atomically and rebuilds the index; returns the page's path. A row links the
// report page of `client_type` for its code and date when that page exists. Throws
// std::invalid_argument for a date unusable in a path or a bad colour setting,
// std::runtime_error when a file cannot be written.
std::filesystem::path write_watchlist_page(const std::filesystem::path& root,
                                           const std::vector<WatchlistRow>& rows,
                                           const std::string& analysis_time,
                                           const std::string& client_type, std::time_t started,
                                           const ClosesFn& closes = recent_closes);

}  // namespace kelvo
