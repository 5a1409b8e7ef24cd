// The radar selector's decision rules on hand-made radar items.

#include "strategy/radar/radar_verdict.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "zorvane/utils/json.hpp"

namespace {

using radar::judge_radar_item;
using radar::radar_pattern_info;
using radar::radar_strategy_hint;
using radar::radar_strategy_type;
using radar::RadarItemFields;
using radar::RadarSwitches;
using zorvane::utils::parse_json;

// Last bar with no candle of its own to speak of (open = close).
constexpr double kOpen = 10.0;
constexpr double kClose = 10.0;

RadarItemFields item(const char* json) {
  return radar::read_radar_item(parse_json(json));
}

bool eligible(const char* json, RadarSwitches sw = {}, double min_score = 0.0, double open = kOpen,
              double close = kClose) {
  return judge_radar_item(item(json), open, close, sw, min_score).is_eligible;
}

TEST(RadarItemFields, DefaultsAndConversions) {
  const auto d = item("{}");
  EXPECT_EQ(d.tech_score, 0.0);
  EXPECT_EQ(d.vol_ratio, 1.0);
  EXPECT_FALSE(d.is_opportunity || d.is_vol_abnormal || d.is_risk || d.has_buy_signal ||
               d.has_sell_signal);
  EXPECT_EQ(d.curr_state_cn, "");

  const auto f = item(
      R"({"tech_score": "6.5", "vol_ratio": 2, "change_pct": true, "is_risk": 1,
          "is_opportunity": "yes", "has_buy_signal": [], "has_sell_signal": 0.0,
          "curr_state_cn": 3, "prev_state_cn": null})");
  EXPECT_EQ(f.tech_score, 6.5);
  EXPECT_EQ(f.vol_ratio, 2.0);
  EXPECT_EQ(f.change_pct, 1.0);
  EXPECT_TRUE(f.is_risk);
  EXPECT_TRUE(f.is_opportunity);
  EXPECT_FALSE(f.has_buy_signal);
  EXPECT_FALSE(f.has_sell_signal);
  EXPECT_EQ(f.curr_state_cn, "3");
  EXPECT_EQ(f.prev_state_cn, "");

  for (const char* bad : {R"({"tech_score": "high"})", R"({"vol_ratio": null})",
                          R"({"change_pct": [1]})", R"({"amount_ea": {}})"}) {
    EXPECT_THROW(item(bad), std::invalid_argument) << bad;
  }
  try {
    item(R"({"amount_ea": "lots"})");
    ADD_FAILURE() << "a text that is not a number was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("amount_ea"), std::string::npos);
  }
  EXPECT_THROW(radar::read_radar_item(parse_json("[]")), std::invalid_argument);
}

TEST(RadarVerdict, WhatMakesACandidate) {
  const RadarSwitches none{false, false, true, true};
  // A buy signal needs no switch.
  EXPECT_TRUE(eligible(R"({"has_buy_signal": true, "change_pct": 1.2, "tech_score": 3})", none));
  // Opportunity and anomaly each need their switch.
  EXPECT_TRUE(eligible(R"({"is_opportunity": true})"));
  EXPECT_FALSE(eligible(R"({"is_opportunity": true})", {false, true, true, true}));
  EXPECT_TRUE(eligible(R"({"is_vol_abnormal": true, "change_pct": 0.0})"));
  EXPECT_FALSE(
      eligible(R"({"is_vol_abnormal": true, "change_pct": 2.0})", {true, false, true, true}));
  // A falling anomaly is no candidate, even when bearish stocks are allowed.
  EXPECT_FALSE(
      eligible(R"({"is_vol_abnormal": true, "change_pct": -0.5})", {true, true, true, false}));
  // Nothing found: never eligible.
  EXPECT_FALSE(eligible(R"({"tech_score": 9, "curr_state_cn": "右侧上涨"})"));
}

TEST(RadarVerdict, RejectionsAndScore) {
  const char* buy = R"({"has_buy_signal": true, "has_sell_signal": true, "tech_score": 4})";
  EXPECT_FALSE(eligible(buy));
  EXPECT_TRUE(eligible(buy, {true, true, false, true}));
  EXPECT_FALSE(eligible(R"({"is_opportunity": true, "is_risk": true})"));
  EXPECT_TRUE(eligible(R"({"is_opportunity": true, "is_risk": true})", {true, true, false, true}));

  // min_score: equal passes, anything below fails; the default 0.0 passes any candidate.
  const char* scored = R"({"is_opportunity": true, "tech_score": 5.5})";
  EXPECT_TRUE(eligible(scored, {}, 5.5));
  EXPECT_FALSE(eligible(scored, {}, 5.5000001));
  EXPECT_TRUE(eligible(R"({"is_opportunity": true, "tech_score": 0})"));
}

TEST(RadarVerdict, Bearishness) {
  auto bearish = [](const char* json, double open, double close) {
    return judge_radar_item(item(json), open, close, {}, 0.0).is_bearish;
  };
  EXPECT_TRUE(bearish(R"({"change_pct": -0.01})", kOpen, kClose));
  EXPECT_FALSE(bearish(R"({"change_pct": 0.0})", kOpen, kClose));
  // Solid bear candle: more than 1% below the open.
  EXPECT_TRUE(bearish(R"({"change_pct": 0.5})", 10.00, 9.89));
  EXPECT_FALSE(bearish(R"({"change_pct": 0.5})", 10.00, 9.90));
  EXPECT_FALSE(bearish(R"({"change_pct": 0.5})", 0.0, -5.0));  // no open: no candle rule
  EXPECT_TRUE(bearish(R"({"curr_state_cn": "左侧下跌"})", kOpen, kClose));

  const char* falling = R"({"is_opportunity": true, "curr_state_cn": "左侧下跌"})";
  EXPECT_FALSE(eligible(falling));
  EXPECT_TRUE(eligible(falling, {true, true, true, false}));
  EXPECT_FALSE(eligible(R"({"is_opportunity": true})", {}, 0.0, 10.00, 9.89));
}

std::string type_of(const char* json) {
  const auto doc = parse_json(json);
  return radar_strategy_type(radar::read_radar_item(doc), radar_strategy_hint(doc));
}

TEST(RadarStrategyType, FirstMatchingRule) {
  EXPECT_EQ(type_of(R"({"is_vol_abnormal": true, "change_pct": -0.5,
                        "pre_screen_res": {"strategy_type": "趋势跟随"}})"),
            "量化异动");
  // An anomaly that is also an opportunity takes the hint or the state.
  EXPECT_EQ(
      type_of(R"({"is_vol_abnormal": true, "is_opportunity": true, "curr_state_cn": "右侧上涨",
                        "pre_screen_res": {"strategy_type": "均线压缩"}})"),
      "均线压缩");
  EXPECT_EQ(type_of(R"({"is_vol_abnormal": true, "is_opportunity": true,
                        "curr_state_cn": "右侧上涨"})"),
            "右侧上涨");
  // The pre-screen's hint comes before the scan's type; an empty hint falls through.
  EXPECT_EQ(type_of(R"({"pre_screen_res": {"strategy_type": "区间震荡",
                        "pre_screen": {"strategy_hint": "底部反转"}}})"),
            "底部反转");
  EXPECT_EQ(type_of(R"({"pre_screen_res": {"strategy_type": "区间震荡",
                        "pre_screen": {"strategy_hint": ""}}})"),
            "区间震荡");
  // A hint outside the four known types falls back to the state, then to 机会雷达.
  EXPECT_EQ(type_of(R"({"curr_state_cn": "左侧下跌",
                        "pre_screen_res": {"pre_screen": {"strategy_hint": "等待突破"}}})"),
            "左侧下跌");
  EXPECT_EQ(type_of(R"({"pre_screen_res": {"pre_screen": {"strategy_hint": "等待突破"},
                        "strategy_type": "趋势跟随"}})"),
            "机会雷达");
  EXPECT_EQ(type_of("{}"), "机会雷达");
  EXPECT_THROW(type_of(R"({"pre_screen_res": "trend"})"), std::invalid_argument);
}

TEST(RadarPatternInfo, CopyWithRadarRecord) {
  const auto doc = parse_json(
      R"({"curr_state_cn": "右侧上涨", "prev_state_cn": "横盘整理", "vol_ratio": 2.25,
          "change_pct": 3.5, "amount_ea": 12.0, "is_vol_abnormal": true, "has_buy_signal": 1,
          "pre_screen_res": {"symbol": "sh.600519", "radar": "old", "total_score": 6.0}})");
  const std::string before = zorvane::utils::safe_json_dumps(doc);
  const auto info = radar_pattern_info(doc, radar::read_radar_item(doc), "weekly");
  EXPECT_EQ(info,
            R"({"symbol": "sh.600519", "radar": {"curr_state_cn": "右侧上涨", "prev_state_cn": )"
            R"("横盘整理", "vol_ratio": 2.25, "change_pct": 3.5, "amount_ea": 12.0, )"
            R"("is_vol_abnormal": true, "is_opportunity": false, "is_risk": false, )"
            R"("has_buy_signal": true, "has_sell_signal": false, "frequency": "weekly"}, )"
            R"("total_score": 6.0})");
  EXPECT_EQ(zorvane::utils::safe_json_dumps(doc), before);  // the item is untouched

  const auto bare = parse_json(R"({"pre_screen_res": {}})");
  const auto text = radar_pattern_info(bare, radar::read_radar_item(bare), "daily");
  EXPECT_EQ(text.rfind(R"({"radar": {"curr_state_cn": "", )", 0), 0u) << text;
}

}  // namespace
