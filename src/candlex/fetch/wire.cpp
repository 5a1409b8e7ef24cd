#include "candlex/fetch/wire.hpp"

#include <charconv>
#include <cmath>

#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/text.hpp"

namespace candlex::fetch {

std::optional<double> parse_number(std::string_view text) {
  text = zorvane::utils::trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
    return std::nullopt;
  return v;
}

std::optional<Day> parse_bar_date(std::string_view text) {
  text = zorvane::utils::trim(text);
  if (text.size() < 10) return std::nullopt;
  if (text.size() > 10 && text[10] != ' ' && text[10] != 'T') return std::nullopt;
  return zorvane::utils::try_parse_date(text.substr(0, 10));
}

std::string compact_date(Day day) {
  auto iso = zorvane::utils::iso_date(day);
  return iso.substr(0, 4) + iso.substr(5, 2) + iso.substr(8, 2);
}

std::string_view unwrap_json(std::string_view body) {
  body = zorvane::utils::trim(body);
  if (!body.empty() && (body.front() == '{' || body.front() == '[')) return body;
  const auto open = body.find_first_of("{[");
  if (open == std::string_view::npos) return body;
  auto close = body.find_last_of("}]");
  if (close == std::string_view::npos || close < open) return body.substr(open);
  return body.substr(open, close - open + 1);
}

}  // namespace candlex::fetch
