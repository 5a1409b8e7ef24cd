#pragma once
// Security codes in their canonical data-center form.
//
//   "600519", "sh600519", "SH.600519", "600519.SH"  -> "sh.600519"
//   "000001", "000001.SZ"                           -> "sz.000001" (a bare 000xxx is a stock)
//   "430047", "920001.BJ"                           -> "bj.430047", "bj.920001"
//   "510050", "sh.510050", "159915.SZ"              -> "510050", "159915" (exchange funds stay
//   bare) "HK.700", "00700.HK"                            -> "hk.00700";  "hk.hsi" -> "hk.HSI"
//   "us.aapl", "AAPL.US"                            -> "us.AAPL"
// Index identifiers keep their exchange prefix: "sh.000001", "sz.399001", "hk.HSI", "us.SPX".

#include <string>
#include <string_view>

namespace candlex {

// Canonical form of `code` (see above). Text that matches none of the forms is returned
// trimmed and unchanged. Throws std::invalid_argument for an empty code or one that could
// escape the data directory (path separators, "..", control characters).
std::string normalize_code(std::string_view code);

// True when `canonical` (a result of normalize_code) has the shape of a security or index
// code: a fund code, "sh."/"sz."/"bj." and six digits, or "hk."/"us." followed by letters and
// digits (US tickers may also hold "." and "-", as in "us.BRK.B").
bool is_security_code(std::string_view canonical);

// True for an exchange fund code: 51, 56, 58, 15 or 16 followed by four digits.
bool is_fund_code(std::string_view digits);

// Market whose trading calendar a canonical code follows: "A" (mainland shares, indices and
// exchange funds), "HK" or "US"; empty when the code has no recognisable market.
std::string calendar_market_of(std::string_view canonical_code);

}  // namespace candlex
