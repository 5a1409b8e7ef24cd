#include "apps/kelvo/watchlist_summary.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace kelvo {

namespace {

using zorvane::utils::json_add;

std::string price_text(const std::optional<double>& v) {
  return v ? zorvane::utils::fixed_text(*v, 2) : "—";
}

std::string entry_text(const WatchlistRow& r) {
  if (!r.entry_price_low && !r.entry_price_high) return "—";
  return price_text(r.entry_price_low) + "-" + price_text(r.entry_price_high);
}

// Terminal columns of UTF-8 text: East Asian wide characters take two.
std::size_t display_width(std::string_view s) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? c : c & (0xFF >> (len + 1));
    for (std::size_t k = 1; k < len && i + k < s.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1FAFF);
    width += wide ? 2 : 1;
    i += len;
  }
  return width;
}

void add_optional(rapidjson::Value& o, const char* key, const std::optional<std::string>& v,
                  zorvane::utils::JsonAllocator& a) {
  if (v) {
    json_add(o, key, std::string_view(*v), a);
  } else {
    json_add(o, key, rapidjson::Value(), a);
  }
}

void add_optional(rapidjson::Value& o, const char* key, const std::optional<double>& v,
                  zorvane::utils::JsonAllocator& a) {
  if (v && std::isfinite(*v)) {
    json_add(o, key, *v, a);
  } else {
    json_add(o, key, rapidjson::Value(), a);
  }
}

}  // namespace

SummaryCounts summary_counts(const std::vector<WatchlistRow>& rows) {
  SummaryCounts c;
  for (const auto& r : rows) {
    if (r.status == "ok") {
      ++c.ok;
    } else if (r.status == "skipped") {
      ++c.skipped;
    } else if (r.status == "no decision") {
      ++c.no_decision;
    } else {
      ++c.failed;
    }
  }
  return c;
}

std::string summary_text(const std::vector<WatchlistRow>& rows, const std::string& analysis_time) {
  using Line = std::array<std::string, 8>;
  std::vector<Line> lines{{"代码", "名称", "操作", "信心", "入场区间", "止损", "目标1", "状态"}};
  for (const auto& r : rows) {
    lines.push_back({r.code, r.name.empty() ? "—" : r.name, r.action.value_or("—"),
                     r.confidence.value_or("—"), entry_text(r), price_text(r.stop_loss),
                     price_text(r.target_1), r.status});
  }
  std::array<std::size_t, 8> widths{};
  for (const auto& l : lines) {
    for (std::size_t c = 0; c < l.size(); ++c) widths[c] = std::max(widths[c], display_width(l[c]));
  }
  std::string out = "自选股分析汇总 (" + analysis_time + ")\n";
  for (const auto& l : lines) {
    std::string line;
    for (std::size_t c = 0; c < l.size(); ++c) {
      line += l[c];
      if (c + 1 < l.size()) line += std::string(widths[c] - display_width(l[c]) + 2, ' ');
    }
    out += line + "\n";
  }
  const SummaryCounts n = summary_counts(rows);
  out += "共 " + std::to_string(rows.size()) + " 只: ok " + std::to_string(n.ok) + ", skipped " +
         std::to_string(n.skipped) + ", no decision " + std::to_string(n.no_decision) +
         ", failed " + std::to_string(n.failed) + "\n";
  return out;
}

std::string summary_json(const std::vector<WatchlistRow>& rows, const std::string& analysis_time,
                         const std::string& created_at, bool pretty,
                         const std::string& message_id) {
  rapidjson::Document doc(rapidjson::kObjectType);
  auto& a = doc.GetAllocator();
  const SummaryCounts n = summary_counts(rows);
  json_add(doc, "type", "watchlist_summary", a);
  if (!message_id.empty()) json_add(doc, "message_id", std::string_view(message_id), a);
  json_add(doc, "analysis_time", std::string_view(analysis_time), a);
  json_add(doc, "total", static_cast<long long>(rows.size()), a);
  json_add(doc, "ok", n.ok, a);
  json_add(doc, "skipped", n.skipped, a);
  json_add(doc, "no_decision", n.no_decision, a);
  json_add(doc, "failed", n.failed, a);
  rapidjson::Value list(rapidjson::kArrayType);
  for (const auto& r : rows) {
    rapidjson::Value o(rapidjson::kObjectType);
    json_add(o, "code", std::string_view(r.code), a);
    json_add(o, "name", std::string_view(r.name), a);
    add_optional(o, "market_type", r.market_type, a);
    json_add(o, "analysis_time", std::string_view(r.analysis_time), a);
    add_optional(o, "action", r.action, a);
    add_optional(o, "confidence", r.confidence, a);
    add_optional(o, "entry_price_low", r.entry_price_low, a);
    add_optional(o, "entry_price_high", r.entry_price_high, a);
    add_optional(o, "stop_loss", r.stop_loss, a);
    add_optional(o, "target_1", r.target_1, a);
    json_add(o, "status", std::string_view(r.status), a);
    list.PushBack(o, a);
  }
  json_add(doc, "rows", std::move(list), a);
  if (!created_at.empty()) json_add(doc, "created_at", std::string_view(created_at), a);
  return pretty ? zorvane::utils::safe_json_dumps(doc, false, 2)
                : zorvane::utils::safe_json_dumps(doc);
}

std::string summary_key(const std::string& analysis_time) {
  return "watchlist:" + analysis_time;
}

}  // namespace kelvo
