#include "agent/gate/brief_checks.hpp"

#include <algorithm>
#include <span>

#include "agent/gate/brief_text.hpp"
#include "zorvane/utils/text.hpp"

namespace gate {

namespace {

using namespace brief_text;
using zorvane::utils::trim;

constexpr std::array<std::string_view, 3> kStrategies{"空仓等待", "区间震荡", "趋势跟随"};
constexpr std::array<std::string_view, 4> kSectionWords{"市场研判", "核心指数动态", "情绪温度计",
                                                        "风险提示"};
constexpr std::array<std::string_view, 3> kCountedWords{"市场研判", "核心指数动态", "风险提示"};

// Phrases (spaces removed) that state the close's side of EMA20.
constexpr std::array<std::string_view, 8> kAbovePhrases{"站上EMA20", "站稳EMA20",  "收复EMA20",
                                                        "EMA20上方", "高于EMA20",  "突破EMA20",
                                                        "EMA20之上", "重回EMA20上"};
constexpr std::array<std::string_view, 6> kBelowPhrases{"跌破EMA20", "失守EMA20", "EMA20下方",
                                                        "低于EMA20", "EMA20之下", "未收复EMA20"};
// A sentence holding one of these is a condition or a warning, not a statement of fact.
constexpr std::array<std::string_view, 7> kHedges{"若",   "如果", "一旦", "警惕",
                                                  "谨防", "能否", "是否"};
// Negations that turn an "above" phrase around ("未站上", "未能收复", "难以站稳").
constexpr std::array<std::string_view, 4> kNegations{"未", "没", "不", "难"};

std::string in_corners(std::string_view s) {
  return "「" + std::string(s) + "」";
}

Outcome pass(std::string detail) {
  return {true, std::move(detail)};
}

Outcome fail(std::string detail) {
  return {false, std::move(detail)};
}

// The headline: the first line naming 市场研判, else the first non-blank line.
std::optional<std::string_view> headline_line(std::string_view brief) {
  std::optional<std::string_view> first;
  for (auto line : lines_of(brief)) {
    if (line.find("市场研判") != std::string_view::npos) return line;
    if (!first && !trim(line).empty()) first = line;
  }
  return first;
}

std::string after_colon(std::string_view line) {
  for (std::string_view colon : {"：", ":"}) {
    auto p = line.find(colon);
    if (p != std::string_view::npos) return std::string(trim(line.substr(p + colon.size())));
  }
  return std::string(trim(line));
}

std::string heading_word(std::string_view heading) {
  for (auto w : kSectionWords) {
    if (heading.find(w) != std::string_view::npos) return std::string(w);
  }
  return strip_markup(heading);
}

std::string join(const std::vector<std::string>& parts, std::string_view sep) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? std::string(sep) : "") + parts[i];
  return out;
}

bool is_counted(std::string_view heading) {
  return std::any_of(kCountedWords.begin(), kCountedWords.end(),
                     [&](auto w) { return heading.find(w) != std::string_view::npos; });
}

bool contains_any(std::string_view text, std::span<const std::string_view> words) {
  return std::any_of(words.begin(), words.end(),
                     [&](auto w) { return text.find(w) != std::string_view::npos; });
}

// True when `s` holds one of `phrases` not preceded (within two characters) by a negation.
bool states(std::string_view s, std::span<const std::string_view> phrases) {
  for (auto phrase : phrases) {
    for (auto p = s.find(phrase); p != std::string_view::npos; p = s.find(phrase, p + 1)) {
      auto from = p >= 6 ? p - 6 : 0;  // two CJK characters of three bytes
      if (!contains_any(s.substr(from, p - from), kNegations)) return true;
    }
  }
  return false;
}

// The side of EMA20 a sentence (spaces removed) states: true above, false below, nullopt
// when it states none or both.
std::optional<bool> stated_side(std::string_view s) {
  bool above = states(s, kAbovePhrases);
  bool below = states(s, kBelowPhrases);
  if (above == below) return std::nullopt;
  return above;
}

}  // namespace

std::vector<IndexFact> parse_index_facts(std::string_view facts) {
  std::vector<IndexFact> out;
  for (auto line : lines_of(facts)) {
    auto t = trim(line);
    if (!t.starts_with("- **")) continue;
    auto end = t.find("**：", 4);
    if (end == std::string_view::npos) continue;
    IndexFact f{std::string(t.substr(4, end - 4)), std::nullopt};
    if (t.find("收盘已站上 EMA20") != std::string_view::npos) f.above_ema20 = true;
    if (t.find("收盘仍在 EMA20 下方") != std::string_view::npos) f.above_ema20 = false;
    out.push_back(std::move(f));
  }
  return out;
}

Outcome check_headline(std::string_view brief, const BriefFacts& facts) {
  const std::string expected = facts.bias + " / " + facts.strength;
  auto line = headline_line(brief);
  if (!line) return fail("标题行：应含" + in_corners(expected) + "，实际为空简报");
  auto text = strip_markup(*line);
  auto dot = text.rfind("·");
  if (dot == std::string::npos)
    return fail("标题行：应含" + in_corners(expected) + "，实际" + in_corners(text));
  auto verdict =
      std::string(trim(std::string_view(text).substr(dot + std::string_view("·").size())));
  auto slash = verdict.find('/');
  std::string bias = std::string(trim(std::string_view(verdict).substr(0, slash)));
  std::string strength = slash == std::string::npos
                             ? ""
                             : std::string(trim(std::string_view(verdict).substr(slash + 1)));
  if (bias != facts.bias || strength != facts.strength) {
    return fail("标题研判：应为" + in_corners(expected) + "，实际" + in_corners(verdict));
  }
  return pass("标题研判：" + in_corners(expected));
}

Outcome check_strategy(std::string_view brief, const BriefFacts& facts) {
  for (auto line : lines_of(brief)) {
    if (line.find("策略指引") == std::string_view::npos) continue;
    auto value = strip_markup(after_colon(line));
    bool others = std::any_of(kStrategies.begin(), kStrategies.end(), [&](auto s) {
      return s != facts.strategy && value.find(s) != std::string::npos;
    });
    if (value.find(facts.strategy) == std::string::npos || others) {
      return fail("策略指引：应为" + in_corners(facts.strategy) + "，实际" + in_corners(value));
    }
    return pass("策略指引：" + in_corners(facts.strategy));
  }
  return fail("策略指引：应为" + in_corners(facts.strategy) + "，实际未找到策略指引行");
}

Outcome check_table(std::string_view brief, const BriefFacts& facts) {
  auto expected = first_table(facts.table, "");
  auto found = first_table(brief, "核心指数动态");
  if (found.empty())
    return fail("核心指数表：应有 " + std::to_string(expected.size()) + " 行，实际未找到表格");
  for (std::size_t r = 0; r < std::max(expected.size(), found.size()); ++r) {
    if (r >= expected.size()) return fail("核心指数表：多出一行 " + in_corners(trim(found[r])));
    if (r >= found.size()) return fail("核心指数表：缺少一行 " + in_corners(trim(expected[r])));
    if (is_alignment_row(expected[r]) && is_alignment_row(found[r])) continue;
    auto want = table_cells(expected[r]);
    auto got = table_cells(found[r]);
    const std::string row = "第 " + std::to_string(r + 1) + " 行";
    if (want.size() != got.size()) {
      return fail("核心指数表" + row + "：应为 " + std::to_string(want.size()) + " 列 " +
                  in_corners(trim(expected[r])) + "，实际 " + std::to_string(got.size()) + " 列 " +
                  in_corners(trim(found[r])));
    }
    for (std::size_t c = 0; c < want.size(); ++c) {
      if (want[c] != got[c]) {
        return fail("核心指数表" + row + "（" + want.front() + "）第 " + std::to_string(c + 1) +
                    " 列：应为" + in_corners(want[c]) + "，实际" + in_corners(got[c]));
      }
    }
  }
  return pass("核心指数表：" + std::to_string(expected.size()) + " 行与计算结果一致");
}

Outcome check_sections(std::string_view brief, const BriefFacts& facts) {
  std::vector<std::string> want;
  for (auto w : kSectionWords) {
    if (w == "情绪温度计" && facts.market_type != "A" && facts.market_type != "ETF") continue;
    want.emplace_back(w);
  }
  std::vector<std::string> got;
  for (const auto& s : sections_of(brief)) got.push_back(heading_word(s.heading));
  if (got != want) {
    return fail("章节：应为" + in_corners(join(want, " → ")) + "，实际" +
                in_corners(join(got, " → ")));
  }
  return pass("章节：" + in_corners(join(want, " → ")));
}

Outcome check_ema_facts(std::string_view brief, const BriefFacts& facts) {
  auto index_facts = parse_index_facts(facts.facts);
  const IndexFact* first = nullptr;
  for (const auto& f : index_facts) {
    if (f.above_ema20) {
      first = &f;
      break;
    }
  }
  for (auto line : lines_of(brief)) {
    if (is_table_row(line) || is_heading(line)) continue;
    const IndexFact* subject = nullptr;  // carried to the line's later sentences
    for (auto sentence : sentences_of(line)) {
      auto s = without_spaces(strip_markup(sentence));
      const IndexFact* named = nullptr;
      int names = 0;
      for (const auto& f : index_facts) {
        if (s.find(f.name) != std::string::npos) {
          named = &f;
          ++names;
        }
      }
      if (names == 0 && s.find("第一指数") != std::string::npos) named = first, names = 1;
      if (names > 1) {
        subject = nullptr;  // a comparison of several indices: whose side is stated is unclear
        continue;
      }
      if (names == 1) subject = named;
      if (subject == nullptr || !subject->above_ema20 || contains_any(s, kHedges)) continue;
      auto side = stated_side(s);
      if (side && *side != *subject->above_ema20) {
        return fail(subject->name + "：事实为" +
                    in_corners(*subject->above_ema20 ? "收盘已站上 EMA20" : "收盘仍在 EMA20 下方") +
                    "，简报写" + in_corners(trim(sentence)));
      }
    }
  }
  return pass("未见与收盘/EMA20 事实相反的表述");
}

std::size_t counted_length(std::string_view brief) {
  std::size_t count = 0;
  for (const auto& section : sections_of(brief)) {
    if (!is_counted(section.heading)) continue;
    for (auto line : section.body) {
      if (is_table_row(line) || trim(line).starts_with("---")) continue;
      count += visible_chars(strip_markup(line));
    }
  }
  return count;
}

Outcome check_length(std::string_view brief, const BriefFacts& /*facts*/) {
  auto n = counted_length(brief);
  const std::string range =
      std::to_string(kCountedMinChars) + "-" + std::to_string(kCountedMaxChars) + " 字";
  if (n < kCountedMinChars || n > kCountedMaxChars) {
    return fail("计数章节字数：应为 " + range + "，实际 " + std::to_string(n) + " 字");
  }
  return pass("计数章节字数：" + std::to_string(n) + " 字（" + range + "）");
}

CheckResults run_brief_checks(std::string_view brief, const BriefFacts& facts) {
  CheckResults out;
  out.reserve(kBriefRules.size());
  for (const auto& rule : kBriefRules) {
    auto o = rule.check(brief, facts);
    out.push_back({std::string(rule.name), o.passed, rule.severity, std::move(o.detail)});
  }
  return out;
}

}  // namespace gate
