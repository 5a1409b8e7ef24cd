#include "strategy/technical/date_str.hpp"

#include <gtest/gtest.h>

#include "morvik/pattern_fixtures.hpp"

namespace {

TEST(GetDateStr, PositionsInsideTheTableOnly) {
  zv_test::BarBuilder b(std::chrono::year{2024} / std::chrono::March / 29);  // a Friday
  b.step(10, 1).step(11, 1).step(12, 1);
  auto df = b.table();
  EXPECT_EQ(technical::_get_date_str(df, 0), "2024-03-29");
  EXPECT_EQ(technical::_get_date_str(df, 1), "2024-04-01");  // weekend skipped
  EXPECT_EQ(technical::_get_date_str(df, 2), "2024-04-02");
  EXPECT_EQ(technical::_get_date_str(df, 3), "");
  EXPECT_EQ(technical::_get_date_str(df, -1), "");  // not counted from the end
  EXPECT_EQ(technical::_get_date_str(candlex::BarTable{}, 0), "");
}

}  // namespace
