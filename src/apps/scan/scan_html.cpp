#include "apps/scan/scan_html.hpp"

#include "candlex/market_data.hpp"
#include "morvik/radar.hpp"
#include "zorvane/report/html/table_page.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace scan {

namespace {

using zorvane::utils::json_string;

using zorvane::html::TableCell;
using zorvane::utils::fixed_text;

TableCell text_cell(std::string text) {
  return {std::move(text), std::nullopt, ""};
}

TableCell number_cell(const rapidjson::Value& v, const char* key) {
  const auto* m = zorvane::utils::json_find(v, key);
  if (!m || !m->IsNumber()) return {"—", std::nullopt, ""};
  return {fixed_text(m->GetDouble(), 2), m->GetDouble(), ""};
}

std::vector<double> closes_for(const Closes& closes, const std::string& code) {
  auto it = closes.find(code);
  return it == closes.end() ? std::vector<double>{} : it->second;
}

std::string subtitle(const Summary& s) {
  return "截止 " + s.end_date + " · 股票池 " + std::to_string(s.pool_size) + " · 有数据 " +
         std::to_string(s.with_data);
}

}  // namespace

Closes recent_closes(const std::vector<Hit>& hits, const std::string& start_date,
                     const std::string& end_date, std::size_t bars) {
  Closes out;
  for (const auto& hit : hits) {
    auto closes = candlex::recent_closes(hit.code, start_date, end_date, bars);
    if (!closes.empty()) out[hit.code] = std::move(closes);
  }
  return out;
}

std::string radar_html(const rapidjson::Value& sections, const std::string& frequency,
                       const Summary& summary, const Closes& closes,
                       const std::optional<std::string>& market) {
  zorvane::html::TablePage page;
  page.title = "机会雷达 · " + frequency;
  page.subtitle = subtitle(summary);
  page.columns = {"代码", "名称", "分组", "状态", "评分", "量比", "涨跌幅%", "原因"};
  for (const auto name : {morvik::kRadarAbnormal, morvik::kRadarOpportunity, morvik::kRadarRisk}) {
    const auto* list = zorvane::utils::json_find(sections, name);
    if (!list || !list->IsArray()) continue;
    for (const auto& rec : list->GetArray()) {
      std::string reasons;
      if (const auto* r = zorvane::utils::json_find(rec, "reasons"); r && r->IsArray()) {
        for (const auto& x : r->GetArray()) {
          if (!x.IsString()) continue;
          if (!reasons.empty()) reasons += "、";
          reasons += x.GetString();
        }
      }
      const std::string code = json_string(rec, "code");
      zorvane::html::TableRow row;
      row.cells = {text_cell(code),
                   text_cell(json_string(rec, "name")),
                   text_cell(std::string(name)),
                   text_cell(json_string(rec, "state")),
                   number_cell(rec, "score"),
                   number_cell(rec, "vol_ratio"),
                   number_cell(rec, "change_pct"),
                   text_cell(reasons)};
      row.spark = closes_for(closes, code);
      page.rows.push_back(std::move(row));
    }
  }
  return zorvane::html::table_page_html(page, zorvane::html::chart_colors(market));
}

std::string selector_html(const std::string& selector, const std::vector<Hit>& passed,
                          const Summary& summary, const Closes& closes,
                          const std::optional<std::string>& market) {
  zorvane::html::TablePage page;
  page.title = "筛选器 " + selector;
  page.subtitle = subtitle(summary) + " · 通过 " + std::to_string(passed.size());
  page.columns = {"代码", "名称", "评分", "策略"};
  for (const auto& hit : passed) {
    zorvane::html::TableRow row;
    row.cells = {text_cell(hit.code), text_cell(hit.name),
                 TableCell{fixed_text(hit.score, 2), hit.score, ""}, text_cell(hit.strategy_type)};
    row.spark = closes_for(closes, hit.code);
    page.rows.push_back(std::move(row));
  }
  return zorvane::html::table_page_html(page, zorvane::html::chart_colors(market));
}

}  // namespace scan
