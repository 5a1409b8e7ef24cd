#include "zorvane/report/html/stock_page.hpp"

#include <cmath>
#include <stdexcept>

#include "zorvane/report/html/html_text.hpp"
#include "zorvane/report/html/markdown.hpp"
#include "zorvane/report/html/page.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::html {

namespace {

std::optional<rapidjson::Document> parse_decision(const std::optional<std::string>& json) {
  if (!json || utils::trim(*json).empty() || utils::trim(*json) == "null") return std::nullopt;
  rapidjson::Document doc = utils::parse_json(*json);
  if (!doc.IsObject()) throw std::invalid_argument("决策不是 JSON 对象: " + *json);
  return doc;
}

double number_of(const rapidjson::Value& d, std::string_view key) {
  const auto* v = utils::json_find(d, key);
  if (v == nullptr) return std::nan("");
  if (v->IsNumber()) return v->GetDouble();
  if (v->IsString()) {
    try {
      return std::stod(v->GetString());
    } catch (const std::exception&) {
      return std::nan("");
    }
  }
  return std::nan("");
}

std::string text_of(const rapidjson::Value& d, std::string_view key) {
  const auto* v = utils::json_find(d, key);
  if (v == nullptr || v->IsNull()) return {};
  if (v->IsString()) return std::string(v->GetString(), v->GetStringLength());
  if (v->IsNumber()) return utils::float_text(v->GetDouble());
  return utils::safe_json_dumps(*v);
}

bool positive(double v) {
  return std::isfinite(v) && v > 0;
}

std::string card_item(std::string_view label, std::string_view value_html) {
  return "<div><b>" + escape(label) + "</b><span class=\"v\">" + std::string(value_html) +
         "</span></div>";
}

std::string price_or_dash(double v) {
  return positive(v) ? price_text(v) : "—";
}

std::string decision_card(const std::optional<rapidjson::Document>& d,
                          const std::optional<DecisionVerdict>& verdict) {
  std::string out = "<section class=\"card\" id=\"decision\">";
  if (!d) {
    out += card_item("操作建议", action_badge(""));
  } else {
    const auto& v = *d;
    out += card_item("操作建议", action_badge(text_of(v, "action")));
    for (const auto& [label, key] : {std::pair{"方向", "direction"},
                                     {"置信度", "confidence"},
                                     {"风险等级", "risk_level"},
                                     {"建议仓位", "position_pct"},
                                     {"持仓周期", "holding_period"},
                                     {"策略模式", "strategy_mode"}}) {
      const std::string t = text_of(v, key);
      out += card_item(label, escape(t.empty() ? "—" : t));
    }
    const double rrr = number_of(v, "rrr"), rrr_max = number_of(v, "rrr_max");
    std::string rr = std::isfinite(rrr) ? utils::fixed_text(rrr, 2) : "—";
    if (positive(rrr_max)) rr += " / " + utils::fixed_text(rrr_max, 2);
    out += card_item("盈亏比 (目标1/2)", escape(rr));
    out += card_item("现价", escape(price_or_dash(number_of(v, "current_price"))));
    const double lo = number_of(v, "entry_price_low"), hi = number_of(v, "entry_price_high");
    out += card_item(
        "买入区间",
        escape(positive(lo) || positive(hi) ? price_or_dash(lo) + " – " + price_or_dash(hi) : "—"));
    out += card_item("止损", escape(price_or_dash(number_of(v, "stop_loss"))));
    out += card_item("目标1 / 目标2", escape(price_or_dash(number_of(v, "target_1")) + " / " +
                                             price_or_dash(number_of(v, "target_2"))));
    out += card_item("支撑 / 阻力", escape(price_or_dash(number_of(v, "support_price")) + " / " +
                                           price_or_dash(number_of(v, "resistance_price"))));
  }
  if (verdict) {
    out += card_item("决策状态", "<span class=\"status-" + escape(verdict->status) + "\">" +
                                     escape(verdict->status) + "</span>");
  }
  out += "</section>";
  if (verdict && !verdict->failed_checks.empty()) {
    out += "<section id=\"failed-checks\"><b>未通过的检查</b><ul class=\"checks\">";
    for (const auto& check : verdict->failed_checks) out += "<li>" + escape(check) + "</li>";
    out += "</ul></section>";
  }
  if (d) {
    const std::string watch = text_of(*d, "key_watch");
    if (!watch.empty()) out += "<p><b>核心观察点：</b>" + escape(watch) + "</p>";
  }
  return out;
}

}  // namespace

std::optional<DecisionVerdict> gate_verdict(const std::optional<std::string>& status,
                                            const std::optional<std::string>& checks_json) {
  if (!status || status->empty()) return std::nullopt;
  DecisionVerdict verdict{*status, {}};
  if (!checks_json) return verdict;
  rapidjson::Document checks;
  try {
    checks = utils::parse_json(*checks_json);
  } catch (const std::exception&) {
    return verdict;
  }
  if (!checks.IsArray()) return verdict;
  for (const auto& c : checks.GetArray()) {
    if (!c.IsObject()) continue;
    const auto* passed = utils::json_find(c, "passed");
    if (passed != nullptr && passed->IsBool() && passed->GetBool()) continue;
    verdict.failed_checks.push_back("[" + text_of(c, "severity") + "] " + text_of(c, "name") +
                                    ": " + text_of(c, "detail"));
  }
  return verdict;
}

std::vector<Level> decision_levels(const std::optional<std::string>& decision_json,
                                   const ChartColors& colors) {
  std::vector<Level> levels;
  auto d = parse_decision(decision_json);
  if (!d) return levels;
  double lo = number_of(*d, "entry_price_low"), hi = number_of(*d, "entry_price_high");
  if (!positive(lo)) lo = hi;
  if (!positive(hi)) hi = lo;
  if (positive(lo))
    levels.push_back({"entry", "买入区间", std::min(lo, hi), std::max(lo, hi), colors.entry});
  const std::tuple<const char*, const char*, const char*, const std::string*> lines[] = {
      {"stop", "止损", "stop_loss", &colors.stop},
      {"target", "目标1", "target_1", &colors.target},
      {"target", "目标2", "target_2", &colors.target},
      {"support", "支撑", "support_price", &colors.support},
      {"resistance", "阻力", "resistance_price", &colors.resistance}};
  for (const auto& [kind, label, key, color] : lines) {
    const double v = number_of(*d, key);
    if (positive(v)) levels.push_back({kind, label, v, v, *color});
  }
  return levels;
}

std::string stock_page_html(const report::StockReport& report, const candlex::BarTable& daily,
                            const ChartColors& colors,
                            const std::optional<DecisionVerdict>& verdict) {
  const auto decision = parse_decision(report.decision_json);
  const std::string action = decision ? text_of(*decision, "action") : "";
  const std::string display =
      report.name.empty() ? report.code : report.name + " (" + report.code + ")";
  const std::string title = display + " · " + report.analysis_date;

  std::string body;
  body += "<header><h1>" + escape(display) + "</h1><div class=\"sub\">分析日期 " +
          escape(report.analysis_date) + " · 市场 " + escape(report.market_type.value_or("—")) +
          " · 模型 " + escape(report.llm_client_type) +
          (report.llm_model.empty() ? "" : " / " + escape(report.llm_model)) +
          " · <a href=\"../index.html\">全部报告</a></div></header>\n";
  body += decision_card(decision, verdict) + "\n";

  CandleChartOptions day;
  day.title = "日K线 · 近120根 · 买卖价位";
  day.bars = 120;
  day.emas = {5, 20, 60};
  day.levels = decision_levels(report.decision_json, colors);
  body += "<figure class=\"chart\" data-chart=\"daily\">" + candle_chart_svg(daily, day, colors) +
          "</figure>\n";
  CandleChartOptions week;
  week.title = "周K线 · 近60周";
  week.bars = 60;
  week.emas = {5, 20, 60};
  week.price_height = 180;
  body += "<figure class=\"chart\" data-chart=\"weekly\">" +
          candle_chart_svg(candlex::to_weekly(daily), week, colors) + "</figure>\n";

  body += "<h2>分析报告</h2><article class=\"md\" id=\"report\">" +
          markdown_to_html(report.report) + "</article>\n";
  body += "<h2>投资建议总结</h2><article class=\"md\" id=\"summary\">" +
          markdown_to_html(report.summary) + "</article>\n";

  PageMeta meta{{"kind", "stock"},
                {"title", title},
                {"date", report.analysis_date},
                {"code", report.code},
                {"name", report.name},
                {"market", report.market_type.value_or("")},
                {"client", utils::to_lower(report.llm_client_type)},
                {"action", action}};
  if (verdict) meta["status"] = verdict->status;
  return page_html(meta, body);
}

}  // namespace zorvane::html
