#pragma once
// Market type of a security code: "A", "ETF", "HK" or "US".

#include <optional>
#include <string>
#include <string_view>

namespace zorvane::utils {

// "A" for sh./sz./bj. prefixes, .SH/.SZ/.BJ suffixes (either case) and bare six-digit codes;
// among those, exchange fund codes (51, 56, 58, 15 or 16 followed by four digits) and names
// containing "ETF" give "ETF". "hk." gives "HK", "us." gives "US"; anything else nullopt.
std::optional<std::string> get_market_type(std::string_view code, std::string_view stock_name = "");

}  // namespace zorvane::utils
