#include "backtest/report_html.hpp"

#include <cmath>
#include <optional>

#include "zorvane/report/html/table_page.hpp"

namespace backtest {

namespace {

using zorvane::html::TableCell;

TableCell text_cell(const std::string& text) {
  return {text.empty() ? "—" : text, std::nullopt, ""};
}

// A figure shown as `text`, sorted by its value when there is one.
TableCell number_cell(double v, std::string text) {
  return {std::move(text), std::isfinite(v) ? std::optional<double>(v) : std::nullopt, ""};
}

std::string group_line(const GroupStats& g) {
  std::string line = g.group + "：决策 " + std::to_string(g.decisions);
  if (g.buys > 0) {
    line += "，成交 " + std::to_string(g.filled) + "/" + std::to_string(g.buys) + "，胜率 " +
            fraction_text(g.win_rate) + "，平均R " + number_text(g.avg_r, 2) + "，期望收益 " +
            signed_pct_text(g.expectancy_pct) + "，盈亏比 " + number_text(g.profit_factor, 2);
  }
  return line + "，前瞻收益 " + signed_pct_text(g.avg_forward_pct);
}

std::optional<std::string> common_market(const std::vector<DecisionResult>& results) {
  std::optional<std::string> market;
  for (const auto& r : results) {
    if (r.decision.market.empty()) continue;
    if (market && *market != r.decision.market) return std::nullopt;
    market = r.decision.market;
  }
  return market;
}

}  // namespace

std::string report_html(const BacktestReport& report) {
  zorvane::html::TablePage page;
  page.title = "回测";
  page.label = "回测";
  if (!report.results.empty()) {
    // Decisions come oldest first.
    page.subtitle = "分析日 " + report.results.front().decision.analysis_date + " 至 " +
                    report.results.back().decision.analysis_date;
  }
  page.summary = count_lines(report);
  page.summary.push_back(group_line(report.aggregates.overall));
  for (const auto& g : report.aggregates.by_action) page.summary.push_back(group_line(g));

  page.columns = {"代码", "名称", "分析日", "操作", "置信度", "状态",    "离场原因",
                  "收益", "R",    "MAE",    "MFE",  "持有",   "前瞻收益"};
  for (const auto& r : report.results) {
    const Outcome& o = r.outcome;
    zorvane::html::TableRow row;
    row.cells = {
        text_cell(r.decision.code),
        text_cell(r.decision.name),
        text_cell(r.decision.analysis_date),
        text_cell(r.decision.plan.action),
        text_cell(r.decision.confidence),
        text_cell(std::string(status_name(o.status))),
        text_cell(std::string(exit_reason_name(o.exit_reason))),
        number_cell(o.return_pct, signed_pct_text(o.return_pct)),
        number_cell(o.r_multiple, number_text(o.r_multiple, 2)),
        number_cell(o.mae_pct, signed_pct_text(o.mae_pct)),
        number_cell(o.mfe_pct, signed_pct_text(o.mfe_pct)),
        o.days_held < 0 ? text_cell("") : number_cell(o.days_held, std::to_string(o.days_held)),
        number_cell(o.forward_return_pct, signed_pct_text(o.forward_return_pct)),
    };
    row.spark = r.span_closes;
    page.rows.push_back(std::move(row));
  }
  return zorvane::html::table_page_html(page,
                                        zorvane::html::chart_colors(common_market(report.results)));
}

}  // namespace backtest
