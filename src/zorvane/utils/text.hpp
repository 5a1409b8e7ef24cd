#pragma once
// Text forms of numbers, flags and strings shared by every log line, record text and prompt.
// Call sites never hand-roll these: one rule set keeps every printed number identical.

#include <cstdint>
#include <string>
#include <string_view>

namespace zorvane::utils {

// Shortest text that reads back to the same double, with ".0" on integral values and
// exponent form below 1e-4 or from 1e16 on: 0.0, 2.5, 1e-05, 1e+16, nan, inf, -inf.
std::string float_text(double value);

// Rounds the exact binary value of `value` to `ndigits` decimals, ties to even
// (2.675 -> 2.67 because 2.675 is stored below the half; 0.125 -> 0.12; 2.5 -> 2).
// NaN and infinities are returned unchanged. `ndigits` may be negative (tens, hundreds).
double round_to(double value, int ndigits);

// Fixed-point text with `decimals` places of the exact binary value, ties to even,
// as printf "%.Nf" does ("nan"/"inf"/"-inf" for non-finite values).
std::string fixed_text(double value, int decimals);

// "True" / "False".
std::string bool_text(bool value);

// Quoted form of a text as a debugging repr shows it: single quotes unless the text holds a
// single quote and no double quote; backslash, quotes and control characters escaped;
// printable non-ASCII kept as is ('观望等待'). Ill-formed UTF-8 bytes appear as \x escapes.
std::string quoted_text(std::string_view text);

// True when `cp` is a printable code point: space, or not in the Unicode categories C* / Z*.
bool is_printable(char32_t cp);

// Surrounding white space (ASCII) removed.
std::string_view trim(std::string_view text);

// ASCII upper/lower case of a text (other bytes unchanged).
std::string to_upper(std::string_view text);
std::string to_lower(std::string_view text);

// Number of Unicode code points in UTF-8 text (how the system counts "characters").
std::size_t char_count(std::string_view utf8);

// Length of the well-formed UTF-8 sequence that starts at text[i] (1 to 4), or 0 when the bytes
// there are ill-formed (overlong forms, surrogates, values above U+10FFFF, truncation).
std::size_t utf8_sequence_length(std::string_view text, std::size_t i);

// True when `text` is well-formed UTF-8.
bool is_valid_utf8(std::string_view text);

// `text` as well-formed UTF-8: each maximal ill-formed subsequence becomes U+FFFD, as the
// Unicode standard recommends; well-formed text is returned unchanged.
std::string valid_utf8(std::string_view text);

// Replaces every occurrence of `from` in `text` by `to`.
std::string replace_all(std::string text, std::string_view from, std::string_view to);

}  // namespace zorvane::utils
