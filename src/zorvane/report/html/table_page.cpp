#include "zorvane/report/html/table_page.hpp"

#include <cmath>

#include "zorvane/report/html/chart.hpp"
#include "zorvane/report/html/html_text.hpp"
#include "zorvane/report/html/page.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::html {

namespace {

// Sorts the rows of table#t by a clicked header: numbers by data-v, texts by locale.
constexpr const char* kSortScript = R"js(
(function(){var t=document.getElementById("t");if(!t)return;var b=t.tBodies[0];
var hs=t.tHead.rows[0].cells;
function key(r,c){var d=r.cells[c];var v=d.getAttribute("data-v");return v===null?d.textContent:parseFloat(v);}
function sort(c,dir){var rs=Array.prototype.slice.call(b.rows);var s=dir==="desc"?-1:1;
rs.sort(function(x,y){var a=key(x,c),z=key(y,c);if(typeof a==="number"&&typeof z==="number")return (a-z)*s;
return String(a).localeCompare(String(z),"zh-CN")*s;});rs.forEach(function(r){b.appendChild(r);});
for(var i=0;i<hs.length;i++)hs[i].removeAttribute("aria-sort");
hs[c].setAttribute("aria-sort",dir==="desc"?"descending":"ascending");}
for(var i=0;i<hs.length;i++){if(!hs[i].classList.contains("sortable"))continue;
hs[i].addEventListener("click",(function(c){return function(){
var dir=hs[c].getAttribute("aria-sort")==="ascending"?"desc":"asc";sort(c,dir);
history.replaceState(null,"","#sort="+c+"-"+dir);};})(i));}
var m=/^#sort=(\d+)-(asc|desc)$/.exec(location.hash);
if(m&&hs[+m[1]]&&hs[+m[1]].classList.contains("sortable"))sort(+m[1],m[2]);})();
)js";

}  // namespace

std::string table_page_html(const TablePage& page, const ChartColors& colors) {
  bool any_spark = false;
  for (const auto& row : page.rows) any_spark = any_spark || !row.spark.empty();

  std::string body = "<header><h1>" + escape(page.title) + "</h1>";
  if (!page.subtitle.empty()) body += "<div class=\"sub\">" + escape(page.subtitle) + "</div>";
  body += "</header>\n";
  if (!page.summary.empty()) {
    body += "<ul class=\"summary\">";
    for (const auto& line : page.summary) body += "<li>" + escape(line) + "</li>";
    body += "</ul>\n";
  }
  body += "<table id=\"t\"><thead><tr>";
  const std::string spark_head = "<th>" + escape(page.spark_title) + "</th>";
  for (std::size_t k = 0; k < page.columns.size(); ++k) {
    if (any_spark && k == page.spark_at) body += spark_head;
    body += "<th class=\"sortable\">" + escape(page.columns[k]) + "</th>";
  }
  if (any_spark && page.spark_at >= page.columns.size()) body += spark_head;
  body += "</tr></thead><tbody>\n";
  for (const auto& row : page.rows) {
    const std::string spark_cell = "<td class=\"spark\">" +
                                   (row.spark.empty() ? "" : sparkline_svg(row.spark, colors)) +
                                   "</td>";
    body += "<tr>";
    for (std::size_t k = 0; k < row.cells.size(); ++k) {
      const auto& cell = row.cells[k];
      if (any_spark && k == page.spark_at) body += spark_cell;
      const bool numeric = cell.number && std::isfinite(*cell.number);
      body += numeric ? "<td data-v=\"" + utils::float_text(*cell.number) + "\">" : "<td>";
      if (!cell.href.empty()) {
        body += "<a href=\"" + escape(cell.href) + "\">" + escape(cell.text) + "</a>";
      } else {
        body += escape(cell.text);
      }
      body += "</td>";
    }
    if (any_spark && page.spark_at >= row.cells.size()) body += spark_cell;
    body += "</tr>\n";
  }
  body += "</tbody></table>\n";
  if (page.rows.empty()) body += "<p class=\"sub\">没有记录</p>";
  PageMeta meta{{"kind", "table"}, {"title", page.title}};
  if (!page.label.empty()) meta["label"] = page.label;
  return page_html(meta, body, kSortScript);
}

}  // namespace zorvane::html
