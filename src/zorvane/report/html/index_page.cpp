#include "zorvane/report/html/index_page.hpp"

#include <algorithm>
#include <map>
#include <vector>

#include "zorvane/report/html/html_text.hpp"
#include "zorvane/report/html/page.hpp"
#include "zorvane/utils/dates.hpp"

namespace zorvane::html {

namespace {

namespace fs = std::filesystem;

struct Entry {
  std::string file;  // relative to the root, '/'-separated
  fs::file_time_type written;
  PageMeta meta;
};

// Most recently written first.
void sort_entries(std::vector<Entry>& entries) {
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.written != b.written) return a.written > b.written;
    return a.file < b.file;
  });
}

std::string entry_item(const Entry& e) {
  auto get = [&](const char* key) {
    auto it = e.meta.find(key);
    return it == e.meta.end() ? std::string() : it->second;
  };
  const std::string kind = get("kind");
  std::string badge;
  if (kind == "stock") {
    badge = action_badge(get("action"));
  } else {
    const std::string label = kind == "brief" ? "简报" : get("label");
    badge = "<span class=\"badge brief\">" + escape(label.empty() ? "表格" : label) + "</span>";
  }
  std::string extra;
  if (kind == "stock") {
    extra = get("client");
    if (get("status") == "rejected") extra += " · 决策被拒";
  }
  return "<li>" + badge + " <a href=\"" + escape(url_path(e.file)) + "\">" + escape(get("title")) +
         "</a>" + (extra.empty() ? "" : " <span class=\"sub\">" + escape(extra) + "</span>") +
         "</li>\n";
}

}  // namespace

std::string index_page_html(const fs::path& root) {
  std::map<std::string, std::vector<Entry>, std::greater<>> days;
  std::vector<Entry> tables;  // table pages written straight into the root
  std::error_code ec;
  for (const auto& dir : fs::directory_iterator(root, ec)) {
    const std::string name = dir.path().filename().string();
    if (dir.is_regular_file(ec) && dir.path().extension() == ".html" && name != "index.html") {
      PageMeta meta = read_page_meta_file(dir.path());
      auto kind = meta.find("kind");
      if (kind != meta.end() && kind->second == "table") {
        tables.push_back({name, dir.last_write_time(ec), std::move(meta)});
      }
      continue;
    }
    if (!dir.is_directory(ec) || !utils::try_parse_date(name) || name.size() != 10) continue;
    for (const auto& file : fs::directory_iterator(dir.path(), ec)) {
      if (file.path().extension() != ".html" || !file.is_regular_file(ec)) continue;
      PageMeta meta = read_page_meta_file(file.path());
      if (meta.find("kind") == meta.end()) continue;
      days[name].push_back({name + "/" + file.path().filename().string(), file.last_write_time(ec),
                            std::move(meta)});
    }
  }

  std::string body =
      "<header><h1>分析报告</h1><div class=\"sub\">按日期排列，最新在前</div></header>\n";
  if (days.empty() && tables.empty()) body += "<p class=\"sub\">还没有报告</p>\n";
  for (auto& [day, entries] : days) {
    sort_entries(entries);
    body += "<h2>" + escape(day) + "</h2><ul class=\"reports\">\n";
    for (const auto& e : entries) body += entry_item(e);
    body += "</ul>\n";
  }
  if (!tables.empty()) {
    sort_entries(tables);
    body += "<h2>其他表格</h2><ul class=\"reports\">\n";
    for (const auto& e : tables) body += entry_item(e);
    body += "</ul>\n";
  }
  return page_html({{"title", "分析报告"}}, body);
}

}  // namespace zorvane::html
