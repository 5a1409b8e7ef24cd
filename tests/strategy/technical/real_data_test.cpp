// The selectors wired to the real data source, status evaluation and pattern scan, over a
// temporary data center holding series whose pattern is known.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "candlex/data_center.hpp"
#include "morvik/pattern_fixtures.hpp"
#include "strategy/technical/selectors.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace {

void write_csv(const std::filesystem::path& file, const candlex::BarTable& t) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file);
  out << "date,open,high,low,close,volume\n";
  char line[256];
  for (std::size_t i = 0; i < t.size(); ++i) {
    std::snprintf(line, sizeof line, "%s,%.6f,%.6f,%.6f,%.6f,%.0f\n",
                  zorvane::utils::iso_date(t.dates()[i]).c_str(), t.at("open", i), t.at("high", i),
                  t.at("low", i), t.at("close", i), t.at("volume", i));
    out << line;
  }
}

class RealData : public ::testing::Test {
 protected:
  void SetUp() override {
    candlex::clear_center_cache();
    write_csv(dir_ / "daily" / "sh.600001.csv", zv_test::clean_uptrend());
    write_csv(dir_ / "daily" / "sz.000002.csv", zv_test::capitulation_reversal());
    std::ofstream(dir_ / "names.csv") << "code,name\nsh.600001,稳步上行\nsz.000002,触底回升\n";
  }
  void TearDown() override { candlex::clear_center_cache(); }

  zv_test::TempDir dir_{"zv-technical"};
  zv_test::EnvGuard env_{"CANDLEX_CENTER", dir_.str()};
};

TEST_F(RealData, UptrendPassesTrendAndCombinedSelectors) {
  zorvane::utils::LogCapture log;
  auto combined = technical::CombinedSelector().check("sh.600001", "2024-01-01", "2024-12-31");
  EXPECT_TRUE(std::get<0>(combined));
  EXPECT_EQ(std::get<5>(combined), "趋势跟随");
  ASSERT_TRUE(std::get<1>(combined).has_value());
  EXPECT_EQ(std::get<1>(combined)->name, "稳步上行");
  auto info = zorvane::utils::parse_json(std::get<3>(combined));
  EXPECT_EQ(info["symbol"].GetString(), std::string("sh.600001"));
  EXPECT_EQ(info["total_score"].GetDouble(), std::get<4>(combined));

  auto tf = technical::TFSelector().check("sh.600001", "2024-01-01", "2024-12-31");
  EXPECT_TRUE(std::get<0>(tf));
  EXPECT_FALSE(
      std::get<0>(technical::BRPSelector().check("sh.600001", "2024-01-01", "2024-12-31")));
  EXPECT_THAT(log.lines(), testing::Contains(testing::StartsWith(
                               "info|sh.600001 通过组合筛选 (类型: 趋势跟随, 评分: ")));
}

TEST_F(RealData, CapitulationPassesBottomReversalOnly) {
  auto brp = technical::BRPSelector().check("sz.000002", "2024-01-01", "2024-12-31");
  EXPECT_TRUE(std::get<0>(brp));
  EXPECT_EQ(std::get<5>(brp), "底部反转");
  auto tf = technical::TFSelector().check("sz.000002", "2024-01-01", "2024-12-31");
  EXPECT_FALSE(std::get<0>(tf));
  EXPECT_EQ(std::get<5>(tf), "空仓等待");
}

TEST_F(RealData, UnknownCodeAndEmptyWindowHaveNoData) {
  auto r = technical::CombinedSelector().check("sh.600999", "2024-01-01", "2024-12-31");
  EXPECT_FALSE(std::get<0>(r));
  EXPECT_EQ(std::get<5>(r), "COMBINED");
  auto early = technical::AllStockSelector().check("sh.600001", "2020-01-01", "2020-12-31");
  EXPECT_FALSE(std::get<0>(early));
  EXPECT_EQ(std::get<5>(early), "ALL");
}

}  // namespace
