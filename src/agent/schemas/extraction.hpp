#pragma once
// Finding the decision JSON object in a model's reply, cleaning and parsing it, and accepting it
// only when it passes the decision checks.

#include <rapidjson/document.h>

#include <optional>
#include <string>
#include <string_view>

namespace schemas {

// The last balanced top-level {...} block of `raw_text` that contains "action" (the word
// between two double quotes), or nullopt. Braces inside JSON strings do not count, and a
// backslash inside a string escapes the next character. Double quotes flip the string state
// wherever they stand, prose included. A closing brace with no open block is ignored, so a
// stray "}" in the prose does not hide the objects after it. Linear time, no recursion.
std::optional<std::string> scan_json_block(std::string_view raw_text);

// The decision map of a model reply, or nullopt. The candidate is the content of the first
// ```json fence, else scan_json_block's block; characters other than printable ones, line
// feed, carriage return and tab are removed; the text is parsed as JSON (NaN, Infinity and
// -Infinity accepted; numbers read exactly, integers that fit 64 bits kept as integers,
// numbers beyond the double range as infinities, a lone surrogate escape as U+FFFD; with
// duplicate keys the last value wins, at the first key's place) and
// must be an object holding "action" and "direction" that passes validate_decision_enums and
// validate_decision_price_chain. Price fields come back normalised. Rejections are logged as
// the checks describe; nothing a model can write makes this throw.
std::optional<rapidjson::Document> extract_decision_json(std::string_view raw_content);

namespace detail {

// The captured group of the first match of the fence pattern
//     ```json\s*\n(.*?)\n?\s*```      (dot matches line breaks, \s is Unicode white space)
// or nullopt. A hand-written scan equivalent to a leftmost, backtracking regex search: the
// group starts after the last line feed of the white space that follows "```json" and ends
// where the white space before the next "```" begins. Linear time and constant stack, where
// a backtracking regex engine recurses per character and can overflow on long replies.
std::optional<std::string_view> find_json_fence(std::string_view text);

// `text` without the characters that are neither printable nor line feed, carriage return or
// tab. Printable: not in the Unicode categories Cc, Cf, Cs, Co, Cn, Zs, Zl, Zp, except the
// ASCII space. Ill-formed UTF-8 bytes are removed as well.
std::string keep_printable(std::string_view text);

}  // namespace detail

}  // namespace schemas
