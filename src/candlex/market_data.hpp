#pragma once
// The market-data source: daily bars, trading-day end dates and security names.
//
// Bars come from the data center at $CANDLEX_CENTER (daily/<code>.csv, names.csv) or, when
// that variable is unset, from the built-in synthetic sample market.
//
// Codes: "sh.600519", "sz.000001", "bj.430047", "600519.SH", bare six-digit A-share codes,
// exchange fund codes such as "510050", "hk.00700", "us.AAPL", and index identifiers such as
// "sh.000001", "sz.399001", "hk.HSI", "us.SPX".

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "candlex/bar_table.hpp"

namespace candlex {

// Daily bars of `code` (any spelling of candlex/codes.hpp) from `start_date` to `end_date`
// inclusive (texts "YYYY-MM-DD"). Without a start date, the 400 calendar days up to the end
// date (up to today when the end date is later); without an end date, up to today. Empty
// when there is no data for the code. Throws std::invalid_argument for a date text that is
// not a date, a start after the end, or an unusable code; std::runtime_error naming the file
// (and line) for a malformed CSV, one that is not UTF-8, or one that is not a regular file.
// Bars with a zero or negative price are left out (see csv_reader.hpp).
BarTable get_any_ohlc(std::string_view code, std::optional<std::string> start_date = std::nullopt,
                      std::optional<std::string> end_date = std::nullopt);

// The same bars for scans that read each of thousands of files once: only the end of the
// file that holds the window is read, and nothing is kept in the process-wide cache, so
// memory follows the window rather than the histories. Rows before the window are not read,
// so damage there goes unnoticed (get_any_ohlc reports it). The sample market is served as
// by get_any_ohlc.
BarTable get_any_ohlc_uncached(std::string_view code,
                               std::optional<std::string> start_date = std::nullopt,
                               std::optional<std::string> end_date = std::nullopt);

// The last `bars` closes of `code` over [start_date, end_date], oldest first, read as
// get_any_ohlc_uncached reads (for sparklines); empty when there are none or they cannot be
// read.
std::vector<double> recent_closes(std::string_view code, const std::string& start_date,
                                  const std::string& end_date, std::size_t bars);

// Start of the standard bar window: five years before today, "YYYY-MM-DD".
std::string get_default_start_date();
// Start of the standard bar window ending on `end_date` ("YYYY-MM-DD"): five years before it,
// so an analysis of a past day sees as much history as one of today. Throws
// std::invalid_argument naming the text when it is not a date.
std::string get_default_start_date(std::string_view end_date);

// Trading days after which the last bar counts as stale.
inline constexpr int kStaleTradingDays = 5;

// The last bar date of `bars` when more than kStaleTradingDays trading days of the code's
// market (A when the code names none) lie after it up to `as_of`, else nullopt (also for empty
// bars). Logs a warning naming the code and its last bar date when it returns a date.
std::optional<Day> warn_if_stale(std::string_view code, const BarTable& bars, Day as_of);

// The effective end date for a market ("A" by default; "ETF", "HK" and "US" too, in any
// case): the same day when it is a trading day whose close has passed, else the last earlier
// such day; a day after the market's today counts as today. Trading days and close times are
// those of candlex/calendar.hpp. Throws std::invalid_argument naming the text when it is not
// a "YYYY-MM-DD" date, or naming the market when it is unknown.
std::string normalize_market_end_date(std::string_view date, std::string_view market = "A");
// As above, with the current time given (tests pin it).
std::string normalize_market_end_date(std::string_view date, std::string_view market,
                                      std::chrono::system_clock::time_point now);

// Display name of a security or index: names.csv of the data center, else the built-in
// index and ETF names (in the sample market, its own names); empty when unknown.
std::string get_name_from_code(std::string_view code);

}  // namespace candlex
