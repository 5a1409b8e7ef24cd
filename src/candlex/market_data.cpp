#include "candlex/market_data.hpp"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "candlex/calendar.hpp"
#include "candlex/codes.hpp"
#include "candlex/data_center.hpp"
#include "candlex/sample_market.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"

namespace candlex {

namespace {

using zorvane::utils::iso_date;
using zorvane::utils::parse_iso_date;

// Enough calendar days for a 120-bar moving average of trading days.
constexpr int kDefaultWindowDays = 400;

std::shared_ptr<const BarTable> full_history(const std::string& code) {
  if (auto center = center_dir()) return load_center_daily(*center, code);
  return sample_daily(code, zorvane::utils::today_local());
}

struct Window {
  Day start, end;
};

Window window_of(const std::optional<std::string>& start_date,
                 const std::optional<std::string>& end_date) {
  const Day end = end_date ? parse_iso_date(*end_date) : zorvane::utils::today_local();
  // No bar lies after today, so a future end date does not push the default window past
  // the data.
  const Day start = start_date ? parse_iso_date(*start_date)
                               : std::min(end, zorvane::utils::today_local()) -
                                     std::chrono::days{kDefaultWindowDays};
  if (start > end)
    throw std::invalid_argument("start date " + iso_date(start) + " is after end date " +
                                iso_date(end));
  return {start, end};
}

BarTable cut(const BarTable& all, const Window& w) {
  const auto& dates = all.dates();
  auto first = std::lower_bound(dates.begin(), dates.end(), w.start);
  auto last = std::upper_bound(dates.begin(), dates.end(), w.end);
  return all.slice(static_cast<std::size_t>(first - dates.begin()),
                   static_cast<std::size_t>(last - dates.begin()));
}

}  // namespace

BarTable get_any_ohlc(std::string_view code, std::optional<std::string> start_date,
                      std::optional<std::string> end_date) {
  const std::string canonical = normalize_code(code);
  const Window w = window_of(start_date, end_date);
  return cut(*full_history(canonical), w);
}

BarTable get_any_ohlc_uncached(std::string_view code, std::optional<std::string> start_date,
                               std::optional<std::string> end_date) {
  const std::string canonical = normalize_code(code);
  const Window w = window_of(start_date, end_date);
  if (auto center = center_dir())
    return load_center_daily_window(*center, canonical, w.start, w.end);
  return cut(*full_history(canonical), w);
}

std::vector<double> recent_closes(std::string_view code, const std::string& start_date,
                                  const std::string& end_date, std::size_t bars) {
  try {
    auto t = get_any_ohlc_uncached(code, start_date, end_date);
    if (t.has("close")) return t.tail(bars).col("close");
  } catch (const std::exception&) {
    // No line then; whoever read the stock for its analysis already said why it failed.
  }
  return {};
}

namespace {

std::string five_years_before(Day end) {
  auto ymd = std::chrono::year_month_day{end} - std::chrono::years{5};
  if (!ymd.ok()) ymd = ymd.year() / ymd.month() / std::chrono::last;  // 29 February
  return iso_date(Day(ymd));
}

}  // namespace

std::string get_default_start_date() {
  return five_years_before(zorvane::utils::today_local());
}

std::string get_default_start_date(std::string_view end_date) {
  return five_years_before(parse_iso_date(end_date));
}

std::optional<Day> warn_if_stale(std::string_view code, const BarTable& bars, Day as_of) {
  if (bars.empty()) return std::nullopt;
  const Day last = bars.last_date();
  std::string market = calendar_market_of(normalize_code(code));
  if (market.empty()) market = "A";
  int behind = 0;
  for (Day d = last + std::chrono::days{1}; d <= as_of && behind <= kStaleTradingDays;
       d += std::chrono::days{1}) {
    if (is_trading_day(market, d)) ++behind;
  }
  if (behind <= kStaleTradingDays) return std::nullopt;
  zorvane::utils::logger.warning(
      "[行情数据] %s 的最后一根K线为 %s，早于分析日 %s 超过 %d 个交易日，数据可能已过期",
      std::string(code), iso_date(last), iso_date(as_of), kStaleTradingDays);
  return last;
}

}  // namespace candlex
