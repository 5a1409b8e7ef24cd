#pragma once
// Base of every stock selector: one `check` that answers, for one stock code and one date
// window, whether the stock passes and with what evidence (a CheckResult).
//
// Extra named options travel as a string-keyed JSON object (`rapidjson::Value` of object type);
// `no_options()` is the shared empty object. Selectors keep no state between calls, so one
// selector may check any number of stocks, in any order, from any thread.
//
// Overrides repeat the default argument so that `Derived().check(code, start, end)` compiles:
//
//   CheckResult check(const std::string& code, const std::string& start_date,
//                     const std::string& end_date,
//                     const rapidjson::Value& options = no_options()) override;

#include <rapidjson/document.h>

#include <string>

#include "zorvane/strategy/check_result.hpp"

namespace zorvane::strategy {

// An empty JSON object, immutable and shared.
const rapidjson::Value& no_options();

class StockSelector {
 public:
  StockSelector() = default;
  virtual ~StockSelector() = default;
  StockSelector(const StockSelector&) = default;
  StockSelector& operator=(const StockSelector&) = default;

  // Checks one stock over the bar window [start_date, end_date] ("YYYY-MM-DD" texts).
  virtual CheckResult check(const std::string& code, const std::string& start_date,
                            const std::string& end_date,
                            const rapidjson::Value& options = no_options()) = 0;
};

}  // namespace zorvane::strategy
