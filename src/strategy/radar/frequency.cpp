#include "strategy/radar/frequency.hpp"

#include <time.h>

#include <cctype>
#include <charconv>

#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/text.hpp"

namespace radar {

namespace {

using std::chrono::sys_days;

std::string by_weekday(sys_days day) {
  return zorvane::utils::weekday_index(day) >= 4 ? kWeekly : kDaily;
}

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::optional<unsigned> number(std::string_view s, std::size_t min_len, std::size_t max_len) {
  if (s.size() < min_len || s.size() > max_len || !all_digits(s)) return std::nullopt;
  unsigned v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

std::optional<sys_days> make_day(std::string_view y, std::string_view m, std::string_view d) {
  auto yy = number(y, 4, 4), mm = number(m, 1, 2), dd = number(d, 1, 2);
  if (!yy || !mm || !dd) return std::nullopt;
  std::chrono::year_month_day ymd{std::chrono::year(static_cast<int>(*yy)), std::chrono::month(*mm),
                                  std::chrono::day(*dd)};
  if (!ymd.ok()) return std::nullopt;
  return sys_days(ymd);
}

std::optional<sys_days> date_part(std::string_view s) {
  if (s.size() == 8 && all_digits(s)) return make_day(s.substr(0, 4), s.substr(4, 2), s.substr(6));
  for (char sep : {'-', '/', '.'}) {
    const auto a = s.find(sep);
    if (a == std::string_view::npos) continue;
    const auto b = s.find(sep, a + 1);
    if (b == std::string_view::npos) return std::nullopt;
    return make_day(s.substr(0, a), s.substr(a + 1, b - a - 1), s.substr(b + 1));
  }
  return std::nullopt;
}

// "14:30", "14:30:00.5", "1430".
bool time_part(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
  return std::isdigit(static_cast<unsigned char>(s.front()));
}

}  // namespace

std::optional<sys_days> parse_general_date(std::string_view text) {
  text = zorvane::utils::trim(text);
  const auto cut = text.find_first_of(" T_");
  if (cut == std::string_view::npos) return date_part(text);
  if (!time_part(zorvane::utils::trim(text.substr(cut + 1)))) return std::nullopt;
  return date_part(text.substr(0, cut));
}

std::string get_default_frequency() {
  return by_weekday(zorvane::utils::today_local());
}

std::string get_default_frequency(std::nullopt_t) {
  return get_default_frequency();
}

std::string get_default_frequency(sys_days date_val) {
  return by_weekday(date_val);
}

std::string get_default_frequency(std::chrono::system_clock::time_point date_val) {
  const std::time_t t = std::chrono::system_clock::to_time_t(date_val);
  std::tm local{};
  if (::localtime_r(&t, &local) == nullptr)
    return by_weekday(std::chrono::floor<std::chrono::days>(date_val));
  return local.tm_wday == 0 || local.tm_wday >= 5 ? kWeekly : kDaily;  // tm_wday: Sunday 0
}

std::string get_default_frequency(std::string_view date_val) {
  if (auto day = parse_general_date(date_val)) return by_weekday(*day);
  return get_default_frequency();
}

std::string get_default_frequency(const std::string& date_val) {
  return get_default_frequency(std::string_view(date_val));
}

std::string get_default_frequency(const char* date_val) {
  if (date_val == nullptr) return get_default_frequency();
  return get_default_frequency(std::string_view(date_val));
}

std::string get_default_frequency(const std::optional<std::string>& date_val) {
  if (!date_val) return get_default_frequency();
  return get_default_frequency(std::string_view(*date_val));
}

}  // namespace radar
