#pragma once
// The frame every report page shares: one self-contained HTML file with inline CSS, a content
// security policy that forbids every network load, and a few <meta name="zv-..."> entries
// that the index page reads back.

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace zorvane::html {

// What the index shows of a page. Keys: "kind" ("stock", "brief", "table"), "title", "date",
// for stock pages "code", "name", "market", "client", "action", "status", and for table pages
// an optional "label" (the index's badge).
using PageMeta = std::map<std::string, std::string>;

// A whole page. `script` (our own code, never model text) is placed inline at the end of the
// body and allowed by the policy; without it no script may run at all.
std::string page_html(const PageMeta& meta, std::string_view body_html,
                      std::string_view script = {});

// The zv- meta entries of a page, read from its head; empty when there are none.
PageMeta read_page_meta(std::string_view html);

// The zv- meta entries of the page file at `path` (read from its first 8 KiB); empty when the
// file is missing or no page.
PageMeta read_page_meta_file(const std::filesystem::path& path);

// <span class="badge ..."> for a decision action ("强烈买入" ... "观望等待"), "无决策" when
// `action` is empty.
std::string action_badge(std::string_view action);

}  // namespace zorvane::html
