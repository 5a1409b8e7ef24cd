#include "agent/gate/brief_text.hpp"

#include <array>

#include "zorvane/utils/text.hpp"

namespace gate::brief_text {

namespace {

using zorvane::utils::trim;

// Length of the UTF-8 sequence starting with byte `b` (1 for stray continuation bytes).
std::size_t utf8_length(unsigned char b) {
  if (b >= 0xF0) return 4;
  if (b >= 0xE0) return 3;
  if (b >= 0xC0) return 2;
  return 1;
}

char32_t decode_at(std::string_view s, std::size_t i, std::size_t n) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (n == 1 || i + n > s.size()) return b0;
  char32_t cp = b0 & (n == 2 ? 0x1Fu : n == 3 ? 0x0Fu : 0x07u);
  for (std::size_t k = 1; k < n; ++k)
    cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
  return cp;
}

bool invisible(char32_t cp) {
  if (cp <= 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0xA0)) return true;
  return (cp >= 0x200B && cp <= 0x200D) || cp == 0x2060 || (cp >= 0xFE00 && cp <= 0xFE0F) ||
         cp == 0xFEFF || cp == 0x3000 || cp == 0x2028 || cp == 0x2029;
}

std::string erase_all(std::string text, std::string_view what) {
  return zorvane::utils::replace_all(std::move(text), what, "");
}

}  // namespace

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('\n', start);
    auto line = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.push_back(line);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return out;
}

bool is_heading(std::string_view line) {
  auto t = trim(line);
  return t.find("▋") != std::string_view::npos || t.starts_with("#");
}

bool is_table_row(std::string_view line) {
  return trim(line).starts_with("|");
}

bool is_alignment_row(std::string_view line) {
  auto t = trim(line);
  if (!t.starts_with("|") || t.find('-') == std::string_view::npos) return false;
  return t.find_first_not_of("|:- \t") == std::string_view::npos;
}

std::vector<std::string> table_cells(std::string_view row) {
  auto t = trim(row);
  if (t.starts_with("|")) t.remove_prefix(1);
  if (t.ends_with("|")) t.remove_suffix(1);
  std::vector<std::string> cells;
  std::size_t start = 0;
  while (true) {
    auto bar = t.find('|', start);
    auto cell = t.substr(start, bar == std::string_view::npos ? bar : bar - start);
    cells.emplace_back(trim(erase_all(erase_all(std::string(cell), "**"), "__")));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return cells;
}

std::vector<std::string_view> first_table(std::string_view text, std::string_view after) {
  auto lines = lines_of(text);
  std::size_t i = 0;
  if (!after.empty()) {
    while (i < lines.size() && lines[i].find(after) == std::string_view::npos) ++i;
    if (i == lines.size()) i = 0;  // no such line: look through the whole text
  }
  while (i < lines.size() && !is_table_row(lines[i])) ++i;
  std::vector<std::string_view> rows;
  while (i < lines.size() && is_table_row(lines[i])) rows.push_back(lines[i++]);
  return rows;
}

std::string strip_markup(std::string_view line) {
  auto t = trim(line);
  // Block quotes and list bullets, possibly nested ("> - ").
  while (true) {
    if (t.starts_with(">")) {
      t = trim(t.substr(1));
    } else if (t.starts_with("- ") || t.starts_with("* ") || t.starts_with("+ ")) {
      t = trim(t.substr(2));
    } else if (t.starts_with("#")) {
      t = trim(t.substr(t.find_first_not_of('#')));
    } else {
      break;
    }
  }
  std::string out(t);
  for (std::string_view mark : {"**", "__", "`"}) out = erase_all(std::move(out), mark);
  return erase_all(std::move(out), "*");
}

std::size_t visible_chars(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size();) {
    auto n = utf8_length(static_cast<unsigned char>(text[i]));
    if (!invisible(decode_at(text, i, n))) ++count;
    i += n;
  }
  return count;
}

std::string without_spaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == ' ' || text[i] == '\t') {
      ++i;
    } else if (text.substr(i, 3) == "\u3000") {
      i += 3;
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::vector<Section> sections_of(std::string_view text) {
  std::vector<Section> out;
  for (auto line : lines_of(text)) {
    if (is_heading(line)) {
      out.push_back({line, {}});
    } else if (!out.empty()) {
      out.back().body.push_back(line);
    }
  }
  return out;
}

std::vector<std::string_view> sentences_of(std::string_view line) {
  static constexpr std::array<std::string_view, 6> kEnds{"。", "；", "！", "？", ";", "!"};
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < line.size();) {
    std::size_t end_len = 0;
    for (auto e : kEnds) {
      if (line.substr(i, e.size()) == e) end_len = e.size();
    }
    if (end_len == 0) {
      i += utf8_length(static_cast<unsigned char>(line[i]));
      continue;
    }
    if (i > start) out.push_back(line.substr(start, i - start));
    i += end_len;
    start = i;
  }
  if (start < line.size()) out.push_back(line.substr(start));
  return out;
}

}  // namespace gate::brief_text
