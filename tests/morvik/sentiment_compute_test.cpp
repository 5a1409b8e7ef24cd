#include "morvik/sentiment_compute.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "morvik/sentiment_fixtures.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace {

using morvik::compute_sentiment_from_bars;
using morvik::EtfBars;
using senti_test::Regime;

const candlex::Day kFirst = senti_test::day("2019-01-07");
constexpr std::size_t kBase = 900;
const Regime kCalm{kBase, 0.0, 0.012, 0.0};
const std::vector<Regime> kRising = {kCalm, {90, 0.004, 0.006, 0.01}};
const std::vector<Regime> kFalling = {kCalm, {90, -0.004, 0.02, -0.01}};

std::string dumps(const rapidjson::Value& v) {
  return zorvane::utils::safe_json_dumps(v);
}

std::string text_of(const rapidjson::Value& doc, const char* key) {
  return doc[key].GetString();
}

candlex::Day last_day(const std::vector<EtfBars>& u) {
  return u.front().daily.last_date();
}

TEST(SentimentCompute, RisingAndFallingUniverses) {
  const auto rising = senti_test::make_universe(24, kFirst, kRising);
  const auto falling = senti_test::make_universe(24, kFirst, kFalling);
  for (const char* f : {"D", "W"}) {
    auto hot = compute_sentiment_from_bars(rising, 24, f, last_day(rising));
    EXPECT_TRUE(text_of(hot, "state") == "HOT" || text_of(hot, "state") == "OVERHEAT")
        << f << " " << dumps(hot);
    EXPECT_GE(hot["temperature"].GetDouble(), 65.0) << f;
    EXPECT_GT(hot["factors"]["breadth"].GetDouble(), 0.8) << f;

    auto cold = compute_sentiment_from_bars(falling, 24, f, last_day(falling));
    EXPECT_TRUE(text_of(cold, "state") == "COLD" || text_of(cold, "state") == "ICE_COLD")
        << f << " " << dumps(cold);
    EXPECT_LE(cold["temperature"].GetDouble(), 35.0) << f;
    EXPECT_LT(cold["factors"]["momentum"].GetDouble(), 0.2) << f;
    EXPECT_EQ(text_of(cold, "freq"), f);
  }
}

TEST(SentimentCompute, NeverReadsBarsAfterTheDate) {
  const auto full = senti_test::make_universe(12, kFirst, kRising);
  // A Wednesday inside the history, so the weekly reading has a partial last week.
  const auto& dates = full.front().daily.dates();
  std::size_t cut = 700;
  while (zorvane::utils::weekday_index(dates[cut]) != 2) ++cut;
  const candlex::Day as_of = dates[cut];

  auto truncated = full;
  auto altered = full;
  for (std::size_t k = 0; k < full.size(); ++k) {
    truncated[k].daily = full[k].daily.slice(0, cut + 1);
    auto close = full[k].daily.col("close");
    auto volume = full[k].daily.col("volume");
    for (std::size_t i = cut + 1; i < close.size(); ++i) {
      close[i] *= 0.2;
      volume[i] *= 50.0;
    }
    altered[k].daily.set("close", close);
    altered[k].daily.set("volume", volume);
  }
  for (const char* f : {"D", "W"}) {
    const auto reference = dumps(compute_sentiment_from_bars(truncated, 12, f, as_of));
    EXPECT_EQ(dumps(compute_sentiment_from_bars(full, 12, f, as_of)), reference) << f;
    EXPECT_EQ(dumps(compute_sentiment_from_bars(altered, 12, f, as_of)), reference) << f;
    auto snap = compute_sentiment_from_bars(full, 12, f, as_of);
    EXPECT_EQ(text_of(snap, "date"), zorvane::utils::iso_date(as_of)) << f;
  }
  // A date between bars reads the bar before it.
  const auto saturday = as_of + std::chrono::days{3};
  EXPECT_EQ(text_of(compute_sentiment_from_bars(full, 12, "D", saturday), "date"),
            zorvane::utils::iso_date(as_of + std::chrono::days{2}));
}

// The direction compares the temperature with the reading three bars earlier, which an
// independent snapshot at that bar must reproduce.
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
    EXPECT_EQ(now["temperature_change"].GetDouble(), change) << t;
    const std::string expected = change > 5 ? "warming" : change < -5 ? "cooling" : "flat";
    EXPECT_EQ(text_of(now, "direction"), expected) << t;
    warming += expected == "warming";
  }
  EXPECT_GT(warming, 0) << "the trend's onset should warm the reading";
}

TEST(SentimentCompute, SampleSizeAndConfidence) {
  auto u = senti_test::make_universe(8, kFirst, kRising);
  const auto young = senti_test::make_universe(4, kFirst, kRising, 7);
  const auto n = u.front().daily.size();
  for (const auto& e : young) u.push_back({e.code, e.daily.slice(n - 30, n)});

  auto snap = compute_sentiment_from_bars(u, 14, "D", last_day(u));
  EXPECT_EQ(snap["n_etf"].GetInt64(), 12);
  EXPECT_EQ(snap["n_universe"].GetInt64(), 14);
  // Eight ETFs have the 60-bar look-back; all five factors have their full 250-bar history.
  EXPECT_EQ(snap["confidence"].GetDouble(), zorvane::utils::round_to(8.0 / 14.0, 4));

  // With a history shorter than the ranking window, confidence shrinks with it: over 160 bars
  // breadth and turnover are defined from bar 19, momentum and volatility from bar 20,
  // positioning from bar 59.
  std::vector<EtfBars> short_u;
  for (const auto& e : senti_test::make_universe(8, kFirst, kRising)) {
    short_u.push_back({e.code, e.daily.slice(0, 160)});
  }
  auto early = compute_sentiment_from_bars(short_u, 8, "D", last_day(short_u));
  const double defined = 141 + 141 + 140 + 140 + 101;
  EXPECT_EQ(early["confidence"].GetDouble(), zorvane::utils::round_to(defined / (5 * 250), 4));
}

TEST(SentimentCompute, ThinPeriodsAndOrderDoNotMatter) {
  const auto u = senti_test::make_universe(10, kFirst, kRising);
  const auto as_of = last_day(u);
  const auto reference = dumps(compute_sentiment_from_bars(u, 10, "D", as_of));

  // One ETF with a stray weekend bar after the last trading day: too thin to be a period.
  auto stray = u;
  const auto& t = u[3].daily;
  auto dates = t.dates();
  dates.push_back(as_of + std::chrono::days{1});
  candlex::BarTable extended(dates);
  for (const auto& name : t.columns()) {
    auto col = t.col(name);
    col.push_back(col.back() * 3.0);
    extended.set(name, col);
  }
  stray[3].daily = extended;
  EXPECT_EQ(dumps(compute_sentiment_from_bars(stray, 10, "D", as_of + std::chrono::days{1})),
            reference);

  auto reversed = u;
  std::reverse(reversed.begin(), reversed.end());
  EXPECT_EQ(dumps(compute_sentiment_from_bars(reversed, 10, "D", as_of)), reference);
}

TEST(SentimentCompute, RejectsUnusableInput) {
  const auto u = senti_test::make_universe(6, kFirst, {{40, 0.0, 0.01}});
  EXPECT_THROW(compute_sentiment_from_bars(u, 6, "D", last_day(u)), std::runtime_error);
  EXPECT_THROW(compute_sentiment_from_bars({}, 6, "D", last_day(u)), std::runtime_error);
  // Nothing on or before the date.
  const auto full = senti_test::make_universe(6, kFirst, kRising);
  EXPECT_THROW(compute_sentiment_from_bars(full, 6, "D", kFirst - std::chrono::days{1}),
               std::runtime_error);
  EXPECT_THROW(compute_sentiment_from_bars(full, 6, "M", last_day(full)), std::invalid_argument);
  EXPECT_NO_THROW(compute_sentiment_from_bars(full, 6, "w", last_day(full)));
}

TEST(SentimentCompute, StateBands) {
  using morvik::sentiment_state;
  EXPECT_EQ(sentiment_state(0.0), "ICE_COLD");
  EXPECT_EQ(sentiment_state(15.0), "ICE_COLD");
  EXPECT_EQ(sentiment_state(15.01), "COLD");
  EXPECT_EQ(sentiment_state(35.0), "COLD");
  EXPECT_EQ(sentiment_state(35.01), "NEUTRAL");
  EXPECT_EQ(sentiment_state(64.99), "NEUTRAL");
  EXPECT_EQ(sentiment_state(65.0), "HOT");
  EXPECT_EQ(sentiment_state(84.99), "HOT");
  EXPECT_EQ(sentiment_state(85.0), "OVERHEAT");
  EXPECT_EQ(sentiment_state(100.0), "OVERHEAT");
  EXPECT_THROW(sentiment_state(std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
}

TEST(SentimentCompute, MidRankPercentile) {
  using morvik::detail::mid_rank_percentile;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_DOUBLE_EQ(mid_rank_percentile({1, 2, 2, 3}, 2, 1), 0.5);
  EXPECT_DOUBLE_EQ(mid_rank_percentile({1, 2, 2, 3}, 3, 1), 0.875);
  EXPECT_DOUBLE_EQ(mid_rank_percentile({nan, 1, 5, nan}, 5, 2), 0.75);
  EXPECT_TRUE(std::isnan(mid_rank_percentile({nan, 1, 5, nan}, 5, 3)));
  EXPECT_TRUE(std::isnan(mid_rank_percentile({1, 2}, nan, 1)));
}

}  // namespace
