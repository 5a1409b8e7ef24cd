#include "zorvane/utils/json.hpp"

#include <rapidjson/error/en.h>

#include <cmath>
#include <cstdio>
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

void write_value(std::string& out, const rapidjson::Value& v, bool ensure_ascii, int indent,
                 int depth) {
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
        if (std::isnan(d))
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
        write_value(out, item, ensure_ascii, indent, depth + 1);
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
        write_value(out, m.value, ensure_ascii, indent, depth + 1);
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
  write_value(out, value, ensure_ascii, indent, 0);
  return out;
}

rapidjson::Document parse_json(std::string_view text) {
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

}  // namespace zorvane::utils
