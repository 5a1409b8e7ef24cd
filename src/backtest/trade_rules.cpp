#include "backtest/trade_rules.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace backtest {

namespace {

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The digits of a canonical code without its exchange prefix ("sh.600519" -> "600519").
std::string_view code_digits(std::string_view code) {
  auto dot = code.find('.');
  return dot == std::string_view::npos ? code : code.substr(dot + 1);
}

// Full-width digits and range marks become ASCII, so one scanner reads every spelling.
std::string ascii_form(std::string_view text) {
  static const std::pair<std::string_view, char> kMarks[] = {
      {"～", '-'}, {"~", '-'},  {"－", '-'}, {"—", '-'},  {"–", '-'},
      {"至", '-'}, {"到", '-'}, {"．", '.'}, {"　", ' '},
  };
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    // Full-width digits are U+FF10..U+FF19: EF BC 90..99.
    if (i + 2 < text.size() && static_cast<unsigned char>(text[i]) == 0xEF &&
        static_cast<unsigned char>(text[i + 1]) == 0xBC) {
      auto b = static_cast<unsigned char>(text[i + 2]);
      if (b >= 0x90 && b <= 0x99) {
        out += static_cast<char>('0' + (b - 0x90));
        i += 3;
        continue;
      }
    }
    bool replaced = false;
    for (const auto& [mark, ascii] : kMarks) {
      if (starts_with(text.substr(i), mark)) {
        out += ascii;
        i += mark.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

std::string_view skip_spaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// Reads a non-negative decimal number at the front of `s`; nullopt when there is none.
std::optional<double> take_number(std::string_view& s) {
  std::size_t n = 0;
  while (n < s.size() && ((s[n] >= '0' && s[n] <= '9') || s[n] == '.')) ++n;
  if (n == 0 || s.substr(0, n) == ".") return std::nullopt;
  double value = std::strtod(std::string(s.substr(0, n)).c_str(), nullptr);
  s.remove_prefix(n);
  return value;
}

// Bars per unit named at the front of `s` (after an optional "个"); days when none is named.
int bars_per_unit(std::string_view s) {
  s = skip_spaces(s);
  if (starts_with(s, "个")) s.remove_prefix(std::string_view("个").size());
  static const std::pair<std::string_view, int> kUnits[] = {
      {"交易日", 1}, {"日", 1},  {"天", 1},   {"周", 5},   {"星期", 5},   {"礼拜", 5},
      {"月", 21},    {"day", 1}, {"d", 1},    {"week", 5}, {"w", 5},      {"month", 21},
      {"Day", 1},    {"D", 1},   {"Week", 5}, {"W", 5},    {"Month", 21},
  };
  for (const auto& [unit, bars] : kUnits) {
    if (starts_with(s, unit)) return bars;
  }
  return 1;
}

}  // namespace

MarketRules market_rules(std::string_view code, std::string_view name, std::string_view market) {
  if (market == "ETF") return {"无", 0, true};
  if (market != "A") return {"无", 0, false};
  if (name.find("ST") != std::string_view::npos) return {"ST5%", 0.05, true};
  if (starts_with(code, "bj.")) return {"北交所30%", 0.30, true};
  auto digits = code_digits(code);
  if (starts_with(digits, "688") || starts_with(digits, "689")) return {"科创板20%", 0.20, true};
  if (starts_with(digits, "300") || starts_with(digits, "301")) return {"创业板20%", 0.20, true};
  return {"主板10%", 0.10, true};
}

std::optional<int> holding_period_bars(std::string_view text) {
  const std::string ascii = ascii_form(text);
  std::string_view s = ascii;
  while (!s.empty() && !(s.front() >= '0' && s.front() <= '9')) s.remove_prefix(1);
  auto low = take_number(s);
  if (!low) return std::nullopt;
  double value = *low;
  std::string_view rest = skip_spaces(s);
  if (starts_with(rest, "-")) {
    rest = skip_spaces(rest.substr(1));
    if (auto high = take_number(rest)) {
      value = std::max(value, *high);
      s = rest;
    }
  }
  const double bars = std::ceil(value * bars_per_unit(s));
  if (!(bars >= 1)) return std::nullopt;  // "0日" names no holding
  return static_cast<int>(std::min(bars, 2520.0));
}

}  // namespace backtest
