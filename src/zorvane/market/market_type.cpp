#include "zorvane/market/market_type.hpp"

#include "candlex/codes.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::utils {

namespace {

bool six_digits(std::string_view s) {
  if (s.size() != 6) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The six digits of a mainland code, "" when the code has a mainland prefix or suffix but
// no six-digit body, nullopt when it is not a mainland code at all.
std::optional<std::string> mainland_body(std::string_view code) {
  if (six_digits(code)) return std::string(code);
  if (code.size() >= 3 && code[2] == '.') {
    auto prefix = to_lower(code.substr(0, 2));
    if (prefix == "sh" || prefix == "sz" || prefix == "bj") {
      auto body = code.substr(3);
      return six_digits(body) ? std::string(body) : std::string();
    }
  }
  if (code.size() >= 3 && code[code.size() - 3] == '.') {
    auto suffix = to_lower(code.substr(code.size() - 2));
    if (suffix == "sh" || suffix == "sz" || suffix == "bj") {
      auto body = code.substr(0, code.size() - 3);
      return six_digits(body) ? std::string(body) : std::string();
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> get_market_type(std::string_view raw, std::string_view stock_name) {
  const auto code = trim(raw);
  if (code.empty()) return std::nullopt;
  if (auto body = mainland_body(code)) {
    if (candlex::is_fund_code(*body) || stock_name.find("ETF") != std::string_view::npos)
      return "ETF";
    return "A";
  }
  if (code.size() > 3 && code[2] == '.') {
    auto prefix = to_lower(code.substr(0, 2));
    if (prefix == "hk") return "HK";
    if (prefix == "us") return "US";
  }
  return std::nullopt;
}

}  // namespace zorvane::utils
