// Offline writer of the execution summary: turns an analysis report into the summary prompt's
// output format. Prices, targets, entry range and position are copied from the report's
// decision JSON; whatever the report does not state is written "报告未提及".

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "zorvane/agent/offline_prompt_text.hpp"
#include "zorvane/agent/offline_writers.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::agent {

namespace {

using offline::tagged;
using utils::trim;

constexpr std::string_view kMissing = "报告未提及";

// The rest of the first line holding `label`, or "".
std::string after(std::string_view text, std::string_view label) {
  auto b = text.find(label);
  if (b == std::string_view::npos) return {};
  b += label.size();
  auto e = text.find('\n', b);
  return std::string(trim(text.substr(b, e == std::string_view::npos ? e : e - b)));
}

// The decision object of the last ```json fence of the report, when it parses.
std::optional<rapidjson::Document> last_decision(std::string_view report) {
  auto open = report.rfind("```json");
  if (open == std::string_view::npos) return std::nullopt;
  auto body = report.find('\n', open);
  if (body == std::string_view::npos) return std::nullopt;
  auto close = report.find("```", body);
  if (close == std::string_view::npos) return std::nullopt;
  try {
    auto doc = utils::parse_json(report.substr(body + 1, close - body - 1));
    if (doc.IsObject()) return doc;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

class Decision {
 public:
  explicit Decision(const std::optional<rapidjson::Document>& doc) : doc_(doc) {}

  bool present() const { return doc_.has_value(); }

  std::string text(std::string_view key) const {
    const auto* v = find(key);
    if (v == nullptr || !v->IsString() || v->GetStringLength() == 0) return std::string(kMissing);
    return std::string(v->GetString(), v->GetStringLength());
  }

  double number(std::string_view key) const {
    const auto* v = find(key);
    return v != nullptr && v->IsNumber() ? v->GetDouble() : std::nan("");
  }

  // A price as the JSON wrote it (three decimals); "报告未提及" when absent or zero.
  std::string price(std::string_view key) const {
    double v = number(key);
    return std::isfinite(v) && v != 0 ? utils::fixed_text(v, 3) : std::string(kMissing);
  }

 private:
  const rapidjson::Value* find(std::string_view key) const {
    return doc_ ? utils::json_find(*doc_, key) : nullptr;
  }
  const std::optional<rapidjson::Document>& doc_;
};

std::string market_rule(std::string_view title) {
  if (title.find("A股") != std::string_view::npos) {
    return "A 股 T+1：当日买入部分次日方可卖出，止损在次日开盘执行";
  }
  if (title.find("港股") != std::string_view::npos) {
    return "港股无涨跌幅限制且流动性分化，挂单分批进出，避免市价单冲击";
  }
  if (title.find("美股") != std::string_view::npos) {
    return "美股无涨跌幅限制，隔夜跳空超过 3% 时开盘 30 分钟后再确认";
  }
  if (title.find("ETF") != std::string_view::npos) {
    return "ETF 关注成交额与折溢价，避免在流动性稀薄时段成交";
  }
  return std::string(kMissing);
}

}  // namespace

std::optional<std::string> offline_summary_reply(std::string_view /*system*/,
                                                 std::string_view user) {
  auto report = tagged(user, "analysis_report");
  if (!report) return std::nullopt;  // not a summary prompt

  const auto doc = last_decision(*report);
  const Decision d(doc);
  const std::string title = after(*report, "## ");
  const std::string action = d.text("action");
  const bool buy = action == "强烈买入" || action == "建议买入" || action == "谨慎买入";
  const std::string atr =
      after(*report, "ATR(14) = ").substr(0, after(*report, "ATR(14) = ").find("（"));
  const std::string atr_text = atr.empty() ? std::string(kMissing) : atr;
  const std::string checks = after(*report, "Step 2～4 的检验结论：");
  const std::string flags = after(*report, "- **风险标签**：");
  const std::string key_watch = d.text("key_watch");
  std::string up = std::string(kMissing), down = std::string(kMissing);
  if (auto u = key_watch.find("升级触发："); u != std::string::npos) {
    auto semi = key_watch.find("；", u);
    up = key_watch.substr(
        u + std::string_view("升级触发：").size(),
        semi == std::string::npos ? semi : semi - u - std::string_view("升级触发：").size());
  }
  if (auto dn = key_watch.find("降级触发："); dn != std::string::npos) {
    down = key_watch.substr(dn + std::string_view("降级触发：").size());
  }

  std::string s;
  s += "###### 📝 标的信息\n";
  s += d.text("stock_name") + "（" + d.text("stock_code") + "） | 现价：" +
       d.price("current_price") + " | 日期：" + d.text("analysis_time") + "\n\n";

  s += "###### 💡 核心结论\n";
  s += "- **方向判断**：" + d.text("direction") + " | **置信度**：" + d.text("confidence") +
       " | **策略模式**：" + d.text("strategy_mode") + "\n";
  s += "- **核心逻辑**：" +
       (buy ? std::string("报告给出") + action + "，盈亏比 " + d.price("rrr") + "，入场条件全部满足"
            : (checks.empty() ? std::string(kMissing) : checks)) +
       "\n\n";

  s += "###### 🎯 关键价位\n| 价位 | 价格 | 说明 |\n|---|---|---|\n";
  s += "| 入场区间 | " +
       (buy ? d.price("entry_price_low") + " - " + d.price("entry_price_high") : "-") + " | " +
       (buy ? "报告 Step 5 执行方案" : "观望，不设入场区间") + " |\n";
  s += "| 止损位 | " + d.price("stop_loss") + " | 跌破即执行 |\n";
  s += "| 第一目标位 | " + d.price("target_1") + " | 第一压力 |\n";
  s += "| 第二目标位 | " + d.price("target_2") + " | 第二压力 |\n";
  s += "| 关键支撑 | " + d.price("support_price") + " | 报告 Step 3 |\n";
  s += "| 关键压力 | " + d.price("resistance_price") + " | 报告 Step 3 |\n\n---\n\n";

  const std::string holder = d.text("holder_action");
  s += "### **持仓者操作计划**\n";
  s += "- **操作建议**：" + holder + "\n";
  s += "- **核心理由**：" +
       std::string(holder == "继续持有"
                       ? "结构未破坏，防守位有效"
                       : (holder == std::string(kMissing) ? std::string(kMissing)
                                                          : "报告提示离场信号或结构转弱")) +
       "\n";
  s += "- **止盈计划**：" +
       (d.price("target_1") == kMissing ? std::string(kMissing)
                                        : "触及 " + d.price("target_1") + " 卖出 30%～50%，触及 " +
                                              d.price("target_2") + " 清仓") +
       "\n";
  s += "- **持仓策略**：" +
       (d.price("stop_loss") == kMissing
            ? std::string(kMissing)
            : "收盘跌破 " + d.price("stop_loss") + " 离场；" + market_rule(title)) +
       "\n";
  s += "- **信号失效判断**：" + (down == kMissing ? std::string(kMissing) : down) + "\n";
  s += "- **预估持仓周期**：" + d.text("holding_period") + "\n\n";

  s += "### **持币者操作计划**\n";
  if (buy) {
    const double days = [&] {
      auto h = d.text("holding_period");
      return std::strtod(h.c_str(), nullptr);
    }();
    s += "「买入方案」：\n";
    s += "- **操作建议**：**" + action + "**\n";
    s += "- **核心逻辑**：盈亏比 " + d.price("rrr") + "（第二目标盈亏比 " + d.price("rrr_max") +
         "）\n";
    s += "- **入场方案**：限价挂单 " + d.price("entry_price_low") + " - " +
         d.price("entry_price_high") + "，仓位 " +
         std::to_string(static_cast<int>(d.number("position_pct"))) + "%\n";
    s += "- **止损执行**：" + d.price("stop_loss") + "，" + market_rule(title) + "\n";
    s += "- **止盈节奏**：" + d.price("target_1") + " 卖出 30%～50%，" + d.price("target_2") +
         " 清仓\n";
    s += "- **浮盈保护**：价格上行 1 × ATR（" + atr_text + "）后止损上移至 " +
         d.price("entry_price_low") + "\n";
    s += "- **预估持仓周期**：" + d.text("holding_period") + "\n";
    s += "- **时间止损**：" +
         (days > 0 ? "第 " + std::to_string(static_cast<int>(days) / 2) +
                         " 个交易日收盘检查，向目标运行不足 1 × ATR（" + atr_text + "）即放弃交易"
                   : std::string(kMissing)) +
         "\n\n";
  } else {
    s += "「观望方案」：\n";
    s += "- **操作建议**：**观望等待**\n";
    s += "- **核心逻辑**：" + (checks.empty() ? std::string(kMissing) : checks) + "\n";
    s += "- **入场触发条件**：" + (up == kMissing ? std::string(kMissing) : up) + "\n";
    s += "- **关注价位**：支撑 " + d.price("support_price") + "，压力 " +
         d.price("resistance_price") + "\n\n";
  }

  s += "###### ⚠️ 风险提示\n";
  s +=
      "- **最大风险点**：" + (flags.empty() || flags == "无。" ? market_rule(title) : flags) + "\n";
  s += "- **升级触发**：" + up + "\n";
  s += "- **降级触发**：" + down + "\n\n";
  s += "*免责声明：以上分析由AI生成，仅供参考，不构成任何投资建议。股市有风险，买卖自己定。*";
  return s;
}

}  // namespace zorvane::agent
