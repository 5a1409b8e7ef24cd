// The radar selector: construction, the per-call options, the frequency it evaluates, the
// result and log line of check, and the pool's reference date.

#include "strategy/radar/opportunity_radar_selector.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "morvik/pattern_fixtures.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace {

using namespace std::chrono;
using radar::OpportunityRadarSelector;
using radar::RadarConfig;
using radar::RadarHooks;
using zorvane::strategy::CheckResult;
using zorvane::utils::LogCapture;
using zorvane::utils::parse_json;

// Weekday bars from Monday 2024-01-01; 5 bars end on Friday 2024-01-05, 4 on Thursday.
candlex::BarTable bars(std::size_t n, double last_open = 10.0, double last_close = 10.1) {
  zv_test::BarBuilder b;
  for (std::size_t i = 0; i + 1 < n; ++i) b.step(10.0 + 0.01 * static_cast<double>(i % 5), 1e6);
  b.add(last_open, std::max(last_open, last_close) + 0.05, std::min(last_open, last_close) - 0.05,
        last_close, 1.2e6);
  return b.table();
}

// Stands in for the data source and the radar library, recording what check passed on.
struct Fake {
  candlex::BarTable table = bars(30);
  std::string item = "{}";
  int loads = 0;
  int evaluations = 0;
  std::optional<std::string> start, end;
  std::string symbol, name, frequency;
  std::optional<double> min_amount_ea;
  double min_vol_ratio = 0, min_pct_change = 0;
  std::optional<std::string> weekly_mode;

  RadarHooks hooks() {
    RadarHooks h;
    h.load_bars = [this](std::string_view, std::optional<std::string> s,
                         std::optional<std::string> e) {
      ++loads;
      start = s;
      end = e;
      return table;
    };
    h.evaluate = [this](const candlex::BarTable&, std::string_view sym, std::string_view nm,
                        std::string_view freq, std::optional<double> amount, double vol, double pct,
                        const std::optional<std::string>& mode) {
      ++evaluations;
      symbol = sym;
      name = nm;
      frequency = freq;
      min_amount_ea = amount;
      min_vol_ratio = vol;
      min_pct_change = pct;
      weekly_mode = mode;
      return parse_json(item);
    };
    return h;
  }
};

std::string radar_frequency(const CheckResult& r) {
  const auto info = parse_json(std::get<zorvane::strategy::kPatternInfoStr>(r));
  return info["radar"]["frequency"].GetString();
}

TEST(RadarSelectorSetup, ConstructorLogLine) {
  LogCapture logs;
  OpportunityRadarSelector defaults;
  OpportunityRadarSelector daily(RadarConfig{.frequency = "daily"});
  OpportunityRadarSelector blank(
      RadarConfig{.frequency = "", .min_score = 5, .reject_bearish = false});
  const auto lines = logs.matching("初始化完成");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "info|OpportunityRadarSelector 初始化完成 (frequency=auto(周五周频/平日日频), "
            "min_score=0.0, reject_bearish=True)");
  EXPECT_EQ(lines[1],
            "info|OpportunityRadarSelector 初始化完成 (frequency=daily, min_score=0.0, "
            "reject_bearish=True)");
  EXPECT_EQ(lines[2],
            "info|OpportunityRadarSelector 初始化完成 (frequency=auto(周五周频/平日日频), "
            "min_score=5.0, reject_bearish=False)");
  EXPECT_EQ(defaults.min_vol_ratio(), 1.5);
  EXPECT_EQ(defaults.min_pct_change(), 1.5);
  EXPECT_FALSE(defaults.min_amount_ea());
  EXPECT_TRUE(defaults.allow_opportunity() && defaults.allow_abnormal() && defaults.reject_risk());
}

TEST(RadarSelectorSetup, NamedArgumentsAreKindChecked) {
  const auto ok = parse_json(
      R"({"frequency": null, "min_score": 5, "min_amount_ea": 2, "weekly_mode": "strict",
          "allow_abnormal": false})");
  auto sel = OpportunityRadarSelector::from_json(ok);
  EXPECT_EQ(sel.min_score(), 5.0);
  EXPECT_EQ(sel.min_amount_ea(), 2.0);
  EXPECT_EQ(sel.weekly_mode(), "strict");
  EXPECT_FALSE(sel.allow_abnormal());
  EXPECT_FALSE(sel.frequency());

  LogCapture logs;
  for (const char* bad :
       {R"({"min_score": "x"})", R"({"frequency": 1})", R"({"min_vol_ratio": null})",
        R"({"reject_risk": 1})", R"({"weekly_mode": ["strict"]})", R"({"min_scor": 1})", "[]"}) {
    EXPECT_THROW(OpportunityRadarSelector::from_json(parse_json(bad)), std::invalid_argument)
        << bad;
  }
  EXPECT_TRUE(logs.matching("初始化完成").empty());  // no object was made
}

TEST(RadarSelectorCheck, NoDataResult) {
  Fake fake;
  fake.table = candlex::BarTable();
  OpportunityRadarSelector sel({}, fake.hooks());
  LogCapture logs;
  const auto [ok, status, df, info, score, type] = sel.check("sh.600000", "2024-01-01", "");
  EXPECT_FALSE(ok);
  EXPECT_FALSE(status);
  EXPECT_TRUE(df.empty());
  EXPECT_EQ(info, "");
  EXPECT_EQ(score, 0.0);
  EXPECT_EQ(type, "雷达观望");
  EXPECT_EQ(fake.evaluations, 0);
  EXPECT_EQ(fake.start, "2024-01-01");
  EXPECT_FALSE(fake.end);  // an empty end date means the source's default
  EXPECT_EQ(logs.lines(), std::vector<std::string>{"warning|股票 sh.600000 没有数据"});
}

TEST(RadarSelectorCheck, FrequencyUsed) {
  Fake fake;
  OpportunityRadarSelector daily(RadarConfig{.frequency = "daily"}, fake.hooks());
  auto r = daily.check("a", "", "2024-01-05");
  EXPECT_EQ(fake.frequency, "daily");  // configured: the date does not matter
  EXPECT_EQ(radar_frequency(r), "daily");
  r = daily.check("a", "", "", parse_json(R"({"frequency": "weekly"})"));
  EXPECT_EQ(fake.frequency, "weekly");
  EXPECT_EQ(radar_frequency(r), "weekly");
  // An explicit null option asks for the automatic rule, whatever the configuration.
  fake.table = bars(4);  // ends on a Thursday
  daily.check("a", "", "", parse_json(R"({"frequency": null})"));
  EXPECT_EQ(fake.frequency, "daily");
  daily.check("a", "", "2024-01-06", parse_json(R"({"frequency": ""})"));
  EXPECT_EQ(fake.frequency, "weekly");

  OpportunityRadarSelector automatic({}, fake.hooks());
  fake.table = bars(5);  // ends on a Friday
  automatic.check("a", "", "");
  EXPECT_EQ(fake.frequency, "weekly");
  fake.table = bars(4);
  automatic.check("a", "", "");
  EXPECT_EQ(fake.frequency, "daily");
  // A given end date decides, not the last bar.
  fake.table = bars(5);
  automatic.check("a", "", "2024-01-04");
  EXPECT_EQ(fake.frequency, "daily");
}

TEST(RadarSelectorCheck, OptionsOverrideForOneCall) {
  Fake fake;
  fake.item = R"({"is_opportunity": true, "tech_score": 6.9})";
  OpportunityRadarSelector sel(RadarConfig{.frequency = "daily", .min_score = 6.0}, fake.hooks());
  const auto opts = parse_json(
      R"({"min_vol_ratio": 2, "min_pct_change": 3.5, "min_amount_ea": 1.5, "weekly_mode": "strict",
          "name": "茅台", "min_score": 7, "allow_opportunity": false, "other": [1, 2]})");
  const auto r = sel.check("sh.600519", "", "", opts);
  EXPECT_EQ(fake.symbol, "sh.600519");
  EXPECT_EQ(fake.name, "茅台");
  EXPECT_EQ(fake.min_vol_ratio, 2.0);
  EXPECT_EQ(fake.min_pct_change, 3.5);
  EXPECT_EQ(fake.min_amount_ea, 1.5);
  EXPECT_EQ(fake.weekly_mode, "strict");
  EXPECT_FALSE(std::get<0>(r));  // 6.9 < 7 for this call

  // The next call is back on the configuration (and the switch was never overridable).
  EXPECT_TRUE(std::get<0>(sel.check("sh.600519", "", "")));
  EXPECT_EQ(fake.min_vol_ratio, 1.5);
  EXPECT_FALSE(fake.min_amount_ea);
  EXPECT_FALSE(fake.weekly_mode);
  EXPECT_EQ(fake.name, "");
}

TEST(RadarSelectorCheck, OptionsOfTheWrongKindFailBeforeLoading) {
  Fake fake;
  OpportunityRadarSelector sel({}, fake.hooks());
  for (const char* bad : {R"({"min_score": "x"})", R"({"frequency": 5})", R"({"name": 3})",
                          R"({"min_vol_ratio": null})", R"({"min_amount_ea": "1"})",
                          R"({"weekly_mode": false})", "[1]"}) {
    EXPECT_THROW(sel.check("a", "", "", parse_json(bad)), std::invalid_argument) << bad;
  }
  EXPECT_EQ(fake.loads, 0);
}

TEST(RadarSelectorCheck, ResultAndLogLines) {
  Fake fake;
  fake.item = R"({"is_vol_abnormal": true, "tech_score": 7.25, "vol_ratio": 2.345,
                  "change_pct": 3.456, "curr_state_cn": "右侧上涨",
                  "pre_screen_res": {"strategy_type": "趋势跟随", "total_score": 5.0}})";
  OpportunityRadarSelector sel(RadarConfig{.frequency = "daily"}, fake.hooks());
  LogCapture logs;
  auto [ok, status, df, info, score, type] = sel.check("sh.600519", "", "");
  EXPECT_TRUE(ok);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->code, "sh.600519");
  EXPECT_EQ(df.size(), fake.table.size());
  EXPECT_EQ(score, 7.25);
  EXPECT_EQ(type, "量化异动");
  const auto parsed = parse_json(info);
  EXPECT_EQ(parsed["total_score"].GetDouble(), 5.0);
  EXPECT_EQ(parsed["radar"]["vol_ratio"].GetDouble(), 2.345);
  EXPECT_EQ(logs.lines().back(),
            "info|sh.600519 通过机会雷达初筛 (频段: daily, 状态: 右侧上涨, 策略: 量化异动, "
            "评分: 7.2, 放量: 2.35x, 涨跌幅: 3.46%)");

  // The same item on a last bar that closed 1.1% below its open: bearish, rejected.
  fake.table = bars(30, 10.0, 9.89);
  logs.clear();
  std::tie(ok, status, df, info, score, type) = sel.check("sh.600519", "", "");
  EXPECT_FALSE(ok);
  EXPECT_EQ(type, "量化异动");  // chosen whatever the verdict
  EXPECT_EQ(logs.lines().back(),
            "debug|sh.600519 未通过机会雷达初筛 (频段: daily, tech_score=7.2, is_opp=False, "
            "is_vol=True, is_risk=False, is_bearish=True)");
}

TEST(RadarSelectorCheck, ItemErrorsPropagate) {
  Fake fake;
  fake.item = R"({"tech_score": "n/a"})";
  OpportunityRadarSelector sel({}, fake.hooks());
  EXPECT_THROW(sel.check("a", "", ""), std::invalid_argument);
}

morvik::RadarPool pool_ending(std::initializer_list<std::size_t> lengths) {
  morvik::RadarPool pool;
  int i = 0;
  for (std::size_t n : lengths) pool["c" + std::to_string(i++)] = {"", bars(n)};
  return pool;
}

TEST(RadarPoolFrequency, ReferenceDate) {
  using radar::pool_reference_frequency;
  const std::string today =
      zorvane::utils::weekday_index(zorvane::utils::today_local()) >= 4 ? "weekly" : "daily";
  auto thursday = pool_ending({4, 3});
  auto friday = pool_ending({4, 5, 2});  // the latest last bar decides, wherever it is
  EXPECT_EQ(pool_reference_frequency(thursday, {}, {}), "daily");
  EXPECT_EQ(pool_reference_frequency(friday, {}, {}), "weekly");
  // Entries without bars are passed over.
  friday["z"] = {"", std::nullopt};
  friday["y"] = {"", candlex::BarTable()};
  EXPECT_EQ(pool_reference_frequency(friday, {}, {}), "weekly");
  // A target date wins over the pool; an explicit frequency over both.
  EXPECT_EQ(pool_reference_frequency(friday, {}, "2024-01-04"), "daily");
  EXPECT_EQ(pool_reference_frequency(thursday, {}, "2024-01-06"), "weekly");
  EXPECT_EQ(pool_reference_frequency(friday, "daily", "2024-01-06"), "daily");
  EXPECT_EQ(pool_reference_frequency(thursday, "", ""), "daily");  // empty texts are not given
  // Nothing usable: today decides.
  EXPECT_EQ(pool_reference_frequency({}, {}, {}), today);
  EXPECT_EQ(pool_reference_frequency(friday, {}, "someday"), today);
}

TEST(RadarPoolFrequency, AnalyzePoolHandsOverToTheLibrary) {
  const auto sections = OpportunityRadarSelector::analyze_pool(pool_ending({30, 40}));
  ASSERT_TRUE(sections.IsObject());
  EXPECT_EQ(sections.MemberCount(), 3u);
  EXPECT_TRUE(sections.HasMember("量化异动") && sections.HasMember("潜在机会") &&
              sections.HasMember("风险提示"));
  EXPECT_THROW(OpportunityRadarSelector::analyze_pool(pool_ending({30}), "monthly"),
               std::invalid_argument);
}

}  // namespace
