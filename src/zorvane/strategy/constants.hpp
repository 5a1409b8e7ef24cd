#pragma once
// Minimum pattern-scan scores per strategy type, in the unit of the scan's "total_score"
// (0 to 10, see morvik/pattern_scan.hpp). A selector accepts a stock of a recognised type when
// its score is at least the type's threshold.

#include <functional>
#include <map>
#include <string>

namespace zorvane::constants {

using ThresholdMap = std::map<std::string, double, std::less<>>;

// "趋势跟随", "底部反转", "区间震荡", "均线压缩". Types without an entry (for example "等待突破",
// "空仓等待") are not accepted by selectors that require an entry.
extern const ThresholdMap STRATEGY_THRESHOLDS;

// Used by the single-strategy selectors when their own type has no entry.
extern const double DEFAULT_STRATEGY_THRESHOLD;

}  // namespace zorvane::constants
