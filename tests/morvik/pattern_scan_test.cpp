#include "morvik/pattern_scan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "candlex/technical.hpp"
#include "morvik/pattern_fixtures.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace {

using rapidjson::Value;
using zorvane::utils::parse_json;
using zorvane::utils::safe_json_dumps;

std::string str(const Value& v, const char* key) {
  return v[key].GetString();
}

std::vector<std::string> strings(const Value& list) {
  std::vector<std::string> out;
  for (const auto& x : list.GetArray()) out.push_back(x.GetString());
  return out;
}

bool contains(const std::vector<std::string>& v, const std::string& x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

// Every scan, whatever its verdict, keeps its fields within their documented ranges.
void expect_well_formed(const Value& r) {
  ASSERT_TRUE(r.IsObject());
  for (const char* key :
       {"pre_screen_passed", "total_score", "strategy_type", "urgency", "pre_screen",
        "price_context", "classic_pivot_points", "fibonacci_pivot_points", "trend_structure",
        "calculated_constraints", "risk_flags", "market_context", "signal_confluence"}) {
    EXPECT_TRUE(r.HasMember(key)) << key;
  }
  double score = r["total_score"].GetDouble();
  EXPECT_GE(score, 0.0);
  EXPECT_LE(score, 10.0);
  const std::vector<std::string> types = {"趋势跟随", "底部反转", "区间震荡",
                                          "均线压缩", "等待突破", "空仓等待"};
  EXPECT_TRUE(contains(types, str(r, "strategy_type"))) << str(r, "strategy_type");
  EXPECT_TRUE(contains({"HIGH", "MEDIUM", "LOW"}, str(r, "urgency")));
  EXPECT_EQ(str(r["pre_screen"], "strategy_hint"), str(r, "strategy_type"));
  const auto& cc = r["calculated_constraints"];
  double base = cc["base_confidence_score"].GetDouble();
  EXPECT_GE(base, 0.0);
  EXPECT_LE(base, 4.5);
  const std::vector<std::string> known_flags = {"高潮量",   "放量不涨", "黄昏星",    "回撤过深",
                                                "回撤过长", "放量下跌", "RS绝对弱势"};
  for (const auto& flag : strings(r["risk_flags"]))
    EXPECT_TRUE(contains(known_flags, flag)) << flag;
  EXPECT_TRUE(
      contains({"high_vol", "low_vol", "normal_vol"}, str(r["market_context"], "vol_regime")));
  EXPECT_EQ(r["signal_confluence"]["score"].GetInt(),
            static_cast<int>(r["signal_confluence"]["signals"].Size()));
  if (r["pre_screen_passed"].GetBool()) {
    EXPECT_NE(str(r, "strategy_type"), "空仓等待");
    EXPECT_NE(str(r, "urgency"), "LOW");
  } else {
    EXPECT_EQ(str(r, "urgency"), "LOW");
  }
}

TEST(PatternScan, CleanUptrendIsTrendFollowing) {
  auto bars = zv_test::clean_uptrend();
  auto r = morvik::pre_screen_and_scan(bars, "sh.600001", "all", 3);
  expect_well_formed(r);
  EXPECT_EQ(str(r, "strategy_type"), "趋势跟随");
  EXPECT_TRUE(r["pre_screen_passed"].GetBool());
  EXPECT_TRUE(r["pre_screen"]["checks"]["trend_following"]["matched"].GetBool());
  EXPECT_EQ(str(r["trend_structure"], "ema_order"), "bullish");
  EXPECT_EQ(str(r["trend_structure"], "vwma_slope"), "positive");
  EXPECT_GT(r["trend_structure"]["adx"].GetDouble(), 25.0);

  // The trend mode recognises the same trend.
  auto trend = morvik::pre_screen_and_scan(bars, "sh.600001", "trend", 3);
  EXPECT_EQ(str(trend, "strategy_type"), "趋势跟随");
}

TEST(PatternScan, CapitulationThenReversalCandleIsBottomReversal) {
  auto bars = zv_test::capitulation_reversal();
  auto r = morvik::pre_screen_and_scan(bars, "sz.000002", "all", 3);
  expect_well_formed(r);
  EXPECT_EQ(str(r, "strategy_type"), "底部反转");
  EXPECT_TRUE(r["pre_screen_passed"].GetBool());
  EXPECT_EQ(str(r["patterns"], "reversal_candle"), "启明星");
  EXPECT_LE(r["trend_structure"]["close_pct_60d"].GetDouble(), 0.35);
  // The decline's own flags are reported for the reader...
  auto flags = strings(r["risk_flags"]);
  EXPECT_TRUE(contains(flags, "回撤过深"));
  EXPECT_TRUE(contains(flags, "RS绝对弱势"));
  // ...but not held against the reversal's score.
  EXPECT_EQ(r["score_breakdown"]["risk"].GetDouble(), 0.0);
  // low_5d is the lowest close of the last five bars: the small-bodied day after the drop.
  const auto& close = bars.col("close");
  double low5 = *std::min_element(close.end() - 5, close.end());
  EXPECT_NEAR(r["price_context"]["low_5d"].GetDouble(), low5, 5e-4);
}

TEST(PatternScan, ReversalWithoutVolumeIsOnlyWaitingForBreakout) {
  // The same capitulation and morning star, but the bullish day trades thinly: the bottom is
  // not confirmed, so the scan waits for a breakout instead of calling a reversal.
  auto bars = zv_test::capitulation_reversal();
  auto volume = bars.col("volume");
  volume.back() = 500'000;
  bars.set("volume", volume);
  auto r = morvik::pre_screen_and_scan(bars, "sz.000002", "all", 0);
  expect_well_formed(r);
  EXPECT_EQ(str(r, "strategy_type"), "等待突破");
  const auto& conditions = r["pre_screen"]["checks"]["bottom_reversal"]["conditions"];
  EXPECT_TRUE(conditions["reversal_candle"].GetBool());
  EXPECT_FALSE(conditions["reversal_volume"].GetBool());
}

TEST(PatternScan, TrendModeRecognisesOnlyTrendFollowing) {
  auto r = morvik::pre_screen_and_scan(zv_test::capitulation_reversal(), "sz.000002", "trend", 3);
  expect_well_formed(r);
  EXPECT_EQ(str(r, "strategy_type"), "空仓等待");
  EXPECT_FALSE(r["pre_screen_passed"].GetBool());
  EXPECT_EQ(r["total_score"].GetDouble(), 0.0);
}

TEST(PatternScan, FlatTightRangeIsRangeOrCompression) {
  auto r = morvik::pre_screen_and_scan(zv_test::flat_range(), "sh.600003", "all", 0);
  expect_well_formed(r);
  std::string type = str(r, "strategy_type");
  EXPECT_TRUE(type == "区间震荡" || type == "均线压缩") << type;
  EXPECT_LT(r["trend_structure"]["adx"].GetDouble(), 20.0);
}

TEST(PatternScan, MinScoreGatesThePreScreen) {
  auto bars = zv_test::clean_uptrend();
  auto low = morvik::pre_screen_and_scan(bars, "X", "all", 0);
  double score = low["total_score"].GetDouble();
  ASSERT_TRUE(low["pre_screen_passed"].GetBool());
  auto equal = morvik::pre_screen_and_scan(bars, "X", "all", score);
  EXPECT_TRUE(equal["pre_screen_passed"].GetBool());
  auto high = morvik::pre_screen_and_scan(bars, "X", "all", score + 0.01);
  EXPECT_FALSE(high["pre_screen_passed"].GetBool());
  EXPECT_EQ(str(high, "strategy_type"), "趋势跟随");  // the type is kept, only the gate fails
  EXPECT_EQ(high["total_score"].GetDouble(), score);
}

TEST(PatternScan, PriceContextAndWeeklyPivotsFollowTheirDefinitions) {
  auto bars = zv_test::clean_uptrend(150);
  auto r = morvik::pre_screen_and_scan(bars, "X", "all", 3);

  candlex::BarTable ind = bars;
  candlex::technical::set_ema(ind);
  candlex::technical::set_boll(ind);
  const auto& high = bars.col("high");
  const auto& low = bars.col("low");
  double low20 = *std::min_element(low.end() - 20, low.end());
  double high20 = *std::max_element(high.end() - 20, high.end());
  EXPECT_NEAR(r["price_context"]["support"].GetDouble(), std::min(low20, ind.last("EMA_20")), 5e-4);
  EXPECT_NEAR(r["price_context"]["resistance"].GetDouble(),
              std::max(high20, ind.last("upper_band")), 5e-4);

  // Pivots come from the week before the last bar's week, found here from the dates alone.
  const auto& dates = bars.dates();
  auto monday = [](candlex::Day d) {
    return d - std::chrono::days((std::chrono::weekday(d).iso_encoding() + 6) % 7);
  };
  candlex::Day this_week = monday(dates.back());
  candlex::Day prev_week = this_week - std::chrono::days(7);
  double h = -INFINITY, l = INFINITY, c = 0;
  for (std::size_t i = 0; i < dates.size(); ++i) {
    if (monday(dates[i]) != prev_week) continue;
    h = std::max(h, high[i]);
    l = std::min(l, low[i]);
    c = bars.col("close")[i];
  }
  double p = (h + l + c) / 3;
  const auto& classic = r["classic_pivot_points"];
  EXPECT_NEAR(classic["P"].GetDouble(), p, 5e-4);
  EXPECT_NEAR(classic["R1"].GetDouble(), 2 * p - l, 5e-4);
  EXPECT_NEAR(classic["S1"].GetDouble(), 2 * p - h, 5e-4);
  EXPECT_NEAR(classic["R3"].GetDouble(), h + 2 * (p - l), 5e-4);
  const auto& fib = r["fibonacci_pivot_points"];
  EXPECT_NEAR(fib["R2"].GetDouble(), p + 0.618 * (h - l), 5e-4);
  EXPECT_NEAR(fib["S3"].GetDouble(), p - (h - l), 5e-4);
}

TEST(PatternScan, ResultDependsOnTheBarsAloneAndLeavesThemUnchanged) {
  auto bars = zv_test::clean_uptrend();
  auto before = bars.columns();
  std::string first = safe_json_dumps(morvik::pre_screen_and_scan(bars, "X", "all", 3));
  EXPECT_EQ(bars.columns(), before);

  // Indicator columns the caller already holds (here deliberately wrong) are not trusted.
  candlex::BarTable decorated = bars;
  decorated.set("ADX", std::vector<double>(bars.size(), 5.0));
  decorated.set("EMA_20", std::vector<double>(bars.size(), 1e9));
  EXPECT_EQ(safe_json_dumps(morvik::pre_screen_and_scan(decorated, "X", "all", 3)), first);
  EXPECT_EQ(safe_json_dumps(morvik::pre_screen_and_scan(bars, "X", "all", 3)), first);
}

TEST(PatternScan, NeverReadsBarsAfterTheLastRow) {
  // Scanning the first k bars gives the same answer whatever followed them: the scan of a
  // prefix must not change when later bars (here a crash) are appended and cut off again.
  auto bars = zv_test::clean_uptrend(200);
  candlex::BarTable prefix = bars.slice(0, 150);
  std::string expected = safe_json_dumps(morvik::pre_screen_and_scan(prefix, "X", "all", 3));
  candlex::BarTable crashed = bars;
  auto close = crashed.col("close");
  for (std::size_t i = 150; i < close.size(); ++i) close[i] *= 0.5;
  crashed.set("close", close);
  EXPECT_EQ(safe_json_dumps(morvik::pre_screen_and_scan(crashed.slice(0, 150), "X", "all", 3)),
            expected);
}

TEST(PatternScan, PoorDataIsFlatWaitingNotAnError) {
  auto empty = morvik::pre_screen_and_scan(candlex::BarTable{}, "X", "all", 3);
  expect_well_formed(empty);
  EXPECT_EQ(str(empty, "strategy_type"), "空仓等待");
  EXPECT_FALSE(empty["pre_screen_passed"].GetBool());
  EXPECT_TRUE(empty["as_of"].IsNull());

  auto young = morvik::pre_screen_and_scan(zv_test::clean_uptrend(20), "X", "all", 0);
  expect_well_formed(young);
  EXPECT_EQ(str(young, "strategy_type"), "空仓等待");
  EXPECT_FALSE(young["pre_screen"]["checks"]["data"]["conditions"]["enough_bars"].GetBool());
  // Values that need more history are null, never NaN text.
  EXPECT_TRUE(young["trend_structure"]["close_pct_60d"].IsNull());
  EXPECT_EQ(safe_json_dumps(young).find("NaN"), std::string::npos);

  // Three identical closes at the end read as a suspension.
  zv_test::BarBuilder b;
  auto up = zv_test::clean_uptrend(100);
  for (std::size_t i = 0; i < up.size(); ++i) {
    b.add(up.col("open")[i], up.col("high")[i], up.col("low")[i], up.col("close")[i],
          up.col("volume")[i]);
  }
  double last = b.last_close();
  for (int i = 0; i < 3; ++i) b.add(last, last, last, last, 0);
  auto halted = morvik::pre_screen_and_scan(b.table(), "X", "all", 0);
  EXPECT_EQ(str(halted, "strategy_type"), "空仓等待");
  EXPECT_FALSE(halted["pre_screen"]["checks"]["data"]["matched"].GetBool());
}

TEST(PatternScan, DeepLongPullbackRaisesItsFlagsWithMetrics) {
  zv_test::BarBuilder b;
  double price = 10;
  for (int i = 0; i < 80; ++i) b.step(price *= 1.01, 1'000'000);
  double peak_high = price * 1.006;
  // 20 bars of about -1% on volume growing 10% a day, each opening below the last close.
  double volume = 1'000'000;
  for (int i = 0; i < 20; ++i) {
    double open = price * 0.995;
    price = open * 0.995;
    b.add(open, open * 1.003, price * 0.997, price, volume *= 1.1);
  }
  auto r = morvik::pre_screen_and_scan(b.table(), "X", "all", 3);
  expect_well_formed(r);
  auto flags = strings(r["risk_flags"]);
  EXPECT_TRUE(contains(flags, "回撤过深"));
  EXPECT_TRUE(contains(flags, "回撤过长"));
  EXPECT_TRUE(contains(flags, "放量下跌"));
  const auto& m = r["risk_metrics"];
  EXPECT_EQ(m["pullback_days"].GetInt(), 20);
  EXPECT_NEAR(m["pullback_depth_pct"].GetDouble(), (peak_high - price) / peak_high * 100, 0.01);
  // Each day's volume over the mean of the five before it: 1.1 / mean(1.1^-1 .. 1.1^-5).
  double ratio = 5.0 / (1 / 1.1 + 1 / std::pow(1.1, 2) + 1 / std::pow(1.1, 3) +
                        1 / std::pow(1.1, 4) + 1 / std::pow(1.1, 5));
  EXPECT_GT(m["pullback_avg_vr"].GetDouble(), 1.2);
  EXPECT_LT(m["pullback_avg_vr"].GetDouble(), ratio + 0.01);
  double start = b.table().col("close")[b.size() - 21];
  EXPECT_NEAR(m["rs_20d"].GetDouble(), (price / start - 1) * 100, 0.01);
}

TEST(PatternScan, OptionsTuneTheTierAndBenchmark) {
  auto bars = zv_test::clean_uptrend();
  auto weak = parse_json(R"({"market_bias": "避险", "benchmark_return_20d": 50})");
  auto r = morvik::pre_screen_and_scan(bars, "X", "all", 3, &weak);
  const auto& cc = r["calculated_constraints"];
  EXPECT_EQ(str(cc, "tier"), "弱势档");
  EXPECT_EQ(cc["max_stop_dist_atr"].GetDouble(), 1.2);
  EXPECT_EQ(str(r["market_context"], "market_bias"), "避险");
  // Against a benchmark up 50% the stock is weak in relative terms.
  EXPECT_TRUE(contains(strings(r["risk_flags"]), "RS绝对弱势"));

  auto strong = parse_json(R"({"market_bias": "偏多"})");
  auto s = morvik::pre_screen_and_scan(bars, "X", "all", 3, &strong);
  EXPECT_GT(s["calculated_constraints"]["max_position_pct"].GetInt(),
            r["calculated_constraints"]["max_position_pct"].GetInt());
  EXPECT_GT(s["calculated_constraints"]["base_confidence_score"].GetDouble(),
            r["calculated_constraints"]["base_confidence_score"].GetDouble());

  auto index_hot = parse_json(R"({"index_atr_ratio": 1.6})");
  auto h = morvik::pre_screen_and_scan(bars, "X", "all", 3, &index_hot);
  EXPECT_EQ(str(h["market_context"], "vol_regime"), "high_vol");
  EXPECT_EQ(str(h["market_context"], "atr_source"), "index");
}

TEST(PatternScan, BadArgumentsAreRejectedByName) {
  auto bars = zv_test::clean_uptrend(60);
  auto expect_error = [&](auto&& call, const std::string& needle) {
    try {
      call();
      ADD_FAILURE() << "no error for " << needle;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(needle), std::string::npos) << e.what();
    }
  };
  expect_error([&] { morvik::pre_screen_and_scan(bars, "X", "swing", 3); }, "'swing'");
  auto unknown = parse_json(R"({"lookback": 30})");
  expect_error([&] { morvik::pre_screen_and_scan(bars, "X", "all", 3, &unknown); }, "'lookback'");
  auto bias = parse_json(R"({"market_bias": "乐观"})");
  expect_error([&] { morvik::pre_screen_and_scan(bars, "X", "all", 3, &bias); }, "乐观");
  auto typed = parse_json(R"({"index_atr_ratio": "high"})");
  expect_error([&] { morvik::pre_screen_and_scan(bars, "X", "all", 3, &typed); },
               "index_atr_ratio");
  candlex::BarTable no_volume = bars;
  no_volume.drop("volume");
  expect_error([&] { morvik::pre_screen_and_scan(no_volume, "X", "all", 3); }, "'volume'");
}

}  // namespace

namespace {

TEST(PatternScan, RelativeStrengthFlagJudgesTheShownValue) {
  auto bars = zv_test::clean_uptrend();
  const auto& close = bars.col("close");
  const double ret = (close.back() / close[close.size() - 21] - 1.0) * 100.0;
  auto flags_against = [&](double benchmark) {
    auto opts =
        parse_json("{\"benchmark_return_20d\": " + zorvane::utils::float_text(benchmark) + "}");
    auto r = morvik::pre_screen_and_scan(bars, "X", "all", 3, &opts);
    return std::make_pair(r["risk_metrics"]["rs_20d"].GetDouble(), strings(r["risk_flags"]));
  };
  // rs_20d of -5.001 shows as -5.0: not below -5.
  auto [shown_five, no_flag] = flags_against(ret + 5.001);
  EXPECT_EQ(shown_five, -5.0);
  EXPECT_FALSE(contains(no_flag, "RS绝对弱势"));
  auto [shown_more, flag] = flags_against(ret + 5.006);
  EXPECT_EQ(shown_more, -5.01);
  EXPECT_TRUE(contains(flag, "RS绝对弱势"));
}

}  // namespace
