#include "zorvane/utils/text.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zorvane::utils {

std::string float_text(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // Shortest round-trip digits in scientific form, then laid out like a repr does.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string sci(buf, res.ptr);
  bool negative = sci[0] == '-';
  if (negative) sci.erase(0, 1);
  auto epos = sci.find('e');
  std::string mantissa = sci.substr(0, epos);
  int exponent = std::atoi(sci.c_str() + epos + 1);
  std::string digits;
  for (char c : mantissa)
    if (c != '.') digits += c;
  std::string out;
  if (exponent < -4 || exponent >= 16) {
    out = digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    char ebuf[16];
    std::snprintf(ebuf, sizeof ebuf, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    out += ebuf;
  } else if (exponent < 0) {
    out = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    auto int_len = static_cast<std::size_t>(exponent + 1);
    if (digits.size() <= int_len) {
      out = digits + std::string(int_len - digits.size(), '0') + ".0";
    } else {
      out = digits.substr(0, int_len) + "." + digits.substr(int_len);
    }
  }
  return negative ? "-" + out : out;
}

std::string fixed_text(double value, int decimals) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  if (decimals < 0) decimals = 0;
  // glibc printf converts the exact binary value and rounds ties to even.
  int n = std::snprintf(nullptr, 0, "%.*f", decimals, value);
  std::string out(static_cast<std::size_t>(n), '\0');
  std::snprintf(out.data(), out.size() + 1, "%.*f", decimals, value);
  return out;
}

double round_to(double value, int ndigits) {
  if (!std::isfinite(value)) return value;
  if (ndigits >= 0) {
    if (ndigits > 300) return value;
    return std::strtod(fixed_text(value, ndigits).c_str(), nullptr);
  }
  double scale = std::pow(10.0, -ndigits);
  double q = value / scale;
  double r = std::nearbyint(q);  // default rounding mode: ties to even
  return r * scale;
}

std::string bool_text(bool value) {
  return value ? "True" : "False";
}

bool is_printable(char32_t cp) {
  if (cp == 0x20) return true;
  auto mask = U_GET_GC_MASK(static_cast<UChar32>(cp));
  return (mask & (U_GC_C_MASK | U_GC_Z_MASK)) == 0;
}

std::string quoted_text(std::string_view text) {
  bool has_single = text.find('\'') != std::string_view::npos;
  bool has_double = text.find('"') != std::string_view::npos;
  char quote = (has_single && !has_double) ? '"' : '\'';
  std::string out(1, quote);
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  int32_t len = static_cast<int32_t>(text.size());
  int32_t i = 0;
  char buf[16];
  while (i < len) {
    int32_t start = i;
    UChar32 c;
    U8_NEXT(s, i, len, c);
    if (c < 0) {
      for (int32_t k = start; k < i; ++k) {
        std::snprintf(buf, sizeof buf, "\\x%02x", s[k]);
        out += buf;
      }
      continue;
    }
    if (c == quote || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(c));
      out += buf;
    } else if (c < 0x80 || is_printable(static_cast<char32_t>(c))) {
      out.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
    } else if (c <= 0xff) {
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(c));
      out += buf;
    } else if (c <= 0xffff) {
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else {
      std::snprintf(buf, sizeof buf, "\\U%08x", static_cast<unsigned>(c));
      out += buf;
    }
  }
  out += quote;
  return out;
}

std::string_view trim(std::string_view text) {
  const char* ws = " \t\n\r\f\v";
  auto b = text.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  auto e = text.find_last_not_of(ws);
  return text.substr(b, e - b + 1);
}

std::string to_upper(std::string_view text) {
  std::string out(text);
  for (auto& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string to_lower(std::string_view text) {
  std::string out(text);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::size_t char_count(std::string_view utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string replace_all(std::string text, std::string_view from, std::string_view to) {
  if (from.empty()) return text;
  std::size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

namespace {

// Longest prefix of text[i..] that could still begin a well-formed sequence (the "maximal
// subpart"), and whether the whole sequence is there. Ranges of the second byte follow the
// Unicode standard's table of well-formed byte sequences.
struct Utf8Scan {
  std::size_t length;
  bool complete;
};

Utf8Scan scan_utf8(std::string_view text, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) return {1, true};
  std::size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return {1, false};
  }
  std::size_t k = 1;
  for (; k < len; ++k) {
    if (i + k >= text.size()) return {k, false};
    const auto b = static_cast<unsigned char>(text[i + k]);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return {k, false};
  }
  return {len, true};
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
  if (i >= text.size()) return 0;
  const auto scan = scan_utf8(text, i);
  return scan.complete ? scan.length : 0;
}

bool is_valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto scan = scan_utf8(text, i);
    if (!scan.complete) return false;
    i += scan.length;
  }
  return true;
}

std::string valid_utf8(std::string_view text) {
  if (is_valid_utf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size();) {
    const auto scan = scan_utf8(text, i);
    if (scan.complete) {
      out.append(text.substr(i, scan.length));
    } else {
      out += "\xEF\xBF\xBD";
    }
    i += scan.length;
  }
  return out;
}

}  // namespace zorvane::utils
