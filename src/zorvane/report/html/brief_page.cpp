#include "zorvane/report/html/brief_page.hpp"

#include <cstdint>
#include <cstdio>

#include "zorvane/report/html/chart.hpp"
#include "zorvane/report/html/html_text.hpp"
#include "zorvane/report/html/markdown.hpp"
#include "zorvane/report/html/page.hpp"

namespace zorvane::html {

std::string brief_page_source(const report::SumoraReport& brief, const ChartColors& colors) {
  // FNV-1a over the parts, each ended by a NUL so that no two splits give the same bytes.
  std::uint64_t h = 1469598103934665603ULL;
  for (const std::string& part :
       {brief.market_type, brief.analysis_time.substr(0, 10), brief.content,
        brief.llm_client_type.value_or(""), brief.llm_model.value_or(""),
        std::string(colors.red_up ? "red-up" : "green-up")}) {
    for (unsigned char c : part) h = (h ^ c) * 1099511628211ULL;
    h = (h ^ 0U) * 1099511628211ULL;
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

std::string brief_page_html(const report::SumoraReport& brief, const std::string& core_table,
                            const std::vector<IndexChart>& indices, const ChartColors& colors) {
  const std::string date = brief.analysis_time.substr(0, 10);
  const std::string title = brief.market_type + " 大盘简报 · " + date;
  std::string body = "<header><h1>" + escape(title) + "</h1><div class=\"sub\">模型 " +
                     escape(brief.llm_client_type.value_or("—")) +
                     (brief.llm_model ? " / " + escape(*brief.llm_model) : "") +
                     " · <a href=\"../index.html\">全部报告</a></div></header>\n";
  body += "<h2>核心指数</h2><div class=\"md\" id=\"core-table\">" + markdown_to_html(core_table) +
          "</div>\n<div class=\"grid2\">";
  for (const auto& index : indices) {
    CandleChartOptions opt;
    opt.title = index.name + " · 近60日 · EMA20";
    opt.bars = 60;
    opt.emas = {20};
    opt.volume = false;
    opt.width = 400;
    opt.price_height = 150;
    body += "<figure class=\"chart\" data-chart=\"index\">" +
            candle_chart_svg(index.history, opt, colors) + "</figure>";
  }
  body += "</div>\n<h2>简报</h2><article class=\"md\" id=\"brief\">" +
          markdown_to_html(brief.content) + "</article>\n";
  return page_html({{"kind", "brief"},
                    {"title", title},
                    {"date", date},
                    {"market", brief.market_type},
                    {"source", brief_page_source(brief, colors)}},
                   body);
}

}  // namespace zorvane::html
