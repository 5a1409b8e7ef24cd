#pragma once
// Reading loosely typed values of a decision map: field lookup, the float conversion of a text,
// truthiness and the debugging repr used by warning lines. Shared by the checks, the record
// and the extraction; not part of the library's contract.

#include <rapidjson/document.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "zorvane/utils/logger.hpp"

namespace schemas::detail {

// Decodes the UTF-8 code point that starts at s[i] into `cp` and returns its length in bytes,
// or 0 when the byte there does not start a well-formed sequence (overlong forms, surrogates
// and values above U+10FFFF are ill-formed).
inline std::size_t decode_utf8(std::string_view s, std::size_t i, char32_t& cp) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t n = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, cp = b0 & 0x1Fu, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3, cp = b0 & 0x0Fu, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4, cp = b0 & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i < n) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// The member `name` of `object`, or nullptr. With duplicate keys the last one wins, as it does
// when a JSON object is read into a map.
const rapidjson::Value* find_field(const rapidjson::Value& object, std::string_view name);

// True for the white space that a text's number conversion strips and that the fence pattern's
// \s matches: ASCII \t \n \v \f \r, space, U+001C..U+001F, U+0085, U+00A0, U+1680,
// U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
bool is_white_space(char32_t cp);

// Length in bytes of the white-space code point that ends just before s[end], or 0.
std::size_t white_space_before(std::string_view s, std::size_t end);

// `text` without leading and trailing white space (the set above); ill-formed bytes are kept.
std::string_view strip_white_space(std::string_view text);

// The floating number a text stands for: surrounding white space allowed, optional sign,
// decimal digits with optional fraction and exponent (single underscores between digits
// allowed; digits of any script, such as full-width ones, count as decimal digits), or inf /
// infinity / nan in any case. Overflow gives an infinity, underflow a zero.
// nullopt for anything else, including blank text.
std::optional<double> parse_float_text(std::string_view text);

// False for null, false, a zero number, "" and an empty list or object; true otherwise
// (NaN is true).
bool is_truthy(const rapidjson::Value& value);

// Debugging repr of a value: texts quoted ('观望等待'), numbers in their shortest text, True,
// False, None, lists [a, b] and objects {'k': v}. Nesting deeper than 32 levels shows as
// [...] or {...} so a hostile document cannot exhaust the stack.
std::string value_repr(const rapidjson::Value& value);

// Name of a value's kind for error texts: "null", "bool", "number", "text", "list", "object".
std::string_view kind_name(const rapidjson::Value& value);

// A set of texts as {'a', 'b'} in the given order.
std::string set_repr(std::span<const std::string_view> members);

// Prepares a log call whose format shows `value` through its one %r. Texts keep %r so the
// logger quotes them; any other value is rendered by value_repr and passed through %s, so
// that a list or an object is not quoted a second time. Returns the format and the argument.
std::pair<std::string, zorvane::utils::LogArg> repr_arg(std::string_view format,
                                                        const rapidjson::Value& value);

}  // namespace schemas::detail
