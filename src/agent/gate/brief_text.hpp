#pragma once
// Reading a market brief's Markdown the way its checks see it: lines, section headings (the
// "**▋ ...**" lines), table rows and cells, and prose without its markup. Internal to the gate.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gate::brief_text {

// The lines of `text` without their line breaks ("\r\n" accepted).
std::vector<std::string_view> lines_of(std::string_view text);

// A section heading of the brief: a line holding "▋", or a Markdown "#" heading.
bool is_heading(std::string_view line);

// A Markdown table row: the trimmed line starts with "|".
bool is_table_row(std::string_view line);

// A table's alignment row ("| :--- | ---: |").
bool is_alignment_row(std::string_view line);

// The cells of a table row, trimmed, without emphasis markers ("**上证指数**" -> "上证指数").
std::vector<std::string> table_cells(std::string_view row);

// The table rows of `text`: the first run of consecutive table rows after the first line that
// contains `after` (the whole text when `after` is empty or absent).
std::vector<std::string_view> first_table(std::string_view text, std::string_view after);

// A line without Markdown markup: leading block-quote markers and list bullets, emphasis
// ("**", "__", "*", "`") and the heading marks "#".
std::string strip_markup(std::string_view line);

// Visible characters: code points other than white space, controls and the invisible
// joiners and variation selectors (U+200B-U+200D, U+2060, U+FE00-U+FE0F, U+FEFF).
std::size_t visible_chars(std::string_view text);

// Removes every ASCII space, tab and ideographic space (U+3000).
std::string without_spaces(std::string_view text);

struct Section {
  std::string_view heading;
  std::vector<std::string_view> body;  // the lines up to the next heading
};

// The brief split at its heading lines (lines before the first heading are dropped).
std::vector<Section> sections_of(std::string_view text);

// Sentences of a line: split after "。", "；", "！", "？", ";" and "!" (separators kept out).
std::vector<std::string_view> sentences_of(std::string_view line);

}  // namespace gate::brief_text
