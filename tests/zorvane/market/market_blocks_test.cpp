#include "zorvane/market/market_blocks.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"

namespace zorvane::utils {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

// A data center with daily bars for some indices: weekdays from `first` through `last`,
// close rising by 1 a day from 100.
class Center {
 public:
  void write(const std::string& code, Day first, Day last) {
    fs::create_directories(dir.path() / "daily");
    std::ofstream out(dir.path() / "daily" / (code + ".csv"));
    out << "date,open,high,low,close,volume\n";
    double close = 100;
    for (Day d = first; d <= last; d += std::chrono::days(1)) {
      if (weekday_index(d) >= 5) continue;
      out << iso_date(d) << "," << close - 0.5 << "," << close + 1 << "," << close - 1 << ","
          << close << "," << 1000 << "\n";
      close += 1;
    }
  }
  zv_test::TempDir dir{"blocks-center"};
  zv_test::EnvGuard env{"CANDLEX_CENTER", dir.str()};
};

Day day(const char* text) {
  return parse_iso_date(text);
}

std::string meta_text(const rapidjson::Document& meta, const char* key) {
  const auto* v = json_find(meta, key);
  return v && v->IsString() ? v->GetString() : "<absent>";
}

int count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (auto p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

TEST(MarketBlocks, NoBarsMeansNoData) {
  Center c;
  c.write("sh.000001", day("2024-03-01"), day("2024-05-10"));  // an A index, not HK
  auto [env, env_meta] = format_market_environment_block("HK", "2024-05-10");
  auto [hist, hist_meta] = format_market_history_block("HK", 60, "2024-05-10");
  auto [ind, ind_meta] = format_market_indicator_block("HK", 60, "2024-05-10");
  EXPECT_EQ(env, "");
  EXPECT_EQ(hist, "");
  EXPECT_EQ(ind, "");
  EXPECT_EQ(meta_text(env_meta, "skip_reason"), "no_data");
  EXPECT_EQ(meta_text(hist_meta, "skip_reason"), "no_data");
  EXPECT_EQ(meta_text(ind_meta, "skip_reason"), "no_data");
  // Bars that all lie after the date are no data either.
  EXPECT_EQ(meta_text(format_market_environment_block("A", "2024-02-20").second, "skip_reason"),
            "no_data");
}

TEST(MarketBlocks, SnapshotOlderThanAWeekIsStale) {
  Center c;
  c.write("hk.HSI", day("2024-03-01"), day("2024-05-01"));
  c.write("hk.HSTECH", day("2024-03-01"), day("2024-04-30"));
  auto fresh = format_market_environment_block("hk", "2024-05-08");  // 7 days: still fresh
  EXPECT_NE(fresh.first, "");
  EXPECT_EQ(meta_text(fresh.second, "latest_bar_date"), "2024-05-01");
  auto stale = format_market_environment_block("HK", "2024-05-09");
  EXPECT_EQ(stale.first, "");
  EXPECT_EQ(meta_text(stale.second, "skip_reason"), "stale_data");
  // History is not judged by age.
  EXPECT_NE(format_market_history_block("HK", 60, "2024-05-09").first, "");
}

TEST(MarketBlocks, SnapshotShowsTheLastBarOnOrBeforeTheDate) {
  Center c;
  c.write("us.SPX", day("2024-03-01"), day("2024-06-28"));
  auto [text, meta] = format_market_environment_block("US", "2024-05-10_1530");
  EXPECT_THAT(text, HasSubstr("| 标普500 | us.SPX | 2024-05-10 | "));
  EXPECT_THAT(text, Not(HasSubstr("2024-05-13")));
  EXPECT_EQ(meta_text(meta, "as_of"), "2024-05-10");
  // Indices without a file are listed as missing, not shown.
  EXPECT_THAT(text, Not(HasSubstr("纳斯达克")));
  EXPECT_EQ(safe_json_dumps(*json_find(meta, "missing")), R"(["us.IXIC", "us.DJI"])");
}

TEST(MarketBlocks, HistoryAndIndicatorsEndAtTheDate) {
  Center c;
  c.write("us.SPX", day("2023-01-02"), day("2024-06-28"));
  c.write("us.IXIC", day("2024-05-06"), day("2024-06-28"));  // a short history
  auto hist = format_market_history_block("US", 3, "2024-05-10").first;
  EXPECT_THAT(
      hist,
      HasSubstr("#### 标普500（us.SPX）\n| 日期 | 开盘 | 最高 | 最低 | 收盘 | 成交量 | 涨跌幅 |"));
  EXPECT_EQ(count(hist, "| 2024-05-"), 3 + 3);  // three rows per index
  EXPECT_THAT(hist, HasSubstr("| 2024-05-08 |"));
  EXPECT_THAT(hist, Not(HasSubstr("2024-05-07")));
  EXPECT_THAT(hist, Not(HasSubstr("2024-05-13")));

  auto ind = format_market_indicator_block("US", 5, "2024-05-10").first;
  EXPECT_THAT(ind, HasSubstr("| 日期 | 收盘 | EMA5 | EMA20 | EMA60 |"));
  EXPECT_EQ(count(ind, "\n| 2024-05-"), 5 + 5);
  EXPECT_THAT(ind, Not(HasSubstr("2024-05-13")));
  // The long history has warmed-up indicators on every row shown.
  auto spx = ind.substr(0, ind.find("#### 纳斯达克"));
  EXPECT_THAT(spx, Not(HasSubstr("—")));
}

TEST(MarketBlocks, BadDatesAreRejected) {
  Center c;
  EXPECT_THROW(format_market_environment_block("A", "2024-13-01"), std::invalid_argument);
  EXPECT_THROW(format_market_history_block("A", 60, "../x"), std::invalid_argument);
  EXPECT_THROW(format_market_history_block("A", 0, "2024-05-10"), std::invalid_argument);
}

}  // namespace
}  // namespace zorvane::utils
