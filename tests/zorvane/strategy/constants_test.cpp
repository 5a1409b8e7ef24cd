#include "zorvane/strategy/constants.hpp"

#include <gtest/gtest.h>

namespace {

using zorvane::constants::DEFAULT_STRATEGY_THRESHOLD;
using zorvane::constants::STRATEGY_THRESHOLDS;

TEST(StrategyThresholds, CoverTheActionableTypesInScanUnits) {
  for (const char* type : {"趋势跟随", "底部反转", "区间震荡", "均线压缩"}) {
    auto it = STRATEGY_THRESHOLDS.find(type);
    ASSERT_NE(it, STRATEGY_THRESHOLDS.end()) << type;
    // Scores run from 0 to 10, and the selectors already ask the scan for at least 3: a
    // threshold below that would never decide anything.
    EXPECT_GE(it->second, 3.0) << type;
    EXPECT_LE(it->second, 10.0) << type;
  }
  // Types that mean "no entry yet" are not accepted by the combined screen.
  EXPECT_EQ(STRATEGY_THRESHOLDS.count("空仓等待"), 0u);
  EXPECT_EQ(STRATEGY_THRESHOLDS.count("等待突破"), 0u);
  EXPECT_GE(DEFAULT_STRATEGY_THRESHOLD, 3.0);
  EXPECT_LE(DEFAULT_STRATEGY_THRESHOLD, 10.0);
}

}  // namespace
