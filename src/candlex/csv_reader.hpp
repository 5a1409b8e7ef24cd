#pragma once
// Daily-bar CSV files of the data center.
//
// The header names the columns, matched case-insensitively and with common export aliases:
// date (日期, trade_date), open (开盘), high (最高), low (最低), close (收盘), volume (成交量,
// vol) and the optional amount (成交额). Other columns are ignored. Dates are "YYYY-MM-DD" or
// "YYYYMMDD"; rows may come in any order and are sorted on load. An empty volume or amount
// cell is NaN; prices must be finite numbers.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "candlex/bar_table.hpp"

namespace candlex {

// Parses CSV text. `source` names the file in errors, which read
// "<source>:<line>: <problem>" (line 1 is the header). Throws std::runtime_error for a
// missing required column, an ambiguous header, a short row, a non-numeric price, an
// unparsable or duplicate date.
BarTable parse_bar_csv(std::string_view text, std::string_view source);

// Reads the whole file in one go and parses it (no caching). Throws std::runtime_error
// naming the file when it cannot be read.
BarTable read_bar_csv(const std::filesystem::path& path, std::string_view source);

// The file's bytes; throws std::runtime_error naming `source` on failure.
std::string read_text_file(const std::filesystem::path& path, std::string_view source);

// Splits one CSV line into fields: commas separate, double quotes enclose a field and a
// doubled quote inside one stands for a quote; a trailing '\r' is dropped. Fields that needed
// unquoting are written into `scratch`, which must outlive the returned views.
void split_csv_line(std::string_view line, std::vector<std::string_view>& fields,
                    std::string& scratch);

}  // namespace candlex
