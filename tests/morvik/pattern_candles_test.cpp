#include "morvik/pattern_candles.hpp"

#include <gtest/gtest.h>

#include <string>

#include "morvik/pattern_fixtures.hpp"
#include "morvik/pattern_scan.hpp"

namespace {

using morvik::pattern::Reversal;

// Twenty quiet declining bars (about -0.8% a day, ranges near 1.2%) to set the context and
// the size unit, after which each test appends its candles.
zv_test::BarBuilder declining() {
  zv_test::BarBuilder b;
  double price = 20;
  for (int i = 0; i < 20; ++i) b.step(price *= 0.992, 1'000'000);
  return b;
}

zv_test::BarBuilder rising() {
  zv_test::BarBuilder b;
  double price = 10;
  for (int i = 0; i < 20; ++i) b.step(price *= 1.008, 1'000'000);
  return b;
}

Reversal last_reversal(const zv_test::BarBuilder& b) {
  auto s = morvik::pattern::prepare_series(b.table());
  return morvik::pattern::reversal_at(*s, s->last());
}

bool last_evening_star(const zv_test::BarBuilder& b) {
  auto s = morvik::pattern::prepare_series(b.table());
  return morvik::pattern::evening_star_at(*s, s->last());
}

TEST(ReversalCandles, EachPatternIsRecognisedAfterADecline) {
  {
    auto b = declining();
    double c = b.last_close();
    // Long lower shadow, small body near the top.
    b.add(c * 0.99, c * 0.993, c * 0.95, c * 0.992, 1'000'000);
    EXPECT_EQ(last_reversal(b), Reversal::hammer);
  }
  {
    auto b = declining();
    double c = b.last_close();
    b.add(c, c * 1.002, c * 0.97, c * 0.972, 1'000'000);           // bearish
    b.add(c * 0.968, c * 1.004, c * 0.966, c * 1.002, 1'000'000);  // engulfs it
    EXPECT_EQ(last_reversal(b), Reversal::bullish_engulfing);
  }
  {
    auto b = declining();
    double c = b.last_close();
    b.add(c, c * 1.002, c * 0.97, c * 0.972, 1'000'000);          // bearish, 2.8%
    b.add(c * 0.965, c * 0.99, c * 0.963, c * 0.988, 1'000'000);  // gap down, past mid
    EXPECT_EQ(last_reversal(b), Reversal::piercing_line);
  }
  {
    auto b = declining();
    double c = b.last_close();
    b.add(c, c * 1.002, c * 0.965, c * 0.968, 1'000'000);          // big bearish
    b.add(c * 0.962, c * 0.966, c * 0.955, c * 0.960, 1'000'000);  // small, below
    b.add(c * 0.962, c * 0.995, c * 0.96, c * 0.99, 1'000'000);    // closes above mid
    EXPECT_EQ(last_reversal(b), Reversal::morning_star);
  }
}

TEST(ReversalCandles, ShapesWithoutTheirContextOrProportionsAreNotReversals) {
  {
    // A hammer shape at the top of a rise is not a bottom signal.
    auto b = rising();
    double c = b.last_close();
    b.add(c * 1.01, c * 1.013, c * 0.97, c * 1.012, 1'000'000);
    EXPECT_EQ(last_reversal(b), Reversal::none);
  }
  {
    // Closing below the middle of the bearish body is not a piercing line.
    auto b = declining();
    double c = b.last_close();
    b.add(c, c * 1.002, c * 0.97, c * 0.972, 1'000'000);
    b.add(c * 0.965, c * 0.982, c * 0.963, c * 0.98, 1'000'000);
    EXPECT_EQ(last_reversal(b), Reversal::none);
  }
  {
    // A tiny bearish bar "engulfed" by a tiny bullish one is noise.
    auto b = declining();
    double c = b.last_close();
    b.add(c, c * 1.001, c * 0.998, c * 0.999, 1'000'000);
    b.add(c * 0.999, c * 1.002, c * 0.998, c * 1.0005, 1'000'000);
    EXPECT_EQ(last_reversal(b), Reversal::none);
  }
}

TEST(EveningStar, TopWarningIsRecognisedAndFlaggedByTheScan) {
  auto b = rising();
  double c = b.last_close();
  b.add(c, c * 1.035, c * 0.998, c * 1.032, 1'000'000);          // big bullish
  b.add(c * 1.036, c * 1.042, c * 1.033, c * 1.038, 1'000'000);  // small, above
  b.add(c * 1.034, c * 1.036, c * 1.005, c * 1.008, 1'000'000);  // closes below mid
  EXPECT_TRUE(last_evening_star(b));
  auto r = morvik::pre_screen_and_scan(b.table(), "X", "all", 0);
  bool flagged = false;
  for (const auto& f : r["risk_flags"].GetArray())
    flagged |= std::string(f.GetString()) == "黄昏星";
  EXPECT_TRUE(flagged);
  EXPECT_TRUE(r["patterns"]["evening_star"].GetBool());

  auto plain = rising();
  EXPECT_FALSE(last_evening_star(plain));
}

}  // namespace
