#include "backtest/aggregates.hpp"

#include <algorithm>
#include <functional>
#include <map>
#include <numeric>

namespace backtest {

namespace {

double mean(const std::vector<double>& v) {
  return v.empty() ? kNaN
                   : std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

double median(std::vector<double> v) {
  if (v.empty()) return kNaN;
  const std::size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
  const double upper = v[mid];
  if (v.size() % 2 == 1) return upper;
  const double lower = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid));
  return (lower + upper) / 2;
}

double ratio(std::size_t n, std::size_t d) {
  return d == 0 ? kNaN : static_cast<double>(n) / static_cast<double>(d);
}

void push_finite(std::vector<double>& v, double x) {
  if (std::isfinite(x)) v.push_back(x);
}

// Rank of a confidence level for ordering: 高, 中, 低, then the rest.
int confidence_rank(const std::string& c) {
  if (c == "高") return 0;
  if (c == "中") return 1;
  if (c == "低") return 2;
  return 3;
}

// Rank of an action for ordering: the buys from strongest, waiting, then the rest.
int action_rank(const std::string& a) {
  static const char* const kOrder[] = {"强烈买入", "建议买入", "谨慎买入", "观望等待"};
  for (int i = 0; i < 4; ++i) {
    if (a == kOrder[i]) return i;
  }
  return 4;
}

void sort_by_rank(std::vector<GroupStats>& groups, int (*rank)(const std::string&)) {
  std::stable_sort(groups.begin(), groups.end(), [rank](const GroupStats& x, const GroupStats& y) {
    return rank(x.group) < rank(y.group);
  });
}

std::vector<GroupStats> grouped(const std::vector<DecisionResult>& results,
                                const std::function<std::string(const DecisionResult&)>& key) {
  std::map<std::string, std::vector<const DecisionResult*>> groups;
  for (const auto& r : results) groups[key(r)].push_back(&r);
  std::vector<GroupStats> out;
  for (const auto& [name, rows] : groups) out.push_back(group_stats(name, rows));
  return out;
}

std::string or_unknown(const std::string& s) {
  return s.empty() ? "(空)" : s;
}

}  // namespace

GroupStats group_stats(const std::string& group, const std::vector<const DecisionResult*>& rows) {
  GroupStats g;
  g.group = group;
  g.decisions = rows.size();
  std::vector<double> rs, returns, days, forward, baseline, index;
  double gains = 0, losses = 0;
  std::size_t right = 0;
  for (const DecisionResult* r : rows) {
    const Outcome& o = r->outcome;
    if (o.status == Status::open) {
      ++g.open;
      continue;
    }
    if (o.status == Status::unmatched) {
      ++g.unmatched;
      continue;
    }
    push_finite(baseline, o.baseline_pct);
    push_finite(index, o.index_pct);
    if (std::isfinite(o.forward_return_pct)) {
      forward.push_back(o.forward_return_pct);
      if (!o.buy) {
        ++g.non_buys;
        if (o.forward_return_pct <= 0) ++right;
      }
    }
    if (!o.buy) continue;
    ++g.buys;
    if (!o.filled) continue;
    ++g.filled;
    if (o.return_pct > 0) {
      ++g.wins;
      gains += o.return_pct;
    } else {
      losses -= o.return_pct;
    }
    returns.push_back(o.return_pct);
    push_finite(rs, o.r_multiple);
    days.push_back(o.days_held);
  }
  g.fill_rate = ratio(g.filled, g.buys);
  g.win_rate = ratio(g.wins, g.filled);
  g.avg_r = mean(rs);
  g.median_r = median(rs);
  g.expectancy_pct = mean(returns);
  if (!returns.empty()) {
    g.profit_factor = losses > 0 ? gains / losses : (gains > 0 ? HUGE_VAL : kNaN);
  }
  g.avg_days_held = mean(days);
  g.forward = forward.size();
  g.avg_forward_pct = mean(forward);
  g.median_forward_pct = median(forward);
  g.non_buy_right_rate = ratio(right, g.non_buys);
  g.baseline_pct = mean(baseline);
  g.index_pct = mean(index);
  return g;
}

Aggregates aggregate(const std::vector<DecisionResult>& results) {
  Aggregates a;
  std::vector<const DecisionResult*> all;
  all.reserve(results.size());
  for (const auto& r : results) all.push_back(&r);
  a.overall = group_stats("全部", all);
  a.by_action =
      grouped(results, [](const DecisionResult& r) { return or_unknown(r.decision.plan.action); });
  a.by_confidence =
      grouped(results, [](const DecisionResult& r) { return or_unknown(r.decision.confidence); });
  a.by_market =
      grouped(results, [](const DecisionResult& r) { return or_unknown(r.decision.market); });
  a.by_model =
      grouped(results, [](const DecisionResult& r) { return or_unknown(r.decision.client_type); });
  a.by_holder_action = grouped(
      results, [](const DecisionResult& r) { return or_unknown(r.decision.holder_action); });

  sort_by_rank(a.by_action, action_rank);
  sort_by_rank(a.by_confidence, confidence_rank);
  for (const auto& g : a.by_confidence) {
    if (g.filled > 0) a.calibration.push_back(g);
  }
  for (std::size_t i = 1; i < a.calibration.size(); ++i) {
    if (confidence_rank(a.calibration[i].group) < 3 &&
        a.calibration[i].win_rate > a.calibration[i - 1].win_rate) {
      a.calibration_monotonic = false;
    }
  }
  return a;
}

}  // namespace backtest
