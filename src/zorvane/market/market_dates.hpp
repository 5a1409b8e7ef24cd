#pragma once
// End-date normalisation for the US market, and for a market type on its own calendar.

#include <chrono>
#include <string>
#include <string_view>

namespace zorvane::utils {

// The effective end date for the US market: the same day when it is an NYSE trading day
// whose 16:00 America/New_York close has passed, else the last earlier such day (NYSE
// holidays by rule; a data center's us.SPX dates where they cover the day). Throws
// std::invalid_argument naming the text when it is not a "YYYY-MM-DD" date.
std::string normalize_us_market_end_date(std::string_view date);
// As above, with the current time given (tests pin it).
std::string normalize_us_market_end_date(std::string_view date,
                                         std::chrono::system_clock::time_point now);

// The effective end date for a market type as get_market_type names it: "US" on the NYSE
// calendar, "HK" on the Hong Kong one, anything else (A shares, funds, codes of no known
// market) on the Shanghai one. Throws std::invalid_argument as above.
std::string normalize_end_date_for_market(std::string_view date, std::string_view market_type);
// As above, with the current time given (tests pin it).
std::string normalize_end_date_for_market(std::string_view date, std::string_view market_type,
                                          std::chrono::system_clock::time_point now);

}  // namespace zorvane::utils
