// The analysis prompt's rules, applied to the facts of one prompt.

#include "zorvane/agent/offline_analysis_plan.hpp"

#include <algorithm>

#include "zorvane/utils/text.hpp"

namespace zorvane::agent::offline {

namespace {

using utils::fixed_text;

std::string mode_of(std::string_view strategy_type) {
  if (strategy_type == "趋势跟随" || strategy_type == "底部反转" || strategy_type == "区间震荡" ||
      strategy_type == "均线压缩" || strategy_type == "空仓等待") {
    return std::string(strategy_type);
  }
  if (strategy_type == "等待突破") return "均线压缩";  // a base without its breakout yet
  return "空仓等待";
}

bool is_weak_mode(std::string_view mode) {
  return mode == "底部反转" || mode == "区间震荡";
}

std::string lower_confidence(std::string_view c) {
  return c == "高" ? "中" : "低";
}

// A candidate target level and where it comes from.
struct Level {
  double price;
  std::string source;
};

// Candidate levels above `floor`, nearest first.
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

// Data sufficiency and anomalies (notes items 10 and 11), direction, support and resistance.
void read_situation(const Facts& f, Plan& p) {
  const double price = f.price, a = f.atr;
  p.data_short = f.rows < 30;
  if (p.data_short) p.blockers.push_back("日线数据不足 30 根，置信度强制为低");
  if (!ok(price) || price <= 0 ||
      (f.close.size() >= 3 && last(f.close) == last(f.close, 1) &&
       last(f.close, 1) == last(f.close, 2))) {
    p.anomaly = true;
    p.blockers.push_back("疑似停牌/数据异常");
  }
  if (!ok(a) || a <= 0) p.blockers.push_back("ATR 不可用，无法计算止损距离");

  // A trend or a confirmed bottom is a long hypothesis, a range neutral; otherwise the
  // moving-average order decides.
  if (p.mode == "趋势跟随" || p.mode == "底部反转") {
    p.direction = "看多";
  } else if (p.mode == "区间震荡") {
    p.direction = "中性";
  } else {
    p.direction = f.ema_order == "bullish" ? "看多" : (f.ema_order == "bearish" ? "看空" : "中性");
  }

  // The price context, widened when it is not a proper range.
  p.support = ok(f.support) ? f.support : tail_mean(f.low, 1);
  p.resistance = f.resistance;
  if (!ok(p.support) || p.support <= 0) p.support = ok(price) && price > 0 ? price * 0.95 : 0.001;
  if (!ok(p.resistance) || r3(p.resistance) <= r3(p.support)) {
    p.resistance = p.support + std::max(ok(a) && a > 0 ? 2 * a : p.support * 0.1, 0.001);
  }
}

// Defence level, stop buffer and entry range of the frame; the stop, its distance and cap,
// the targets and the reward/risk ratios.
void set_levels(const Facts& f, Plan& p) {
  const double price = f.price, a = f.atr;
  if (!ok(a) || a <= 0 || !ok(price) || price <= 0) return;
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
      const double top = ok(f.ema10) ? std::min(price, f.ema10 + 0.5 * a) : price;
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
    // No entry yet: the trigger is a volume-confirmed break of the recent high.
    p.defence = ok(f.ema20) ? f.ema20 : p.support;
    p.defence_src = ok(f.ema20) ? "EMA20" : "支撑位";
    const double base = ok(f.high20) ? std::max(f.high20, price) : p.resistance;
    p.plan_low = base;
    p.plan_high = base + 0.5 * a;
    p.entry_src = "放量突破确认区";
    p.buffer = p.mode == "均线压缩" ? 0.5 : 1.0;
  }
  // A shares execute stops at the next open at the earliest (T+1): a wider buffer, within
  // the tier's cap.
  if (f.market == "A") p.buffer = std::max(p.buffer, 1.0);
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
  // Expected holding: half an ATR a day towards the first target, 5 to 20 days.
  p.holding_days =
      static_cast<int>(std::clamp(std::ceil((p.plan_t1 - p.mid) / (0.5 * a)), 5.0, 20.0));
}

// Holder advice: clear on a bearish structure under the long average without any frame,
// reduce on the frame's exit signals or warning flags, otherwise hold.
void set_holder_action(const Facts& f, Plan& p) {
  const double price = f.price;
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
}

// Gates that forbid a buy, in the order of the prompt's self-check.
void add_gates(const Facts& f, Plan& p) {
  const double price = f.price;
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
  if (f.market == "A" && ok(f.pct)) {
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
    if (ok(f.atr) && f.atr > 0) p.blockers.push_back("止损不低于入场价，盈亏比无法成立");
  } else if (p.plan_rrr < f.min_rrr) {
    p.blockers.push_back("RRR " + fixed_text(p.plan_rrr, 3) + " 低于 min_rrr " +
                         fixed_text(f.min_rrr, 2));
  }
  if (ok(p.plan_low) && ok(price) && (p.plan_low < price * 0.92 || p.plan_low > price * 1.05)) {
    p.blockers.push_back("入场下沿偏离现价超出 [0.92, 1.05] 区间");
  }
  if (ok(p.plan_stop) && p.plan_stop <= 0) p.blockers.push_back("止损价不为正");
}

// Liquidity tiers of funds and Hong Kong stocks by the 20-day mean turnover.
void apply_liquidity(const Facts& f, Plan& p) {
  const double turnover = tail_mean(f.amount, 20);
  if (!ok(turnover) || (f.market != "ETF" && f.market != "HK")) return;
  const bool etf = f.market == "ETF";
  const std::string amount =
      "近 20 日日均成交额约 " + fixed_text(turnover / 1e4, 0) + " 万" + (etf ? "元" : "港币");
  if (turnover >= (etf ? 1e8 : 5e7)) {
    p.liquidity_note = amount + "，流动性充足";
  } else if (turnover >= (etf ? 2e7 : 1e7)) {
    p.liquidity_note = amount + "，流动性一般，仓位上限 20%";
    p.liquidity_cap = 20;
  } else if (!etf) {
    p.liquidity_note = amount + "，属仙股区间，强制观望";
    p.blockers.push_back("流动性不足（仙股区间）");
  } else {
    p.liquidity_note = amount + "，流动性差，仓位上限 10%";
    p.liquidity_cap = 10;
    p.confidence_cuts.push_back("流动性差");
  }
}

// The confidence score (base plus RRR points) and the grade of the scoring table, lowered by
// the flags that cut confidence. Returns the grade ("观望等待" when none).
std::string grade_buy(const Facts& f, Plan& p) {
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
    // A score above the threshold fails here only through the RRR, which has its own blocker.
    if (p.total < p.threshold) {
      p.blockers.push_back("置信总分 " + fixed_text(p.total, 2) + " 低于门槛 " +
                           fixed_text(p.threshold, 1));
    }
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
  return grade;
}

// Position of a grade within every cap; a cautious buy holds at most 15%.
int position_of(const Facts& f, const Plan& p, std::string_view grade) {
  double cap = f.max_pos;
  if (ok(p.liquidity_cap)) cap = std::min(cap, p.liquidity_cap);
  // A frame that departs from the pre-screen's hint may only lower the position.
  if (!f.hint.empty() && f.hint != p.mode) cap = std::min(cap, f.max_pos * 0.8);
  if (grade == "强烈买入") return static_cast<int>(std::floor(cap));
  if (grade == "建议买入") return static_cast<int>(std::floor(cap * 2.0 / 3.0));
  if (grade == "谨慎买入") return static_cast<int>(std::floor(std::min(15.0, cap / 2.0)));
  return 0;
}

// The decision fields: a buy only when no gate stands and the rounded price chain holds;
// otherwise a wait with the non-holder's trigger range and, while holding, the holder's
// defence and targets.
void decide(Plan& p, const std::string& grade, int position) {
  if (grade != "观望等待" && position < 1) p.blockers.push_back("仓位上限为 0");
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
    return;
  }
  p.action = "观望等待";
  if (p.confidence == "高") p.confidence = "中";
  if (ok(p.plan_low) && ok(p.plan_high) && p.plan_low > 0) {
    p.entry_low = p.plan_low, p.entry_high = p.plan_high;
  }
  if (p.holder_action == "继续持有" && ok(p.plan_stop) && p.plan_stop > 0 && ok(p.plan_t1)) {
    p.stop = p.plan_stop, p.t1 = p.plan_t1, p.t2 = std::max(p.plan_t1, p.plan_t2);
    p.holding_period = std::to_string(std::max(p.holding_days, 5)) + "个交易日";
  }
}

}  // namespace

Tier tier_of(std::string_view bias) {
  if (bias == "偏多") return {"强势档", 25, 2.0, 1.5, false};
  if (bias == "震荡") return {"中性档", 22, 1.8, 1.8, false};
  if (bias == "偏空" || bias == "避险") return {"弱势档", 28, 1.5, 1.2, true};
  return {"未定档", 25, 1.8, 1.5, false};
}

Plan make_plan(const Facts& f) {
  Plan p;
  p.tier = tier_of(f.bias);
  p.mode = mode_of(f.strategy_type);
  p.sentiment = f.bias == "偏多" ? "看多" : (f.bias == "偏空" ? "看空" : "中性");
  read_situation(f, p);
  set_levels(f, p);
  set_holder_action(f, p);
  add_gates(f, p);
  apply_liquidity(f, p);
  const std::string grade = grade_buy(f, p);
  decide(p, grade, position_of(f, p, grade));
  // Risk level from volatility, flags and the market.
  if (f.vol_regime == "high_vol" || f.flags.size() >= 2 || f.bias == "避险" || p.anomaly) {
    p.risk_level = "高";
  } else if (f.vol_regime == "low_vol" && f.flags.empty() && f.bias == "偏多") {
    p.risk_level = "低";
  }
  return p;
}

}  // namespace zorvane::agent::offline
