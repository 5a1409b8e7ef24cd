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

#include "candlex/bar_table.hpp"

namespace candlex {

// Daily bars of `code` from `start_date` to `end_date` inclusive (texts "YYYY-MM-DD").
// Without a start date, the 400 calendar days up to the end date; without an end date, up to
// today. Empty when there is no data for the code. Throws std::invalid_argument for a date
// text that is not a date, std::runtime_error naming file and line for a malformed CSV.
BarTable get_any_ohlc(std::string_view code, std::optional<std::string> start_date = std::nullopt,
                      std::optional<std::string> end_date = std::nullopt);

// Start of the standard bar window: five years before today, "YYYY-MM-DD".
std::string get_default_start_date();

// The effective end date for the A, HK and ETF markets (market "A" by default: the Shanghai
// calendar and its 15:00 close): the same day when it is a trading day that has closed,
// else the last earlier trading day. Throws std::invalid_argument for text that is not a
// "YYYY-MM-DD" date.
std::string normalize_market_end_date(std::string_view date, std::string_view market = "A");
// As above, with the current time given (tests pin it).
std::string normalize_market_end_date(std::string_view date, std::string_view market,
                                      std::chrono::system_clock::time_point now);

// Display name of a security or index; empty when unknown.
std::string get_name_from_code(std::string_view code);

}  // namespace candlex
