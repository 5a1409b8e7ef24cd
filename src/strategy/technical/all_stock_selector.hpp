#pragma once
// AllStockSelector: accepts every stock that has bars in the window; runs no pattern scan.

#include "strategy/technical/selector_deps.hpp"
#include "zorvane/strategy/stock_selector.hpp"

namespace technical {

class AllStockSelector : public zorvane::strategy::StockSelector {
 public:
  // Logs info "AllStockSelector init".
  explicit AllStockSelector(SelectorDeps deps = SelectorDeps::defaults());

  // Loads the bars; without any, warns "股票 <code> 没有数据" and returns
  // (false, none, bars, "", 0.0, "ALL"); otherwise (true, status, bars, "", 0.0, "ALL").
  // Options are ignored.
  zorvane::strategy::CheckResult check(
      const std::string& code, const std::string& start_date, const std::string& end_date,
      const rapidjson::Value& options = zorvane::strategy::no_options()) override;

 private:
  SelectorDeps deps_;
};

}  // namespace technical
