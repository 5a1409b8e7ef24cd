// Offline writer of the per-stock analysis report. It reads the facts the prompt hands over
// (header, daily and weekly bars, pattern info, market brief), applies the prompt's own rules
// (tier from the brief's first line, strategy frame, stop placement and cap, targets from the
// price context and pivots, the RRR floor, the confidence table, the position cap, the price
// chain) and writes a report in the prompt's Step 0 to Step 6 outline ending with the decision
// JSON. Every number it prints is computed from the prompt; nothing is invented.

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zorvane/agent/offline_writers.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::agent {

namespace {

using utils::fixed_text;
using utils::round_to;
using utils::trim;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool ok(double v) {
  return std::isfinite(v);
}

// The text between "<tag>" and "</tag>", or nullopt.
std::optional<std::string_view> tagged(std::string_view text, std::string_view tag) {
  const std::string open = "<" + std::string(tag) + ">";
  const std::string close = "</" + std::string(tag) + ">";
  auto b = text.find(open);
  if (b == std::string_view::npos) return std::nullopt;
  b += open.size();
  auto e = text.find(close, b);
  if (e == std::string_view::npos) return std::nullopt;
  return trim(text.substr(b, e - b));
}

// The rest of the first line that starts with `label` (after trimming), or "".
std::string line_value(std::string_view text, std::string_view label) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    auto nl = text.find('\n', pos);
    auto line = trim(text.substr(pos, nl == std::string_view::npos ? nl : nl - pos));
    if (line.substr(0, label.size()) == label) return std::string(trim(line.substr(label.size())));
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return {};
}

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

double last(const std::vector<double>& v, std::size_t back = 0) {
  return v.size() > back ? v[v.size() - 1 - back] : kNaN;
}

// Last finite value of `v`, NaN when none.
double last_valid(const std::vector<double>& v) {
  for (auto it = v.rbegin(); it != v.rend(); ++it) {
    if (ok(*it)) return *it;
  }
  return kNaN;
}

// ---- facts -------------------------------------------------------------------------------

struct Tier {
  std::string name;
  double adx;
  double whipsaw;
  double stop;
  bool weak;
};

Tier tier_of(std::string_view bias) {
  if (bias == "偏多") return {"强势档", 25, 2.0, 1.5, false};
  if (bias == "震荡") return {"中性档", 22, 1.8, 1.8, false};
  if (bias == "偏空" || bias == "避险") return {"弱势档", 28, 1.5, 1.2, true};
  // No readable bias: the stricter of the strong and neutral tiers.
  return {"未定档", 25, 1.8, 1.5, false};
}

struct Facts {
  std::string market;  // A, US, HK, ETF
  std::string code, name, date;
  double price = kNaN, pct = kNaN;

  // Market brief.
  std::string bias, strength, guidance, risk_line;

  // Bars.
  std::size_t rows = 0;
  std::vector<double> close, high, low, vr, hist, obv, amount;
  double rsi = kNaN, k = kNaN, d = kNaN, j = kNaN, mfi = kNaN, sar = kNaN, dif = kNaN, dea = kNaN;
  std::string weekly_order;  // 多头 / 空头 / 交织, "" when unknown

  // Pattern info.
  bool have_pattern = false;
  std::string strategy_type, hint;
  bool passed = false;
  double score = kNaN;
  double support = kNaN, resistance = kNaN, low5 = kNaN, low20 = kNaN, high20 = kNaN;
  double ema5 = kNaN, ema10 = kNaN, ema20 = kNaN, ema60 = kNaN, vwma = kNaN, atr = kNaN;
  std::string ema_order, adx_dir, vwma_slope, weekly_trend;
  double adx = kNaN, dist20 = kNaN, pct60 = kNaN, rs20 = kNaN;
  double base = 0, min_rrr = 1.8, max_stop = 1.5, max_pos = 30;
  std::vector<std::string> flags, signals;
  std::string vol_regime;
  double r1 = kNaN, r2 = kNaN, r3 = kNaN, s1 = kNaN, s2 = kNaN, fr3 = kNaN;
};

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
  f.have_pattern = true;
  const rapidjson::Value* root = &p;
  auto set = [](double& target, double v) {
    if (ok(v)) target = v;
  };
  f.strategy_type = text(path(root, {"strategy_type"}));
  f.hint = text(path(root, {"pre_screen", "strategy_hint"}));
  const auto* passed = path(root, {"pre_screen_passed"});
  f.passed = passed != nullptr && passed->IsBool() && passed->GetBool();
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

bool has_flag(const Facts& f, std::string_view flag) {
  return std::find(f.flags.begin(), f.flags.end(), flag) != f.flags.end();
}

// Mean of the last `n` finite values (NaN when none).
double tail_mean(const std::vector<double>& v, std::size_t n) {
  double sum = 0;
  std::size_t count = 0;
  for (std::size_t i = v.size() > n ? v.size() - n : 0; i < v.size(); ++i) {
    if (ok(v[i])) sum += v[i], ++count;
  }
  return count == 0 ? kNaN : sum / static_cast<double>(count);
}

// ---- the plan ----------------------------------------------------------------------------

struct Plan {
  Tier tier;
  std::string mode, direction, action = "观望等待", holder_action = "继续持有", confidence = "低";
  std::string risk_level = "中", sentiment = "中性", holding_period = "无", key_watch;
  double entry_low = 0, entry_high = 0, stop = 0, t1 = 0, t2 = 0, rrr = 0, rrr_max = 0;
  double support = 0, resistance = 0;
  int position = 0;

  // Working values shown in the report.
  double plan_low = kNaN, plan_high = kNaN, plan_stop = kNaN, plan_t1 = kNaN, plan_t2 = kNaN;
  double plan_rrr = kNaN, plan_rrr_max = kNaN, mid = kNaN, defence = kNaN, buffer = 0;
  double stop_dist = kNaN, stop_cap = kNaN, total = kNaN, rrr_points = 0, threshold = 2.5;
  int holding_days = 0;
  std::string defence_src, t1_src, t2_src, entry_src;
  bool squeeze = false, data_short = false, anomaly = false;
  std::vector<std::string> blockers;         // why no buy
  std::vector<std::string> confidence_cuts;  // why confidence was lowered
  double liquidity_cap = kNaN;               // position cap from turnover, when one applies
  std::string liquidity_note;
};

std::string mode_of(std::string_view strategy_type) {
  if (strategy_type == "趋势跟随" || strategy_type == "底部反转" || strategy_type == "区间震荡" ||
      strategy_type == "均线压缩" || strategy_type == "空仓等待") {
    return std::string(strategy_type);
  }
  if (strategy_type == "等待突破") return "均线压缩";  // a base without its breakout yet
  return "空仓等待";
}

std::string lower_confidence(std::string_view c) {
  return c == "高" ? "中" : "低";
}

// Candidate levels above `floor`, nearest first, with their sources.
struct Level {
  double price;
  std::string source;
};

std::vector<Level> levels_above(const Facts& f, double floor) {
  std::vector<Level> all{{f.resistance, "price_context.resistance"},
                         {f.r1, "周线枢轴 R1"},
                         {f.r2, "周线枢轴 R2"},
                         {f.r3, "周线枢轴 R3"},
                         {f.fr3, "斐波那契枢轴 R3"},
                         {f.high20, "20 日高点"}};
  std::vector<Level> out;
  for (auto& l : all) {
    if (ok(l.price) && l.price > floor) out.push_back(l);
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Level& a, const Level& b) { return a.price < b.price; });
  return out;
}

// Price rounded as the decision JSON writes it.
double r3(double v) {
  return round_to(v, 3);
}

bool is_weak_mode(std::string_view mode) {
  return mode == "底部反转" || mode == "区间震荡";
}

Plan make_plan(const Facts& f) {
  Plan p;
  p.tier = tier_of(f.bias);
  p.mode = mode_of(f.strategy_type);
  const double price = f.price;
  const double a = f.atr;

  p.sentiment = f.bias == "偏多" ? "看多" : (f.bias == "偏空" ? "看空" : "中性");

  // Data sufficiency and anomalies (notes items 10 and 11).
  p.data_short = f.rows < 30;
  if (p.data_short) p.blockers.push_back("日线数据不足 30 根，置信度强制为低");
  if (!ok(price) || price <= 0 ||
      (f.close.size() >= 3 && last(f.close) == last(f.close, 1) &&
       last(f.close, 1) == last(f.close, 2))) {
    p.anomaly = true;
    p.blockers.push_back("疑似停牌/数据异常");
  }
  if (!ok(a) || a <= 0) p.blockers.push_back("ATR 不可用，无法计算止损距离");

  // Direction from the frame and the moving-average order.
  if (p.mode == "趋势跟随" || p.mode == "底部反转") {
    p.direction = "看多";
  } else if (p.mode == "区间震荡") {
    p.direction = "中性";
  } else {
    p.direction = f.ema_order == "bullish" ? "看多" : (f.ema_order == "bearish" ? "看空" : "中性");
  }

  // Support and resistance: the price context, widened when it is not a proper range.
  p.support = ok(f.support) ? f.support : (f.low.empty() ? kNaN : tail_mean(f.low, 1));
  p.resistance = ok(f.resistance) ? f.resistance : kNaN;
  if (!ok(p.support) || p.support <= 0) p.support = ok(price) && price > 0 ? price * 0.95 : 0.001;
  if (!ok(p.resistance) || r3(p.resistance) <= r3(p.support)) {
    p.resistance = p.support + std::max(ok(a) && a > 0 ? 2 * a : p.support * 0.1, 0.001);
  }

  // Defence level, stop buffer and entry range by frame.
  const bool a_share = f.market == "A";
  if (ok(a) && a > 0 && ok(price) && price > 0) {
    if (p.mode == "趋势跟随") {
      p.squeeze =
          ok(f.adx) && f.adx > 30 && !p.tier.weak && ok(f.ema5) && std::abs(price - f.ema5) <= a;
      if (p.squeeze && ok(f.ema10)) {
        p.defence = f.ema10, p.defence_src = "EMA10（挤压豁免上移）";
        p.plan_low = f.ema5 - a;
        p.plan_high = std::min(f.ema5 + a, price);
        p.entry_src = "EMA5 ± 1 × ATR";
      } else {
        p.defence = ok(f.ema20) ? f.ema20 : p.support, p.defence_src = "EMA20";
        double top = ok(f.ema10) ? std::min(price, f.ema10 + 0.5 * a) : price;
        p.plan_high = top;
        p.plan_low = std::max(ok(f.ema20) ? f.ema20 : top - 0.5 * a, top - 0.5 * a);
        p.entry_src = "EMA10～EMA20 回踩区";
      }
      p.buffer = 1.0;
    } else if (p.mode == "底部反转") {
      p.defence = ok(f.low5) ? f.low5 : p.support, p.defence_src = "price_context.low_5d";
      p.plan_high = price;
      p.plan_low = std::max(p.defence, price - 0.5 * a);
      p.entry_src = "反转K线上方的低吸区";
      p.buffer = 0.5;
    } else if (p.mode == "区间震荡") {
      p.defence = p.support, p.defence_src = "区间下沿 price_context.support";
      p.plan_low = p.support;
      p.plan_high = std::min(price, p.support + 0.5 * a);
      p.entry_src = "区间下沿低吸区";
      p.buffer = 1.0;
    } else {
      // No entry yet: the trigger is a volume-confirmed break of the resistance.
      p.defence = ok(f.ema20) ? f.ema20 : p.support,
      p.defence_src = ok(f.ema20) ? "EMA20" : "支撑位";
      double base = ok(f.high20) ? std::max(f.high20, price) : p.resistance;
      p.plan_low = base;
      p.plan_high = base + 0.5 * a;
      p.entry_src = "放量突破确认区";
      p.buffer = p.mode == "均线压缩" ? 0.5 : 1.0;
    }
    // A shares execute stops at the next open at the earliest (T+1): a wider buffer.
    if (a_share) p.buffer = std::max(p.buffer, 1.0);
    p.buffer = std::min(p.buffer, p.tier.stop);
    if (p.plan_low > p.plan_high) p.plan_low = p.plan_high;
    p.mid = (p.plan_low + p.plan_high) / 2;
    p.plan_stop = p.defence - p.buffer * a;
    p.stop_cap = std::min(p.tier.stop, f.max_stop);
    p.stop_dist = (p.mid - p.plan_stop) / a;
    // The VWMA as secondary defence when the structural stop is too wide.
    if (p.stop_dist > p.stop_cap && ok(f.vwma) && f.vwma - 0.5 * a > p.plan_stop &&
        f.vwma - 0.5 * a < p.plan_low) {
      p.plan_stop = f.vwma - 0.5 * a;
      p.defence_src += "，止损改用 VWMA 次级防守";
      p.stop_dist = (p.mid - p.plan_stop) / a;
    }

    // Targets: the nearest strong levels above the entry range, else ATR projections.
    auto above = levels_above(f, p.plan_high);
    if (!above.empty()) {
      p.plan_t1 = above[0].price, p.t1_src = above[0].source;
    } else {
      p.plan_t1 = p.plan_high + 2 * a, p.t1_src = "入场上沿 + 2 × ATR（上方无压力位）";
    }
    auto further = levels_above(f, p.plan_t1 + 0.001);
    if (!further.empty()) {
      p.plan_t2 = further[0].price, p.t2_src = further[0].source;
    } else {
      p.plan_t2 = p.plan_t1 + a, p.t2_src = "第一目标 + 1 × ATR";
    }
    const double risk = p.mid - p.plan_stop;
    if (risk > 0) {
      p.plan_rrr = r3((p.plan_t1 - p.mid) / risk);
      p.plan_rrr_max = r3((p.plan_t2 - p.mid) / risk);
    }
  }

  // Holder advice: clear on a bearish structure under the long average, reduce on exit
  // signals, otherwise hold.
  bool exit_signal = false;
  if (p.mode == "趋势跟随") {
    exit_signal = (ok(f.adx) && f.adx < 20) ||
                  (ok(f.dif) && ok(f.dea) && f.dif < f.dea && last(f.hist) < last(f.hist, 1) &&
                   last(f.hist, 1) < last(f.hist, 2) && last(f.hist, 2) < last(f.hist, 3));
  } else if (p.mode == "底部反转") {
    exit_signal = (ok(f.pct60) && f.pct60 <= 0.15) || (ok(f.low5) && ok(price) && price < f.low5);
  } else if (p.mode == "区间震荡") {
    exit_signal = ok(price) && price < p.support && ok(last(f.vr)) && last(f.vr) > 1.3;
  }
  if (has_flag(f, "高潮量") || has_flag(f, "黄昏星") || has_flag(f, "放量下跌")) exit_signal = true;
  if (f.ema_order == "bearish" && ok(f.ema60) && ok(price) && price < f.ema60 &&
      p.mode == "空仓等待") {
    p.holder_action = "清仓离场";
  } else if (exit_signal || p.direction == "看空") {
    p.holder_action = "分批减仓";
  }

  // Gates that forbid a buy, in the order of the prompt's self-check.
  if (p.mode == "均线压缩") p.blockers.push_back("均线压缩：放量突破确认前不入场");
  if (p.mode == "空仓等待") p.blockers.push_back("信号不足以形成交易框架（空仓等待）");
  if (p.direction == "看空") p.blockers.push_back("方向看空，不得买入");
  if (p.holder_action == "清仓离场") p.blockers.push_back("持仓建议为清仓离场");
  if (p.mode == "趋势跟随") {
    if (ok(f.adx) && f.adx <= p.tier.adx) {
      p.blockers.push_back("ADX " + fixed_text(f.adx, 2) + " 未高于" + p.tier.name + "阈值 " +
                           fixed_text(p.tier.adx, 0));
    }
    if (ok(f.dist20) && f.dist20 > p.tier.whipsaw && !p.squeeze) {
      p.blockers.push_back("价格偏离 EMA20 " + fixed_text(f.dist20, 2) + " × ATR，超出防洗盘上限 " +
                           fixed_text(p.tier.whipsaw, 1) + " × ATR");
    }
  }
  if (has_flag(f, "黄昏星")) p.blockers.push_back("黄昏星顶部警示");
  if (has_flag(f, "RS绝对弱势") && p.tier.name != "强势档") {
    p.blockers.push_back("RS绝对弱势且大盘不在强势档");
  }
  if (a_share && ok(f.pct)) {
    // ChiNext (300, 301) and STAR (688, 689) boards move up to 20% a day, the others 10%.
    const auto digits = f.code.find_first_of("0123456789");
    const std::string board = digits == std::string::npos ? "" : f.code.substr(digits, 3);
    const bool wide = board == "300" || board == "301" || board == "688" || board == "689";
    if (f.pct <= -(wide ? 19.9 : 9.9)) p.blockers.push_back("当日跌停，一律观望等待");
  }
  if (ok(p.stop_dist) && p.stop_dist > p.stop_cap) {
    p.blockers.push_back("止损距离 " + fixed_text(p.stop_dist, 2) + " × ATR 超过上限 " +
                         fixed_text(p.stop_cap, 2) + " × ATR");
  }
  if (!ok(p.plan_rrr)) {
    if (ok(a) && a > 0) p.blockers.push_back("止损不低于入场价，盈亏比无法成立");
  } else if (p.plan_rrr < f.min_rrr) {
    p.blockers.push_back("RRR " + fixed_text(p.plan_rrr, 3) + " 低于 min_rrr " +
                         fixed_text(f.min_rrr, 2));
  }
  if (ok(p.plan_low) && ok(price) && (p.plan_low < price * 0.92 || p.plan_low > price * 1.05)) {
    p.blockers.push_back("入场下沿偏离现价超出 [0.92, 1.05] 区间");
  }
  if (ok(p.plan_stop) && p.plan_stop <= 0) p.blockers.push_back("止损价不为正");

  // Liquidity tiers by the 20-day mean turnover.
  const double turnover = tail_mean(f.amount, 20);
  if (ok(turnover) && (f.market == "ETF" || f.market == "HK")) {
    const double good = f.market == "ETF" ? 1e8 : 5e7;
    const double poor = f.market == "ETF" ? 2e7 : 1e7;
    const std::string unit = f.market == "ETF" ? "元" : "港币";
    const std::string amount = fixed_text(turnover / 1e4, 0) + " 万" + unit;
    if (turnover >= good) {
      p.liquidity_note = "近 20 日日均成交额约 " + amount + "，流动性充足";
    } else if (turnover >= poor) {
      p.liquidity_note = "近 20 日日均成交额约 " + amount + "，流动性一般，仓位上限 20%";
      p.liquidity_cap = 20;
    } else if (f.market == "HK") {
      p.liquidity_note = "近 20 日日均成交额约 " + amount + "，属仙股区间，强制观望";
      p.blockers.push_back("流动性不足（仙股区间）");
    } else {
      p.liquidity_note = "近 20 日日均成交额约 " + amount + "，流动性差，仓位上限 10%";
      p.liquidity_cap = 10;
      p.confidence_cuts.push_back("流动性差");
    }
  }

  // Confidence: base score plus RRR points, then the table.
  p.threshold = is_weak_mode(p.mode) ? 2.0 : 2.5;
  const double rrr = ok(p.plan_rrr) ? p.plan_rrr : 0;
  const double rrr_max = ok(p.plan_rrr_max) ? p.plan_rrr_max : 0;
  if (rrr >= 2.0 || (rrr_max >= 2.5 && rrr >= 1.5)) {
    p.rrr_points = 1.0;
  } else if (rrr >= 1.5) {
    p.rrr_points = 0.5;
  } else if (rrr >= f.min_rrr) {
    p.rrr_points = 0.3;
  }
  p.total = f.base + p.rrr_points;
  std::string grade = "观望等待";
  if (p.total >= 3.5 && rrr >= 1.5) {
    grade = "强烈买入", p.confidence = "高";
  } else if (p.total >= p.threshold && rrr >= 1.5) {
    grade = "建议买入", p.confidence = "中";
  } else if (p.total >= p.threshold && rrr >= f.min_rrr) {
    grade = "谨慎买入", p.confidence = "中";
  } else {
    p.confidence = "低";
    p.blockers.push_back("置信总分 " + fixed_text(p.total, 2) + " 低于门槛 " +
                         fixed_text(p.threshold, 1));
  }
  if (f.vol_regime == "high_vol") p.confidence_cuts.push_back("大盘高波动（high_vol）");
  if (has_flag(f, "高潮量")) p.confidence_cuts.push_back("高潮量");
  if (has_flag(f, "放量不涨")) p.confidence_cuts.push_back("放量不涨");
  for (std::size_t i = 0; i < p.confidence_cuts.size() && p.confidence != "低"; ++i) {
    p.confidence = lower_confidence(p.confidence);
  }
  if (p.data_short || p.anomaly) p.confidence = "低";
  // A lowered confidence lowers the grade; "低" forces a wait.
  if (p.confidence == "低" && grade != "观望等待") {
    p.blockers.push_back("置信度为低");
  } else if (p.confidence == "中" && grade == "强烈买入") {
    grade = "建议买入";
  }

  // Position within every cap; a cautious buy holds at most 15%.
  double cap = f.max_pos;
  if (ok(p.liquidity_cap)) cap = std::min(cap, p.liquidity_cap);
  if (!f.hint.empty() && f.hint != p.mode) cap = std::min(cap, f.max_pos * 0.8);
  int position = 0;
  if (grade == "强烈买入") {
    position = static_cast<int>(std::floor(cap));
  } else if (grade == "建议买入") {
    position = static_cast<int>(std::floor(cap * 2.0 / 3.0));
  } else if (grade == "谨慎买入") {
    position = static_cast<int>(std::floor(std::min(15.0, cap / 2.0)));
  }
  if (grade != "观望等待" && position < 1) p.blockers.push_back("仓位上限为 0");

  // Expected holding: half an ATR a day towards the first target, 5 to 20 days.
  if (ok(p.plan_t1) && ok(p.mid) && ok(a) && a > 0) {
    p.holding_days =
        static_cast<int>(std::clamp(std::ceil((p.plan_t1 - p.mid) / (0.5 * a)), 5.0, 20.0));
  }

  // The decision: a buy only when no gate stands and the rounded price chain holds.
  const bool chain_ok = ok(p.plan_stop) && ok(p.plan_low) && ok(p.plan_high) && ok(p.plan_t1) &&
                        ok(p.plan_t2) && r3(p.plan_stop) > 0 && r3(p.plan_stop) < r3(p.plan_low) &&
                        r3(p.plan_low) <= r3(p.plan_high) && r3(p.plan_high) < r3(p.plan_t1) &&
                        r3(p.plan_t1) < r3(p.plan_t2);
  if (!chain_ok && p.blockers.empty()) p.blockers.push_back("价格链不满足 止损 < 入场 < 目标");
  if (p.blockers.empty() && grade != "观望等待") {
    p.action = grade;
    p.position = position;
    p.entry_low = p.plan_low, p.entry_high = p.plan_high, p.stop = p.plan_stop;
    p.t1 = p.plan_t1, p.t2 = p.plan_t2, p.rrr = p.plan_rrr, p.rrr_max = p.plan_rrr_max;
    p.holding_period = std::to_string(p.holding_days) + "个交易日";
  } else {
    p.action = "观望等待";
    if (p.confidence == "高") p.confidence = "中";
    // The non-holder's trigger range; the holder's defence and targets while holding.
    if (ok(p.plan_low) && ok(p.plan_high) && p.plan_low > 0) {
      p.entry_low = p.plan_low, p.entry_high = p.plan_high;
    }
    if (p.holder_action == "继续持有" && ok(p.plan_stop) && p.plan_stop > 0 && ok(p.plan_t1)) {
      p.stop = p.plan_stop, p.t1 = p.plan_t1, p.t2 = std::max(p.plan_t1, p.plan_t2);
      p.holding_period = std::to_string(std::max(p.holding_days, 5)) + "个交易日";
    }
  }

  // Risk level from volatility, flags and the market.
  if (f.vol_regime == "high_vol" || f.flags.size() >= 2 || f.bias == "避险" || p.anomaly) {
    p.risk_level = "高";
  } else if (f.vol_regime == "low_vol" && f.flags.empty() && f.bias == "偏多") {
    p.risk_level = "低";
  }
  return p;
}

// ---- text --------------------------------------------------------------------------------

// Prices in prose: three decimals below 10 (funds, penny stocks), else two.
std::string px(double v) {
  if (!ok(v)) return "暂无";
  return fixed_text(v, std::abs(v) < 10 ? 3 : 2);
}

std::string n2(double v) {
  return ok(v) ? fixed_text(v, 2) : "暂无";
}

std::string j3(double v) {
  return fixed_text(ok(v) ? r3(v) : 0.0, 3);
}

std::string json_text(std::string_view s) {
  rapidjson::Value v(rapidjson::StringRef(s.data(), s.size()));
  return utils::safe_json_dumps(v);
}

std::string join(const std::vector<std::string>& parts, std::string_view sep) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? std::string(sep) : "") + parts[i];
  return out;
}

std::string market_word(std::string_view m) {
  if (m == "US") return "美股";
  if (m == "HK") return "港股";
  if (m == "ETF") return "ETF";
  return "A股";
}

std::string currency(std::string_view m) {
  if (m == "US") return "美元（USD）";
  if (m == "HK") return "港币（HKD）";
  return "人民币（CNY）";
}

std::string order_word(std::string_view o) {
  if (o == "bullish") return "多头排列";
  if (o == "bearish") return "空头排列";
  if (o == "mixed") return "交织";
  return "暂无";
}

std::string flag_reply(std::string_view flag) {
  if (flag == "高潮量") return "提高趋势入场门槛，置信度下调一级";
  if (flag == "放量不涨") return "不追高，置信度下调一级";
  if (flag == "黄昏星") return "顶部警示，优先观望等待";
  if (flag == "回撤过深" || flag == "回撤过长") return "已非健康回调，按底部反转框架审视";
  if (flag == "放量下跌") return "下跌放量，格外谨慎";
  if (flag == "RS绝对弱势") return "相对大盘显著弱势，非强势档不入场";
  return "纳入风险评估";
}

std::string decision_json(const Facts& f, const Plan& p) {
  std::string o = "{\n";
  auto add = [&o](std::string_view key, const std::string& value, bool last_field = false) {
    o += "  \"" + std::string(key) + "\": " + value + (last_field ? "\n" : ",\n");
  };
  add("stock_code", json_text(f.code));
  add("stock_name", json_text(f.name));
  add("analysis_time", json_text(f.date));
  add("current_price", j3(f.price));
  add("direction", json_text(p.direction));
  add("action", json_text(p.action));
  add("holder_action", json_text(p.holder_action));
  add("strategy_mode", json_text(p.mode));
  add("entry_price_low", j3(p.entry_low));
  add("entry_price_high", j3(p.entry_high));
  add("stop_loss", j3(p.stop));
  add("target_1", j3(p.t1));
  add("target_2", j3(p.t2));
  add("rrr", j3(p.rrr));
  add("rrr_max", j3(p.rrr_max));
  add("support_price", j3(p.support));
  add("resistance_price", j3(p.resistance));
  add("position_pct", std::to_string(p.position));
  add("holding_period", json_text(p.holding_period));
  add("confidence", json_text(p.confidence));
  add("risk_level", json_text(p.risk_level));
  add("market_sentiment", json_text(p.sentiment));
  add("key_watch", json_text(p.key_watch), true);
  return o + "}";
}

std::string key_watch(const Plan& p) {
  std::string up = "日收盘站稳" + px(p.resistance) + "且量比>1.3→";
  up += p.action == "观望等待" ? "重新评估买入" : "持有并将止损上移至" + px(p.entry_low);
  std::string down_level = ok(p.plan_stop) && p.plan_stop > 0 ? px(p.plan_stop) : px(p.support);
  std::string down = "收盘跌破" + down_level + "→";
  down += p.holder_action == "继续持有" ? "减仓50%" : "清仓离场";
  return "升级触发：" + up + "；降级触发：" + down;
}

std::string write_report(const Facts& f, Plan& p) {
  p.key_watch = key_watch(p);
  const bool buy = p.action != "观望等待";
  const bool etf = f.market == "ETF";
  std::string r;
  r += "## " + market_word(f.market) + "技术分析报告：" + f.name + "（" + f.code + "）\n\n";

  // Step 0.
  r += "### 0. 标的信息\n";
  r += std::string(etf ? "ETF代码" : "股票代码") + "：" + f.code + " | " +
       (etf ? "ETF名称" : "股票名称") + "：" + f.name + " | 分析时间：" + f.date + " | 当前价格：" +
       px(f.price) + "（今日涨幅 " + n2(f.pct) + "%）\n";
  if (p.data_short) r += "\n数据不足，分析结论置信度强制降为低\n";
  if (p.anomaly) r += "\n疑似停牌/数据异常\n";
  r += "\n";

  // Step 1.
  const double dist20 =
      ok(f.price) && ok(f.ema20) && ok(f.atr) && f.atr > 0 ? (f.price - f.ema20) / f.atr : kNaN;
  int up_days = 0;
  for (std::size_t i = 0; i < 5 && i + 1 < f.close.size(); ++i) {
    if (last(f.close, i) > last(f.close, i + 1)) ++up_days;
  }
  std::string stage = "横盘震荡";
  if (p.mode == "趋势跟随") stage = "上升趋势中";
  if (p.mode == "底部反转") stage = "底部筑底";
  if (f.ema_order == "bearish" && p.mode != "底部反转") stage = "下降趋势中";
  std::string strength = "同步大盘";
  if (ok(f.rs20) && f.rs20 > 2) strength = "强于大盘";
  if (ok(f.rs20) && f.rs20 < -2) strength = "弱于大盘";
  r += "### 1. 市场状态诊断\n";
  r += "- **价格行为描述**：近 20 日价格在 " + px(f.low20) + "～" + px(f.high20) +
       " 之间运行，最新收盘 " + px(f.price) + "，距 EMA20（" + px(f.ema20) + "）" + n2(dist20) +
       " × ATR；近 5 个交易日中 " + std::to_string(up_days) + " 日收涨。\n";
  r += "- **核心矛盾**：EMA20（" + px(f.ema20) + "）能否守住；价格能否有效突破压力 " +
       px(p.resistance) + "。\n";
  r += "- **方向假设**：均线" + order_word(f.ema_order) + "（EMA5 " + px(f.ema5) + " / EMA10 " +
       px(f.ema10) + " / EMA20 " + px(f.ema20) + " / EMA60 " + px(f.ema60) + "），MACD 柱 " +
       n2(last(f.hist)) + "，RSI " + n2(f.rsi) + " →【" + p.direction + "】\n";
  r += "- **相对强弱**：近 20 日相对收益 rs_20d " + n2(f.rs20) + "% →【" + strength + "】\n";
  r += "- **阶段定位**：" + stage + "\n\n";
  r += "**档位定档**：§4 首行为 " +
       (f.bias.empty() ? std::string("（未能读取）") : f.bias + " / " + f.strength) + "，定为" +
       p.tier.name + "（趋势跟随 ADX > " + fixed_text(p.tier.adx, 0) + "，偏离 EMA20 上限 " +
       fixed_text(p.tier.whipsaw, 1) + " × ATR，止损上限 " + fixed_text(p.tier.stop, 1) +
       " × ATR）。\n\n";
  r += "**操作框架**：形态预筛给出 " +
       (f.strategy_type.empty() ? std::string("暂无") : f.strategy_type) + "（strategy_hint " +
       (f.hint.empty() ? std::string("暂无") : f.hint) + "，总分 " + n2(f.score) +
       "），本报告定为【" + p.mode + "】。\n\n";
  r += "**大盘定性（一句话）**：" +
       (f.bias.empty() ? std::string("大盘简报未给出研判") : f.bias + " / " + f.strength) +
       (f.guidance.empty() ? "" : "，策略指引：" + f.guidance) + "。\n\n";
  if (f.market == "US") r += "**事件窗口检查**（美股专有）：事件信息缺失，无法评估。\n\n";

  // Step 2.
  r += "### 2. 关键证据分析\n";
  r += "#### 2.0 市场环境分析（基于第 4 节预分析结论做 Beta 匹配）\n";
  const bool beta_ok = !(p.tier.weak && (p.mode == "趋势跟随"));
  r += "- **Beta 匹配**：大盘策略指引" +
       (f.guidance.empty() ? std::string("未提供") : "“" + f.guidance + "”") +
       (beta_ok ? "，与本报告框架不冲突。\n" : "，弱势档下趋势跟随缺乏大盘支持，置信度下调。\n");
  r += "- **系统性风险**：" +
       (f.risk_line.empty() ? std::string("简报未提供风险行") : f.risk_line) + "\n\n";
  r += "#### 2.1 趋势结构（多周期共振）\n";
  r += "- **周线级别**：周线均线" +
       (f.weekly_order.empty() ? std::string("暂无") : f.weekly_order) + "，周线趋势 " +
       (f.weekly_trend.empty() ? std::string("暂无") : f.weekly_trend) + "。\n";
  r += "- **日线级别**：均线" + order_word(f.ema_order) + "，ADX " + n2(f.adx) + "（" +
       (f.adx_dir.empty() ? std::string("暂无") : f.adx_dir) + "）。\n";
  const bool above_vwma = ok(f.price) && ok(f.vwma) && f.price >= f.vwma * 0.98;
  r += "- **VWMA 校验**：VWMA " + px(f.vwma) + "，斜率 " +
       (f.vwma_slope.empty() ? std::string("暂无") : f.vwma_slope) + "，价格" +
       (above_vwma ? "位于 VWMA × 0.98 之上" : "低于 VWMA × 0.98") + "。\n\n";
  r += std::string("#### ") + (etf ? "2.2 量价与流动性验证\n" : "2.2 量价验证\n");
  r += "- **量比**：最新 Volume_Ratio " + n2(last(f.vr)) + "，近 5 日均值 " +
       n2(tail_mean(f.vr, 5)) + "。\n";
  const double obv_now = last(f.obv), obv_then = f.obv.size() > 20 ? last(f.obv, 20) : kNaN;
  r += "- **资金流向**：OBV 近 20 日" +
       (ok(obv_now) && ok(obv_then)
            ? (obv_now >= obv_then ? std::string("上升") : std::string("下降"))
            : std::string("暂无")) +
       "，MFI " + n2(f.mfi) + "。\n";
  if (!p.liquidity_note.empty()) r += "- **流动性**：" + p.liquidity_note + "。\n";
  if (etf) r += "- **折溢价**：折溢价信息缺失。\n";
  if (f.flags.empty()) {
    r += "- **风险标签**：无。\n\n";
  } else {
    std::vector<std::string> replies;
    for (const auto& flag : f.flags) replies.push_back(flag + "（" + flag_reply(flag) + "）");
    r += "- **风险标签**：" + join(replies, "；") + "。\n\n";
  }
  r += "#### 2.3 动能与超买超卖\n";
  r += "- MACD：DIF " + n2(f.dif) + "，DEA " + n2(f.dea) + "，柱 " + n2(last(f.hist)) + "；RSI " +
       n2(f.rsi) + "；KDJ：K " + n2(f.k) + " / D " + n2(f.d) + " / J " + n2(f.j) + "。\n";
  if (!f.signals.empty()) r += "- 信号共振：" + join(f.signals, "、") + "。\n";
  r += "\n#### 2.4 信号冲突仲裁\n";
  const bool conflict = (f.weekly_trend == "down" && p.direction == "看多") ||
                        (f.weekly_trend == "up" && p.direction == "看空");
  r += conflict ? "- 周线方向与日线假设相反，按大周期优先原则降低仓位预期。\n\n"
                : "- 日线与周线未见不可调和的冲突。\n\n";

  // Step 3.
  r += "### 3. 关键点位与风险\n";
  r += "- **支撑与压力**：支撑 " + px(p.support) + "（price_context.support），压力 " +
       px(p.resistance) + "（price_context.resistance）；周线枢轴 S1 " + px(f.s1) + "、R1 " +
       px(f.r1) + "。\n";
  r += "- **关键防守位**：" + px(p.defence) + "（" +
       (p.defence_src.empty() ? std::string("暂无") : p.defence_src) + "）。\n";
  if (f.market == "A")
    r += "- **流动性风险**（A 股特有）：无量跌停时卖单可能无法成交，止损存在无法执行的风险。\n";
  if (f.market == "US" || f.market == "HK") r += "- **无涨跌幅限制**：单日波动可能远超 ATR。\n";
  r += "- **波动率**：ATR(14) = " + px(f.atr) + "（占股价 " +
       n2(ok(f.atr) && ok(f.price) && f.price > 0 ? f.atr / f.price * 100 : kNaN) + "%），SAR " +
       px(f.sar) + "；价格以" + currency(f.market) + "计。\n";
  r += "- **止损定价**：" + px(p.defence) + " − " + fixed_text(p.buffer, 1) +
       " × ATR = " + px(p.plan_stop) + "，距入场中值 " + px(p.mid) + " 为 " + n2(p.stop_dist) +
       " × ATR，上限 " + n2(p.stop_cap) + " × ATR。\n\n";

  // Step 4.
  r += "### 4. 目标价确定与盈亏比\n";
  r += "- **第一目标**：" + px(p.plan_t1) + "（" +
       (p.t1_src.empty() ? std::string("暂无") : p.t1_src) + "）\n";
  r += "- **第二目标**：" + px(p.plan_t2) + "（" +
       (p.t2_src.empty() ? std::string("暂无") : p.t2_src) + "）\n";
  r += "- **盈亏比**：RRR = (" + px(p.plan_t1) + " − " + px(p.mid) + ") / (" + px(p.mid) + " − " +
       px(p.plan_stop) + ") = " + (ok(p.plan_rrr) ? fixed_text(p.plan_rrr, 3) : "暂无") +
       "；RRR_max = " + (ok(p.plan_rrr_max) ? fixed_text(p.plan_rrr_max, 3) : "暂无") + "\n";
  r += "- **硬性规则**：min_rrr = " + n2(f.min_rrr) +
       "，max_position_pct = " + fixed_text(f.max_pos, 0) +
       "%，max_stop_dist_atr = " + n2(f.max_stop) + "\n\n";

  // Step 5.
  r += "### 5. 交易决策\n";
  r += p.blockers.empty() ? "Step 2～4 的证据支持 Step 1 的框架。\n\n"
                          : "Step 2～4 的检验结论：" + join(p.blockers, "；") + "。\n\n";
  r += "#### 5.1 持仓者操作计划（持有该标的）\n";
  r += "- **操作建议**：【" + p.holder_action + "】\n";
  r += "- **核心理由**：" +
       std::string(p.holder_action == "继续持有" ? "结构未破坏，防守位有效"
                                                 : "离场信号出现或结构转弱") +
       "。\n";
  r += "- **持仓策略**：防守位 " + px(p.defence) + "，收盘跌破 " + px(p.plan_stop) + " 离场。\n";
  r += "- **持有周期**：" +
       (p.holder_action == "继续持有" && p.holding_days > 0
            ? std::to_string(p.holding_days) + "个交易日"
            : std::string("无")) +
       "\n";
  r += "- **止盈计划**：触及 " + px(p.plan_t1) + " 卖出 30%～50%，触及 " + px(p.plan_t2) + " 清仓" +
       (f.market == "A" ? "（T+1：当日买入部分次日方可卖出）" : "") + "。\n\n";
  r += "#### 5.2 持币者操作计划（尚未入场）\n";
  r += "- **操作建议**：【" + p.action + "】\n";
  r += "- **置信度评分**：base_confidence_score " + n2(f.base) + " + RRR 加分 " + n2(p.rrr_points) +
       " = " + n2(p.total) + "（门槛 " + fixed_text(p.threshold, 1) + "）→ 置信度" + p.confidence +
       (p.confidence_cuts.empty() ? "" : "（下调因素：" + join(p.confidence_cuts, "、") + "）") +
       "\n";
  if (buy) {
    r += "- **执行方案**：" + p.entry_src + " " + px(p.entry_low) + "～" + px(p.entry_high) +
         " 分批挂单，止损 " + px(p.stop) + "，仓位 " + std::to_string(p.position) + "%，预计持仓 " +
         p.holding_period + "。\n";
    const int half = p.holding_days / 2, late = p.holding_days * 3 / 4;
    r += "- **时间止损**：入场后第 " + std::to_string(half) +
         " 个交易日收盘，若向目标运行不足 1 × ATR（" + px(f.atr) + "）则离场；第 " +
         std::to_string(late) + " 个交易日收盘，若回落后涨幅不足 0.5 × ATR 建议离场。\n";
    r += "- **移动止损**：触及 " + px(p.entry_high + f.atr) + " → 止损上移至 " + px(p.entry_low) +
         "；触及 " + px(p.entry_high + 1.5 * f.atr) + " → 止损上移至 " +
         px(p.entry_high + 0.5 * f.atr) + "；触及第一目标 " + px(p.t1) +
         " → 卖出 30%～50%，余仓止损上移至 " + px(p.entry_low + f.atr) + "。\n\n";
  } else {
    r += "- **观望计划**：" +
         (p.entry_low > 0 ? "价格进入 " + px(p.entry_low) + "～" + px(p.entry_high) + "（" +
                                p.entry_src + "）且量比 > 1.3 时重新评估，"
                          : std::string()) +
         "关注支撑 " + px(p.support) + " 与压力 " + px(p.resistance) + "。\n\n";
  }
  r += "### 5.3 输出前逻辑自洽检查\n";
  r += std::string("1. rrr 与 min_rrr：") + (buy ? "满足" : "观望，rrr 记 0") + "；\n";
  r += "2. 止损距离 " + n2(p.stop_dist) + " × ATR，上限 " + n2(p.stop_cap) + " × ATR；\n";
  r += "3. 仓位 " + std::to_string(p.position) + "%，上限 " + fixed_text(f.max_pos, 0) + "%；\n";
  r += std::string("4. 价格链：") +
       (buy ? "止损 < 入场下沿 ≤ 入场上沿 < 第一目标 < 第二目标，成立" : "观望，不适用") + "；\n";
  r += "5. 持仓建议 " + p.holder_action + "，操作建议 " + p.action + "；\n";
  r += "6. 策略模式 " + p.mode + "，预筛提示 " + (f.hint.empty() ? std::string("暂无") : f.hint) +
       (f.hint.empty() || f.hint == p.mode ? "，一致" : "，存在偏离，仓位已下调") + "。\n\n";

  // Step 6.
  r += "### 6. 结构化决策摘要\n```json\n" + decision_json(f, p) + "\n```\n";
  return r;
}

}  // namespace

std::optional<std::string> offline_analysis_reply(std::string_view system, std::string_view user) {
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

  Plan plan = make_plan(f);
  return write_report(f, plan);
}

}  // namespace zorvane::agent
