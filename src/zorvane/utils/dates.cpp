#include "zorvane/utils/dates.hpp"

#include <time.h>

#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace zorvane::utils {

namespace {

bool digits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return !s.empty();
}

std::optional<Day> make_day(std::string_view y, std::string_view m, std::string_view d) {
  if (!digits(y) || !digits(m) || !digits(d)) return std::nullopt;
  int yy = std::stoi(std::string(y));
  unsigned mm = static_cast<unsigned>(std::stoi(std::string(m)));
  unsigned dd = static_cast<unsigned>(std::stoi(std::string(d)));
  std::chrono::year_month_day ymd{std::chrono::year{yy}, std::chrono::month{mm},
                                  std::chrono::day{dd}};
  if (!ymd.ok()) return std::nullopt;
  return Day(ymd);
}

}  // namespace

std::optional<Day> try_parse_date(std::string_view text) {
  if (text.size() == 10 && text[4] == '-' && text[7] == '-')
    return make_day(text.substr(0, 4), text.substr(5, 2), text.substr(8, 2));
  if (text.size() == 8) return make_day(text.substr(0, 4), text.substr(4, 2), text.substr(6, 2));
  return std::nullopt;
}

Day parse_iso_date(std::string_view text) {
  std::optional<Day> day;
  if (text.size() == 10 && text[4] == '-' && text[7] == '-')
    day = make_day(text.substr(0, 4), text.substr(5, 2), text.substr(8, 2));
  if (!day) throw std::invalid_argument("invalid date '" + std::string(text) + "', expected YYYY-MM-DD");
  return *day;
}

std::string iso_date(Day day) {
  std::chrono::year_month_day ymd{day};
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
  return buf;
}

Day today_local() {
  // The C library's local time follows TZ (as the log timestamps do), then the system zone.
  ::tzset();
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  if (::localtime_r(&now, &tm) == nullptr) {
    return std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  }
  return Day(std::chrono::year{tm.tm_year + 1900} /
             std::chrono::month{static_cast<unsigned>(tm.tm_mon + 1)} /
             std::chrono::day{static_cast<unsigned>(tm.tm_mday)});
}

int weekday_index(Day day) {
  std::chrono::weekday wd{day};
  return static_cast<int>(wd.iso_encoding()) - 1;
}

}  // namespace zorvane::utils
