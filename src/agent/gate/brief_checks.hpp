#pragma once
// Trust checks of a market brief against the verdict, core index table and close-versus-EMA
// facts computed for the same market and day. Each check is one row of kBriefRules: a name,
// a severity and a function of (brief, facts). Add a check by adding a function and a row.
//
//   gate::BriefFacts facts{"A", "A 股大盘", verdict.bias, verdict.strength, verdict.strategy,
//                          core.table, core.facts};
//   auto results = gate::run_brief_checks(brief, facts);

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/gate/check_result.hpp"

namespace gate {

struct BriefFacts {
  std::string market_type;  // "A" (ETF is read as A), "HK" or "US"
  std::string market_name;  // headline's market name: "A 股大盘", "港股大盘", "美股大盘"
  std::string bias;
  std::string strength;
  std::string strategy;
  std::string table;  // the computed core index table, as put in the prompt
  std::string facts;  // the computed fact lines, "- **<index>**：...收盘已站上 EMA20。..."
};

// What one check found.
struct Outcome {
  bool passed = false;
  std::string detail;
};

struct BriefRule {
  std::string_view name;
  Severity severity;
  Outcome (*check)(std::string_view brief, const BriefFacts& facts);
};

// The headline ("**▋ <market>市场研判 · <bias> / <strength>**") carries the computed bias and
// strength word for word.
Outcome check_headline(std::string_view brief, const BriefFacts& facts);
// The "策略指引" line carries the computed strategy and no other strategy word.
Outcome check_strategy(std::string_view brief, const BriefFacts& facts);
// The first table after "核心指数动态" equals the computed table cell for cell (emphasis
// markers and the alignment row's style aside).
Outcome check_table(std::string_view brief, const BriefFacts& facts);
// The section headings, in order: 市场研判, 核心指数动态, 情绪温度计 (A only), 风险提示.
Outcome check_sections(std::string_view brief, const BriefFacts& facts);
// No sentence about an index states the opposite of its close-versus-EMA20 fact.
Outcome check_ema_facts(std::string_view brief, const BriefFacts& facts);
// The prose of 市场研判, 核心指数动态 and 风险提示 holds 200-280 visible characters (tables,
// headings and Markdown markup not counted).
Outcome check_length(std::string_view brief, const BriefFacts& facts);

inline constexpr std::array<BriefRule, 6> kBriefRules{{
    {"brief.headline", Severity::critical, check_headline},
    {"brief.strategy", Severity::critical, check_strategy},
    {"brief.table", Severity::critical, check_table},
    {"brief.sections", Severity::warning, check_sections},
    {"brief.ema_facts", Severity::warning, check_ema_facts},
    {"brief.length", Severity::warning, check_length},
}};

// Every row of kBriefRules, in order.
CheckResults run_brief_checks(std::string_view brief, const BriefFacts& facts);

inline constexpr std::size_t kCountedMinChars = 200;
inline constexpr std::size_t kCountedMaxChars = 280;

// Visible characters of the counted sections' prose, as check_length counts them.
std::size_t counted_length(std::string_view brief);

// One index's close-versus-EMA20 fact: true when the close is at or above EMA20, false when
// below, nullopt when the index has no data.
struct IndexFact {
  std::string name;
  std::optional<bool> above_ema20;
};

// The fact lines of the computed facts text, in core order.
std::vector<IndexFact> parse_index_facts(std::string_view facts);

}  // namespace gate
