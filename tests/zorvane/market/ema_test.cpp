#include "zorvane/market/ema.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

using zorvane::utils::_ema;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Ema, SeededWithFirstValueOneOutputPerInput) {
  // span 3: alpha 0.5
  EXPECT_EQ(_ema({4, 8, 2, 6}, 3), (std::vector<double>{4, 6, 4, 5}));
  // span 1: alpha 1, the series itself
  EXPECT_EQ(_ema({3, -1, 7}, 1), (std::vector<double>{3, -1, 7}));
  EXPECT_TRUE(_ema({}, 5).empty());
  auto flat = _ema(std::vector<double>(50, 2.5), 20);
  for (double v : flat) EXPECT_EQ(v, 2.5);
}

TEST(Ema, ConvergesToAStepAtTheExpectedRate) {
  // After a step from 0 to 1 the gap shrinks by (1 - alpha) per bar.
  std::vector<double> step(31, 1.0);
  step[0] = 0.0;
  auto e = _ema(step, 9);  // alpha 0.2
  EXPECT_NEAR(e[30], 1.0 - std::pow(0.8, 30), 1e-15);
}

TEST(Ema, MissingValuesCarryThePreviousAverage) {
  auto e = _ema({kNaN, kNaN, 4, kNaN, 8}, 3);
  EXPECT_TRUE(std::isnan(e[0]));
  EXPECT_TRUE(std::isnan(e[1]));
  EXPECT_EQ(e[2], 4);
  EXPECT_EQ(e[3], 4);
  EXPECT_EQ(e[4], 6);
}

TEST(Ema, SpanBelowOneIsRejected) {
  EXPECT_THROW(_ema({1, 2}, 0), std::invalid_argument);
  EXPECT_THROW(_ema({1, 2}, -3), std::invalid_argument);
}

}  // namespace
