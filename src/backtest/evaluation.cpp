#include "backtest/evaluation.hpp"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

#include "candlex/calendar.hpp"
#include "candlex/market_data.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"

namespace backtest {

namespace {

struct LoadedBars {
  candlex::BarTable table;
  std::optional<Bars> view;  // none when the table has no bars
};

class BarCache {
 public:
  explicit BarCache(const BarLoader& load) : load_(load) {}

  const Bars* get(const std::string& code) {
    auto it = cache_.find(code);
    if (it == cache_.end()) {
      auto loaded = std::make_unique<LoadedBars>();
      loaded->table = load_(code);
      if (!loaded->table.empty()) {
        try {
          loaded->view = Bars::of(loaded->table, code);
        } catch (const std::invalid_argument& e) {
          zorvane::utils::logger.warning("[回测] %s", e.what());
        }
      }
      it = cache_.emplace(code, std::move(loaded)).first;
    }
    return it->second->view ? &*it->second->view : nullptr;
  }

 private:
  const BarLoader& load_;
  // unique_ptr: views point into the tables, which must not move.
  std::map<std::string, std::unique_ptr<LoadedBars>> cache_;
};

std::vector<double> span_closes(const Outcome& o, Day analysis_date, const Bars& bars) {
  const auto first = bars.index_of(analysis_date);
  if (!first) return {};
  // The horizon counts from the fill for a filled buy, from the analysis date otherwise.
  std::size_t from = *first;
  if (o.fill_date) from = bars.index_of(*o.fill_date).value_or(from);
  std::size_t last = from + static_cast<std::size_t>(std::max(0, o.horizon_bars));
  if (o.exit_date) last = bars.index_of(*o.exit_date).value_or(last);
  last = std::min(last, bars.size() - 1);
  return {bars.close.begin() + static_cast<std::ptrdiff_t>(*first),
          bars.close.begin() + static_cast<std::ptrdiff_t>(last) + 1};
}

}  // namespace

candlex::BarTable load_all_bars(const std::string& code) {
  try {
    return candlex::get_any_ohlc(code, "1990-01-01", std::nullopt);
  } catch (const std::exception& e) {
    zorvane::utils::logger.warning("[回测] 读取行情失败，按无行情处理 code=%s err=%s", code,
                                   e.what());
    return {};
  }
}

std::vector<DecisionResult> evaluate_all(const std::vector<StoredDecision>& decisions,
                                         const EvalSettings& settings, const BarLoader& load) {
  BarCache cache(load);
  std::vector<DecisionResult> results;
  results.reserve(decisions.size());
  for (const auto& d : decisions) {
    DecisionResult r{d, market_rules(d.code, d.name, d.market), {}, {}};
    const Bars* bars = cache.get(d.code);
    const Bars* index = nullptr;
    try {
      if (!d.market.empty()) index = cache.get(candlex::calendar_index_of(d.market));
    } catch (const std::invalid_argument&) {
      // A stored market type of no known market has no index baseline.
    }
    std::optional<Day> day;
    try {
      day = zorvane::utils::parse_iso_date(d.analysis_date);
    } catch (const std::invalid_argument&) {
      // A stored date that is not a date matches no bar.
    }
    if (bars && day) {
      r.outcome = evaluate(d.plan, *day, *bars, r.rules, settings, index);
      r.span_closes = span_closes(r.outcome, *day, *bars);
    } else {
      r.outcome.buy = is_buy_action(d.plan.action);
    }
    results.push_back(std::move(r));
  }
  return results;
}

}  // namespace backtest
