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
using sumora::SentimentLibrary;
using sumora::SentimentMeta;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kFailureLog = "warning|[大盘 AI 简报] 情绪温度计计算失败（降级）: ";

// Snapshots from JSON texts per horizon (or an error), zone texts echoing the temperature
// they were given, and a record of the requests.
struct FakeLibrary {
  std::map<std::string, std::string> snapshots = {
      {"D", R"({"state": "ICE_COLD", "direction": "warming", "temperature": 12.34,
                "confidence": 0.8, "n_etf": 156, "factors": {"breadth": 0.1, "momentum": 0.25}})"},
      {"W", R"({"state": "HOT", "direction": "cooling", "temperature": 72.44, "confidence": 0.666,
                "n_etf": 50, "factors": {"positioning": 0.9, "breadth": 1, "volatility": 0.05}})"}};
  std::map<std::string, std::string> failures;
  std::vector<std::string> zone{"Z", "G", "unused"};
  std::vector<std::string> calls;
  std::vector<std::optional<std::string>> dates;

  std::function<SentimentLibrary()> loader() {
    return [this] {
      SentimentLibrary lib;
      lib.snapshot = [this](const std::string& f, const std::string& path,
                            const std::optional<std::string>& date) {
        calls.push_back(f + "|" + std::filesystem::path(path).filename().string());
        dates.push_back(date);
        if (failures.count(f)) throw std::runtime_error(failures.at(f));
        return zorvane::utils::parse_json(snapshots.at(f));
      };
      lib.zone_desc = [this](double t) {
        auto out = zone;
        for (std::size_t i = 0; i < 2 && i < out.size(); ++i) {
          out[i] += "@" + zorvane::utils::float_text(t);
        }
        return out;
      };
      return lib;
    };
  }
};

TEST(SentimentBlock, RendersBothHorizonsExactly) {
  FakeLibrary lib;
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
  EXPECT_THAT(lib.calls, ElementsAre("D|etf.yaml", "W|etf.yaml"));
  EXPECT_TRUE(log.lines().empty());
}

TEST(SentimentBlock, MarketTypesAndDates) {
  FakeLibrary lib;
  const auto reference = _format_sentiment_block("A", "2024-05-10", lib.loader()).first;
  for (const char* mt : {"a", "ETF", "etf"}) {
    EXPECT_EQ(_format_sentiment_block(mt, "2024-05-10_1530", lib.loader()).first, reference);
  }
  for (const auto& d : lib.dates) EXPECT_EQ(d, "2024-05-10");
  lib.dates.clear();
  _format_sentiment_block("A", "", lib.loader());
  EXPECT_THAT(lib.dates, ElementsAre(std::nullopt, std::nullopt));

  zorvane::utils::LogCapture log;
  lib.calls.clear();
  for (const char* mt : {"HK", "US", "JP"}) {
    EXPECT_EQ(_format_sentiment_block(mt, "2024-05-10", lib.loader()),
              std::make_pair(std::string(), SentimentMeta{false, {}, "unsupported_market_type"}));
  }
  EXPECT_TRUE(lib.calls.empty());
  EXPECT_TRUE(log.lines().empty());
}

TEST(SentimentBlock, DefaultsAndUnknownCodes) {
  FakeLibrary lib;
  lib.snapshots["D"] = R"({"state": "WARM", "direction": "sideways", "temperature": 50})";
  lib.snapshots["W"] = R"({"state": "NEUTRAL", "direction": "flat", "temperature": 40,
      "n_etf": 12.0, "factors": {"breadth": 0.5, "mood": "n/a", "turnover": 2}})";
  auto block = _format_sentiment_block("A", "2024-05-10", lib.loader()).first;
  EXPECT_THAT(block,
              HasSubstr("- D线：温度 **50.0** · WARM · sideways · 置信度 0.00 · 样本 0 只 ETF\n"
                        "  - 温区：Z@50.0；战术总方针：G@50.0\n"
                        "  - 趋势解读：情绪平稳，重点遵循当前温区的战术总方针。\n"
                        "  - 子因子分位：\n- W线："));
  EXPECT_THAT(block, HasSubstr("· 中性(35-65) · 平稳 · 置信度 0.00 · 样本 12.0 只 ETF\n"));
  EXPECT_THAT(block, HasSubstr("  - 子因子分位：广度 0.5 · mood n/a · 量能 2\n"));
}

TEST(SentimentBlock, DirectionSentencesByBand) {
  using sumora::_sentiment_direction_meaning;
  const std::string low = "良性企稳/冰点回暖：恐慌出清后的右侧高胜率进场信号。";
  const std::string mid = "动量升温/趋势延续：资金情绪边际改善。";
  const std::string high = "加速发烧/冲顶透支：属于危险脉冲，严禁据此追高。";
  EXPECT_EQ(_sentiment_direction_meaning(35.0, "warming"), low);
  EXPECT_EQ(_sentiment_direction_meaning(std::nextafter(35.0, 36.0), "warming"), mid);
  EXPECT_EQ(_sentiment_direction_meaning(std::nextafter(65.0, 64.0), "warming"), mid);
  EXPECT_EQ(_sentiment_direction_meaning(65.0, "warming"), high);
  EXPECT_EQ(_sentiment_direction_meaning(std::numeric_limits<double>::quiet_NaN(), "warming"),
            high);
  EXPECT_EQ(_sentiment_direction_meaning(10.0, "cooling"),
            "资金情绪边际降温，需结合所在温区收紧仓位与止盈纪律。");
  for (const char* other : {"flat", "Warming", ""}) {  // exact, case-sensitive comparison
    EXPECT_EQ(_sentiment_direction_meaning(10.0, other),
              "情绪平稳，重点遵循当前温区的战术总方针。");
  }
}

// Every failure inside the computation: the empty block, one warning with the whole message,
// at most 200 characters of it in the metadata.
TEST(SentimentBlock, FailuresDegradeToEmptyBlock) {
  std::string long_message;
  for (int i = 0; i < 150; ++i) long_message += "错a";  // 300 characters
  struct Case {
    std::function<void(FakeLibrary&)> arrange;
    std::string message, reason;
  };
  const std::vector<Case> cases = {
      // The weekly snapshot fails after the daily one succeeded: no partial block.
      {[](FakeLibrary& l) { l.failures["W"] = "周线数据缺失"; }, "周线数据缺失", "周线数据缺失"},
      {[&](FakeLibrary& l) { l.failures["D"] = long_message; }, long_message,
       long_message.substr(0, 400)},  // 200 characters of 2 + 1 bytes each
      {[](FakeLibrary& l) { l.snapshots["W"] = R"({"direction": "flat", "temperature": 1})"; },
       "W 线情绪快照缺少字段 state", "W 线情绪快照缺少字段 state"},
      {[](FakeLibrary& l) {
         l.snapshots["D"] = R"({"state": "COLD", "direction": "flat", "temperature": "20"})";
       },
       "D 线情绪快照字段 temperature 不是数值", "D 线情绪快照字段 temperature 不是数值"},
      {[](FakeLibrary& l) {
         l.zone = {"Z", "G"};
       },
       "温区描述应为 3 段文本，实际为 2 段", "温区描述应为 3 段文本，实际为 2 段"},
  };
  for (const auto& c : cases) {
    FakeLibrary lib;
    c.arrange(lib);
    zorvane::utils::LogCapture log;
    auto [block, meta] = _format_sentiment_block("ETF", "2024-05-10", lib.loader());
    EXPECT_EQ(block, "") << c.reason;
    EXPECT_EQ(meta, (SentimentMeta{false, {}, c.reason}));
    EXPECT_THAT(log.lines(), ElementsAre(kFailureLog + c.message));
  }
  auto missing = []() -> SentimentLibrary { throw std::runtime_error("no library"); };
  EXPECT_EQ(_format_sentiment_block("A", "2024-05-10", missing).second.skip_reason, "no library");
  auto empty = [] { return SentimentLibrary{}; };
  EXPECT_EQ(_format_sentiment_block("A", "2024-05-10", empty).first, "");
}

// The real library against a project root without a universe file.
TEST(SentimentBlock, MissingUniverseFileDegrades) {
  zv_test::TempDir root("senti-root");
  zv_test::EnvGuard project("ZORVANE_PROJECT_ROOT", root.str());
  zv_test::EnvGuard report("REPORT_DIR", (root / "reports").string());
  zorvane::utils::LogCapture log;
  auto [block, meta] = _format_sentiment_block("A", "2024-05-10");
  EXPECT_EQ(block, "");
  EXPECT_THAT(meta.skip_reason.value_or(""), HasSubstr("etf.yaml"));
  EXPECT_EQ(log.matching("情绪温度计计算失败（降级）").size(), 1u);
}

}  // namespace
