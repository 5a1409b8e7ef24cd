// The radar on constructed series: what each rule finds, where a stock lands in a pool scan,
// weekly evaluation, and that a parallel pool scan equals a serial one.

#include "morvik/radar.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "candlex/sample_market.hpp"
#include "morvik/pattern_fixtures.hpp"
#include "zorvane/utils/json.hpp"

namespace {

using morvik::analyze_opportunity_radar;
using morvik::evaluate_opportunity_radar_item;
using zv_test::BarBuilder;
using zv_test::Noise;

// A quiet range around `level` for `n` bars: closes within +-1%, steady volume.
BarBuilder range(std::size_t n, double level = 10.0, unsigned seed = 7) {
  BarBuilder b;
  Noise noise(seed);
  for (std::size_t i = 0; i < n; ++i) b.step(level * (1 + 0.01 * noise.next()), 1e6);
  return b;
}

// A steady climb of `daily` per bar with volume that wobbles by +-10%.
BarBuilder climb(std::size_t n, double daily = 0.004, unsigned seed = 3) {
  BarBuilder b;
  Noise noise(seed);
  double price = 10.0;
  for (std::size_t i = 0; i < n; ++i) {
    price *= 1 + daily + 0.002 * noise.next();
    b.step(price, 1e6 * (1 + 0.1 * noise.next()));
  }
  return b;
}

std::vector<std::string> codes_in(const rapidjson::Value& sections, std::string_view name) {
  std::vector<std::string> out;
  for (const auto& rec : sections[std::string(name).c_str()].GetArray())
    out.emplace_back(rec["code"].GetString());
  return out;
}

TEST(RadarItem, VolumeSpikeWithRiseIsAnAnomaly) {
  auto b = range(60);
  const double last = b.last_close();
  b.add(last, last * 1.045, last * 0.998, last * 1.04, 3.2e6);  // +4%, 3x volume, up body
  const auto item = evaluate_opportunity_radar_item(b.table(), "sh.600001", "测试");

  EXPECT_TRUE(item["is_vol_abnormal"].GetBool());
  EXPECT_FALSE(item["is_risk"].GetBool());
  EXPECT_NEAR(item["change_pct"].GetDouble(), 4.0, 0.01);
  EXPECT_GT(item["vol_ratio"].GetDouble(), 2.5);
  // A close above every close of the range on a spike is a breakout: a buy signal.
  EXPECT_TRUE(item["has_buy_signal"].GetBool());
  EXPECT_GT(item["tech_score"].GetDouble(), 5.0);
  EXPECT_TRUE(item["pre_screen_res"].IsObject());
  EXPECT_EQ(std::string(item["pre_screen_res"]["symbol"].GetString()), "sh.600001");

  morvik::RadarPool pool;
  pool["sh.600001"] = {"测试", b.table()};
  pool["sh.600002"] = {"平稳", range(61, 20.0, 11).table()};
  const auto sections = analyze_opportunity_radar(pool);
  EXPECT_EQ(codes_in(sections, morvik::kRadarAbnormal), std::vector<std::string>{"sh.600001"});
  for (const auto& code : codes_in(sections, morvik::kRadarRisk)) EXPECT_NE(code, "sh.600001");
  const auto& rec = sections["量化异动"][0];
  EXPECT_EQ(std::string(rec["name"].GetString()), "测试");
  EXPECT_DOUBLE_EQ(rec["score"].GetDouble(), item["tech_score"].GetDouble());
  EXPECT_DOUBLE_EQ(rec["vol_ratio"].GetDouble(), item["vol_ratio"].GetDouble());
}

TEST(RadarItem, BreakdownIsARisk) {
  // Quiet volume: a close below the whole range is a risk without any volume spike.
  auto quiet = range(60);
  quiet.step(quiet.last_close() * 0.93, 1e6);
  const auto a = evaluate_opportunity_radar_item(quiet.table(), "sz.000002");
  EXPECT_TRUE(a["is_risk"].GetBool());
  EXPECT_FALSE(a["is_vol_abnormal"].GetBool());
  EXPECT_FALSE(a["is_opportunity"].GetBool());
  ASSERT_EQ(a["risk_reasons"].Size(), 1u);
  EXPECT_EQ(std::string(a["risk_reasons"][0].GetString()), "破位新低");

  // With a volume spike the drop is a price-volume anomaly too, yet it lands among the risks:
  // the anomaly section is for rises.
  auto loud = range(60, 10.0, 9);
  loud.step(loud.last_close() * 0.93, 3e6);
  const auto b = evaluate_opportunity_radar_item(loud.table(), "sz.000003");
  EXPECT_TRUE(b["is_vol_abnormal"].GetBool());
  EXPECT_TRUE(b["is_risk"].GetBool());

  morvik::RadarPool pool;
  pool["sz.000002"] = {"破位", quiet.table()};
  pool["sz.000003"] = {"放量破位", loud.table()};
  const auto sections = analyze_opportunity_radar(pool);
  EXPECT_TRUE(codes_in(sections, morvik::kRadarAbnormal).empty());
  EXPECT_TRUE(codes_in(sections, morvik::kRadarOpportunity).empty());
  const auto risks = codes_in(sections, morvik::kRadarRisk);
  EXPECT_EQ(risks.size(), 2u);
  // Weakest first.
  const auto& list = sections["风险提示"];
  EXPECT_LE(list[0]["score"].GetDouble(), list[1]["score"].GetDouble());
}

TEST(RadarItem, StatesFollowTheTrend) {
  const auto up = evaluate_opportunity_radar_item(climb(80).table(), "a");
  EXPECT_EQ(std::string(up["curr_state_cn"].GetString()), "右侧上涨");

  BarBuilder down;
  double price = 20.0;
  for (int i = 0; i < 80; ++i) down.step(price *= 0.99, 1e6);
  const auto dn = evaluate_opportunity_radar_item(down.table(), "b");
  EXPECT_EQ(std::string(dn["curr_state_cn"].GetString()), "左侧下跌");
  EXPECT_FALSE(dn["is_opportunity"].GetBool());
  EXPECT_LT(dn["tech_score"].GetDouble(), up["tech_score"].GetDouble());

  // A fall that stops and holds above its low, then ticks up: stabilising at the bottom.
  BarBuilder base;
  price = 20.0;
  for (int i = 0; i < 60; ++i) base.step(price *= 0.985, 1e6);
  const double floor = price;
  for (double c : {1.004, 1.002, 1.006, 1.003, 1.008, 1.005, 1.01, 1.02}) base.step(floor * c, 1e6);
  const auto bottom = evaluate_opportunity_radar_item(base.table(), "c");
  EXPECT_EQ(std::string(bottom["curr_state_cn"].GetString()), "底部企稳");
}

TEST(RadarItem, ShortHistoryHasNoFindings) {
  auto b = range(12);
  b.add(b.last_close(), b.last_close() * 1.06, b.last_close(), b.last_close() * 1.05, 5e6);
  const auto item = evaluate_opportunity_radar_item(b.table(), "x");
  EXPECT_EQ(std::string(item["curr_state_cn"].GetString()), "数据不足");
  EXPECT_FALSE(item["is_vol_abnormal"].GetBool());
  EXPECT_DOUBLE_EQ(item["tech_score"].GetDouble(), 0.0);
  EXPECT_NEAR(item["change_pct"].GetDouble(), 5.0, 0.01);  // measured all the same

  const auto empty = evaluate_opportunity_radar_item(candlex::BarTable(), "x");
  EXPECT_TRUE(empty["as_of"].IsNull());
  EXPECT_EQ(empty["pre_screen_res"].MemberCount(), 0u);
}

TEST(RadarItem, AmountFloorOnlyGatesCandidates) {
  auto b = range(60);
  const double last = b.last_close();
  b.add(last, last * 1.045, last * 0.998, last * 1.04, 3.2e6);  // amount about 0.33 亿
  const auto t = b.table();
  EXPECT_TRUE(
      evaluate_opportunity_radar_item(t, "a", "", "daily", 0.3)["is_vol_abnormal"].GetBool());
  const auto gated = evaluate_opportunity_radar_item(t, "a", "", "daily", 1.0);
  EXPECT_FALSE(gated["is_vol_abnormal"].GetBool());
  EXPECT_FALSE(gated["is_opportunity"].GetBool());
  EXPECT_NEAR(gated["amount_ea"].GetDouble(), 0.33, 0.01);

  // The same floor never hides a risk.
  auto r = range(60);
  r.step(r.last_close() * 0.93, 1e6);
  EXPECT_TRUE(
      evaluate_opportunity_radar_item(r.table(), "r", "", "daily", 100.0)["is_risk"].GetBool());
}

TEST(RadarItem, WeeklyModes) {
  // 2024-01-01 is a Monday; 300 weekday bars end on Friday 2025-02-21 and 298 on Wednesday.
  const auto full = climb(300).table();
  const auto running = full.slice(0, 298);
  ASSERT_EQ(std::chrono::weekday(running.last_date()), std::chrono::Wednesday);

  const auto weekly = candlex::to_weekly(running);
  const auto partial = evaluate_opportunity_radar_item(running, "sh.600001", "", "weekly");
  const auto strict =
      evaluate_opportunity_radar_item(running, "sh.600001", "", "weekly", {}, 1.5, 1.5, "strict");
  EXPECT_EQ(partial["bars"].GetInt64(), static_cast<long long>(weekly.size()));
  EXPECT_EQ(strict["bars"].GetInt64(), static_cast<long long>(weekly.size()) - 1);
  EXPECT_EQ(std::string(partial["as_of"].GetString()), "2025-02-19");
  EXPECT_EQ(std::string(strict["as_of"].GetString()), "2025-02-14");
  // The pattern scan sees daily bars only up to the evaluated week.
  EXPECT_EQ(std::string(strict["pre_screen_res"]["as_of"].GetString()), "2025-02-14");

  // A week that reached its Friday is complete.
  const auto done =
      evaluate_opportunity_radar_item(full, "sh.600001", "", "weekly", {}, 1.5, 1.5, "strict");
  EXPECT_EQ(std::string(done["as_of"].GetString()), "2025-02-21");

  EXPECT_THROW(evaluate_opportunity_radar_item(full, "a", "", "monthly"), std::invalid_argument);
  EXPECT_THROW(evaluate_opportunity_radar_item(full, "a", "", "weekly", {}, 1.5, 1.5, "loose"),
               std::invalid_argument);
}

TEST(RadarItem, MissingColumnsAndGaps) {
  auto t = range(40).table();
  t.drop("volume");
  EXPECT_THROW(evaluate_opportunity_radar_item(t, "a"), std::invalid_argument);

  // A missing close is left out rather than poisoning the measurements.
  auto b = range(60);
  b.step(b.last_close() * 1.01, 1e6);
  auto gappy = b.table();
  auto close = gappy.col("close");
  close[30] = std::numeric_limits<double>::quiet_NaN();
  gappy.set("close", close);
  const auto item = evaluate_opportunity_radar_item(gappy, "a");
  EXPECT_EQ(item["bars"].GetInt64(), 60);
  EXPECT_TRUE(std::isfinite(item["tech_score"].GetDouble()));
}

// A pool of varied series: the sample market's walk gives trends, ranges and crashes.
morvik::RadarPool sample_pool(std::size_t n) {
  morvik::RadarPool pool;
  const auto through = candlex::sample_first_day() + std::chrono::days{700};
  for (std::size_t i = 0; i < n; ++i) {
    char code[32];  // room for any size_t, so the format cannot truncate
    std::snprintf(code, sizeof code, "sh.60%04zu", i);
    candlex::SampleSecurity s{code, "样本", candlex::SampleKind::stock, 10.0 + i % 7, 0.025, 1e7};
    pool[code] = {s.name, candlex::generate_sample_bars(s, through).tail(250)};
  }
  return pool;
}

TEST(RadarPool, ParallelEqualsSerialAndSectionsAreOrdered) {
  auto pool = sample_pool(150);
  pool["sh.609999"] = {"无数据", std::nullopt};
  pool["sh.609998"] = {"空表", candlex::BarTable()};
  const std::string serial = zorvane::utils::safe_json_dumps(
      analyze_opportunity_radar(pool, "daily", {}, 1.5, 1.5, {}, 1));
  const std::string parallel = zorvane::utils::safe_json_dumps(
      analyze_opportunity_radar(pool, "daily", {}, 1.5, 1.5, {}, 4));
  EXPECT_EQ(serial, parallel);

  const auto sections = analyze_opportunity_radar(pool, "weekly");
  ASSERT_EQ(sections.MemberCount(), 3u);
  const char* expected[] = {"量化异动", "潜在机会", "风险提示"};
  std::size_t found = 0;
  std::set<std::string> seen;
  int i = 0;
  for (const auto& m : sections.GetObject()) {
    EXPECT_EQ(std::string(m.name.GetString()), expected[i]);
    const auto& list = m.value.GetArray();
    for (rapidjson::SizeType k = 0; k < list.Size(); ++k) {
      const std::string code = list[k]["code"].GetString();
      EXPECT_TRUE(seen.insert(code).second) << code << " is in two sections";
      EXPECT_NE(code, "sh.609999");
      EXPECT_NE(code, "sh.609998");
      if (k == 0) continue;
      const double prev = list[k - 1]["score"].GetDouble(), cur = list[k]["score"].GetDouble();
      if (prev == cur) {
        EXPECT_LT(std::string(list[k - 1]["code"].GetString()), code);
      } else if (i == 2) {
        EXPECT_LT(prev, cur);
      } else {
        EXPECT_GT(prev, cur);
      }
    }
    found += list.Size();
    ++i;
  }
  EXPECT_GT(found, 0u);  // the walk's regimes give the radar something to find

  // Each record agrees with the stock's own item.
  for (const auto& m : sections.GetObject()) {
    for (const auto& rec : m.value.GetArray()) {
      const std::string code = rec["code"].GetString();
      const auto item = evaluate_opportunity_radar_item(*pool.at(code).second, code, "", "weekly");
      EXPECT_DOUBLE_EQ(rec["score"].GetDouble(), item["tech_score"].GetDouble()) << code;
      EXPECT_EQ(std::string(rec["state"].GetString()), item["curr_state_cn"].GetString());
    }
  }
}

TEST(RadarPool, SameSecurityUnderTwoCodesIsScannedOnce) {
  auto b = range(60);
  const double last = b.last_close();
  b.add(last, last * 1.045, last * 0.998, last * 1.04, 3.2e6);
  morvik::RadarPool pool;
  pool["600519"] = {"甲", b.table()};
  pool["sh.600519"] = {"乙", b.table()};
  const auto sections = analyze_opportunity_radar(pool);
  EXPECT_EQ(codes_in(sections, morvik::kRadarAbnormal), std::vector<std::string>{"600519"});
}

TEST(RadarPool, AnEntryThatCannotBeEvaluatedFailsTheScan) {
  auto pool = sample_pool(20);
  auto broken = range(40).table();
  broken.drop("volume");
  pool["sh.600003"].second = broken;
  try {
    analyze_opportunity_radar(pool, "daily", {}, 1.5, 1.5, {}, 3);
    FAIL() << "expected an error";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("sh.600003"), std::string::npos);
  }
  EXPECT_THROW(analyze_opportunity_radar(pool, ""), std::invalid_argument);
}

}  // namespace

namespace {

// `bars` flat bars at `level` on steady volume, then one bar closing at `last` on `volume`.
candlex::BarTable flat_then(double level, double last, double volume, std::size_t bars = 60) {
  BarBuilder b;
  for (std::size_t i = 0; i < bars; ++i) b.add(level, level, level, level, 1e6);
  b.add(level, std::max(level, last), std::min(level, last), last, volume);
  return b.table();
}

TEST(RadarItem, JudgesChangesAsTheyAreShown) {
  // 10 -> 10.15 is 1.5000000000000124 %, 100 -> 101.5 is 1.4999999999999902 %: both show
  // "+1.50%" and both meet the 1.5 % threshold.
  const auto small = evaluate_opportunity_radar_item(flat_then(10.0, 10.15, 3e6), "a");
  const auto large = evaluate_opportunity_radar_item(flat_then(100.0, 101.5, 3e6), "b");
  EXPECT_EQ(small["change_pct"].GetDouble(), 1.5);
  EXPECT_EQ(large["change_pct"].GetDouble(), 1.5);
  EXPECT_TRUE(small["is_vol_abnormal"].GetBool());
  EXPECT_TRUE(large["is_vol_abnormal"].GetBool());

  // A loss too small to show is a plain zero, never -0.0.
  const auto flat = evaluate_opportunity_radar_item(flat_then(100.0, 99.9999, 1e6), "c");
  EXPECT_EQ(flat["change_pct"].GetDouble(), 0.0);
  EXPECT_FALSE(std::signbit(flat["change_pct"].GetDouble()));
  EXPECT_EQ(zorvane::utils::safe_json_dumps(flat["change_pct"]), "0.0");
}

}  // namespace
