#pragma once
// Selectors that accept a stock by the strategy type and score of the pattern scan.
//
//   selector          code        scan mode  default type  type rule                   threshold
//   TFSelector        "TF"        "trend"    趋势跟随       type == 趋势跟随             [趋势跟随]
//   else default BRPSelector       "BRP"       "all"      底部反转       type in {底部反转,
//   等待突破}  [底部反转] else default CombinedSelector  "COMBINED"  "all"      混合           type
//   has a threshold entry  [type]
//
// check(code, start, end, options):
//   1. bars = load_bars(code, start, end); none -> warning "股票 <code> 没有数据" and
//      (false, none, bars, "", 0.0, selector code).
//   2. status = stock_status(bars, code).
//   3. result = scan(bars, symbol = code, mode, min_score = 3, options). The options are a
//      JSON object passed through unchanged; a key "symbol", "mode" or "min_score" collides with
//      the fixed arguments and throws std::invalid_argument.
//   4. eligible = "pre_screen_passed" (false when absent or null); pattern text = the whole
//      result as JSON (non-ASCII unescaped); score = "total_score" (0.0 when absent);
//      type = "strategy_type" (the default type when absent or null). A member of the wrong
//      JSON type throws std::invalid_argument.
//   5. When eligible: the type rule, then (only if it passed) the score rule - the score must
//      not be below the threshold. A failing rule makes the stock ineligible and logs one
//      line; a stock that passes both logs the selector's pass line. Nothing is logged when
//      the pre-screen itself failed.
//   6. (eligible, status, bars, pattern text, score, type).
// Errors of the data source, the status, the scan or the serialisation propagate.

#include <string>

#include "strategy/technical/selector_deps.hpp"
#include "zorvane/strategy/stock_selector.hpp"

namespace technical {

class PatternSelector : public zorvane::strategy::StockSelector {
 public:
  zorvane::strategy::CheckResult check(
      const std::string& code, const std::string& start_date, const std::string& end_date,
      const rapidjson::Value& options = zorvane::strategy::no_options()) override;

 protected:
  PatternSelector(std::string selector_code, std::string mode, std::string default_type,
                  SelectorDeps deps);

  // Applies the type and score rules to a stock that passed the pre-screen, logging as the
  // selector does; true when it stays eligible.
  virtual bool judge(const std::string& code, const std::string& strategy_type,
                     double total_score) const = 0;

  const SelectorDeps& deps() const { return deps_; }

 private:
  std::string selector_code_;
  std::string mode_;
  std::string default_type_;
  SelectorDeps deps_;
};

class TFSelector : public PatternSelector {
 public:
  explicit TFSelector(SelectorDeps deps = SelectorDeps::defaults());

 protected:
  bool judge(const std::string& code, const std::string& strategy_type,
             double total_score) const override;
};

class BRPSelector : public PatternSelector {
 public:
  explicit BRPSelector(SelectorDeps deps = SelectorDeps::defaults());

 protected:
  bool judge(const std::string& code, const std::string& strategy_type,
             double total_score) const override;
};

class CombinedSelector : public PatternSelector {
 public:
  explicit CombinedSelector(SelectorDeps deps = SelectorDeps::defaults());

 protected:
  bool judge(const std::string& code, const std::string& strategy_type,
             double total_score) const override;
};

}  // namespace technical
