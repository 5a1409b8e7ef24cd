#include "strategy/technical/pattern_selectors.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "morvik/pattern_fixtures.hpp"
#include "strategy/technical/all_stock_selector.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace {

using technical::SelectorDeps;
using testing::ElementsAre;
using testing::IsEmpty;
using zorvane::strategy::CheckResult;
using zorvane::utils::LogCapture;
using zorvane::utils::parse_json;
using zorvane::utils::safe_json_dumps;

// Records what the selectors pass on and answers with a scripted scan result.
struct Fakes {
  candlex::BarTable bars = zv_test::clean_uptrend(40);
  std::string scan_json = R"({"pre_screen_passed": true, "total_score": 6.0,
                              "strategy_type": "趋势跟随"})";
  int status_calls = 0;
  int scan_calls = 0;
  std::string symbol, mode, options;
  double min_score = -1;

  SelectorDeps deps(zorvane::constants::ThresholdMap thresholds = {{"趋势跟随", 6.0},
                                                                   {"底部反转", 5.0}},
                    double default_threshold = 4.0) {
    SelectorDeps d;
    d.load_bars = [this](const std::string&, const std::string&, const std::string&) {
      return bars;
    };
    d.stock_status = [this](const candlex::BarTable&, const std::string& code) {
      ++status_calls;
      return indicators::StockStatus(code);
    };
    d.scan = [this](const candlex::BarTable&, std::string_view sym, std::string_view m, double min,
                    const rapidjson::Value* opts) {
      ++scan_calls;
      symbol = sym;
      mode = m;
      min_score = min;
      options = opts ? safe_json_dumps(*opts) : "<none>";
      return parse_json(scan_json);
    };
    d.thresholds = std::move(thresholds);
    d.default_threshold = default_threshold;
    return d;
  }
};

std::vector<std::string> logged(const LogCapture& log) {
  return log.lines();
}

TEST(PatternSelectors, NoDataReturnsTheSelectorCodeWithoutStatusOrScan) {
  Fakes f;
  f.bars = candlex::BarTable{};
  auto mode_option = parse_json(R"({"mode": "x"})");  // not even validated without data
  struct Case {
    std::unique_ptr<zorvane::strategy::StockSelector> selector;
    std::string code;
  };
  std::vector<Case> cases;
  cases.push_back({std::make_unique<technical::TFSelector>(f.deps()), "TF"});
  cases.push_back({std::make_unique<technical::BRPSelector>(f.deps()), "BRP"});
  cases.push_back({std::make_unique<technical::CombinedSelector>(f.deps()), "COMBINED"});
  cases.push_back({std::make_unique<technical::AllStockSelector>(f.deps()), "ALL"});
  for (auto& c : cases) {
    LogCapture log;
    auto r = c.selector->check("sh.600000", "2024-01-01", "2024-06-30", mode_option);
    EXPECT_FALSE(std::get<0>(r));
    EXPECT_FALSE(std::get<1>(r).has_value());
    EXPECT_TRUE(std::get<2>(r).empty());
    EXPECT_EQ(std::get<3>(r), "");
    EXPECT_EQ(std::get<4>(r), 0.0);
    EXPECT_EQ(std::get<5>(r), c.code);
    EXPECT_THAT(logged(log), ElementsAre("warning|股票 sh.600000 没有数据"));
  }
  EXPECT_EQ(f.status_calls, 0);
  EXPECT_EQ(f.scan_calls, 0);
}

TEST(PatternSelectors, ScanIsCalledWithFixedArgumentsAndOptionsPassedThrough) {
  Fakes f;
  auto options = parse_json(R"({"market_bias": "偏多", "extra": [1, 2]})");
  technical::TFSelector tf(f.deps());
  tf.check("sz.000001", "2024-01-01", "2024-06-30", options);
  EXPECT_EQ(f.symbol, "sz.000001");
  EXPECT_EQ(f.mode, "trend");
  EXPECT_EQ(f.min_score, 3.0);
  EXPECT_EQ(f.options, safe_json_dumps(options));

  technical::BRPSelector(f.deps()).check("sz.000001", "2024-01-01", "2024-06-30");
  EXPECT_EQ(f.mode, "all");
  EXPECT_EQ(f.options, "{}");
  technical::CombinedSelector(f.deps()).check("sz.000001", "2024-01-01", "2024-06-30");
  EXPECT_EQ(f.mode, "all");
}

TEST(PatternSelectors, OptionsThatRepeatAFixedArgumentAreAnError) {
  Fakes f;
  technical::CombinedSelector sel(f.deps());
  for (const char* key : {"symbol", "mode", "min_score"}) {
    auto options = parse_json(std::string("{\"") + key + "\": 1}");
    try {
      sel.check("sh.600000", "2024-01-01", "2024-06-30", options);
      ADD_FAILURE() << key << " accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_THAT(e.what(), testing::HasSubstr(key));
    }
  }
  EXPECT_EQ(f.scan_calls, 0);
  auto not_object = parse_json("[1]");
  EXPECT_THROW(sel.check("sh.600000", "2024-01-01", "2024-06-30", not_object),
               std::invalid_argument);
}

TEST(PatternSelectors, FailedPreScreenIsReturnedWholeAndSilently) {
  Fakes f;
  f.scan_json = R"({"pre_screen_passed": false, "total_score": 7.5, "strategy_type": "底部反转",
                    "risk_flags": ["黄昏星"]})";
  LogCapture log;
  auto r = technical::TFSelector(f.deps()).check("sh.600000", "2024-01-01", "2024-06-30");
  EXPECT_FALSE(std::get<0>(r));
  ASSERT_TRUE(std::get<1>(r).has_value());
  EXPECT_EQ(std::get<1>(r)->code, "sh.600000");
  EXPECT_EQ(std::get<2>(r).size(), f.bars.size());
  EXPECT_EQ(std::get<3>(r), safe_json_dumps(parse_json(f.scan_json)));
  EXPECT_THAT(std::get<3>(r), testing::HasSubstr("\"黄昏星\""));  // written unescaped
  EXPECT_EQ(std::get<4>(r), 7.5);
  EXPECT_EQ(std::get<5>(r), "底部反转");
  EXPECT_THAT(logged(log), IsEmpty());
}

TEST(PatternSelectors, TrendFollowingRules) {
  Fakes f;
  technical::TFSelector tf(f.deps());
  {
    f.scan_json = R"({"pre_screen_passed": true, "total_score": 9, "strategy_type": "底部反转"})";
    LogCapture log;
    auto r = tf.check("sh.600000", "a", "b");
    EXPECT_FALSE(std::get<0>(r));
    EXPECT_THAT(
        logged(log),
        ElementsAre("info|sh.600000 策略类型为 底部反转, 不符合 TFSelector (仅限趋势跟随)"));
  }
  {
    f.scan_json = R"({"pre_screen_passed": true, "total_score": 6.0, "strategy_type": "趋势跟随"})";
    LogCapture log;
    auto r = tf.check("sh.600000", "a", "b");
    EXPECT_TRUE(std::get<0>(r));  // equal to the threshold passes
    EXPECT_THAT(logged(log), ElementsAre("info|sh.600000 通过趋势跟随筛选 (评分: 6.0)"));
  }
  {
    f.scan_json =
        R"({"pre_screen_passed": true, "total_score": 5.999, "strategy_type": "趋势跟随"})";
    LogCapture log;
    EXPECT_FALSE(std::get<0>(tf.check("sh.600000", "a", "b")));
    EXPECT_THAT(logged(log), ElementsAre("info|sh.600000 趋势跟随评分 (6.00) 低于 6.0 门槛"));
  }
}

TEST(PatternSelectors, BottomReversalAcceptsWaitingForBreakoutAtItsThreshold) {
  Fakes f;
  technical::BRPSelector brp(f.deps());
  {
    f.scan_json = R"({"pre_screen_passed": true, "total_score": 5.0, "strategy_type": "等待突破"})";
    LogCapture log;
    auto r = brp.check("sz.300750", "a", "b");
    EXPECT_TRUE(std::get<0>(r));
    EXPECT_EQ(std::get<5>(r), "等待突破");
    EXPECT_THAT(logged(log), ElementsAre("info|sz.300750 通过底部反转筛选 (评分: 5.0)"));
  }
  {
    f.scan_json =
        R"({"pre_screen_passed": true, "total_score": 4.96, "strategy_type": "等待突破"})";
    LogCapture log;
    EXPECT_FALSE(std::get<0>(brp.check("sz.300750", "a", "b")));
    EXPECT_THAT(logged(log), ElementsAre("info|sz.300750 底部反转评分 (4.96) 低于 5.0 门槛"));
  }
  {
    f.scan_json = R"({"pre_screen_passed": true, "total_score": 9, "strategy_type": "区间震荡"})";
    LogCapture log;
    EXPECT_FALSE(std::get<0>(brp.check("sz.300750", "a", "b")));
    EXPECT_THAT(
        logged(log),
        ElementsAre("info|sz.300750 策略类型为 区间震荡, 不符合 BRPSelector (仅限底部反转)"));
  }
}

TEST(PatternSelectors, SingleStrategySelectorsFallBackToTheDefaultThreshold) {
  Fakes f;
  auto deps = f.deps({{"区间震荡", 1.0}}, 4.5);
  {
    f.scan_json = R"({"pre_screen_passed": true, "total_score": 4.4, "strategy_type": "趋势跟随"})";
    LogCapture log;
    EXPECT_FALSE(std::get<0>(technical::TFSelector(deps).check("X", "a", "b")));
    EXPECT_THAT(logged(log), ElementsAre("info|X 趋势跟随评分 (4.40) 低于 4.5 门槛"));
  }
  f.scan_json = R"({"pre_screen_passed": true, "total_score": 4.5, "strategy_type": "底部反转"})";
  EXPECT_TRUE(std::get<0>(technical::BRPSelector(deps).check("X", "a", "b")));
}

TEST(PatternSelectors, CombinedAcceptsAnyTypeWithAThreshold) {
  Fakes f;
  technical::CombinedSelector combined(f.deps({{"趋势跟随", 6.0}, {"区间震荡", 5.0}}));
  {
    f.scan_json =
        R"({"pre_screen_passed": true, "total_score": 5.25, "strategy_type": "区间震荡"})";
    LogCapture log;
    auto r = combined.check("hk.00700", "a", "b");
    EXPECT_TRUE(std::get<0>(r));
    EXPECT_EQ(std::get<4>(r), 5.25);
    EXPECT_THAT(logged(log), ElementsAre("info|hk.00700 通过组合筛选 (类型: 区间震荡, 评分: 5.2)"));
  }
  {
    f.scan_json = R"({"pre_screen_passed": true, "total_score": 5.9, "strategy_type": "趋势跟随"})";
    LogCapture log;
    EXPECT_FALSE(std::get<0>(combined.check("hk.00700", "a", "b")));
    EXPECT_THAT(logged(log), ElementsAre("info|hk.00700 趋势跟随 评分 (5.90) 低于 6.0 门槛"));
  }
  {
    f.scan_json = R"({"pre_screen_passed": true, "total_score": 9.0, "strategy_type": "等待突破"})";
    LogCapture log;
    EXPECT_FALSE(std::get<0>(combined.check("hk.00700", "a", "b")));
    EXPECT_THAT(logged(log),
                ElementsAre("warning|hk.00700 策略类型 等待突破 不在允许的策略类型范围内"));
  }
}

TEST(PatternSelectors, MissingResultMembersTakeTheirDefaults) {
  Fakes f;
  f.scan_json = R"({"pre_screen_passed": true})";
  {
    LogCapture log;
    auto r = technical::CombinedSelector(f.deps()).check("X", "a", "b");
    EXPECT_FALSE(std::get<0>(r));
    EXPECT_EQ(std::get<4>(r), 0.0);
    EXPECT_EQ(std::get<5>(r), "混合");
    EXPECT_THAT(logged(log), ElementsAre("warning|X 策略类型 混合 不在允许的策略类型范围内"));
  }
  auto with_mixed = f.deps({{"混合", 0.0}});
  EXPECT_TRUE(std::get<0>(technical::CombinedSelector(with_mixed).check("X", "a", "b")));

  f.scan_json = R"({"total_score": 8})";
  auto r = technical::TFSelector(f.deps()).check("X", "a", "b");
  EXPECT_FALSE(std::get<0>(r));  // no verdict means not passed
  EXPECT_EQ(std::get<5>(r), "趋势跟随");
}

TEST(PatternSelectors, MalformedResultsAndFailingSourcesPropagate) {
  Fakes f;
  f.scan_json = R"({"pre_screen_passed": true, "total_score": "high"})";
  EXPECT_THROW(technical::TFSelector(f.deps()).check("X", "a", "b"), std::invalid_argument);
  f.scan_json = R"({"pre_screen_passed": "yes"})";
  EXPECT_THROW(technical::TFSelector(f.deps()).check("X", "a", "b"), std::invalid_argument);

  auto deps = f.deps();
  deps.load_bars = [](const std::string&, const std::string&,
                      const std::string&) -> candlex::BarTable {
    throw std::runtime_error("daily/X.csv line 3: bad number");
  };
  EXPECT_THROW(technical::CombinedSelector(deps).check("X", "a", "b"), std::runtime_error);
}

TEST(AllStockSelector, AcceptsEveryStockWithDataAndIgnoresOptions) {
  Fakes f;
  LogCapture log;
  technical::AllStockSelector all(f.deps());
  EXPECT_THAT(logged(log), ElementsAre("info|AllStockSelector init"));
  auto options = parse_json(R"({"mode": "trend", "min_score": 9})");
  CheckResult r = all.check("us.AAPL", "2024-01-01", "2024-06-30", options);
  auto [ok, status, bars, info, score, type] = r;
  EXPECT_TRUE(ok);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(status->code, "us.AAPL");
  EXPECT_EQ(bars.size(), f.bars.size());
  EXPECT_EQ(info, "");
  EXPECT_EQ(score, 0.0);
  EXPECT_EQ(type, "ALL");
  EXPECT_EQ(f.scan_calls, 0);
  EXPECT_EQ(f.status_calls, 1);
}

}  // namespace
