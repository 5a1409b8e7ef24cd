#pragma once
// Report pages on disk, beside the Markdown copies in the report root:
//   <root>/<date>/<code>_<client>.html   one per stored stock report
//   <root>/<date>/brief-<market>.html    one per market brief
//   <root>/index.html                    rewritten after each page
// Pages are replaced atomically; the index is rebuilt under a file lock, so processes
// writing at once never lose each other's entries.

#include <filesystem>
#include <optional>
#include <vector>

#include "candlex/bar_table.hpp"
#include "zorvane/report/html/brief_page.hpp"
#include "zorvane/report/html/stock_page.hpp"
#include "zorvane/report/report_records.hpp"

namespace zorvane::html {

std::filesystem::path stock_page_path(const std::filesystem::path& root,
                                      const report::StockReport& report);
std::filesystem::path brief_page_path(const std::filesystem::path& root,
                                      const report::SumoraReport& brief);

// Writes the stock report's page and rebuilds the index; returns the page's path. Colours
// follow the report's market and ZORVANE_CHART_COLORS. Throws std::invalid_argument for a
// date, code or client type unusable in a path (as report storage does) or a bad colour
// setting, std::runtime_error when a file cannot be written.
std::filesystem::path write_stock_page(
    const std::filesystem::path& root, const report::StockReport& report,
    const candlex::BarTable& daily, const std::optional<DecisionVerdict>& verdict = std::nullopt);

// Writes the brief's page and rebuilds the index; returns the page's path.
std::filesystem::path write_brief_page(const std::filesystem::path& root,
                                       const report::SumoraReport& brief,
                                       const std::string& core_table,
                                       const std::vector<IndexChart>& indices);

// True when the brief's page exists and was made from this very brief text and model (a
// cached brief handed over again needs no new page).
bool brief_page_current(const std::filesystem::path& root, const report::SumoraReport& brief);

// Rebuilds <root>/index.html from the pages now under the root; returns its path.
std::filesystem::path write_index_page(const std::filesystem::path& root);

// Writes a page to `path` atomically. When the page lands in a report root or in one of its
// day folders (a folder where the index has been written, known by its lock file), that
// index is rebuilt so it links the page (a failure there is a warning). Throws
// std::runtime_error when the page cannot be written.
void write_page_file(const std::filesystem::path& path, const std::string& html);

}  // namespace zorvane::html
