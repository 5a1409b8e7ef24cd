#include "agent/schemas/extraction.hpp"

#include <rapidjson/encodedstream.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <charconv>
#include <cstdint>

#include <string>
#include <unordered_map>
#include <vector>

#include "agent/schemas/decision.hpp"
#include "agent/schemas/values.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace schemas {

namespace {

using zorvane::utils::logger;

constexpr std::string_view kActionKey = "\"action\"";
constexpr std::size_t kLogPrefixChars = 300;
// Iterative: deeply nested input must not exhaust the stack. Numbers arrive as their text and
// are converted by ExactNumbers below.
constexpr unsigned kParseFlags = rapidjson::kParseNanAndInfFlag |
                                 rapidjson::kParseNumbersAsStringsFlag |
                                 rapidjson::kParseIterativeFlag;

// Forwards parse events to a document, turning each number text into an integer (when it has
// no fraction or exponent and fits 64 bits) or a correctly rounded double. RapidJSON 1.1.0's
// own full-precision conversion misreads numbers with long digit strings (a 120-digit value
// can come back with the wrong magnitude and even the wrong sign).
template <class Handler>
struct ExactNumbers {
  Handler& out;

  bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
    const std::string_view t(text, length);
    if (t.find_first_of(".eEIN") == std::string_view::npos) {
      if (t[0] == '-') {
        std::int64_t i = 0;
        auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), i);
        if (ec == std::errc() && end == t.data() + t.size()) return out.Int64(i);
      } else {
        std::uint64_t u = 0;
        auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), u);
        if (ec == std::errc() && end == t.data() + t.size()) return out.Uint64(u);
      }
    }
    // The reader has checked the grammar; NaN, Inf and Infinity are read here too.
    auto d = detail::parse_float_text(t);
    return d ? out.Double(*d) : false;
  }
  bool Null() { return out.Null(); }
  bool Bool(bool b) { return out.Bool(b); }
  bool Int(int i) { return out.Int(i); }
  bool Uint(unsigned u) { return out.Uint(u); }
  bool Int64(std::int64_t i) { return out.Int64(i); }
  bool Uint64(std::uint64_t u) { return out.Uint64(u); }
  bool Double(double d) { return out.Double(d); }
  bool String(const char* s, rapidjson::SizeType n, bool copy) { return out.String(s, n, copy); }
  bool StartObject() { return out.StartObject(); }
  bool Key(const char* s, rapidjson::SizeType n, bool copy) { return out.Key(s, n, copy); }
  bool EndObject(rapidjson::SizeType n) { return out.EndObject(n); }
  bool StartArray() { return out.StartArray(); }
  bool EndArray(rapidjson::SizeType n) { return out.EndArray(n); }
};

// Runs the reader over `text` into the document that Populate hands over.
struct DecisionReader {
  rapidjson::Reader reader;
  std::string_view text;

  template <class Handler>
  bool operator()(Handler& document) {
    rapidjson::MemoryStream memory(text.data(), text.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> in(memory);
    ExactNumbers<Handler> handler{document};
    return !reader.Parse<kParseFlags>(in, handler).IsError();
  }
};

std::string_view name_of(const rapidjson::Value& key) {
  return {key.GetString(), key.GetStringLength()};
}

// First `chars` code points of valid UTF-8 text.
std::string_view utf8_prefix(std::string_view text, std::size_t chars) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < chars && i < text.size(); ++n) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return text.substr(0, i);
}

// Makes member names unique the way reading JSON into a map does: the last value of a
// repeated key replaces the first one's, in the first one's place.
void keep_last_duplicates(rapidjson::Value& object) {
  const rapidjson::SizeType n = object.MemberCount();
  if (n < 2) return;
  auto members = object.MemberBegin();
  std::vector<rapidjson::SizeType> first_of(n);
  bool duplicates = false;
  if (n <= 32) {
    for (rapidjson::SizeType i = 0; i < n; ++i) {
      first_of[i] = i;
      for (rapidjson::SizeType j = 0; j < i; ++j) {
        if (first_of[j] == j && name_of(members[j].name) == name_of(members[i].name)) {
          first_of[i] = j;
          duplicates = true;
          break;
        }
      }
    }
  } else {
    std::unordered_map<std::string_view, rapidjson::SizeType> seen;
    seen.reserve(n);
    for (rapidjson::SizeType i = 0; i < n; ++i) {
      auto [it, inserted] = seen.emplace(name_of(members[i].name), i);
      first_of[i] = it->second;
      duplicates |= !inserted;
    }
  }
  if (!duplicates) return;
  // RapidJSON's assignment moves. Last value into the first slot, then compact in one pass
  // (erasing one member at a time would be quadratic on a hostile object).
  for (rapidjson::SizeType i = 0; i < n; ++i)
    if (first_of[i] != i) members[first_of[i]].value = members[i].value;
  rapidjson::SizeType kept = 0;
  for (rapidjson::SizeType i = 0; i < n; ++i) {
    if (first_of[i] != i) continue;
    if (kept != i) {
      members[kept].name = members[i].name;
      members[kept].value = members[i].value;
    }
    ++kept;
  }
  object.EraseMember(object.MemberBegin() + kept, object.MemberEnd());
}

std::string keys_repr(const rapidjson::Value& object) {
  std::string out = "[";
  bool first = true;
  for (const auto& m : object.GetObject()) {
    if (!first) out += ", ";
    first = false;
    out += zorvane::utils::quoted_text(name_of(m.name));
  }
  out += ']';
  return out;
}

std::string parse_error_text(const rapidjson::Reader& reader, std::string_view text) {
  std::size_t offset = std::min(reader.GetErrorOffset(), text.size());
  return std::string(rapidjson::GetParseError_En(reader.GetParseErrorCode())) + " (char " +
         std::to_string(zorvane::utils::char_count(text.substr(0, offset))) + ")";
}

}  // namespace

std::optional<std::string> scan_json_block(std::string_view raw_text) {
  const char* s = raw_text.data();
  const std::size_t n = raw_text.size();
  std::size_t depth = 0;
  std::size_t start = 0;
  std::size_t match_begin = 0, match_end = 0;
  bool matched = false;
  std::size_t i = 0;
  while (i < n) {
    const char c = s[i];
    if (c == '"') {
      // Inside a string only a quote (ends it) and a backslash (skips the next byte) matter.
      // Bytes are enough: UTF-8 continuation bytes never equal an ASCII character.
      ++i;
      while (i < n) {
        const char d = s[i];
        if (d == '"') break;
        i += d == '\\' ? 2 : 1;
      }
      ++i;  // past the closing quote (or past the end: unterminated string)
      continue;
    }
    if (c == '{') {
      if (depth == 0) start = i;
      ++depth;
    } else if (c == '}' && depth > 0) {
      if (--depth == 0) {
        std::string_view candidate = raw_text.substr(start, i - start + 1);
        if (candidate.find(kActionKey) != std::string_view::npos) {
          matched = true;
          match_begin = start;
          match_end = i + 1;
        }
      }
    }
    ++i;
  }
  if (!matched) return std::nullopt;
  return std::string(raw_text.substr(match_begin, match_end - match_begin));
}

namespace detail {

std::optional<std::string_view> find_json_fence(std::string_view text) {
  constexpr std::string_view kOpen = "```json";
  constexpr std::string_view kClose = "```";
  std::size_t from = 0;
  while (true) {
    const std::size_t open = text.find(kOpen, from);
    if (open == std::string_view::npos) return std::nullopt;
    // \s*\n: the greedy run backs off to its last line feed.
    std::size_t p = open + kOpen.size();
    std::size_t content = std::string_view::npos;
    while (p < text.size()) {
      char32_t cp = 0;
      const std::size_t len = decode_utf8(text, p, cp);
      if (len == 0 || !is_white_space(cp)) break;
      p += len;
      if (cp == '\n') content = p;
    }
    if (content == std::string_view::npos) {
      from = open + 1;  // no line break after this opening: try the next one
      continue;
    }
    // (.*?)\n?\s*```: the shortest group that leaves only white space before a closing fence.
    // With no closing fence after this opening there is none after any later one either.
    const std::size_t close = text.find(kClose, content);
    if (close == std::string_view::npos) return std::nullopt;
    std::size_t end = close;
    while (end > content) {
      const std::size_t len = white_space_before(text, end);
      if (len == 0 || end - len < content) break;
      end -= len;
    }
    return text.substr(content, end - content);
  }
}

std::string keep_printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if ((b >= 0x20 && b < 0x7F) || b == '\n' || b == '\r' || b == '\t') out += text[i];
      ++i;
      continue;
    }
    char32_t cp = 0;
    const std::size_t len = decode_utf8(text, i, cp);
    if (len == 0) {
      ++i;  // ill-formed byte: dropped
      continue;
    }
    if (zorvane::utils::is_printable(cp)) out.append(text.substr(i, len));
    i += len;
  }
  return out;
}

}  // namespace detail

std::optional<rapidjson::Document> extract_decision_json(std::string_view raw_content) {
  if (raw_content.empty()) return std::nullopt;

  std::optional<std::string> scanned;
  std::string_view candidate;
  if (auto fenced = detail::find_json_fence(raw_content)) {
    candidate = *fenced;
  } else {
    scanned = scan_json_block(raw_content);
    if (!scanned) return std::nullopt;
    candidate = *scanned;
  }
  if (candidate.empty()) return std::nullopt;

  const std::string cleaned = detail::keep_printable(candidate);
  // Valid JSON that the reader refuses (1e400, a lone \ud83d) is rewritten first.
  const std::optional<std::string> relaxed = zorvane::utils::relax_json_text(cleaned);
  rapidjson::Document doc;
  DecisionReader parse{{}, relaxed ? std::string_view(*relaxed) : std::string_view(cleaned)};
  doc.Populate(parse);
  if (parse.reader.HasParseError()) {
    logger.warning("决策 JSON 解析失败 | 错误=%s | 长度=%d | 原始前缀=%s",
                   parse_error_text(parse.reader, parse.text), zorvane::utils::char_count(cleaned),
                   utf8_prefix(cleaned, kLogPrefixChars));
    return std::nullopt;
  }
  if (!doc.IsObject()) return std::nullopt;
  keep_last_duplicates(doc);

  if (!detail::find_field(doc, "action") || !detail::find_field(doc, "direction")) {
    logger.debug("决策 JSON 缺失核心字段 action/direction: %s", keys_repr(doc));
    return std::nullopt;
  }
  if (!validate_decision_enums(doc)) return std::nullopt;
  normalize_decision_price_fields(doc);
  if (!validate_decision_price_chain(doc)) return std::nullopt;
  return doc;
}

}  // namespace schemas
