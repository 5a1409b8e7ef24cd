#include "zorvane/utils/json.hpp"

#include <rapidjson/error/en.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "zorvane/utils/text.hpp"

namespace zorvane::utils {

namespace {

void write_string(std::string& out, std::string_view s, bool ensure_ascii) {
  out += '"';
  char buf[16];
  for (std::size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\b':
        out += "\\b";
        continue;
      case '\f':
        out += "\\f";
        continue;
      default:
        break;
    }
    if (c < 0x20) {
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else if (c < 0x80 || !ensure_ascii) {
      out += static_cast<char>(c);
    } else {
      // Decode one UTF-8 sequence; ill-formed bytes become U+FFFD.
      char32_t cp = 0xFFFD;
      std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (len > 1 && i + len <= s.size()) {
        cp = c & (0xFF >> (len + 1));
        bool ok = true;
        for (std::size_t k = 1; k < len; ++k) {
          auto cc = static_cast<unsigned char>(s[i + k]);
          if ((cc & 0xC0) != 0x80) ok = false;
          cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
          cp = 0xFFFD;
          len = 1;
        }
      } else {
        len = 1;
      }
      i += len - 1;
      if (cp >= 0x10000) {
        char32_t v = cp - 0x10000;
        std::snprintf(buf, sizeof buf, "\\u%04x\\u%04x", static_cast<unsigned>(0xD800 + (v >> 10)),
                      static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
      } else {
        std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
      }
      out += buf;
    }
  }
  out += '"';
}

void newline(std::string& out, int indent, int depth) {
  out += '\n';
  out.append(static_cast<std::size_t>(indent * depth), ' ');
}

struct WriteOptions {
  bool ensure_ascii = false;
  int indent = -1;
  bool strict = false;  // non-finite numbers as null
};

void write_value(std::string& out, const rapidjson::Value& v, const WriteOptions& o, int depth) {
  const bool ensure_ascii = o.ensure_ascii;
  const int indent = o.indent;
  switch (v.GetType()) {
    case rapidjson::kNullType:
      out += "null";
      return;
    case rapidjson::kFalseType:
      out += "false";
      return;
    case rapidjson::kTrueType:
      out += "true";
      return;
    case rapidjson::kStringType:
      write_string(out, std::string_view(v.GetString(), v.GetStringLength()), ensure_ascii);
      return;
    case rapidjson::kNumberType:
      if (v.IsInt64()) {
        out += std::to_string(v.GetInt64());
      } else if (v.IsUint64()) {
        out += std::to_string(v.GetUint64());
      } else {
        double d = v.GetDouble();
        if (o.strict && !std::isfinite(d))
          out += "null";
        else if (std::isnan(d))
          out += "NaN";
        else if (std::isinf(d))
          out += d > 0 ? "Infinity" : "-Infinity";
        else
          out += float_text(d);
      }
      return;
    case rapidjson::kArrayType: {
      if (v.Empty()) {
        out += "[]";
        return;
      }
      out += '[';
      bool first = true;
      for (const auto& item : v.GetArray()) {
        if (!first) out += indent >= 0 ? "," : ", ";
        first = false;
        if (indent >= 0) newline(out, indent, depth + 1);
        write_value(out, item, o, depth + 1);
      }
      if (indent >= 0) newline(out, indent, depth);
      out += ']';
      return;
    }
    case rapidjson::kObjectType: {
      if (v.MemberCount() == 0) {
        out += "{}";
        return;
      }
      out += '{';
      bool first = true;
      for (const auto& m : v.GetObject()) {
        if (!first) out += indent >= 0 ? "," : ", ";
        first = false;
        if (indent >= 0) newline(out, indent, depth + 1);
        write_string(out, std::string_view(m.name.GetString(), m.name.GetStringLength()),
                     ensure_ascii);
        out += ": ";
        write_value(out, m.value, o, depth + 1);
      }
      if (indent >= 0) newline(out, indent, depth);
      out += '}';
      return;
    }
  }
}

}  // namespace

std::string safe_json_dumps(const rapidjson::Value& value, bool ensure_ascii, int indent) {
  std::string out;
  write_value(out, value, WriteOptions{ensure_ascii, indent, false}, 0);
  return out;
}

std::string strict_json_dumps(const rapidjson::Value& value, int indent) {
  std::string out;
  write_value(out, value, WriteOptions{false, indent, true}, 0);
  return out;
}

namespace {

bool is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The code unit of a "\uXXXX" escape at text[i], or -1 when there is none.
long escape_unit(std::string_view text, std::size_t i) {
  if (i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u') return -1;
  for (std::size_t k = 2; k < 6; ++k)
    if (!is_hex(text[i + k])) return -1;
  return std::strtol(std::string(text.substr(i + 2, 4)).c_str(), nullptr, 16);
}

// Replacement for a number token that RapidJSON 1.1.0 would refuse (it stops at about 308
// integer digits or an exponent past 308), or nullopt to keep the token as it is.
std::optional<std::string> relaxed_number(std::string_view token) {
  const auto e = token.find_first_of("eE");
  const bool long_exponent = e != std::string_view::npos && token.size() - e > 3;
  if (token.size() <= 64 && !long_exponent) return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (end != token.data() + token.size()) return std::nullopt;  // malformed: let the parser say
  const bool negative = token[0] == '-';
  if (ec == std::errc::result_out_of_range) {
    // Huge or tiny: the decimal magnitude is the position of the first significant digit
    // relative to the point, plus the exponent.
    const std::string_view mantissa =
        token.substr(negative ? 1 : 0,
                     e == std::string_view::npos ? std::string_view::npos : e - (negative ? 1 : 0));
    const auto point = std::min(mantissa.find('.'), mantissa.size());
    const auto first = mantissa.find_first_of("123456789");
    long long magnitude = first == std::string_view::npos
                              ? -1'000'000
                              : static_cast<long long>(point) - static_cast<long long>(first) -
                                    (first > point ? 0 : 1);
    if (e != std::string_view::npos) {
      long long exponent = 0;
      std::size_t i = e + 1;
      bool exp_negative = i < token.size() && token[i] == '-';
      if (i < token.size() && (token[i] == '-' || token[i] == '+')) ++i;
      for (; i < token.size(); ++i)
        exponent = std::min<long long>(exponent * 10 + (token[i] - '0'), 1'000'000'000LL);
      magnitude += exp_negative ? -exponent : exponent;
    }
    if (magnitude >= 0) return std::string(negative ? "-Infinity" : "Infinity");
    return std::string(negative ? "-0.0" : "0.0");
  }
  if (ec != std::errc()) return std::nullopt;
  char buf[64];
  auto [p, ec2] = std::to_chars(buf, buf + sizeof buf, value);
  if (ec2 != std::errc()) return std::nullopt;
  std::string shortest(buf, p);
  if (shortest.find_first_of(".eEn") == std::string::npos) shortest += ".0";
  return shortest;
}

}  // namespace

std::optional<std::string> relax_json_text(std::string_view text) {
  std::string out;
  bool changed = false;
  std::size_t copied = 0;  // text[copied..] is not yet in `out`
  auto replace = [&](std::size_t from, std::size_t to, std::string_view with) {
    out.append(text.substr(copied, from - copied));
    out.append(with);
    copied = to;
    changed = true;
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      for (++i; i < text.size() && text[i] != '"';) {
        if (text[i] != '\\') {
          ++i;
          continue;
        }
        const long unit = escape_unit(text, i);
        if (unit < 0) {
          i += 2;  // any other escape: the backslash and the escaped character
          continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          const long low = escape_unit(text, i + 6);
          if (low >= 0xDC00 && low <= 0xDFFF) {
            i += 12;
            continue;
          }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) replace(i, i + 6, "\\ufffd");
        i += 6;
      }
      ++i;
      continue;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      std::size_t end = i + 1;
      while (end < text.size() &&
             std::string_view("0123456789.eE+-").find(text[end]) != std::string_view::npos)
        ++end;
      if (auto number = relaxed_number(text.substr(i, end - i))) replace(i, end, *number);
      i = end;
      continue;
    }
    ++i;
  }
  if (!changed) return std::nullopt;
  out.append(text.substr(copied));
  return out;
}

rapidjson::Document parse_json(std::string_view input) {
  const std::optional<std::string> relaxed = relax_json_text(input);
  const std::string_view text = relaxed ? std::string_view(*relaxed) : input;
  rapidjson::Document doc;
  // Iterative parsing: a deeply nested body (say, from a model API) must not exhaust the stack.
  doc.Parse<rapidjson::kParseNanAndInfFlag | rapidjson::kParseFullPrecisionFlag |
            rapidjson::kParseIterativeFlag>(text.data(), text.size());
  if (doc.HasParseError()) {
    throw std::invalid_argument(std::string("invalid JSON at offset ") +
                                std::to_string(doc.GetErrorOffset()) + ": " +
                                rapidjson::GetParseError_En(doc.GetParseError()));
  }
  return doc;
}

rapidjson::Value json_string(std::string_view text, JsonAllocator& alloc) {
  return rapidjson::Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), alloc);
}

void json_add(rapidjson::Value& object, std::string_view key, rapidjson::Value value,
              JsonAllocator& alloc) {
  object.AddMember(json_string(key, alloc), value, alloc);
}
void json_add(rapidjson::Value& object, std::string_view key, std::string_view text,
              JsonAllocator& alloc) {
  json_add(object, key, json_string(text, alloc), alloc);
}
void json_add(rapidjson::Value& object, std::string_view key, const char* text,
              JsonAllocator& alloc) {
  json_add(object, key, std::string_view(text), alloc);
}
void json_add(rapidjson::Value& object, std::string_view key, double number, JsonAllocator& alloc) {
  json_add(object, key, rapidjson::Value(number), alloc);
}
void json_add(rapidjson::Value& object, std::string_view key, int number, JsonAllocator& alloc) {
  json_add(object, key, rapidjson::Value(number), alloc);
}
void json_add(rapidjson::Value& object, std::string_view key, long long number,
              JsonAllocator& alloc) {
  json_add(object, key, rapidjson::Value(static_cast<int64_t>(number)), alloc);
}
void json_add(rapidjson::Value& object, std::string_view key, bool flag, JsonAllocator& alloc) {
  json_add(object, key, rapidjson::Value(flag), alloc);
}

void json_set(rapidjson::Value& object, std::string_view key, rapidjson::Value value,
              JsonAllocator& alloc) {
  for (auto& m : object.GetObject()) {
    if (std::string_view(m.name.GetString(), m.name.GetStringLength()) == key) {
      m.value = value;
      return;
    }
  }
  json_add(object, key, std::move(value), alloc);
}

const rapidjson::Value* json_find(const rapidjson::Value& object, std::string_view key) {
  if (!object.IsObject()) return nullptr;
  for (const auto& m : object.GetObject())
    if (std::string_view(m.name.GetString(), m.name.GetStringLength()) == key) return &m.value;
  return nullptr;
}

std::string json_string(const rapidjson::Value& object, std::string_view key) {
  const auto* v = json_find(object, key);
  return v && v->IsString() ? std::string(v->GetString(), v->GetStringLength()) : std::string();
}

}  // namespace zorvane::utils
