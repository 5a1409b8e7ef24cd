// Offline writer of the per-stock analysis report. It reads the facts the prompt hands over
// (header, daily and weekly bars, pattern info, market brief), applies the prompt's own rules
// (offline_analysis_plan.hpp) and writes a report in the prompt's Step 0 to Step 6 outline
// ending with the decision JSON. Every number it prints is computed from the prompt.

#include <string>
#include <string_view>
#include <vector>

#include "zorvane/agent/offline_analysis_plan.hpp"
#include "zorvane/agent/offline_writers.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::agent {

namespace {

using offline::Facts;
using offline::kNaN;
using offline::last;
using offline::ok;
using offline::Plan;
using offline::r3;
using offline::tail_mean;
using utils::fixed_text;

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
  auto facts = offline::read_analysis_prompt(system, user);
  if (!facts) return std::nullopt;
  Plan plan = offline::make_plan(*facts);
  return write_report(*facts, plan);
}

}  // namespace zorvane::agent
