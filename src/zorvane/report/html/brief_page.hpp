#pragma once
// The page of one market brief: the core index table, a small chart per core index and the
// brief itself.

#include <string>
#include <vector>

#include "candlex/bar_table.hpp"
#include "zorvane/report/html/colors.hpp"
#include "zorvane/report/report_records.hpp"

namespace zorvane::html {

struct IndexChart {
  std::string name;           // display name, e.g. 上证指数
  candlex::BarTable history;  // daily bars up to the brief's day, oldest first
};

// What a brief page is made from, as a short text kept in the page ("zv-source"): the
// brief's market, day, text and model, and the colour habit.
std::string brief_page_source(const report::SumoraReport& brief, const ChartColors& colors);

// `core_table` is the computed core index table in Markdown; each index is drawn as its last
// 60 bars with EMA20. Brief text is escaped like any model text.
std::string brief_page_html(const report::SumoraReport& brief, const std::string& core_table,
                            const std::vector<IndexChart>& indices, const ChartColors& colors);

}  // namespace zorvane::html
