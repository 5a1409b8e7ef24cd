#pragma once
// Daily-bar CSV files of the data center.
//
// The header names the columns, matched case-insensitively and with common export aliases:
// date (日期, trade_date), open (开盘), high (最高), low (最低), close (收盘), volume (成交量,
// vol) and the optional amount (成交额). Other columns are ignored. Dates are "YYYY-MM-DD" or
// "YYYYMMDD"; rows may come in any order and are sorted on load. An empty volume or amount
// cell is NaN; prices must be finite numbers. Files must be UTF-8 (with or without a
// byte-order mark): a GBK export is named as such rather than misread.
//
// Bars with a zero or negative open, high, low or close (forward-adjusted histories have
// them in their oldest years) are dropped with one warning per file, and the rest is used.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "candlex/bar_table.hpp"

namespace candlex {

// Parses CSV text and drops (with the warning) bars whose prices are not positive. `source`
// names the file in errors, which read "<source>:<line>: <problem>" (line 1 is the header).
// Throws std::runtime_error for text that is not UTF-8, a missing required column, an
// ambiguous header, a short row, a non-numeric price, an unparsable or duplicate date.
BarTable parse_bar_csv(std::string_view text, std::string_view source);

// The parse alone: every row, sorted, and whether the rows came in date order.
struct ParsedBars {
  BarTable table;
  bool in_order = true;           // every row read was dated on or after the one before
  std::optional<Day> first_date;  // of the first data row in the text
  bool reaches_before = false;    // parse_daily_csv_rows met a row dated before `from`
};
ParsedBars parse_daily_csv(std::string_view text, std::string_view source);

// For reading the end of a file: the header line from `header` (the start of the file), the
// data rows from `rows` (complete rows from further on). Rows dated before `from` are checked
// as any row but not kept (duplicates among them go unnoticed). Line numbers in errors are
// not the file's.
ParsedBars parse_daily_csv_rows(std::string_view header, std::string_view rows,
                                std::string_view source, Day from);

// Removes the bars with a zero or negative open, high, low or close; returns their dates.
std::vector<Day> drop_non_positive_bars(BarTable& table);

// The one warning about bars dropped from `source` (how many, first and last date); nothing
// when `dropped` is empty.
void warn_dropped_bars(std::string_view source, const std::vector<Day>& dropped);

// Bytes from the start of `text` through the line break that ends its header (the first
// non-blank line after an optional byte-order mark); npos when there is no such line break.
std::size_t csv_header_end(std::string_view text);

// Reads the whole file in one go and parses it (no caching). Throws std::runtime_error
// naming the file when it cannot be read or is not a regular file.
BarTable read_bar_csv(const std::filesystem::path& path, std::string_view source);

// The file's bytes; throws std::runtime_error naming `source` on failure.
std::string read_text_file(const std::filesystem::path& path, std::string_view source);

// Splits one CSV line into fields: commas separate, double quotes enclose a field and a
// doubled quote inside one stands for a quote; a trailing '\r' is dropped. Fields that needed
// unquoting are written into `scratch`, which must outlive the returned views.
void split_csv_line(std::string_view line, std::vector<std::string_view>& fields,
                    std::string& scratch);

}  // namespace candlex
