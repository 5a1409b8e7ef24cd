#pragma once
// Text helpers for HTML and SVG output.

#include <string>
#include <string_view>

namespace zorvane::html {

// `text` with &, <, >, " and ' replaced by entities: safe in element content and in quoted
// attribute values.
std::string escape(std::string_view text);

// A relative URL path: bytes other than letters, digits, '/', '-', '.', '_' and '~'
// percent-encoded.
std::string url_path(std::string_view path);

// A coordinate or length for SVG: at most two decimals, no trailing zeros ("12.5", "-3",
// "0"); NaN and infinities become "0" so a bad value can never break the markup.
std::string coord(double value);

// A price for labels: two decimals, or three below 10 where a tick of 0.001 matters (ETFs).
std::string price_text(double value);

}  // namespace zorvane::html
