#include "agent/sumora/sentiment_block.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>

#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"
#include "zorvane/utils/text.hpp"

namespace {

using sumora::_format_sentiment_block;
using sumora::_sentiment_direction_meaning;
using sumora::SentimentLibrary;
using sumora::SentimentMeta;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kFailurePrefix = "warning|[大盘 AI 简报] 情绪温度计计算失败（降级）: ";

// A library double: snapshots from JSON texts per horizon (or an error), zone texts that echo
// the temperature they were given, and a record of the calls.
struct FakeLibrary {
  std::map<std::string, std::string> snapshots;
  std::map<std::string, std::string> failures;
  std::vector<std::string> zone{"Z", "G", "unused"};
  std::vector<std::string> calls;
  std::vector<std::optional<std::string>> dates;
  std::vector<std::string> universe_paths;

  std::function<SentimentLibrary()> loader() {
    return [this] {
      SentimentLibrary lib;
      lib.snapshot = [this](const std::string& f, const std::string& path,
                            const std::optional<std::string>& date) {
        calls.push_back(f);
        dates.push_back(date);
        universe_paths.push_back(path);
        if (auto it = failures.find(f); it != failures.end()) throw std::runtime_error(it->second);
        return zorvane::utils::parse_json(snapshots.at(f));
      };
      lib.zone_desc = [this](double t) {
        auto out = zone;
        if (out.size() >= 2) {
          out[0] += "@" + zorvane::utils::float_text(t);
          out[1] += "@" + zorvane::utils::float_text(t);
        }
        return out;
      };
      return lib;
    };
  }
};

const char* kDaily =
    R"({"state": "ICE_COLD", "direction": "warming", "temperature": 12.34, "confidence": 0.8,
        "n_etf": 156, "factors": {"breadth": 0.1, "momentum": 0.25}})";
const char* kWeekly =
    R"({"date": "2024-05-10", "state": "HOT", "direction": "cooling", "temperature": 72.44,
        "confidence": 0.666, "n_etf": 50,
        "factors": {"positioning": 0.9, "breadth": 1, "volatility": 0.05}})";

FakeLibrary both_ok() {
  FakeLibrary lib;
  lib.snapshots = {{"D", kDaily}, {"W", kWeekly}};
  return lib;
}

TEST(SentimentBlock, RendersBothHorizonsExactly) {
  auto lib = both_ok();
  zorvane::utils::LogCapture log;
  auto [block, meta] = _format_sentiment_block("A", "2024-05-10", lib.loader());
  EXPECT_EQ(block,
            "### 4. A 股情绪温度计（sentiment_thermometer 权威计算）\n"
            "- D线：温度 **12.3** · 冰点(≤15) · 升温 · 置信度 0.80 · 样本 156 只 ETF\n"
            "  - 温区：Z@12.34；战术总方针：G@12.34\n"
            "  - 趋势解读：良性企稳/冰点回暖：恐慌出清后的右侧高胜率进场信号。\n"
            "  - 子因子分位：广度 0.1 · 动量 0.25\n"
            "- W线：温度 **72.4** · 偏热(65-85) · 降温 · 置信度 0.67 · 样本 50 只 ETF\n"
            "  - 温区：Z@72.44；战术总方针：G@72.44\n"
            "  - 趋势解读：资金情绪边际降温，需结合所在温区收紧仓位与止盈纪律。\n"
            "  - 子因子分位：位置 0.9 · 广度 1 · 波动率 0.05\n");
  EXPECT_EQ(meta, (SentimentMeta{true, {"D", "W"}, std::nullopt}));
  EXPECT_THAT(lib.calls, ElementsAre("D", "W"));
  EXPECT_THAT(lib.dates, ElementsAre("2024-05-10", "2024-05-10"));
  ASSERT_EQ(lib.universe_paths.size(), 2u);
  EXPECT_THAT(lib.universe_paths[0], ::testing::EndsWith("/data/etf/etf.yaml"));
  EXPECT_TRUE(log.matching("情绪温度计").empty());
}

TEST(SentimentBlock, MarketTypesAndDates) {
  // ETF and every case of A share one block; the time part of an analysis time is cut off.
  auto lib = both_ok();
  const auto reference = _format_sentiment_block("A", "2024-05-10", lib.loader()).first;
  for (const char* mt : {"a", "ETF", "etf", "Etf"}) {
    EXPECT_EQ(_format_sentiment_block(mt, "2024-05-10_1530", lib.loader()).first, reference) << mt;
  }
  for (const auto& d : lib.dates) EXPECT_EQ(d, "2024-05-10");

  lib.dates.clear();
  _format_sentiment_block("A", "", lib.loader());
  EXPECT_THAT(lib.dates, ElementsAre(std::nullopt, std::nullopt));

  zorvane::utils::LogCapture log;
  lib.calls.clear();
  for (const char* mt : {"HK", "US", "hk", "", "JP"}) {
    auto [block, meta] = _format_sentiment_block(mt, "2024-05-10", lib.loader());
    EXPECT_EQ(block, "") << mt;
    EXPECT_EQ(meta, (SentimentMeta{false, {}, "unsupported_market_type"})) << mt;
  }
  EXPECT_TRUE(lib.calls.empty());
  EXPECT_TRUE(log.lines().empty());
}

TEST(SentimentBlock, DefaultsAndUnknownCodes) {
  FakeLibrary lib;
  lib.snapshots = {
      {"D", R"({"state": "WARM", "direction": "sideways", "temperature": 50})"},
      {"W", R"({"state": "NEUTRAL", "direction": "flat", "temperature": 40.05, "confidence": null,
                "n_etf": 12.0, "factors": {"breadth": 0.5, "sentiment_x": "n/a", "turnover": 2}})"},
  };
  auto [block, meta] = _format_sentiment_block("A", "2024-05-10", lib.loader());
  EXPECT_TRUE(meta.injected);
  EXPECT_THAT(block,
              HasSubstr("- D线：温度 **50.0** · WARM · sideways · 置信度 0.00 · 样本 0 只 ETF\n"
                        "  - 温区：Z@50.0；战术总方针：G@50.0\n"
                        "  - 趋势解读：情绪平稳，重点遵循当前温区的战术总方针。\n"
                        "  - 子因子分位：\n- W线："));
  EXPECT_THAT(block, HasSubstr("· 中性(35-65) · 平稳 · 置信度 0.00 · 样本 12.0 只 ETF\n"));
  EXPECT_THAT(block, HasSubstr("  - 子因子分位：广度 0.5 · sentiment_x n/a · 量能 2\n"));
  EXPECT_EQ(block.back(), '\n');
}

TEST(SentimentBlock, DirectionSentencesByBand) {
  const std::string low = "良性企稳/冰点回暖：恐慌出清后的右侧高胜率进场信号。";
  const std::string mid = "动量升温/趋势延续：资金情绪边际改善。";
  const std::string high = "加速发烧/冲顶透支：属于危险脉冲，严禁据此追高。";
  const std::string cooling = "资金情绪边际降温，需结合所在温区收紧仓位与止盈纪律。";
  const std::string flat = "情绪平稳，重点遵循当前温区的战术总方针。";
  EXPECT_EQ(_sentiment_direction_meaning(0.0, "warming"), low);
  EXPECT_EQ(_sentiment_direction_meaning(35.0, "warming"), low);
  EXPECT_EQ(_sentiment_direction_meaning(std::nextafter(35.0, 36.0), "warming"), mid);
  EXPECT_EQ(_sentiment_direction_meaning(std::nextafter(65.0, 64.0), "warming"), mid);
  EXPECT_EQ(_sentiment_direction_meaning(65.0, "warming"), high);
  EXPECT_EQ(_sentiment_direction_meaning(99.0, "warming"), high);
  EXPECT_EQ(_sentiment_direction_meaning(std::numeric_limits<double>::quiet_NaN(), "warming"),
            high);
  for (double t : {5.0, 50.0, 95.0}) {
    EXPECT_EQ(_sentiment_direction_meaning(t, "cooling"), cooling);
    EXPECT_EQ(_sentiment_direction_meaning(t, "flat"), flat);
    EXPECT_EQ(_sentiment_direction_meaning(t, "Warming"), flat);  // exact, case-sensitive
    EXPECT_EQ(_sentiment_direction_meaning(t, ""), flat);
  }
}

// Every failure inside the computation: the empty block, one warning, the reason in the meta.
TEST(SentimentBlock, FailuresDegradeToEmptyBlock) {
  struct Case {
    const char* name;
    std::function<void(FakeLibrary&)> arrange;
    std::string reason;
  };
  std::vector<Case> cases = {
      {"weekly fails after daily", [](FakeLibrary& l) { l.failures["W"] = "周线数据缺失"; },
       "周线数据缺失"},
      {"daily fails", [](FakeLibrary& l) { l.failures["D"] = "boom"; }, "boom"},
      {"missing state",
       [](FakeLibrary& l) { l.snapshots["W"] = R"({"direction": "flat", "temperature": 1})"; },
       "W 线情绪快照缺少字段 state"},
      {"missing temperature",
       [](FakeLibrary& l) { l.snapshots["D"] = R"({"state": "COLD", "direction": "flat"})"; },
       "D 线情绪快照缺少字段 temperature"},
      {"temperature not a number",
       [](FakeLibrary& l) {
         l.snapshots["D"] = R"({"state": "COLD", "direction": "flat", "temperature": "20"})";
       },
       "D 线情绪快照字段 temperature 不是数值"},
      {"zone desc of two texts",
       [](FakeLibrary& l) {
         l.zone = {"Z", "G"};
       },
       "温区描述应为 3 段文本，实际为 2 段"},
      {"factors not a map",
       [](FakeLibrary& l) {
         l.snapshots["W"] =
             R"({"state": "COLD", "direction": "flat", "temperature": 20, "factors": [1]})";
       },
       "W 线情绪快照字段 factors 不是映射"},
  };
  for (const auto& c : cases) {
    auto lib = both_ok();
    c.arrange(lib);
    zorvane::utils::LogCapture log;
    auto [block, meta] = _format_sentiment_block("ETF", "2024-05-10", lib.loader());
    EXPECT_EQ(block, "") << c.name;
    EXPECT_EQ(meta, (SentimentMeta{false, {}, c.reason})) << c.name;
    EXPECT_THAT(log.lines(), ElementsAre(kFailurePrefix + c.reason)) << c.name;
  }
}

TEST(SentimentBlock, MissingLibraryDegrades) {
  zorvane::utils::LogCapture log;
  auto throwing = []() -> SentimentLibrary { throw std::runtime_error("no morvik"); };
  auto [block, meta] = _format_sentiment_block("A", "2024-05-10", throwing);
  EXPECT_EQ(block, "");
  EXPECT_EQ(meta.skip_reason, "no morvik");

  auto empty = [] { return SentimentLibrary{}; };
  EXPECT_EQ(_format_sentiment_block("A", "2024-05-10", empty).second.skip_reason,
            "情绪温度计库不可用");
  EXPECT_EQ(log.matching("情绪温度计计算失败").size(), 2u);
}

TEST(SentimentBlock, SkipReasonKeepsFirst200Characters) {
  std::string message;
  for (int i = 0; i < 150; ++i) message += "错a";  // 300 characters, 600 bytes
  auto lib = both_ok();
  lib.failures["W"] = message;
  zorvane::utils::LogCapture log;
  auto meta = _format_sentiment_block("A", "2024-05-10", lib.loader()).second;
  ASSERT_TRUE(meta.skip_reason);
  EXPECT_EQ(zorvane::utils::char_count(*meta.skip_reason), 200u);
  EXPECT_EQ(*meta.skip_reason, message.substr(0, 400));
  // The log line carries the whole message.
  EXPECT_THAT(log.lines(), ElementsAre(kFailurePrefix + message));

  lib.failures["W"] = std::string(200, 'x');
  EXPECT_EQ(_format_sentiment_block("A", "2024-05-10", lib.loader()).second.skip_reason,
            std::string(200, 'x'));
}

// The real library against a project root without a universe file.
TEST(SentimentBlock, MissingUniverseFileDegrades) {
  zv_test::TempDir root("senti-root");
  zv_test::TempDir reports("senti-reports");
  zv_test::EnvGuard project("ZORVANE_PROJECT_ROOT", root.str());
  zv_test::EnvGuard report("REPORT_DIR", reports.str());
  zorvane::utils::LogCapture log;
  auto [block, meta] = _format_sentiment_block("A", "2024-05-10");
  EXPECT_EQ(block, "");
  EXPECT_FALSE(meta.injected);
  ASSERT_TRUE(meta.skip_reason);
  EXPECT_THAT(*meta.skip_reason, HasSubstr("etf.yaml"));
  EXPECT_EQ(log.matching("情绪温度计计算失败（降级）").size(), 1u);
}

// The real library over the shipped universe and the built-in sample market.
TEST(SentimentBlock, RealLibraryOnTheSampleMarket) {
  zv_test::TempDir reports("senti-reports");
  zv_test::EnvGuard project("ZORVANE_PROJECT_ROOT", ZV_SOURCE_DIR);
  zv_test::EnvGuard report("REPORT_DIR", reports.str());
  zv_test::EnvGuard center("CANDLEX_CENTER", nullptr);
  auto [block, meta] = _format_sentiment_block("etf", "2024-05-10_1530");
  EXPECT_EQ(meta, (SentimentMeta{true, {"D", "W"}, std::nullopt}));
  EXPECT_THAT(block,
              ::testing::StartsWith(
                  "### 4. A 股情绪温度计（sentiment_thermometer 权威计算）\n- D线：温度 **"));
  EXPECT_THAT(block, HasSubstr("\n- W线：温度 **"));
  EXPECT_THAT(block, HasSubstr("  - 子因子分位：广度 "));
  // Both horizons are cached on disk for other processes.
  std::size_t files = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(reports.path() / "sentiment", ec)) {
    files += e.path().extension() == ".json";
  }
  EXPECT_EQ(files, 2u);
}

}  // namespace
