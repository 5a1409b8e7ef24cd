#include "zorvane/report/html/page.hpp"

#include <fstream>
#include <regex>

#include "zorvane/report/html/html_text.hpp"

namespace zorvane::html {

namespace {

constexpr const char* kStyle = R"css(
:root{--ink:#212529;--muted:#6c757d;--line:#dee2e6;--card:#f8f9fa}
*{box-sizing:border-box}
body{margin:0 auto;max-width:980px;padding:12px;color:var(--ink);background:#fff;
font:15px/1.6 -apple-system,"PingFang SC","Noto Sans CJK SC","WenQuanYi Micro Hei",
"Microsoft YaHei",sans-serif}
h1{font-size:1.35em;margin:.3em 0}h2{font-size:1.15em;margin:1.2em 0 .4em}
h3{font-size:1.05em}a{color:#1864ab}
.sub{color:var(--muted);font-size:.9em}
figure.chart{margin:12px auto;max-width:760px;border:1px solid var(--line);border-radius:6px;padding:4px}
figure.chart svg{width:100%;height:auto;display:block}
.card{display:grid;grid-template-columns:repeat(auto-fit,minmax(130px,1fr));gap:8px;
background:var(--card);border:1px solid var(--line);border-radius:6px;padding:10px;margin:12px 0}
.card div{min-width:0}.card b{display:block;font-size:.78em;color:var(--muted);font-weight:normal}
.card span.v{font-size:1.05em;word-break:break-word}
.status-rejected{color:#c92a2a;font-weight:bold}.status-valid{color:#2b8a3e}
.checks{margin:0;padding-left:1.2em;color:#c92a2a}
table{border-collapse:collapse;display:block;overflow-x:auto;max-width:100%;margin:8px 0}
th,td{border:1px solid var(--line);padding:4px 8px;text-align:left;white-space:nowrap}
th{background:var(--card)}
.md td{white-space:normal}
pre{white-space:pre-wrap;word-break:break-word;background:var(--card);padding:8px;border-radius:4px}
.badge{display:inline-block;padding:0 .5em;border-radius:1em;font-size:.85em;color:#fff;
background:#868e96;white-space:nowrap}
.badge.buy-strong{background:#c92a2a}.badge.buy{background:#e8590c}
.badge.buy-cautious{background:#f08c00}.badge.wait{background:#495057}
.badge.none{background:#adb5bd}.badge.brief{background:#1971c2}
.grid2{display:grid;grid-template-columns:repeat(auto-fit,minmax(300px,1fr));gap:8px}
th.sortable{cursor:pointer;user-select:none}th.sortable:after{content:" ⇅";color:var(--muted)}
th[aria-sort=ascending]:after{content:" ▲"}th[aria-sort=descending]:after{content:" ▼"}
td.spark svg{width:120px;height:32px;display:block}
ul.reports{list-style:none;padding:0}ul.reports li{padding:4px 0;border-bottom:1px solid var(--line)}
)css";

std::string unescape(std::string_view text) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    bool done = false;
    if (text[i] == '&') {
      for (const auto& [entity, ch] : kEntities) {
        if (text.substr(i).starts_with(entity)) {
          out += ch;
          i += std::string_view(entity).size();
          done = true;
          break;
        }
      }
    }
    if (!done) out += text[i++];
  }
  return out;
}

}  // namespace

std::string page_html(const PageMeta& meta, std::string_view body_html, std::string_view script) {
  const std::string script_src = script.empty() ? "'none'" : "'unsafe-inline'";
  std::string out;
  out.reserve(body_html.size() + 4096);
  out += "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">\n";
  out += "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">\n";
  out +=
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; img-src data:; script-src " +
      script_src + "; base-uri 'none'; form-action 'none'\">\n";
  for (const auto& [key, value] : meta) {
    out += "<meta name=\"zv-" + escape(key) + "\" content=\"" + escape(value) + "\">\n";
  }
  auto title = meta.find("title");
  out += "<title>" + escape(title != meta.end() ? title->second : "报告") + "</title>\n";
  out += "<style>" + std::string(kStyle) + "</style>\n</head><body>\n";
  out += body_html;
  if (!script.empty()) {
    out += "\n<script>";
    out += script;
    out += "</script>";
  }
  out += "\n</body></html>\n";
  return out;
}

PageMeta read_page_meta(std::string_view html) {
  static const std::regex kMeta(R"re(<meta name="zv-([a-z_]+)" content="([^"]*)">)re");
  const auto head_end = html.find("</head>");
  const std::string head(
      html.substr(0, head_end == std::string_view::npos ? html.size() : head_end));
  PageMeta meta;
  for (std::sregex_iterator it(head.begin(), head.end(), kMeta), end; it != end; ++it) {
    meta[(*it)[1].str()] = unescape((*it)[2].str());
  }
  return meta;
}

PageMeta read_page_meta_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(8192, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return read_page_meta(head);
}

std::string action_badge(std::string_view action) {
  std::string cls = "badge";
  if (action == "强烈买入") {
    cls += " buy-strong";
  } else if (action == "建议买入") {
    cls += " buy";
  } else if (action == "谨慎买入") {
    cls += " buy-cautious";
  } else if (action == "观望等待") {
    cls += " wait";
  } else {
    cls += " none";
  }
  return "<span class=\"" + cls + "\">" + escape(action.empty() ? "无决策" : action) + "</span>";
}

}  // namespace zorvane::html
