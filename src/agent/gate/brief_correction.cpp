#include "agent/gate/brief_correction.hpp"

#include <vector>

#include "agent/gate/brief_text.hpp"
#include "zorvane/utils/text.hpp"

namespace gate {

namespace {

using brief_text::is_heading;
using brief_text::is_table_row;
using brief_text::lines_of;
using zorvane::utils::trim;

using Lines = std::vector<std::string>;

std::ptrdiff_t find_line(const Lines& lines, std::string_view word, std::size_t from = 0) {
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (lines[i].find(word) != std::string::npos) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

void insert_at(Lines& lines, std::size_t at, const Lines& what) {
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), what.begin(), what.end());
}

// Just after the last non-blank line of the 市场研判 section (which put_headline guarantees).
std::size_t section_end(const Lines& lines) {
  auto head = static_cast<std::size_t>(find_line(lines, "市场研判"));
  std::size_t pos = head + 1;
  while (pos < lines.size() && !is_heading(lines[pos]) && !trim(lines[pos]).starts_with("---")) {
    ++pos;
  }
  while (pos > head + 1 && trim(lines[pos - 1]).empty()) --pos;
  return pos;
}

void put_headline(Lines& lines, const BriefFacts& f) {
  std::string headline =
      "**▋ " + f.market_name + "市场研判 · " + f.bias + " / " + f.strength + "**";
  auto at = find_line(lines, "市场研判");
  if (at >= 0) {
    lines[static_cast<std::size_t>(at)] = std::move(headline);
  } else {
    insert_at(lines, 0, {std::move(headline)});
  }
}

void put_strategy(Lines& lines, const BriefFacts& f) {
  std::string line = "- **策略指引**：**" + f.strategy + "**";
  auto at = find_line(lines, "策略指引");
  if (at >= 0) {
    lines[static_cast<std::size_t>(at)] = std::move(line);
    return;
  }
  insert_at(lines, section_end(lines), {std::move(line)});
}

void put_table(Lines& lines, const BriefFacts& f) {
  Lines table;
  for (auto row : lines_of(f.table)) table.emplace_back(row);
  auto at = find_line(lines, "核心指数动态");
  if (at < 0) {
    // A new section right after the 市场研判 section.
    Lines section{"", "---", "", "**▋ 核心指数动态**"};
    section.insert(section.end(), table.begin(), table.end());
    insert_at(lines, section_end(lines), section);
    return;
  }
  auto first = static_cast<std::size_t>(at) + 1;
  while (first < lines.size() && !is_table_row(lines[first])) ++first;
  if (first == lines.size()) {
    insert_at(lines, static_cast<std::size_t>(at) + 1, table);
    return;
  }
  auto last = first;
  while (last < lines.size() && is_table_row(lines[last])) ++last;
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first),
              lines.begin() + static_cast<std::ptrdiff_t>(last));
  insert_at(lines, first, table);
}

}  // namespace

std::string correction_request(const CheckResults& results) {
  std::string items;
  for (const auto& r : results) {
    if (!r.passed && r.severity == Severity::critical) items += "- " + r.detail + "\n";
  }
  if (items.empty()) return {};
  return "\n\n<gate_correction>\n上一版简报未通过系统校验，以下内容与系统权威结论不一致：\n" +
         items +
         "请逐字照抄 <authoritative_verdict> 中的 bias、强度与策略指引，原样保留 "
         "<core_index_table> 表格，重新输出完整简报。\n</gate_correction>";
}

std::string apply_computed_verdict(std::string_view brief, const BriefFacts& facts) {
  Lines lines;
  for (auto line : lines_of(brief)) lines.emplace_back(line);
  put_headline(lines, facts);
  put_strategy(lines, facts);
  put_table(lines, facts);
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
  return std::string(trim(out));
}

}  // namespace gate
