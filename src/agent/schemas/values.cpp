#include "agent/schemas/values.hpp"

#include <unicode/uchar.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "zorvane/utils/text.hpp"

namespace schemas::detail {

namespace {

using zorvane::utils::bool_text;
using zorvane::utils::float_text;
using zorvane::utils::quoted_text;

constexpr int kMaxReprDepth = 32;

bool equals_lower(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Copies the digits of text[i..] into `out`, allowing single underscores between digits.
// Returns the number of digits copied, or -1 when an underscore is misplaced.
int take_digits(std::string_view text, std::size_t& i, std::string& out) {
  int count = 0;
  while (i < text.size()) {
    if (is_digit(text[i])) {
      out += text[i++];
      ++count;
    } else if (text[i] == '_' && count > 0 && i + 1 < text.size() && is_digit(text[i + 1])) {
      ++i;
    } else {
      break;
    }
  }
  return count;
}

// Magnitude class of a decimal number that does not fit a double: true when it is huge,
// false when it is tiny. `digits` is the mantissa without its point (at `point`), `exponent`
// its decimal exponent.
bool is_huge(const std::string& mantissa, std::size_t point, long long exponent) {
  std::size_t first = mantissa.find_first_not_of('0');
  if (first == std::string::npos) return false;
  // Value is about 10^(point - first - 1 + exponent).
  return static_cast<long long>(point) - static_cast<long long>(first) - 1 + exponent >= 0;
}

void append_repr(std::string& out, const rapidjson::Value& v, int depth) {
  switch (v.GetType()) {
    case rapidjson::kNullType:
      out += "None";
      return;
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      out += bool_text(v.GetBool());
      return;
    case rapidjson::kStringType:
      out += quoted_text(std::string_view(v.GetString(), v.GetStringLength()));
      return;
    case rapidjson::kNumberType:
      if (v.IsInt64())
        out += std::to_string(v.GetInt64());
      else if (v.IsUint64())
        out += std::to_string(v.GetUint64());
      else
        out += float_text(v.GetDouble());
      return;
    case rapidjson::kArrayType: {
      if (depth >= kMaxReprDepth) {
        out += "[...]";
        return;
      }
      out += '[';
      bool first = true;
      for (const auto& item : v.GetArray()) {
        if (!first) out += ", ";
        first = false;
        append_repr(out, item, depth + 1);
      }
      out += ']';
      return;
    }
    case rapidjson::kObjectType: {
      if (depth >= kMaxReprDepth) {
        out += "{...}";
        return;
      }
      out += '{';
      bool first = true;
      for (const auto& m : v.GetObject()) {
        if (!first) out += ", ";
        first = false;
        append_repr(out, m.name, depth + 1);
        out += ": ";
        append_repr(out, m.value, depth + 1);
      }
      out += '}';
      return;
    }
  }
}

}  // namespace

const rapidjson::Value* find_field(const rapidjson::Value& object, std::string_view name) {
  if (!object.IsObject()) return nullptr;
  const rapidjson::Value* found = nullptr;
  for (const auto& m : object.GetObject()) {
    if (std::string_view(m.name.GetString(), m.name.GetStringLength()) == name) found = &m.value;
  }
  return found;
}

bool is_white_space(char32_t cp) {
  if (cp <= 0x20) return cp == 0x20 || (cp >= 0x09 && cp <= 0x0D) || (cp >= 0x1C && cp <= 0x1F);
  if (cp < 0x85) return false;
  return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) ||
         cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

std::size_t white_space_before(std::string_view s, std::size_t end) {
  // A well-formed sequence ending at `end` is unique, so trying each length is safe.
  for (std::size_t len = 1; len <= 3 && len <= end; ++len) {
    char32_t cp = 0;
    if (decode_utf8(s, end - len, cp) == len) return is_white_space(cp) ? len : 0;
  }
  return 0;
}

std::string_view strip_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    char32_t cp = 0;
    std::size_t len = decode_utf8(text, begin, cp);
    if (len == 0 || !is_white_space(cp)) break;
    begin += len;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t len = white_space_before(text, end);
    if (len == 0) break;
    end -= len;
  }
  return text.substr(begin, end - begin);
}

std::optional<double> parse_float_text(std::string_view text) {
  std::string_view t = strip_white_space(text);
  if (t.empty()) return std::nullopt;
  // Decimal digits of any script ("１３９.５") read as their ASCII counterparts.
  std::string ascii;
  if (std::any_of(t.begin(), t.end(),
                  [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
    ascii.reserve(t.size());
    for (std::size_t i = 0; i < t.size();) {
      char32_t cp = 0;
      const std::size_t len = decode_utf8(t, i, cp);
      if (len == 0) return std::nullopt;
      if (cp >= 0x80 && u_charType(static_cast<UChar32>(cp)) == U_DECIMAL_DIGIT_NUMBER) {
        ascii += static_cast<char>('0' + u_charDigitValue(static_cast<UChar32>(cp)));
      } else {
        ascii.append(t.substr(i, len));
      }
      i += len;
    }
    t = ascii;
  }
  bool negative = false;
  std::size_t i = 0;
  if (t[0] == '+' || t[0] == '-') {
    negative = t[0] == '-';
    i = 1;
  }
  std::string_view body = t.substr(i);
  double sign = negative ? -1.0 : 1.0;
  if (equals_lower(body, "inf") || equals_lower(body, "infinity"))
    return sign * std::numeric_limits<double>::infinity();
  if (equals_lower(body, "nan")) return std::numeric_limits<double>::quiet_NaN();

  // Rebuild a plain decimal text (no underscores) that from_chars reads exactly.
  std::string mantissa;
  int int_digits = take_digits(t, i, mantissa);
  std::size_t point = mantissa.size();
  int frac_digits = 0;
  if (i < t.size() && t[i] == '.') {
    ++i;
    if (i < t.size() && t[i] == '_') return std::nullopt;
    frac_digits = take_digits(t, i, mantissa);
  }
  if (int_digits + frac_digits == 0) return std::nullopt;
  std::string exponent;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) exponent += t[i++];
    if (take_digits(t, i, exponent) == 0) return std::nullopt;
  }
  if (i != t.size()) return std::nullopt;

  std::string plain = mantissa.substr(0, point) + "." + mantissa.substr(point);
  if (!exponent.empty()) plain += "e" + exponent;
  double value = 0.0;
  auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (ec == std::errc::result_out_of_range) {
    long long exp = 0;
    // Clamp: only the sign of the magnitude class matters once out of range.
    std::string_view digits = exponent;
    bool exp_negative = !digits.empty() && digits[0] == '-';
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
    for (char c : digits) exp = std::min<long long>(exp * 10 + (c - '0'), 1'000'000'000LL);
    if (exp_negative) exp = -exp;
    value = is_huge(mantissa, point, exp) ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc() || end != plain.data() + plain.size()) {
    return std::nullopt;
  }
  return sign * value;
}

bool is_truthy(const rapidjson::Value& value) {
  switch (value.GetType()) {
    case rapidjson::kNullType:
    case rapidjson::kFalseType:
      return false;
    case rapidjson::kTrueType:
      return true;
    case rapidjson::kStringType:
      return value.GetStringLength() > 0;
    case rapidjson::kArrayType:
      return !value.Empty();
    case rapidjson::kObjectType:
      return value.MemberCount() > 0;
    case rapidjson::kNumberType:
      if (value.IsInt64()) return value.GetInt64() != 0;
      if (value.IsUint64()) return value.GetUint64() != 0;
      return value.GetDouble() != 0.0;
  }
  return true;
}

std::string value_repr(const rapidjson::Value& value) {
  std::string out;
  append_repr(out, value, 0);
  return out;
}

std::string_view kind_name(const rapidjson::Value& value) {
  switch (value.GetType()) {
    case rapidjson::kNullType:
      return "null";
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      return "bool";
    case rapidjson::kStringType:
      return "text";
    case rapidjson::kArrayType:
      return "list";
    case rapidjson::kObjectType:
      return "object";
    case rapidjson::kNumberType:
      return "number";
  }
  return "value";
}

std::string set_repr(std::span<const std::string_view> members) {
  std::string out = "{";
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i) out += ", ";
    out += quoted_text(members[i]);
  }
  out += '}';
  return out;
}

std::pair<std::string, zorvane::utils::LogArg> repr_arg(std::string_view format,
                                                        const rapidjson::Value& value) {
  if (value.IsString())
    return {std::string(format),
            zorvane::utils::LogArg(std::string(value.GetString(), value.GetStringLength()))};
  std::string plain(format);
  if (auto at = plain.find("%r"); at != std::string::npos) plain[at + 1] = 's';
  return {std::move(plain), zorvane::utils::LogArg(value_repr(value))};
}

}  // namespace schemas::detail
