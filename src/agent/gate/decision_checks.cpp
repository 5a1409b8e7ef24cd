#include "agent/gate/decision_checks.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "agent/gate/brief_text.hpp"
#include "agent/schemas/decision.hpp"
#include "agent/schemas/values.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace gate {

namespace {

using zorvane::utils::fixed_text;
using zorvane::utils::trim;

// Prices a buy decision names, checked against the plausible band.
constexpr std::array<std::string_view, 8> kBandKeys{
    "current_price", "entry_price_low", "entry_price_high", "stop_loss",
    "target_1",      "target_2",        "support_price",    "resistance_price"};

// Brief bias -> market_sentiment.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kSentimentOfBias{{
    {"偏多", "看多"},
    {"偏空", "看空"},
    {"震荡", "中性"},
    {"避险", "中性"},
}};

constexpr std::string_view kWait = "观望等待";

std::string in_corners(std::string_view s) {
  return "「" + std::string(s) + "」";
}

std::optional<std::string> text_of(const rapidjson::Value& d, std::string_view key) {
  const auto* v = schemas::detail::find_field(d, key);
  if (v == nullptr || !v->IsString()) return std::nullopt;
  return std::string(v->GetString(), v->GetStringLength());
}

std::optional<double> number_of(const rapidjson::Value& d, std::string_view key) {
  const auto* v = schemas::detail::find_field(d, key);
  if (v == nullptr) return std::nullopt;
  if (v->IsNumber()) return v->GetDouble();
  if (v->IsString()) {
    return schemas::detail::parse_float_text(
        std::string_view(v->GetString(), v->GetStringLength()));
  }
  return std::nullopt;
}

// How a field's value reads in a detail: the text, the number at three decimals, or 缺失.
std::string shown(const rapidjson::Value& d, std::string_view key) {
  const auto* v = schemas::detail::find_field(d, key);
  if (v == nullptr || v->IsNull()) return "缺失";
  if (v->IsString()) return in_corners(std::string_view(v->GetString(), v->GetStringLength()));
  if (v->IsNumber()) return fixed_text(v->GetDouble(), 3);
  return schemas::detail::value_repr(*v);
}

bool is_buy(const std::optional<std::string>& action) {
  return action && std::find(schemas::kBuyActions.begin(), schemas::kBuyActions.end(), *action) !=
                       schemas::kBuyActions.end();
}

Outcome same_text(const rapidjson::Value& d, std::string_view key, const std::string& expected,
                  std::string_view label) {
  auto found = text_of(d, key);
  if (found && *found == expected) return {true, std::string(label) + "：" + in_corners(expected)};
  return {false, std::string(label) + "：应为" + in_corners(expected) + "，实际" + shown(d, key)};
}

// The first action named in `line`: an ACTION_ENUM member, or 观望 alone for 观望等待.
std::optional<std::string> action_in(std::string_view line) {
  std::size_t best = std::string_view::npos;
  std::string found;
  for (auto a : schemas::ACTION_ENUM) {
    auto p = line.find(a);
    if (p < best) best = p, found = std::string(a);
  }
  auto wait = line.find("观望");
  if (wait < best) best = wait, found = std::string(kWait);
  if (best == std::string_view::npos) return std::nullopt;
  return found;
}

}  // namespace

std::optional<std::string> recommended_action(std::string_view report) {
  // The text before the decision JSON: the fenced block, or the object's opening brace.
  auto json = report.find("```json");
  if (json == std::string_view::npos) json = report.rfind("\"action\"");
  if (json != std::string_view::npos) report = report.substr(0, json);
  auto lines = brief_text::lines_of(report);

  // The 5.2 section when there is one, else the whole text.
  std::size_t from = 0, to = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto t = trim(lines[i]);
    if (t.starts_with("#") && t.find("5.2") != std::string_view::npos) {
      from = i + 1;
      to = from;
      while (to < lines.size() && !trim(lines[to]).starts_with("#")) ++to;
      break;
    }
  }
  for (std::size_t i = from; i < to; ++i) {
    if (lines[i].find("操作建议") == std::string_view::npos) continue;
    if (auto a = action_in(lines[i])) return a;
  }
  return std::nullopt;
}

std::optional<double> min_rrr_of_pattern_info(std::string_view pattern_info) {
  try {
    auto doc = zorvane::utils::parse_json(pattern_info);
    if (!doc.IsObject()) return std::nullopt;
    const auto* cc = zorvane::utils::json_find(doc, "calculated_constraints");
    if (cc == nullptr || !cc->IsObject()) return std::nullopt;
    const auto* v = zorvane::utils::json_find(*cc, "min_rrr");
    if (v == nullptr || !v->IsNumber() || !std::isfinite(v->GetDouble())) return std::nullopt;
    return v->GetDouble();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string brief_bias(std::string_view brief) {
  for (auto line : brief_text::lines_of(brief)) {
    if (line.find("市场研判") == std::string_view::npos) continue;
    auto text = brief_text::strip_markup(line);
    auto dot = text.rfind("·");
    if (dot == std::string::npos) return {};
    auto verdict = std::string_view(text).substr(dot + std::string_view("·").size());
    return std::string(trim(verdict.substr(0, verdict.find('/'))));
  }
  return {};
}

Outcome check_current_price(const rapidjson::Value& d, std::string_view, const DecisionFacts& f) {
  if (!std::isfinite(f.last_close)) return {true, "current_price：未计算最新收盘价，不作比对"};
  const double expected = zorvane::utils::round_to(f.last_close, 3);
  auto found = number_of(d, "current_price");
  // Both sides at three decimals; the tolerance absorbs binary representation only.
  if (found && std::abs(*found - expected) < 5e-7 * std::max(1.0, std::abs(expected))) {
    return {true, "current_price：" + fixed_text(expected, 3)};
  }
  return {false, "current_price：应为最新收盘价 " + fixed_text(expected, 3) + "，实际 " +
                     shown(d, "current_price")};
}

Outcome check_stock_code(const rapidjson::Value& d, std::string_view, const DecisionFacts& f) {
  return same_text(d, "stock_code", f.stock_code, "stock_code");
}

Outcome check_analysis_time(const rapidjson::Value& d, std::string_view, const DecisionFacts& f) {
  return same_text(d, "analysis_time", f.analysis_time, "analysis_time");
}

Outcome check_min_rrr(const rapidjson::Value& d, std::string_view, const DecisionFacts& f) {
  auto action = text_of(d, "action");
  if (!is_buy(action)) return {true, "非买入决策（" + shown(d, "action") + "），无盈亏比门槛"};
  if (!f.min_rrr) return {true, "形态信息未给出 min_rrr，不作比对"};
  auto rrr = number_of(d, "rrr");
  if (rrr && *rrr >= *f.min_rrr) {
    return {true, "rrr " + fixed_text(*rrr, 3) + " ≥ min_rrr " + fixed_text(*f.min_rrr, 3)};
  }
  return {false, "rrr 低于 min_rrr " + fixed_text(*f.min_rrr, 3) + " 时 action 应为" +
                     in_corners(kWait) + "，实际 action " + in_corners(*action) + "、rrr " +
                     shown(d, "rrr")};
}

Outcome check_price_band(const rapidjson::Value& d, std::string_view, const DecisionFacts& f) {
  if (!is_buy(text_of(d, "action"))) return {true, "非买入决策，不检查价格区间"};
  if (!std::isfinite(f.low_250) || !std::isfinite(f.high_250) || !std::isfinite(f.atr)) {
    return {true, "缺少 250 日高低点或 ATR，不检查价格区间"};
  }
  const double lo = f.low_250 - 3 * f.atr, hi = f.high_250 + 3 * f.atr;
  const std::string band = "[" + fixed_text(lo, 3) + ", " + fixed_text(hi, 3) + "]";
  for (auto key : kBandKeys) {
    auto v = number_of(d, key);
    if (!v || *v == 0.0) continue;  // a zero price is "not set"
    if (!(*v >= lo && *v <= hi)) {
      return {false, std::string(key) + "：应在 " + band +
                         " 内（250 日低点 − 3 ATR 至高点 + 3 ATR），实际 " + fixed_text(*v, 3)};
    }
  }
  return {true, "买入价格均在 " + band + " 内"};
}

Outcome check_market_sentiment(const rapidjson::Value& d, std::string_view,
                               const DecisionFacts& f) {
  auto it = std::find_if(kSentimentOfBias.begin(), kSentimentOfBias.end(),
                         [&](const auto& p) { return p.first == f.brief_bias; });
  if (it == kSentimentOfBias.end()) return {true, "大盘简报无可读的 bias，不作比对"};
  return same_text(d, "market_sentiment", std::string(it->second),
                   "market_sentiment（大盘 " + f.brief_bias + "）");
}

Outcome check_action_matches_text(const rapidjson::Value& d, std::string_view report,
                                  const DecisionFacts&) {
  auto text = recommended_action(report);
  if (!text) return {true, "正文未写明操作建议，不作比对"};
  return same_text(d, "action", *text, "action（正文操作建议）");
}

CheckResults run_decision_checks(const rapidjson::Value& decision, std::string_view report,
                                 const DecisionFacts& facts) {
  if (!decision.IsObject()) throw std::invalid_argument("decision 必须是 JSON 对象");
  CheckResults out;
  out.reserve(kDecisionRules.size());
  for (const auto& rule : kDecisionRules) {
    auto o = rule.check(decision, report, facts);
    out.push_back({std::string(rule.name), o.passed, rule.severity, std::move(o.detail)});
  }
  return out;
}

}  // namespace gate
