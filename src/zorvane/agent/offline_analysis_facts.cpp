// Reading an analysis prompt: header lines, the daily and weekly bars, the pattern info and the
// market brief.

#include <algorithm>
#include <cstdlib>
#include <initializer_list>

#include "zorvane/agent/offline_analysis_plan.hpp"
#include "zorvane/agent/offline_prompt_text.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::agent::offline {

namespace {

using utils::trim;

double to_number(std::string_view text) {
  std::string s(trim(text));
  if (s.empty()) return kNaN;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  return end == s.c_str() ? kNaN : v;
}

// ---- JSON access -------------------------------------------------------------------------

const rapidjson::Value* path(const rapidjson::Value* v,
                             std::initializer_list<std::string_view> keys) {
  for (auto key : keys) {
    if (v == nullptr) return nullptr;
    v = utils::json_find(*v, key);
  }
  return v;
}

double num(const rapidjson::Value* v) {
  return v != nullptr && v->IsNumber() ? v->GetDouble() : kNaN;
}

std::string text(const rapidjson::Value* v) {
  return v != nullptr && v->IsString() ? std::string(v->GetString(), v->GetStringLength())
                                       : std::string();
}

// A column of the bar rows (NaN where a row has null or no value).
std::vector<double> column(const rapidjson::Value& rows, std::string_view key) {
  std::vector<double> out;
  if (!rows.IsArray()) return out;
  out.reserve(rows.Size());
  for (const auto& row : rows.GetArray()) out.push_back(num(utils::json_find(row, key)));
  return out;
}

// Last finite value of `v`, NaN when none.
double last_valid(const std::vector<double>& v) {
  for (auto it = v.rbegin(); it != v.rend(); ++it) {
    if (ok(*it)) return *it;
  }
  return kNaN;
}

std::string market_of(std::string_view system, std::string_view user) {
  if (system.find("# Role: 美股") != std::string_view::npos) return "US";
  if (system.find("# Role: 港股") != std::string_view::npos) return "HK";
  if (system.find("ETF基金研究员") != std::string_view::npos ||
      user.find("- ETF代码：") != std::string_view::npos) {
    return "ETF";
  }
  return "A";
}

void read_brief(std::string_view brief, Facts& f) {
  // "**▋ A 股大盘市场研判 · 偏空 / 中**"
  auto head = brief.find("研判 · ");
  if (head != std::string_view::npos) {
    auto rest = brief.substr(head + std::string_view("研判 · ").size());
    auto slash = rest.find(" / ");
    auto end = rest.find("**");
    if (slash != std::string_view::npos && slash < end) {
      f.bias = std::string(trim(rest.substr(0, slash)));
      f.strength = std::string(trim(rest.substr(slash + 3, end - slash - 3)));
    }
  }
  f.guidance = utils::replace_all(line_value(brief, "- **策略指引**："), "**", "");
  f.risk_line = line_value(brief, "⚠️ **风险**：");
}

void read_bars(std::string_view daily_json, std::string_view weekly_json, Facts& f) {
  rapidjson::Document daily;
  try {
    daily = utils::parse_json(daily_json);
  } catch (const std::exception&) {
    return;  // unreadable data: every derived fact stays unknown
  }
  if (!daily.IsArray()) return;
  f.rows = daily.Size();
  f.close = column(daily, "close");
  f.high = column(daily, "high");
  f.low = column(daily, "low");
  f.vr = column(daily, "Volume_Ratio");
  f.hist = column(daily, "MACD_hist");
  f.obv = column(daily, "OBV");
  f.amount = column(daily, "amount");
  f.rsi = last_valid(column(daily, "RSI"));
  f.k = last_valid(column(daily, "K"));
  f.d = last_valid(column(daily, "D"));
  f.j = last_valid(column(daily, "J"));
  f.mfi = last_valid(column(daily, "MFI"));
  f.sar = last_valid(column(daily, "SAR"));
  f.dif = last_valid(column(daily, "MACD"));
  f.dea = last_valid(column(daily, "MACD_signal"));
  // Fallbacks for a prompt without pattern info.
  f.ema5 = last_valid(column(daily, "EMA_5"));
  f.ema10 = last_valid(column(daily, "EMA_10"));
  f.ema20 = last_valid(column(daily, "EMA_20"));
  f.ema60 = last_valid(column(daily, "EMA_60"));
  f.vwma = last_valid(column(daily, "VWMA"));
  f.atr = last_valid(column(daily, "ATR"));
  f.adx = last_valid(column(daily, "ADX"));

  try {
    auto weekly = utils::parse_json(weekly_json);
    if (weekly.IsArray() && weekly.Size() > 0) {
      const auto& w = weekly[weekly.Size() - 1];
      double e5 = num(utils::json_find(w, "EMA_5")), e10 = num(utils::json_find(w, "EMA_10")),
             e20 = num(utils::json_find(w, "EMA_20"));
      if (ok(e5) && ok(e10) && ok(e20)) {
        f.weekly_order = e5 > e10 && e10 > e20 ? "多头" : (e5 < e10 && e10 < e20 ? "空头" : "交织");
      }
    }
  } catch (const std::exception&) {
  }
}

void read_pattern(std::string_view pattern_json, Facts& f) {
  rapidjson::Document p;
  try {
    p = utils::parse_json(pattern_json);
  } catch (const std::exception&) {
    return;
  }
  if (!p.IsObject()) return;
  const rapidjson::Value* root = &p;
  auto set = [](double& target, double v) {
    if (ok(v)) target = v;
  };
  f.strategy_type = text(path(root, {"strategy_type"}));
  f.hint = text(path(root, {"pre_screen", "strategy_hint"}));
  f.score = num(path(root, {"total_score"}));
  set(f.support, num(path(root, {"price_context", "support"})));
  set(f.resistance, num(path(root, {"price_context", "resistance"})));
  set(f.low5, num(path(root, {"price_context", "low_5d"})));
  set(f.low20, num(path(root, {"price_context", "low_20d"})));
  set(f.high20, num(path(root, {"price_context", "high_20d"})));
  set(f.ema20, num(path(root, {"price_context", "ema20"})));
  set(f.vwma, num(path(root, {"price_context", "vwma"})));
  set(f.atr, num(path(root, {"price_context", "atr"})));
  set(f.ema5, num(path(root, {"trend_structure", "ema", "EMA_5"})));
  set(f.ema10, num(path(root, {"trend_structure", "ema", "EMA_10"})));
  set(f.ema60, num(path(root, {"trend_structure", "ema", "EMA_60"})));
  set(f.adx, num(path(root, {"trend_structure", "adx"})));
  f.ema_order = text(path(root, {"trend_structure", "ema_order"}));
  f.adx_dir = text(path(root, {"trend_structure", "adx_direction"}));
  f.vwma_slope = text(path(root, {"trend_structure", "vwma_slope"}));
  f.weekly_trend = text(path(root, {"trend_structure", "weekly_trend"}));
  f.dist20 = num(path(root, {"trend_structure", "dist_ema20_atr"}));
  f.pct60 = num(path(root, {"trend_structure", "close_pct_60d"}));
  set(f.base, num(path(root, {"calculated_constraints", "base_confidence_score"})));
  set(f.min_rrr, num(path(root, {"calculated_constraints", "min_rrr"})));
  set(f.max_stop, num(path(root, {"calculated_constraints", "max_stop_dist_atr"})));
  set(f.max_pos, num(path(root, {"calculated_constraints", "max_position_pct"})));
  f.rs20 = num(path(root, {"risk_metrics", "rs_20d"}));
  f.vol_regime = text(path(root, {"market_context", "vol_regime"}));
  if (const auto* flags = path(root, {"risk_flags"}); flags != nullptr && flags->IsArray()) {
    for (const auto& x : flags->GetArray()) {
      if (x.IsString()) f.flags.emplace_back(x.GetString(), x.GetStringLength());
    }
  }
  if (const auto* s = path(root, {"signal_confluence", "signals"}); s != nullptr && s->IsArray()) {
    for (const auto& x : s->GetArray()) {
      if (x.IsString()) f.signals.emplace_back(x.GetString(), x.GetStringLength());
    }
  }
  f.r1 = num(path(root, {"classic_pivot_points", "R1"}));
  f.r2 = num(path(root, {"classic_pivot_points", "R2"}));
  f.r3 = num(path(root, {"classic_pivot_points", "R3"}));
  f.s1 = num(path(root, {"classic_pivot_points", "S1"}));
  f.s2 = num(path(root, {"classic_pivot_points", "S2"}));
  f.fr3 = num(path(root, {"fibonacci_pivot_points", "R3"}));
}

}  // namespace

double last(const std::vector<double>& v, std::size_t back) {
  return v.size() > back ? v[v.size() - 1 - back] : kNaN;
}

double tail_mean(const std::vector<double>& v, std::size_t n) {
  double sum = 0;
  std::size_t count = 0;
  for (std::size_t i = v.size() > n ? v.size() - n : 0; i < v.size(); ++i) {
    if (ok(v[i])) sum += v[i], ++count;
  }
  return count == 0 ? kNaN : sum / static_cast<double>(count);
}

bool has_flag(const Facts& f, std::string_view flag) {
  return std::find(f.flags.begin(), f.flags.end(), flag) != f.flags.end();
}

double r3(double v) {
  return utils::round_to(v, 3);
}

std::optional<Facts> read_analysis_prompt(std::string_view system, std::string_view user) {
  auto daily = tagged(user, "daily_data");
  auto pattern = tagged(user, "pattern_info");
  // Not an analysis prompt (a summary prompt quotes a report, which may mention the tags).
  if (!daily || !pattern || tagged(user, "analysis_report")) return std::nullopt;

  Facts f;
  f.market = market_of(system, user);
  const std::string code_label = f.market == "ETF" ? "- ETF代码：" : "- 股票代码：";
  const std::string name_label = f.market == "ETF" ? "- ETF名称：" : "- 股票名称：";
  f.code = line_value(user, code_label);
  f.name = line_value(user, name_label);
  f.date = line_value(user, "- 分析时间：");
  f.price = to_number(line_value(user, "- 当前价格："));
  f.pct = to_number(utils::replace_all(line_value(user, "- 今日涨幅："), "%", ""));
  read_brief(tagged(user, "market_ai_brief").value_or(""), f);
  read_bars(*daily, tagged(user, "weekly_data").value_or("[]"), f);
  read_pattern(*pattern, f);
  if (!ok(f.price)) f.price = last_valid(f.close);

  return f;
}

}  // namespace zorvane::agent::offline
