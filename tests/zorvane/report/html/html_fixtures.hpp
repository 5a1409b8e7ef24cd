#pragma once
// Bars and reports for the page tests.

#include <cmath>
#include <regex>
#include <string>

#include "candlex/bar_table.hpp"
#include "zorvane/report/report_records.hpp"
#include "zorvane/utils/dates.hpp"

namespace html_test {

// `n` daily bars from 2024-01-01 rising gently around 10 with a small wave.
inline candlex::BarTable bars(std::size_t n, double base = 10.0) {
  std::vector<candlex::Day> dates;
  std::vector<double> o, h, l, c, v;
  auto day = zorvane::utils::parse_iso_date("2024-01-01");
  for (std::size_t i = 0; i < n; ++i) {
    dates.push_back(day + std::chrono::days(static_cast<int>(i)));
    const double mid = base + 0.01 * static_cast<double>(i) + 0.3 * std::sin(i * 0.4);
    const double open = mid - 0.05 * std::cos(i * 1.3);
    const double close = mid + 0.05 * std::cos(i * 1.3);
    o.push_back(open);
    c.push_back(close);
    h.push_back(std::max(open, close) + 0.1);
    l.push_back(std::min(open, close) - 0.1);
    v.push_back(1000.0 + 100.0 * static_cast<double>(i % 7));
  }
  candlex::BarTable t(dates);
  t.set("open", o);
  t.set("high", h);
  t.set("low", l);
  t.set("close", c);
  t.set("volume", v);
  return t;
}

inline zorvane::report::StockReport report(std::string market = "A") {
  zorvane::report::StockReport r;
  r.code = market == "US" ? "us.AAPL" : "sh.600519";
  r.name = "样例股份";
  r.market_type = market;
  r.analysis_date = "2024-06-28";
  r.llm_client_type = "Offline";
  r.llm_model = "offline-v1";
  r.report = "## 结论\n\n| 项目 | 值 |\n| --- | --- |\n| 趋势 | 多头 |\n\n正文。";
  r.summary = "- 观望为主";
  r.decision_json = R"({"stock_code":"sh.600519","action":"建议买入","confidence":"中",
    "risk_level":"低","position_pct":"20%","holding_period":"3-5日","current_price":11.5,
    "entry_price_low":11.2,"entry_price_high":11.4,"stop_loss":10.8,"target_1":12.0,
    "target_2":12.4,"support_price":11.0,"resistance_price":12.2,"rrr":1.5,"rrr_max":2.5,
    "key_watch":"放量突破"})";
  return r;
}

inline std::size_t count(const std::string& text, const std::string& pattern) {
  const std::regex re(pattern);
  return static_cast<std::size_t>(
      std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

}  // namespace html_test
