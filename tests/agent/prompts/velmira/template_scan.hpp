#pragma once
// Test-side reading of template texts, written independently of the library's fill.

#include <map>
#include <string>
#include <string_view>

namespace velmira_test {

inline std::size_t count_of(std::string_view text, std::string_view needle) {
  std::size_t n = 0;
  for (auto pos = text.find(needle); pos != std::string_view::npos;
       pos = text.find(needle, pos + needle.size())) {
    ++n;
  }
  return n;
}

// Single-brace placeholders and how often each occurs; doubled braces are skipped.
inline std::map<std::string, int> placeholder_counts(std::string_view text) {
  std::map<std::string, int> counts;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "{{") == 0 || text.compare(i, 2, "}}") == 0) {
      ++i;
    } else if (text[i] == '{') {
      const auto close = text.find('}', i);
      if (close == std::string_view::npos) break;
      ++counts[std::string(text.substr(i + 1, close - i - 1))];
      i = close;
    }
  }
  return counts;
}

// Sample per-stock values for every placeholder of an analysis user template.
inline std::map<std::string, std::string, std::less<>> sample_stock_values() {
  return {
      {"stock_code", "sh.600519"},
      {"stock_name", "贵州茅台"},
      {"analysis_time", "2025-11-17"},
      {"current_price", "1456.78"},
      {"pct_change", "-1.25"},
      {"stock_data", R"([{"Date": "2025-11-17", "close": 1456.78, "ADX": 21.5}])"},
      {"stock_week_data", R"([{"Date": "2025-11-14", "close": 1470.0}])"},
      {"pattern_info", R"({"calculated_constraints": {"min_rrr": 1.5}, "risk_flags": []})"},
      {"market_ai_brief", "[震荡 / 中等] 指数横盘整理\n⚠️ 风险：成交量萎缩"},
  };
}

}  // namespace velmira_test
