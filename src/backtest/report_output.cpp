#include "backtest/report_output.hpp"

#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <sstream>
#include <utility>
#include <variant>

#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace backtest {

namespace {

using zorvane::utils::float_text;
using zorvane::utils::json_add;
using zorvane::utils::round_to;

// One output value: absent, text, number (non-finite is absent), or flag.
using Cell = std::variant<std::monostate, std::string, double, bool>;

Cell num(double v, int decimals = 4) {
  if (!std::isfinite(v)) return std::monostate{};
  return round_to(v, decimals);
}
Cell count(std::size_t n) {
  return static_cast<double>(n);
}
Cell day(const std::optional<Day>& d) {
  if (!d) return std::monostate{};
  return zorvane::utils::iso_date(*d);
}

struct Column {
  const char* name;
  std::function<Cell(const DecisionResult&)> get;
};

const std::vector<Column>& decision_columns() {
  static const std::vector<Column> cols = {
      {"id",
       [](const DecisionResult& r) { return count(static_cast<std::size_t>(r.decision.id)); }},
      {"code", [](const DecisionResult& r) -> Cell { return r.decision.code; }},
      {"name", [](const DecisionResult& r) -> Cell { return r.decision.name; }},
      {"market", [](const DecisionResult& r) -> Cell { return r.decision.market; }},
      {"analysis_date", [](const DecisionResult& r) -> Cell { return r.decision.analysis_date; }},
      {"client_type", [](const DecisionResult& r) -> Cell { return r.decision.client_type; }},
      {"model", [](const DecisionResult& r) -> Cell { return r.decision.model; }},
      {"decision_status",
       [](const DecisionResult& r) -> Cell { return r.decision.decision_status; }},
      {"action", [](const DecisionResult& r) -> Cell { return r.decision.plan.action; }},
      {"direction", [](const DecisionResult& r) -> Cell { return r.decision.direction; }},
      {"holder_action", [](const DecisionResult& r) -> Cell { return r.decision.holder_action; }},
      {"confidence", [](const DecisionResult& r) -> Cell { return r.decision.confidence; }},
      {"holding_period",
       [](const DecisionResult& r) -> Cell { return r.decision.plan.holding_period; }},
      {"horizon_bars",
       [](const DecisionResult& r) {
         return count(static_cast<std::size_t>(r.outcome.horizon_bars));
       }},
      {"limit_rule", [](const DecisionResult& r) -> Cell { return r.rules.limit_rule; }},
      {"t_plus_one", [](const DecisionResult& r) -> Cell { return r.rules.t_plus_one; }},
      {"scale", [](const DecisionResult& r) { return num(r.outcome.scale, 6); }},
      {"status",
       [](const DecisionResult& r) -> Cell { return std::string(status_name(r.outcome.status)); }},
      {"filled", [](const DecisionResult& r) -> Cell { return r.outcome.filled; }},
      {"fill_date", [](const DecisionResult& r) { return day(r.outcome.fill_date); }},
      {"fill_price", [](const DecisionResult& r) { return num(r.outcome.fill_price); }},
      {"partial_exit_date", [](const DecisionResult& r) { return day(r.outcome.partial_date); }},
      {"partial_exit_price", [](const DecisionResult& r) { return num(r.outcome.partial_price); }},
      {"exit_date", [](const DecisionResult& r) { return day(r.outcome.exit_date); }},
      {"exit_price", [](const DecisionResult& r) { return num(r.outcome.exit_price); }},
      {"exit_reason",
       [](const DecisionResult& r) -> Cell {
         if (r.outcome.exit_reason == ExitReason::none) return std::monostate{};
         return std::string(exit_reason_name(r.outcome.exit_reason));
       }},
      {"return_pct", [](const DecisionResult& r) { return num(r.outcome.return_pct); }},
      {"r_multiple", [](const DecisionResult& r) { return num(r.outcome.r_multiple); }},
      {"mae_pct", [](const DecisionResult& r) { return num(r.outcome.mae_pct); }},
      {"mfe_pct", [](const DecisionResult& r) { return num(r.outcome.mfe_pct); }},
      {"days_held",
       [](const DecisionResult& r) -> Cell {
         if (r.outcome.days_held < 0) return std::monostate{};
         return static_cast<double>(r.outcome.days_held);
       }},
      {"forward_return_pct",
       [](const DecisionResult& r) { return num(r.outcome.forward_return_pct); }},
      {"baseline_pct", [](const DecisionResult& r) { return num(r.outcome.baseline_pct); }},
      {"index_pct", [](const DecisionResult& r) { return num(r.outcome.index_pct); }},
  };
  return cols;
}

struct StatColumn {
  const char* name;
  std::function<Cell(const GroupStats&)> get;
};

const std::vector<StatColumn>& stat_columns() {
  static const std::vector<StatColumn> cols = {
      {"group", [](const GroupStats& g) -> Cell { return g.group; }},
      {"decisions", [](const GroupStats& g) { return count(g.decisions); }},
      {"open", [](const GroupStats& g) { return count(g.open); }},
      {"unmatched", [](const GroupStats& g) { return count(g.unmatched); }},
      {"buys", [](const GroupStats& g) { return count(g.buys); }},
      {"filled", [](const GroupStats& g) { return count(g.filled); }},
      {"wins", [](const GroupStats& g) { return count(g.wins); }},
      {"fill_rate", [](const GroupStats& g) { return num(g.fill_rate); }},
      {"win_rate", [](const GroupStats& g) { return num(g.win_rate); }},
      {"avg_r", [](const GroupStats& g) { return num(g.avg_r); }},
      {"median_r", [](const GroupStats& g) { return num(g.median_r); }},
      {"expectancy_pct", [](const GroupStats& g) { return num(g.expectancy_pct); }},
      {"profit_factor", [](const GroupStats& g) { return num(g.profit_factor); }},
      {"avg_days_held", [](const GroupStats& g) { return num(g.avg_days_held); }},
      {"forward", [](const GroupStats& g) { return count(g.forward); }},
      {"avg_forward_pct", [](const GroupStats& g) { return num(g.avg_forward_pct); }},
      {"median_forward_pct", [](const GroupStats& g) { return num(g.median_forward_pct); }},
      {"non_buys", [](const GroupStats& g) { return count(g.non_buys); }},
      {"non_buy_right_rate", [](const GroupStats& g) { return num(g.non_buy_right_rate); }},
      {"baseline_pct", [](const GroupStats& g) { return num(g.baseline_pct); }},
      {"index_pct", [](const GroupStats& g) { return num(g.index_pct); }},
  };
  return cols;
}

using Dimension = std::pair<const char*, const std::vector<GroupStats>*>;

std::vector<Dimension> dimensions(const Aggregates& a) {
  return {{"action", &a.by_action},
          {"confidence", &a.by_confidence},
          {"market", &a.by_market},
          {"model", &a.by_model},
          {"holder_action", &a.by_holder_action}};
}

// ---- JSON

rapidjson::Value json_cell(const Cell& c, zorvane::utils::JsonAllocator& alloc) {
  if (auto s = std::get_if<std::string>(&c)) return zorvane::utils::json_string(*s, alloc);
  if (auto d = std::get_if<double>(&c)) {
    // Counts, days and whole prices as integers: 8, not 8.0.
    if (*d == std::floor(*d) && std::fabs(*d) < 1e15) {
      return rapidjson::Value(static_cast<std::int64_t>(*d));
    }
    return rapidjson::Value(*d);
  }
  if (auto b = std::get_if<bool>(&c)) return rapidjson::Value(*b);
  return rapidjson::Value(rapidjson::kNullType);
}

rapidjson::Value stats_json(const GroupStats& g, zorvane::utils::JsonAllocator& alloc) {
  rapidjson::Value obj(rapidjson::kObjectType);
  for (const auto& col : stat_columns())
    json_add(obj, col.name, json_cell(col.get(g), alloc), alloc);
  return obj;
}

// ---- CSV

std::string csv_field(const Cell& c) {
  if (auto d = std::get_if<double>(&c)) {
    return *d == std::floor(*d) && std::fabs(*d) < 1e15 ? std::to_string(static_cast<long long>(*d))
                                                        : float_text(*d);
  }
  if (auto b = std::get_if<bool>(&c)) return *b ? "true" : "false";
  const std::string* s = std::get_if<std::string>(&c);
  if (!s) return "";
  if (s->find_first_of(",\"\r\n") == std::string::npos) return *s;
  return "\"" + zorvane::utils::replace_all(*s, "\"", "\"\"") + "\"";
}

// ---- table

class TextTable {
 public:
  explicit TextTable(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
  void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  void section(std::string title) { rows_.push_back({std::move(title)}); }

  void write(std::ostream& out) const {
    std::vector<std::size_t> widths;
    for (const auto& row : rows_) {
      if (row.size() == 1 && &row != &rows_.front()) continue;  // section titles span the row
      if (widths.size() < row.size()) widths.resize(row.size(), 0);
      for (std::size_t i = 0; i < row.size(); ++i)
        widths[i] = std::max(widths[i], display_width(row[i]));
    }
    for (const auto& row : rows_) {
      std::string line;
      for (std::size_t i = 0; i < row.size(); ++i) {
        const std::size_t pad =
            widths.size() > i && row.size() > 1 ? widths[i] - display_width(row[i]) : 0;
        if (i == 0) {
          line += row[i] + std::string(pad, ' ');
        } else {
          line += "  " + std::string(pad, ' ') + row[i];  // numbers right-aligned
        }
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out << line << '\n';
    }
  }

 private:
  std::vector<std::vector<std::string>> rows_;
};

std::vector<std::string> trade_row(const GroupStats& g) {
  return {g.group,
          std::to_string(g.decisions),
          std::to_string(g.filled) + "/" + std::to_string(g.buys),
          fraction_text(g.fill_rate),
          fraction_text(g.win_rate),
          number_text(g.avg_r, 2),
          number_text(g.median_r, 2),
          signed_pct_text(g.expectancy_pct),
          number_text(g.profit_factor, 2),
          number_text(g.avg_days_held, 1),
          signed_pct_text(g.avg_forward_pct),
          signed_pct_text(g.baseline_pct),
          signed_pct_text(g.index_pct),
          std::to_string(g.open),
          std::to_string(g.unmatched)};
}

}  // namespace

std::vector<std::string> count_lines(const BacktestReport& r) {
  std::size_t closed = 0, not_filled = 0, open = 0, unmatched = 0;
  for (const auto& x : r.results) {
    switch (x.outcome.status) {
      case Status::closed:
        ++closed;
        break;
      case Status::not_filled:
        ++not_filled;
        break;
      case Status::open:
        ++open;
        break;
      case Status::unmatched:
        ++unmatched;
        break;
    }
  }
  std::ostringstream decisions, others, rules;
  decisions << "决策 " << r.results.size() << " 条：已结束 " << closed << "，未成交 " << not_filled
            << "，未结 (期限未到) " << open << "，未匹配 (分析日无K线) " << unmatched;
  others << "另计：无决策 " << r.counts.without_decision << "，信任检查剔除 " << r.counts.rejected
         << "，决策无法读取 " << r.counts.unreadable << "，被重新分析取代 " << r.counts.superseded;
  rules << "规则：入场窗口 " << r.settings.entry_window << " 根K线；持有期 ";
  if (r.settings.horizon) {
    rules << *r.settings.horizon << " 根K线";
  } else {
    rules << "按决策的持仓周期 (无法解析时 " << r.settings.default_horizon << " 根K线)";
  }
  rules << "；目标1减半仓，目标2或止损离场；同一根K线触及止损与目标按止损计";
  return {decisions.str(), others.str(), rules.str()};
}

std::string fraction_text(double fraction) {
  return std::isfinite(fraction) ? zorvane::utils::fixed_text(fraction * 100, 1) + "%" : "—";
}

std::string number_text(double v, int decimals) {
  if (std::isinf(v) && v > 0) return "∞";
  return std::isfinite(v) ? zorvane::utils::fixed_text(v, decimals) : "—";
}

std::string signed_pct_text(double v) {
  if (!std::isfinite(v)) return "—";
  std::string t = zorvane::utils::fixed_text(v, 2);
  if (t == "-0.00") t = "0.00";
  return (v > 0 && t != "0.00" ? "+" : "") + t + "%";
}

std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    char32_t cp = b;
    if (len > 1 && i + len <= text.size()) {
      cp = b & (0xFF >> (len + 1));
      for (std::size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    width += wide ? 2 : 1;
    i += len;
  }
  return width;
}

void write_table(std::ostream& out, const BacktestReport& report, bool details) {
  const Aggregates& a = report.aggregates;
  for (const auto& line : count_lines(report)) out << line << "\n";
  out << "\n";

  TextTable trades({"分组", "决策", "成交/可成交", "成交率", "胜率", "平均R", "中位R", "期望收益",
                    "盈亏比", "平均持有", "前瞻收益", "次日开盘持有", "大盘指数", "未结",
                    "未匹配"});
  trades.add(trade_row(a.overall));
  const std::pair<const char*, const std::vector<GroupStats>*> sections[] = {
      {"[按操作建议]", &a.by_action},
      {"[按置信度]", &a.by_confidence},
      {"[按市场]", &a.by_market},
      {"[按模型类型]", &a.by_model}};
  for (const auto& [title, groups] : sections) {
    trades.section(title);
    for (const auto& g : *groups) trades.add(trade_row(g));
  }
  trades.write(out);

  out << "\n观望与持仓建议的前瞻收益 (持有期内收盘到收盘；观望正确 = 期间未上涨)\n";
  TextTable forward({"分组", "前瞻样本", "平均前瞻", "中位前瞻", "观望样本", "观望正确率",
                     "次日开盘持有", "大盘指数"});
  auto forward_row = [](const GroupStats& g) {
    return std::vector<std::string>{g.group,
                                    std::to_string(g.forward),
                                    signed_pct_text(g.avg_forward_pct),
                                    signed_pct_text(g.median_forward_pct),
                                    std::to_string(g.non_buys),
                                    fraction_text(g.non_buy_right_rate),
                                    signed_pct_text(g.baseline_pct),
                                    signed_pct_text(g.index_pct)};
  };
  for (const auto& g : a.by_action) {
    if (!is_buy_action(g.group)) forward.add(forward_row(g));
  }
  forward.section("[按持仓者操作]");
  for (const auto& g : a.by_holder_action) forward.add(forward_row(g));
  forward.write(out);

  out << "\n置信度校准 (买入成交的胜率)：";
  if (a.calibration.empty()) {
    out << "无成交";
  } else {
    for (std::size_t i = 0; i < a.calibration.size(); ++i) {
      const auto& g = a.calibration[i];
      out << (i ? " | " : "") << g.group << " " << fraction_text(g.win_rate) << " (" << g.filled
          << " 笔)";
    }
    out << "；置信度越高胜率越高：" << (a.calibration_monotonic ? "是" : "否");
  }
  out << "\n";

  if (!details) return;
  out << "\n";
  TextTable rows({"日期", "代码", "操作", "置信度", "状态", "成交日", "成交价", "离场日", "离场价",
                  "原因", "收益", "R", "持有", "前瞻收益", "涨跌停规则", "价格系数"});
  for (const auto& r : report.results) {
    const Outcome& o = r.outcome;
    auto date_text = [](const std::optional<Day>& d) {
      return d ? zorvane::utils::iso_date(*d) : "—";
    };
    rows.add(
        {r.decision.analysis_date, r.decision.code, r.decision.plan.action, r.decision.confidence,
         std::string(status_name(o.status)), date_text(o.fill_date), number_text(o.fill_price, 3),
         date_text(o.exit_date), number_text(o.exit_price, 3),
         o.exit_reason == ExitReason::none ? "—" : std::string(exit_reason_name(o.exit_reason)),
         signed_pct_text(o.return_pct), number_text(o.r_multiple, 2),
         o.days_held < 0 ? "—" : std::to_string(o.days_held), signed_pct_text(o.forward_return_pct),
         r.rules.limit_rule, number_text(o.scale, 4)});
  }
  rows.write(out);
}

void write_json(std::ostream& out, const BacktestReport& report) {
  rapidjson::Document doc(rapidjson::kObjectType);
  auto& alloc = doc.GetAllocator();

  rapidjson::Value settings(rapidjson::kObjectType);
  json_add(settings, "entry_window", report.settings.entry_window, alloc);
  json_add(settings, "default_horizon", report.settings.default_horizon, alloc);
  json_add(settings, "horizon",
           report.settings.horizon ? rapidjson::Value(*report.settings.horizon)
                                   : rapidjson::Value(rapidjson::kNullType),
           alloc);
  json_add(doc, "settings", std::move(settings), alloc);

  rapidjson::Value counts(rapidjson::kObjectType);
  std::size_t by_status[4] = {0, 0, 0, 0};
  for (const auto& r : report.results) ++by_status[static_cast<int>(r.outcome.status)];
  json_add(counts, "decisions", static_cast<long long>(report.results.size()), alloc);
  for (Status s : {Status::closed, Status::not_filled, Status::open, Status::unmatched}) {
    json_add(counts, status_name(s), static_cast<long long>(by_status[static_cast<int>(s)]), alloc);
  }
  json_add(counts, "without_decision", static_cast<long long>(report.counts.without_decision),
           alloc);
  json_add(counts, "rejected", static_cast<long long>(report.counts.rejected), alloc);
  json_add(counts, "unreadable", static_cast<long long>(report.counts.unreadable), alloc);
  json_add(counts, "superseded", static_cast<long long>(report.counts.superseded), alloc);
  json_add(doc, "counts", std::move(counts), alloc);

  rapidjson::Value decisions(rapidjson::kArrayType);
  for (const auto& r : report.results) {
    rapidjson::Value row(rapidjson::kObjectType);
    for (const auto& col : decision_columns())
      json_add(row, col.name, json_cell(col.get(r), alloc), alloc);
    decisions.PushBack(row, alloc);
  }
  json_add(doc, "decisions", std::move(decisions), alloc);

  const Aggregates& a = report.aggregates;
  rapidjson::Value aggregates(rapidjson::kObjectType);
  json_add(aggregates, "overall", stats_json(a.overall, alloc), alloc);
  for (const auto& [name, groups] : dimensions(a)) {
    rapidjson::Value list(rapidjson::kArrayType);
    for (const auto& g : *groups) list.PushBack(stats_json(g, alloc), alloc);
    json_add(aggregates, std::string("by_") + name, std::move(list), alloc);
  }
  rapidjson::Value calibration(rapidjson::kArrayType);
  for (const auto& g : a.calibration) {
    rapidjson::Value row(rapidjson::kObjectType);
    json_add(row, "confidence", g.group, alloc);
    json_add(row, "filled", static_cast<long long>(g.filled), alloc);
    json_add(row, "win_rate", json_cell(num(g.win_rate), alloc), alloc);
    json_add(row, "avg_r", json_cell(num(g.avg_r), alloc), alloc);
    calibration.PushBack(row, alloc);
  }
  json_add(aggregates, "calibration", std::move(calibration), alloc);
  json_add(aggregates, "calibration_monotonic", a.calibration_monotonic, alloc);
  json_add(doc, "aggregates", std::move(aggregates), alloc);

  out << zorvane::utils::safe_json_dumps(doc, false, 2) << '\n';
}

void write_csv(std::ostream& out, const BacktestReport& report) {
  const auto& cols = decision_columns();
  for (std::size_t i = 0; i < cols.size(); ++i) out << (i ? "," : "") << cols[i].name;
  out << '\n';
  for (const auto& r : report.results) {
    for (std::size_t i = 0; i < cols.size(); ++i)
      out << (i ? "," : "") << csv_field(cols[i].get(r));
    out << '\n';
  }
  out << '\n';
  const auto& stats = stat_columns();
  out << "dimension";
  for (const auto& col : stats) out << ',' << col.name;
  out << '\n';
  auto row = [&](const char* dimension, const GroupStats& g) {
    out << dimension;
    for (const auto& col : stats) out << ',' << csv_field(col.get(g));
    out << '\n';
  };
  row("overall", report.aggregates.overall);
  for (const auto& [name, groups] : dimensions(report.aggregates)) {
    for (const auto& g : *groups) row(name, g);
  }
}

}  // namespace backtest
