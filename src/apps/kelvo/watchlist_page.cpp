#include "apps/kelvo/watchlist_page.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <system_error>

#include "apps/kelvo/watchlist_summary.hpp"
#include "candlex/market_data.hpp"
#include "zorvane/report/html/html_text.hpp"
#include "zorvane/report/html/report_pages.hpp"
#include "zorvane/report/html/table_page.hpp"
#include "zorvane/utils/atomic_file.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/text.hpp"

namespace kelvo {

namespace {

namespace fs = std::filesystem;
using zorvane::html::TableCell;

constexpr std::size_t kSparkBars = 60;
// Calendar days read for the sparkline: 60 bars with room for long holidays.
constexpr int kSparkDays = 150;

TableCell text_cell(const std::optional<std::string>& text) {
  return {text && !text->empty() ? *text : "—", std::nullopt, ""};
}

TableCell price_cell(const std::optional<double>& v) {
  if (!v) return {"—", std::nullopt, ""};
  return {zorvane::utils::fixed_text(*v, 2), *v, ""};
}

// "114.06-115.42", sorted by its lower bound.
TableCell entry_cell(const WatchlistRow& r) {
  if (!r.entry_price_low && !r.entry_price_high) return {"—", std::nullopt, ""};
  auto text = [](const std::optional<double>& v) {
    return v ? zorvane::utils::fixed_text(*v, 2) : std::string("—");
  };
  return {text(r.entry_price_low) + "-" + text(r.entry_price_high),
          r.entry_price_low ? r.entry_price_low : r.entry_price_high, ""};
}

// One market's colours when every row shares it, else the default.
std::optional<std::string> common_market(const std::vector<WatchlistRow>& rows) {
  std::optional<std::string> market;
  for (const auto& r : rows) {
    if (!r.market_type) continue;
    if (market && *market != *r.market_type) return std::nullopt;
    market = r.market_type;
  }
  return market;
}

std::string clock_text(std::time_t t) {
  std::tm tm{};
  if (::localtime_r(&t, &tm) == nullptr) return "000000";
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

// The row's report page relative to the watchlist page, when it was written.
std::string report_href(const fs::path& root, const fs::path& page_dir, const WatchlistRow& row,
                        const std::string& client_type) {
  if (row.analysis_time.empty()) return {};
  zorvane::report::StockReport report;
  report.code = row.code;
  report.analysis_date = row.analysis_time;
  report.llm_client_type = client_type;
  fs::path page;
  try {
    page = zorvane::html::stock_page_path(root, report);
  } catch (const std::invalid_argument&) {
    return {};  // no page can have been written under such a name
  }
  std::error_code ec;
  if (!fs::is_regular_file(page, ec)) return {};
  return zorvane::html::url_path(page.lexically_relative(page_dir).generic_string());
}

}  // namespace

std::vector<double> recent_closes(const std::string& code, const std::string& date) {
  const auto end = zorvane::utils::try_parse_date(date);
  if (!end) return {};
  return candlex::recent_closes(
      code, zorvane::utils::iso_date(*end - std::chrono::days{kSparkDays}), date, kSparkBars);
}

std::string watchlist_page_html(const std::vector<WatchlistRow>& rows,
                                const std::vector<PageRowExtras>& extras,
                                const std::string& analysis_time) {
  zorvane::html::TablePage page;
  page.title = "自选股汇总 " + analysis_time;
  page.label = "自选股";
  const SummaryCounts n = summary_counts(rows);
  page.subtitle = "共 " + std::to_string(rows.size()) + " 只 · ok " + std::to_string(n.ok) +
                  " · skipped " + std::to_string(n.skipped) + " · no decision " +
                  std::to_string(n.no_decision) + " · failed " + std::to_string(n.failed);
  page.columns = {"代码", "名称", "操作", "信心", "入场区间", "止损", "目标1", "状态"};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& r = rows[i];
    static const PageRowExtras kNone;
    const PageRowExtras& extra = i < extras.size() ? extras[i] : kNone;
    zorvane::html::TableRow row;
    row.cells = {TableCell{r.code, std::nullopt, extra.report_href},
                 text_cell(r.name),
                 text_cell(r.action),
                 text_cell(r.confidence),
                 entry_cell(r),
                 price_cell(r.stop_loss),
                 price_cell(r.target_1),
                 text_cell(r.status)};
    row.spark = extra.closes;
    page.rows.push_back(std::move(row));
  }
  return zorvane::html::table_page_html(page, zorvane::html::chart_colors(common_market(rows)));
}

fs::path watchlist_page_path(const fs::path& root, const std::vector<WatchlistRow>& rows,
                             const std::string& analysis_time, std::time_t started) {
  std::string date;
  for (const auto& r : rows) date = std::max(date, r.analysis_time);
  if (date.empty()) date = analysis_time;
  zorvane::utils::parse_iso_date(date);  // a date is part of the path
  return root / date / ("watchlist_" + clock_text(started) + ".html");
}

fs::path write_watchlist_page(const fs::path& root, const std::vector<WatchlistRow>& rows,
                              const std::string& analysis_time, const std::string& client_type,
                              std::time_t started, const ClosesFn& closes) {
  const fs::path path = watchlist_page_path(root, rows, analysis_time, started);
  std::vector<PageRowExtras> extras;
  for (const auto& r : rows) {
    extras.push_back({report_href(root, path.parent_path(), r, client_type),
                      closes(r.code, r.analysis_time.empty() ? analysis_time : r.analysis_time)});
  }
  zorvane::utils::write_file_atomic(path, watchlist_page_html(rows, extras, analysis_time));
  zorvane::html::write_index_page(root);
  return path;
}

}  // namespace kelvo
