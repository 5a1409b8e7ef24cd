#pragma once
// Table pages (scan results, watchlist summaries, backtests): one sortable table with a
// sparkline per row. Clicking a column header sorts by it (again: the other way); the sort is
// kept in the address (#sort=<column>-asc|desc) so a sorted view can be reloaded or shared.

#include <optional>
#include <string>
#include <vector>

#include "zorvane/report/html/colors.hpp"

namespace zorvane::html {

struct TableCell {
  std::string text;              // shown, escaped
  std::optional<double> number;  // sort key of a numeric cell
  std::string href;              // optional relative link around the text
};

struct TableRow {
  std::vector<TableCell> cells;
  std::vector<double> spark;  // closes for the sparkline; none drawn when empty
};

struct TablePage {
  std::string title;
  std::string subtitle;
  // Headline lines shown above the table (a backtest's aggregates); none when empty.
  std::vector<std::string> summary;
  // The index's badge for the page ("自选股", "回测"); the index says "表格" when empty.
  std::string label;
  std::vector<std::string> columns;
  std::vector<TableRow> rows;
  std::string spark_title = "走势";
  // The sparkline column stands before column `spark_at` (after the last one when past the
  // end): near the name, so a phone shows it without scrolling.
  std::size_t spark_at = 2;
};

std::string table_page_html(const TablePage& page, const ChartColors& colors);

}  // namespace zorvane::html
