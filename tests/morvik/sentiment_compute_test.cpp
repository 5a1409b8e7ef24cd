#include "morvik/sentiment_compute.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "morvik/sentiment_fixtures.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace {

using morvik::compute_sentiment_from_bars;
using senti_test::Regime;

const candlex::Day kFirst = senti_test::day("2019-01-07");
constexpr std::size_t kBase = 900;
const std::vector<Regime> kRising = {{kBase, 0.0, 0.012}, {90, 0.004, 0.006, 0.01}};
const std::vector<Regime> kFalling = {{kBase, 0.0, 0.012}, {90, -0.004, 0.02, -0.01}};

std::string dumps(const rapidjson::Value& v) {
  return zorvane::utils::safe_json_dumps(v);
}
std::string text(const rapidjson::Value& doc, const char* key) {
  return doc[key].GetString();
}
candlex::Day last_day(const std::vector<morvik::EtfBars>& u) {
  return u.front().daily.last_date();
}

TEST(SentimentCompute, RisingReadsHotFallingReadsCold) {
  const auto rising = senti_test::make_universe(24, kFirst, kRising);
  const auto falling = senti_test::make_universe(24, kFirst, kFalling);
  for (const char* f : {"D", "W"}) {
    auto hot = compute_sentiment_from_bars(rising, 24, f, last_day(rising));
    EXPECT_TRUE(text(hot, "state") == "HOT" || text(hot, "state") == "OVERHEAT") << dumps(hot);
    EXPECT_GE(hot["temperature"].GetDouble(), 65.0);
    auto cold = compute_sentiment_from_bars(falling, 24, f, last_day(falling));
    EXPECT_TRUE(text(cold, "state") == "COLD" || text(cold, "state") == "ICE_COLD") << dumps(cold);
    EXPECT_LE(cold["temperature"].GetDouble(), 35.0);
    EXPECT_EQ(text(cold, "freq"), f);
  }
}

TEST(SentimentCompute, NeverReadsBarsAfterTheDate) {
  const auto full = senti_test::make_universe(12, kFirst, kRising);
  // A Wednesday inside the history, so the weekly reading ends on a partial week.
  const auto& dates = full.front().daily.dates();
  std::size_t cut = 700;
  while (zorvane::utils::weekday_index(dates[cut]) != 2) ++cut;
  auto truncated = full, altered = full;
  for (std::size_t k = 0; k < full.size(); ++k) {
    truncated[k].daily = full[k].daily.slice(0, cut + 1);
    auto close = full[k].daily.col("close");
    for (std::size_t i = cut + 1; i < close.size(); ++i) close[i] *= 0.2;
    altered[k].daily.set("close", close);
  }
  for (const char* f : {"D", "W"}) {
    const auto reference = compute_sentiment_from_bars(truncated, 12, f, dates[cut]);
    EXPECT_EQ(text(reference, "date"), zorvane::utils::iso_date(dates[cut]));
    EXPECT_EQ(dumps(compute_sentiment_from_bars(full, 12, f, dates[cut])), dumps(reference));
    EXPECT_EQ(dumps(compute_sentiment_from_bars(altered, 12, f, dates[cut])), dumps(reference));
  }
  // A Saturday reads the Friday before it.
  EXPECT_EQ(
      text(compute_sentiment_from_bars(full, 12, "D", dates[cut] + std::chrono::days{3}), "date"),
      zorvane::utils::iso_date(dates[cut + 2]));
}

// The direction compares with the reading three bars earlier, which an independent snapshot at
// that bar must reproduce.
TEST(SentimentCompute, DirectionFollowsTemperatureThreeBarsEarlier) {
  const auto u = senti_test::make_universe(16, kFirst, kRising);
  const auto& dates = u.front().daily.dates();
  int warming = 0;
  for (std::size_t t = kBase - 6; t < kBase + 20; ++t) {
    auto now = compute_sentiment_from_bars(u, 16, "D", dates[t]);
    auto before = compute_sentiment_from_bars(u, 16, "D", dates[t - 3]);
    const double change = zorvane::utils::round_to(
        now["temperature"].GetDouble() - before["temperature"].GetDouble(), 2);
    ASSERT_TRUE(now["temperature_change"].IsNumber());
    EXPECT_EQ(now["temperature_change"].GetDouble(), change);
    const std::string expected = change > 5 ? "warming" : change < -5 ? "cooling" : "flat";
    EXPECT_EQ(text(now, "direction"), expected);
    warming += expected == "warming";
  }
  EXPECT_GT(warming, 0) << "the trend's onset should warm the reading";
}

TEST(SentimentCompute, SampleSizeAndConfidence) {
  auto u = senti_test::make_universe(8, kFirst, kRising);
  const auto n = u.front().daily.size();
  for (const auto& e : senti_test::make_universe(4, kFirst, kRising, 7)) {
    u.push_back({e.code, e.daily.slice(n - 30, n)});  // too young for the 60-bar look-back
  }
  auto snap = compute_sentiment_from_bars(u, 14, "D", last_day(u));
  EXPECT_EQ(snap["n_etf"].GetInt64(), 12);
  EXPECT_EQ(snap["n_universe"].GetInt64(), 14);
  EXPECT_EQ(snap["confidence"].GetDouble(), zorvane::utils::round_to(8.0 / 14.0, 4));

  // Over 160 bars breadth and turnover are defined from bar 19, momentum and volatility from
  // bar 20, positioning from bar 59: the ranking history is partly empty.
  for (auto& e : u) e.daily = e.daily.slice(0, 160);
  u.resize(8);
  auto early = compute_sentiment_from_bars(u, 8, "D", last_day(u));
  EXPECT_EQ(early["confidence"].GetDouble(),
            zorvane::utils::round_to((141.0 + 141 + 140 + 140 + 101) / (5 * 250), 4));
}

TEST(SentimentCompute, ThinPeriodsAndOrderDoNotMatter) {
  const auto u = senti_test::make_universe(10, kFirst, kRising);
  const auto as_of = last_day(u);
  const auto reference = dumps(compute_sentiment_from_bars(u, 10, "D", as_of));
  // One ETF with a stray weekend bar: too few ETFs for that day to count.
  auto stray = u;
  auto dates = u[3].daily.dates();
  dates.push_back(as_of + std::chrono::days{1});
  candlex::BarTable extended(dates);
  for (const auto& name : u[3].daily.columns()) {
    auto col = u[3].daily.col(name);
    col.push_back(col.back() * 3.0);
    extended.set(name, col);
  }
  stray[3].daily = extended;
  EXPECT_EQ(dumps(compute_sentiment_from_bars(stray, 10, "D", dates.back())), reference);
  auto reversed = u;
  std::reverse(reversed.begin(), reversed.end());
  EXPECT_EQ(dumps(compute_sentiment_from_bars(reversed, 10, "D", as_of)), reference);
}

TEST(SentimentCompute, RejectsUnusableInput) {
  const auto young = senti_test::make_universe(6, kFirst, {{40, 0.0, 0.01}});
  EXPECT_THROW(compute_sentiment_from_bars(young, 6, "D", last_day(young)), std::runtime_error);
  const auto full = senti_test::make_universe(6, kFirst, kRising);
  EXPECT_THROW(compute_sentiment_from_bars(full, 6, "D", kFirst - std::chrono::days{1}),
               std::runtime_error);
  EXPECT_THROW(compute_sentiment_from_bars(full, 6, "M", last_day(full)), std::invalid_argument);
}

TEST(SentimentCompute, StateBandEdges) {
  using morvik::sentiment_state;
  EXPECT_EQ(sentiment_state(15.0), "ICE_COLD");
  EXPECT_EQ(sentiment_state(15.01), "COLD");
  EXPECT_EQ(sentiment_state(35.0), "COLD");
  EXPECT_EQ(sentiment_state(35.01), "NEUTRAL");
  EXPECT_EQ(sentiment_state(65.0), "HOT");
  EXPECT_EQ(sentiment_state(85.0), "OVERHEAT");
  EXPECT_THROW(sentiment_state(std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
}

}  // namespace
