// Offline writer of the market brief: turns the authoritative verdict, facts, core index table
// and sentiment section of a brief prompt into a brief in the prescribed four-section layout,
// copying every computed value as it stands in the prompt.

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "zorvane/agent/offline_prompt_text.hpp"
#include "zorvane/agent/offline_writers.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::agent {

namespace {

using offline::line_value;
using offline::lines_of;
using offline::tag_block;
using utils::trim;

// The length rule of the counted sections' prose.
constexpr std::size_t kCountedMin = 200;
constexpr std::size_t kCountedMax = 280;

std::string require(std::string value, std::string_view what) {
  if (value.empty()) {
    throw std::runtime_error("offline brief writer: the prompt has no " + std::string(what));
  }
  return value;
}

// One "- **<name>**：<body>" fact line of the authoritative facts.
struct Fact {
  std::string name;
  std::string body;
};

std::vector<Fact> parse_facts(std::string_view facts_block) {
  std::vector<Fact> out;
  for (auto line : lines_of(facts_block)) {
    auto t = trim(line);
    if (!t.starts_with("- **")) continue;
    auto name_end = t.find("**：", 4);
    if (name_end == std::string_view::npos) continue;
    out.push_back({std::string(t.substr(4, name_end - 4)),
                   std::string(t.substr(name_end + std::string_view("**：").size()))});
  }
  return out;
}

// "涨跌幅 -0.52%" -> -0.52; nullopt when the fact carries no number after the label.
std::optional<double> fact_number(const Fact& f, std::string_view label) {
  auto p = f.body.find(label);
  if (p == std::string::npos) return std::nullopt;
  const char* begin = f.body.c_str() + p + label.size();
  char* end = nullptr;
  double v = std::strtod(begin, &end);
  if (end == begin) return std::nullopt;
  return v;
}

bool fact_usable(const Fact& f) {
  return f.body.find("数据错误") == std::string::npos &&
         f.body.find("数据不足") == std::string::npos;
}

// The trend cell of `name`'s row in the core index table ("" when the table has no such row).
std::string trend_of(std::string_view table, std::string_view name) {
  const std::string head = "| **" + std::string(name) + "** |";
  for (auto line : lines_of(table)) {
    auto t = trim(line);
    if (!t.starts_with(head)) continue;
    auto end = t.rfind('|');
    auto start = t.rfind('|', end - 1);
    return std::string(trim(t.substr(start + 1, end - start - 1)));
  }
  return {};
}

// One key-interpretation bullet built from the fact line's own words. `full` adds the volume
// ratio, the distance to EMA20 and the table's trend label; otherwise the change and the
// EMA20 verdict only (the third and fourth index).
std::string interpretation(const Fact& f, std::string_view trend, bool full) {
  if (f.body.find("数据错误") != std::string::npos) {
    return "> - **" + f.name + "**：数据错误，暂无可用行情。";
  }
  // "涨跌幅 X，量比 Y；<EMA20 verdict>。收盘 C；vs EMA5 ...、vs EMA20 E（rel）、vs EMA60 ..."
  auto semi = f.body.find("；");
  std::string moves = f.body.substr(0, semi);
  if (semi == std::string::npos) return "> - **" + f.name + "**：" + moves + "。";
  if (!full) moves = moves.substr(0, moves.find("，量比"));
  std::string rest = f.body.substr(semi + std::string_view("；").size());
  auto stop = rest.find("。");
  std::string verdict = rest.substr(0, stop);
  std::string line = "> - **" + f.name + "**：" + moves + "，" + verdict;
  auto vs20 = rest.find("vs EMA20 ");
  if (full && vs20 != std::string::npos) {
    auto open = rest.find("（", vs20);
    auto close = open == std::string::npos ? open : rest.find("）", open);
    if (close != std::string::npos) {
      auto inner = open + std::string_view("（").size();
      // "下方-1.64%": the side is already in the verdict, keep the signed distance.
      auto rel = rest.substr(inner, close - inner);
      for (std::string side : {"上方", "下方"}) {
        if (rel.rfind(side, 0) == 0) rel = rel.substr(side.size());
      }
      line += "（偏离 " + rel + "）";
    }
  }
  if (full && !trend.empty() && trend != "数据不足") line += "，趋势" + std::string(trend);
  return line + "。";
}

// Characters as the brief's length rule counts them: code points other than white space and
// the emoji variation selector, in text without Markdown markup.
std::size_t visible(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size();) {
    auto b = static_cast<unsigned char>(text[i]);
    std::size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (b != ' ' && text.substr(i, len) != "\uFE0F") ++n;
    i += len;
  }
  return n;
}

// A bullet's counted text: without "> - " and the bold markers.
std::size_t visible_bullet(const std::string& bullet) {
  return visible(utils::replace_all(bullet.substr(std::string_view("> - ").size()), "**", ""));
}

// What the volume of the first index says, to fill a short risk line with a fact.
std::string volume_note(const std::vector<Fact>& facts) {
  for (const auto& f : facts) {
    auto ratio = fact_number(f, "量比 ");
    if (!ratio) continue;
    std::string text = "，" + f.name + "量比 " + utils::fixed_text(*ratio, 2);
    if (*ratio > 1.2) return text + "、量能放大，需确认放量方向能否延续";
    if (*ratio < 0.8) return text + "、量能萎缩，增量资金入场意愿不足";
    return text + "、量能平稳，尚无增量资金明显入场";
  }
  return "，核心指数数据不全，研判以系统结论为准";
}

// Whether the first two indices diverge or show an anomaly, which brings in the others.
bool needs_more_indices(const std::vector<Fact>& facts) {
  if (facts.size() < 3) return false;
  for (std::size_t i = 0; i < 2; ++i) {
    if (!fact_usable(facts[i])) return true;
    auto pct = fact_number(facts[i], "涨跌幅 ");
    auto ratio = fact_number(facts[i], "量比 ");
    if ((pct && std::abs(*pct) > 1.5) || (ratio && *ratio > 1.5)) return true;
  }
  auto p1 = fact_number(facts[0], "涨跌幅 ");
  auto p2 = fact_number(facts[1], "涨跌幅 ");
  return p1 && p2 && ((*p1 >= 0) != (*p2 >= 0));
}

std::string atmosphere(std::string_view bias) {
  if (bias == "避险") return "第一指数跌幅显著超出近期常态，系统性风险集中释放，资金避险情绪升温。";
  if (bias == "偏空")
    return "第一指数收盘受 EMA20 压制且短期均线走弱，空方占优，资金观望情绪浓厚。";
  if (bias == "偏多") return "第一指数站上 EMA20 且短期均线上行，多方占据主动，市场情绪偏暖。";
  if (bias == "震荡") return "指数围绕 EMA20 反复拉锯，多空力量均衡，方向尚待选择。";
  return "市场方向以系统研判为准，情绪中性。";
}

std::string risk(std::string_view bias) {
  if (bias == "避险") return "恐慌抛压可能延续，警惕流动性踩踏与连续下跌，严控仓位。";
  if (bias == "偏空") return "指数仍受均线压制，警惕反弹乏力后再度下探，切勿逆势加仓。";
  if (bias == "偏多") return "警惕量能不济导致冲高回落，跌破 EMA20 时需及时减仓。";
  return "方向明朗前警惕假突破，区间上沿追高与下沿杀跌均不可取。";
}

// One horizon of the sentiment block: "- D线：温度 **T** · STATE · DIR · ..." and its
// "  - 温区：Z；战术总方针：G" line.
struct Horizon {
  std::string temperature;
  std::string state;
  std::string direction;
  std::string guidance;
};

std::optional<Horizon> parse_horizon(const std::vector<std::string_view>& lines,
                                     std::string_view freq) {
  const std::string head = "- " + std::string(freq) + "线：温度 **";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto t = trim(lines[i]);
    if (!t.starts_with(head)) continue;
    Horizon h;
    auto rest = t.substr(head.size());
    auto star = rest.find("**");
    if (star == std::string_view::npos) return std::nullopt;
    h.temperature = std::string(rest.substr(0, star));
    std::vector<std::string> parts;
    auto tail = rest.substr(star + 2);
    std::size_t pos = 0;
    const std::string_view sep = " · ";
    while (true) {
      auto next = tail.find(sep, pos);
      parts.emplace_back(
          trim(tail.substr(pos, next == std::string_view::npos ? next : next - pos)));
      if (next == std::string_view::npos) break;
      pos = next + sep.size();
    }
    // parts[0] is empty (text before the first separator).
    if (parts.size() < 3) return std::nullopt;
    h.state = parts[1];
    h.direction = parts[2];
    for (std::size_t k = i + 1; k < lines.size(); ++k) {
      auto sub = trim(lines[k]);
      if (sub.starts_with("- ") && !sub.starts_with("- 温区") && !sub.starts_with("- 趋势") &&
          !sub.starts_with("- 子因子")) {
        break;
      }
      auto g = sub.find("战术总方针：");
      if (g != std::string_view::npos) {
        h.guidance = std::string(trim(sub.substr(g + std::string_view("战术总方针：").size())));
        break;
      }
    }
    return h;
  }
  return std::nullopt;
}

std::string sentiment_sentence(std::string_view raw_data) {
  auto head = raw_data.find("### 4.");
  if (head == std::string_view::npos) return {};
  auto lines = lines_of(raw_data.substr(head));
  auto d = parse_horizon(lines, "D");
  auto w = parse_horizon(lines, "W");
  if (!d || !w) return "情绪温度计数据暂不可用，本节不作情绪判断，以指数结构与策略指引为准。";
  std::string s = "中线 W 线温度 " + w->temperature + "（" + w->state + "，" + w->direction +
                  "），短线 D 线温度 " + d->temperature + "（" + d->state + "，" + d->direction +
                  "）";
  s += w->guidance.empty() ? "。" : "；战术总方针：" + w->guidance + "。";
  bool hot =
      w->state.find("过热") != std::string::npos || d->state.find("过热") != std::string::npos;
  if (hot) s += "情绪过热意味着均值回归压力加大，严禁追高，右侧破位及时止盈。";
  return s;
}

}  // namespace

std::optional<std::string> offline_brief_reply(std::string_view /*system*/, std::string_view user) {
  auto verdict = tag_block(user, "authoritative_verdict");
  auto table = tag_block(user, "core_index_table");
  if (!verdict || !table) return std::nullopt;  // not a brief prompt
  auto context = tag_block(user, "market_context").value_or("");
  auto facts_block = tag_block(user, "authoritative_facts").value_or("");
  auto raw = tag_block(user, "market_raw_data").value_or("");

  auto label = require(line_value(context, "- **市场范围**："), "market label");
  auto bias = require(line_value(*verdict, "- **bias（研判方向）**："), "bias");
  auto strength = require(line_value(*verdict, "- **强度**："), "strength");
  auto strategy = require(line_value(*verdict, "- **策略指引**："), "strategy");

  // The market name is the label without its bracketed index list: "A 股大盘".
  auto bracket = label.find("（");
  std::string market_name = bracket == std::string::npos ? label : label.substr(0, bracket);

  std::string table_text;
  for (auto line : lines_of(*table)) {
    auto t = trim(line);
    if (t.empty() || t.starts_with("（请原样保留")) continue;
    table_text += (table_text.empty() ? "" : "\n") + std::string(t);
  }

  auto facts = parse_facts(facts_block);
  const bool more = needs_more_indices(facts);
  std::string risk_line = risk(bias);
  // The prose of 市场研判, 核心指数动态 and 风险提示 stays within 200-280 characters: the
  // first two bullets carry the trend label unless that runs long; a short brief gets the
  // first index's volume reading in its risk line.
  std::vector<std::string> bullets;
  std::size_t counted = 0;
  for (bool with_trend : {true, false}) {
    bullets.clear();
    for (std::size_t i = 0; i < facts.size() && (i < 2 || more); ++i) {
      auto trend = with_trend && i < 2 ? trend_of(table_text, facts[i].name) : std::string();
      bullets.push_back(interpretation(facts[i], trend, i < 2));
    }
    if (bullets.empty()) bullets.push_back("> - 暂无核心指数数据，研判以系统结论为准。");
    counted = visible("市场氛围：" + atmosphere(bias)) + visible("策略指引：" + strategy) +
              visible("关键解读：") + visible("⚠风险：" + risk_line);
    for (const auto& b : bullets) counted += visible_bullet(b);
    if (counted <= kCountedMax) break;
  }
  // "…，切勿逆势加仓。" -> "…，切勿逆势加仓，上证指数量比 0.85、量能萎缩，…。"
  for (const auto& more_risk : {volume_note(facts), std::string("，仓位与节奏以策略指引为准")}) {
    if (counted >= kCountedMin) break;
    risk_line.insert(risk_line.size() - std::string_view("。").size(), more_risk);
    counted += visible(more_risk);
  }

  std::string out;
  out += "**▋ " + market_name + "市场研判 · " + bias + " / " + strength + "**\n";
  out += "- **市场氛围**：" + atmosphere(bias) + "\n";
  out += "- **策略指引**：**" + strategy + "**\n\n---\n\n";
  out += "**▋ 核心指数动态**\n" + table_text + "\n> **关键解读**：\n";
  for (const auto& b : bullets) out += b + "\n";
  out += "\n---\n\n";
  if (label.starts_with("A 股")) {
    out += "**▋ 情绪温度计**\n" + sentiment_sentence(raw) + "\n\n---\n\n";
  }
  out += "**▋ 风险提示**\n⚠️ **风险**：" + risk_line;
  return out;
}

}  // namespace zorvane::agent
