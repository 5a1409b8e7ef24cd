#pragma once
// The index of the report root: every report page under <root>/<YYYY-MM-DD>/, newest day
// first, with the decision's action (or the page's kind) as a badge; then the table pages
// written straight into the root (a scan or backtest written there with --out).

#include <filesystem>
#include <string>

namespace zorvane::html {

// The index page's HTML for the pages now under `root` (read from their zv- meta entries;
// files that are not report pages are left out). Within a day, the most recently written
// page comes first.
std::string index_page_html(const std::filesystem::path& root);

}  // namespace zorvane::html
