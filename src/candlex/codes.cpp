#include "candlex/codes.hpp"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "zorvane/utils/text.hpp"

namespace candlex {

namespace {

using zorvane::utils::to_lower;
using zorvane::utils::to_upper;
using zorvane::utils::trim;

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

bool iequals(std::string_view a, std::string_view b) {
  return to_lower(a) == to_lower(b);
}

// Exchange of a bare six-digit mainland code, by its leading digits.
std::string exchange_of(std::string_view six) {
  if (six.substr(0, 2) == "92") return "bj";
  switch (six[0]) {
    case '6':
    case '9':
      return "sh";
    case '4':
    case '8':
      return "bj";
    default:
      return "sz";
  }
}

std::string mainland(std::string_view exchange, std::string_view six) {
  if (is_fund_code(six)) return std::string(six);
  return std::string(exchange) + "." + std::string(six);
}

std::string hong_kong(std::string_view rest) {
  if (all_digits(rest) && rest.size() < 5)
    return "hk." + std::string(5 - rest.size(), '0') + std::string(rest);
  return "hk." + to_upper(rest);
}

void check_safe(std::string_view raw, std::string_view code) {
  if (code.empty()) throw std::invalid_argument("empty security code");
  bool bad = code.find("..") != std::string_view::npos;
  for (char c : code) {
    auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7f) bad = true;
  }
  if (bad) throw std::invalid_argument("invalid security code " + zorvane::utils::quoted_text(raw));
}

}  // namespace

bool is_fund_code(std::string_view d) {
  if (d.size() != 6 || !all_digits(d)) return false;
  auto p = d.substr(0, 2);
  return p == "51" || p == "56" || p == "58" || p == "15" || p == "16";
}

std::string normalize_code(std::string_view raw) {
  std::string_view code = trim(raw);
  check_safe(raw, code);

  if (all_digits(code) && code.size() == 6) return mainland(exchange_of(code), code);

  // Prefix forms: "sh.600519", "sh600519", "hk.00700", "us.AAPL".
  if (code.size() > 3 && code[2] == '.') {
    auto prefix = to_lower(code.substr(0, 2));
    auto rest = code.substr(3);
    if ((prefix == "sh" || prefix == "sz" || prefix == "bj") && all_digits(rest) &&
        rest.size() == 6)
      return mainland(prefix, rest);
    if (prefix == "hk") return hong_kong(rest);
    if (prefix == "us") return "us." + to_upper(rest);
  }
  if (code.size() == 8 && all_digits(code.substr(2))) {
    auto prefix = to_lower(code.substr(0, 2));
    if (prefix == "sh" || prefix == "sz" || prefix == "bj") return mainland(prefix, code.substr(2));
  }

  // Suffix forms: "600519.SH", "00700.HK", "AAPL.US".
  auto dot = code.rfind('.');
  if (dot != std::string_view::npos && dot > 0 && dot + 3 == code.size()) {
    auto body = code.substr(0, dot);
    auto suffix = code.substr(dot + 1);
    for (std::string_view ex : {"sh", "sz", "bj"})
      if (iequals(suffix, ex) && all_digits(body) && body.size() == 6) return mainland(ex, body);
    if (iequals(suffix, "hk")) return hong_kong(body);
    if (iequals(suffix, "us")) return "us." + to_upper(body);
  }
  return std::string(code);
}

bool is_security_code(std::string_view c) {
  if (is_fund_code(c)) return true;
  if (c.size() < 4 || c[2] != '.') return false;
  const auto prefix = c.substr(0, 3);
  const auto rest = c.substr(3);
  if (prefix == "sh." || prefix == "sz." || prefix == "bj.") {
    return rest.size() == 6 && all_digits(rest);
  }
  if (prefix != "hk." && prefix != "us.") return false;
  const bool us = prefix == "us.";
  const bool alnum_first = std::isalnum(static_cast<unsigned char>(rest[0])) != 0;
  return alnum_first && std::all_of(rest.begin(), rest.end(), [us](char ch) {
           return std::isalnum(static_cast<unsigned char>(ch)) != 0 ||
                  (us && (ch == '.' || ch == '-'));
         });
}

std::string calendar_market_of(std::string_view c) {
  if (is_fund_code(c)) return "A";
  auto prefix = c.substr(0, 3);
  if (prefix == "sh." || prefix == "sz." || prefix == "bj.") return "A";
  if (prefix == "hk.") return "HK";
  if (prefix == "us.") return "US";
  return "";
}

}  // namespace candlex
