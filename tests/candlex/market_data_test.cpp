// get_any_ohlc and get_name_from_code over a data center on disk.

#include "candlex/market_data.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "candlex/data_center.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

namespace fs = std::filesystem;
using candlex::get_any_ohlc;
using zorvane::utils::iso_date;
using zorvane::utils::parse_iso_date;

void write_file(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// Daily rows for every weekday in [from, to] with close = 1 + row index.
std::string weekday_csv(const std::string& from, const std::string& to) {
  std::string out = "date,open,high,low,close,volume\n";
  int i = 0;
  for (auto d = parse_iso_date(from); d <= parse_iso_date(to); d += std::chrono::days{1}) {
    if (zorvane::utils::weekday_index(d) >= 5) continue;
    auto c = std::to_string(++i);
    out += iso_date(d) + "," + c + "," + c + "," + c + "," + c + ",100\n";
  }
  return out;
}

class DataCenter : public testing::Test {
 protected:
  zv_test::TempDir dir{"candlex-center"};
  zv_test::EnvGuard env{"CANDLEX_CENTER", dir.str()};
  void SetUp() override { candlex::clear_center_cache(); }
};

TEST_F(DataCenter, RangeIsInclusiveAndCodeSpellingsShareAFile) {
  write_file(dir / "daily/sh.600519.csv", weekday_csv("2024-01-01", "2024-03-29"));
  auto t = get_any_ohlc("600519.SH", "2024-01-03", "2024-01-10");
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(iso_date(t.dates().front()), "2024-01-03");
  EXPECT_EQ(iso_date(t.dates().back()), "2024-01-10");
  EXPECT_EQ(t.col("close").front(), 3.0);
  EXPECT_EQ(
      get_any_ohlc("sh600519", std::string("2024-01-03"), std::string("2024-01-10")).col("close"),
      t.col("close"));
}

TEST_F(DataCenter, EndDateAloneReadsFourHundredCalendarDays) {
  write_file(dir / "daily/sh.000001.csv", weekday_csv("2020-01-01", "2024-06-28"));
  auto t = get_any_ohlc("sh.000001", std::nullopt, "2024-06-28");
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(iso_date(t.dates().back()), "2024-06-28");
  auto span = t.dates().back() - t.dates().front();
  EXPECT_LE(span.count(), 400);
  EXPECT_GE(span.count(), 397);  // the first weekday within the window
  EXPECT_GE(t.size(), 120u);     // enough for a 120-bar average
}

TEST_F(DataCenter, MissingFileIsEmptyButBadInputIsAnError) {
  write_file(dir / "daily/sh.600519.csv", weekday_csv("2024-01-01", "2024-01-31"));
  EXPECT_TRUE(get_any_ohlc("us.AAPL", "2024-01-01", "2024-01-31").empty());
  EXPECT_TRUE(get_any_ohlc("sh.600519", "2023-01-01", "2023-12-31").empty());
  EXPECT_THROW(get_any_ohlc("sh.600519", "2024-01-31", "2024-01-01"), std::invalid_argument);
  EXPECT_THROW(get_any_ohlc("sh.600519", "2024/01/01", "2024-01-31"), std::invalid_argument);
  EXPECT_THROW(get_any_ohlc("../names", "2024-01-01", "2024-01-31"), std::invalid_argument);
}

TEST_F(DataCenter, MalformedFileErrorNamesRelativePathAndLine) {
  write_file(dir / "daily/sz.000001.csv",
             "date,open,high,low,close,volume\n2024-01-02,1,1,1,1,1\n2024-01-03,1,1,1,x,1\n");
  try {
    get_any_ohlc("sz.000001", "2024-01-01", "2024-01-31");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), testing::StartsWith("daily/sz.000001.csv:3: "));
  }
}

TEST_F(DataCenter, RewrittenFileIsReadAgain) {
  const auto path = dir / "daily/sh.600519.csv";
  write_file(path, weekday_csv("2024-01-01", "2024-01-31"));
  EXPECT_EQ(get_any_ohlc("sh.600519", "2024-01-01", "2024-12-31").size(), 23u);
  write_file(path, weekday_csv("2024-01-01", "2024-02-29"));
  EXPECT_EQ(get_any_ohlc("sh.600519", "2024-01-01", "2024-12-31").size(), 44u);
  fs::remove(path);
  EXPECT_TRUE(get_any_ohlc("sh.600519", "2024-01-01", "2024-12-31").empty());
}

TEST_F(DataCenter, ConcurrentReadersSeeOneConsistentTable) {
  write_file(dir / "daily/sh.600519.csv", weekday_csv("2016-01-01", "2024-06-28"));
  std::vector<std::future<std::size_t>> jobs;
  for (int i = 0; i < 8; ++i)
    jobs.push_back(std::async(std::launch::async, [] {
      return get_any_ohlc("sh.600519", "2016-01-01", "2024-06-28").size();
    }));
  const std::size_t expected = jobs.front().get();
  EXPECT_GT(expected, 2000u);
  for (std::size_t i = 1; i < jobs.size(); ++i) EXPECT_EQ(jobs[i].get(), expected);
}

TEST_F(DataCenter, NamesFromNamesCsvThenBuiltIn) {
  write_file(dir / "names.csv", "code,name\n600519,贵州茅台\n\"hk.00700\",\"腾讯控股\"\n");
  EXPECT_EQ(candlex::get_name_from_code("sh.600519"), "贵州茅台");
  EXPECT_EQ(candlex::get_name_from_code("00700.HK"), "腾讯控股");
  EXPECT_EQ(candlex::get_name_from_code("sh.000001"), "上证指数");  // core index
  EXPECT_EQ(candlex::get_name_from_code("510050"), "上证50ETF");    // ETF universe
  EXPECT_EQ(candlex::get_name_from_code("sz.000002"), "");
}

TEST_F(DataCenter, MalformedNamesFileNamesTheLine) {
  write_file(dir / "names.csv", "code,name\n600519,贵州茅台\n000001\n");
  try {
    candlex::get_name_from_code("sh.600519");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), testing::StartsWith("names.csv:3: "));
  }
}

TEST(DataCenterDirectory, MissingCenterDirectoryIsAnErrorNotAnEmptyMarket) {
  zv_test::EnvGuard env{"CANDLEX_CENTER", "/nonexistent/candlex-center"};
  try {
    get_any_ohlc("sh.600519", "2024-01-01", "2024-01-31");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), testing::HasSubstr("/nonexistent/candlex-center"));
  }
}

TEST(DefaultStart, FiveYearsBeforeToday) {
  std::chrono::year_month_day today{zorvane::utils::today_local()};
  std::chrono::year_month_day start{parse_iso_date(candlex::get_default_start_date())};
  EXPECT_EQ(start.year(), today.year() - std::chrono::years{5});
  EXPECT_EQ(start.month(), today.month());
}

}  // namespace
