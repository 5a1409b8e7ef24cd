#include "candlex/calendar.hpp"

#include <date/tz.h>

#include <algorithm>
#include <stdexcept>

#include "candlex/data_center.hpp"
#include "candlex/market_data.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/text.hpp"

namespace candlex {

namespace {

using namespace std::chrono;
using zorvane::utils::weekday_index;

struct MarketRule {
  const char* key;
  const char* index;
  const char* zone;
  int close_hour;
};

constexpr MarketRule kMarkets[] = {
    {"A", "sh.000001", "Asia/Shanghai", 15},
    {"ETF", "sh.000001", "Asia/Shanghai", 15},
    {"HK", "hk.HSI", "Asia/Hong_Kong", 16},
    {"US", "us.SPX", "America/New_York", 16},
};

const MarketRule& rule_of(std::string_view market) {
  auto key = zorvane::utils::to_upper(zorvane::utils::trim(market));
  for (const auto& m : kMarkets)
    if (key == m.key) return m;
  throw std::invalid_argument("unknown market " + zorvane::utils::quoted_text(market) +
                              ", expected A, ETF, HK or US");
}

Day easter_sunday(int y) {
  int a = y % 19, b = y / 100, c = y % 100, d = b / 4, e = b % 4, f = (b + 8) / 25;
  int g = (b - f + 1) / 3, h = (19 * a + b - d - g + 15) % 30, i = c / 4, k = c % 4;
  int l = (32 + 2 * e + 2 * i - h - k) % 7, m = (a + 11 * h + 22 * l) / 451;
  int month = (h + l - 7 * m + 114) / 31, day = (h + l - 7 * m + 114) % 31 + 1;
  return year{y} / month / day;
}

// Saturday holidays move to Friday, Sunday ones to Monday.
Day observed(Day d) {
  int wd = weekday_index(d);
  if (wd == 5) return d - days{1};
  if (wd == 6) return d + days{1};
  return d;
}

Day nth(int y, unsigned m, weekday wd, unsigned n) {
  return year{y} / month{m} / wd[n];
}
Day last_of(int y, unsigned m, weekday wd) {
  return year{y} / month{m} / wd[std::chrono::last];
}

bool is_weekend(Day d) {
  return weekday_index(d) >= 5;
}

bool fixed_holiday(std::string_view key, Day d) {
  year_month_day ymd{d};
  unsigned m = static_cast<unsigned>(ymd.month()), dd = static_cast<unsigned>(ymd.day());
  if (m == 1 && dd == 1) return true;
  if (key == "HK")
    return (m == 7 && dd == 1) || (m == 10 && dd == 1) || (m == 12 && dd >= 25 && dd <= 26);
  return (m == 5 && dd == 1) || (m == 10 && dd <= 7);
}

}  // namespace

std::string market_key(std::string_view market) {
  return rule_of(market).key;
}

std::string calendar_index_of(std::string_view market) {
  return rule_of(market).index;
}

bool is_nyse_holiday(Day d) {
  const int y = static_cast<int>(year_month_day{d}.year());
  Day new_year = year{y} / 1 / 1;
  if (weekday_index(new_year) != 5 && d == observed(new_year)) return true;
  if (y >= 1998 && d == nth(y, 1, Monday, 3)) return true;
  if (d == nth(y, 2, Monday, 3)) return true;
  if (d == easter_sunday(y) - days{2}) return true;
  if (d == last_of(y, 5, Monday)) return true;
  if (y >= 2022 && d == observed(year{y} / 6 / 19)) return true;
  if (d == observed(year{y} / 7 / 4)) return true;
  if (d == nth(y, 9, Monday, 1)) return true;
  if (d == nth(y, 11, Thursday, 4)) return true;
  if (d == observed(year{y} / 12 / 25)) return true;
  return false;
}

bool is_rule_trading_day(std::string_view market, Day day) {
  const std::string_view key = rule_of(market).key;
  if (is_weekend(day)) return false;
  if (key == "US") return !is_nyse_holiday(day);
  return !fixed_holiday(key, day);
}

std::vector<Day> rule_trading_days(std::string_view market, Day from, Day to) {
  const std::string key = market_key(market);
  std::vector<Day> out;
  for (Day d = from; d <= to; d += days{1})
    if (is_rule_trading_day(key, d)) out.push_back(d);
  return out;
}

bool is_trading_day(std::string_view market, Day day) {
  const auto& rule = rule_of(market);
  if (auto center = center_dir()) {
    auto index = load_center_daily(*center, rule.index);
    const auto& dates = index->dates();
    if (!dates.empty() && day >= dates.front() && day <= dates.back())
      return std::binary_search(dates.begin(), dates.end(), day);
  }
  return is_rule_trading_day(rule.key, day);
}

system_clock::time_point market_close(std::string_view market, Day day) {
  const auto& rule = rule_of(market);
  const auto* zone = date::locate_zone(rule.zone);
  date::local_seconds local{date::days{day.time_since_epoch().count()}};
  return zone->to_sys(local + hours{rule.close_hour}, date::choose::earliest);
}

Day last_closed_trading_day(std::string_view market, Day day, system_clock::time_point now) {
  const auto& rule = rule_of(market);
  const auto* zone = date::locate_zone(rule.zone);
  auto local_today = date::floor<date::days>(zone->to_local(now));
  Day today{days{local_today.time_since_epoch().count()}};
  if (day > today) day = today;
  while (!(is_trading_day(rule.key, day) && market_close(rule.key, day) <= now)) day -= days{1};
  return day;
}

std::string normalize_market_end_date(std::string_view date, std::string_view market,
                                      system_clock::time_point now) {
  const Day day = zorvane::utils::parse_iso_date(date);
  return zorvane::utils::iso_date(last_closed_trading_day(market, day, now));
}

std::string normalize_market_end_date(std::string_view date, std::string_view market) {
  return normalize_market_end_date(date, market, system_clock::now());
}

}  // namespace candlex
