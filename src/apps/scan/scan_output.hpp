#pragma once
// What scan prints on standard output, as text for people or JSON for programs.
//
// Radar, text:
//   机会雷达 (频段: weekly, 截止: 2024-01-05, 股票池: 51, 有数据: 51)
//
//   《量化异动》 1 只
//     sh.600001  示例A  右侧上涨  评分 7.50  量比 3.20  涨跌幅 +4.00%  放量突破
//   《潜在机会》 0 只
//     (无)
//   《风险提示》 ...
// Radar, JSON: {"frequency", "end_date", "pool_size", "with_data", "sections": {the three
// sections of morvik::analyze_opportunity_radar}}.
// Selector, text: a header "筛选器 combined (截止: ..., 股票池: N, 有数据: M, 通过: K)" and one
// line per passing stock "  code  name  评分 7.20  策略 趋势跟随" (or "  (无)").
// Selector, JSON: {"selector", "end_date", "pool_size", "with_data", "passed": [{"code",
// "name", "score", "strategy_type"}]}.

#include <rapidjson/document.h>

#include <cstddef>
#include <string>
#include <vector>

#include "apps/scan/scan_run.hpp"

namespace scan {

struct Summary {
  std::string end_date;
  std::size_t pool_size = 0;
  std::size_t with_data = 0;
};

std::string radar_text(const rapidjson::Value& sections, const std::string& frequency,
                       const Summary& summary);
std::string radar_json(const rapidjson::Value& sections, const std::string& frequency,
                       const Summary& summary);
std::string selector_text(const std::string& selector, const std::vector<Hit>& passed,
                          const Summary& summary);
std::string selector_json(const std::string& selector, const std::vector<Hit>& passed,
                          const Summary& summary);

}  // namespace scan
