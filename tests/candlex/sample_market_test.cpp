// The built-in sample market: determinism, bar consistency, coverage, and the data center
// that candlex-sample writes.

#include "candlex/sample_market.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>

#include "candlex/catalog.hpp"
#include "candlex/csv_reader.hpp"
#include "candlex/data_center.hpp"
#include "candlex/etf_universe.hpp"
#include "candlex/market_data.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

using candlex::BarTable;
using zorvane::utils::iso_date;
using zorvane::utils::parse_iso_date;

void expect_same_bars(const BarTable& a, const BarTable& b, const std::string& what) {
  ASSERT_EQ(a.dates(), b.dates()) << what;
  for (const char* col : {"open", "high", "low", "close", "volume", "amount"})
    EXPECT_EQ(a.col(col), b.col(col)) << what << " " << col;
}

TEST(SampleMarket, HistoryDoesNotDependOnTheLastGeneratedDay) {
  const auto short_end = parse_iso_date("2024-06-28");
  const auto today = zorvane::utils::today_local();
  for (const char* code : {"sh.000001", "hk.HSI", "us.SPX", "510300", "sh.600519", "us.NVDA"}) {
    const auto* sec = candlex::find_sample_security(code);
    ASSERT_NE(sec, nullptr) << code;
    auto shorter = candlex::generate_sample_bars(*sec, short_end);
    auto longer = candlex::generate_sample_bars(*sec, today);
    ASSERT_GT(longer.size(), shorter.size()) << code;
    EXPECT_EQ(iso_date(shorter.last_date()), "2024-06-28") << code;
    expect_same_bars(shorter, longer.until(short_end), code);
  }
}

TEST(SampleMarket, BarsAreConsistentAndPlausible) {
  const auto end = parse_iso_date("2024-06-28");
  std::set<double> last_closes;
  int with_crash = 0;
  for (const auto& sec : candlex::sample_securities()) {
    auto t = candlex::generate_sample_bars(sec, end);
    ASSERT_GT(t.size(), 2000u) << sec.code;
    const auto &o = t.col("open"), &h = t.col("high"), &l = t.col("low"), &c = t.col("close"),
               &v = t.col("volume"), &a = t.col("amount");
    double peak = 0, worst_drawdown = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
      ASSERT_GT(l[i], 0) << sec.code << " row " << i;
      ASSERT_LE(l[i], std::min(o[i], c[i])) << sec.code << " row " << i;
      ASSERT_GE(h[i], std::max(o[i], c[i])) << sec.code << " row " << i;
      ASSERT_GT(v[i], 0) << sec.code << " row " << i;
      ASSERT_EQ(a[i], c[i] * v[i]) << sec.code << " row " << i;
      // Ten years of walk stay within a plausible band around the base level.
      ASSERT_LT(c[i], sec.base_price * 8) << sec.code << " row " << i;
      ASSERT_GT(c[i], sec.base_price / 8) << sec.code << " row " << i;
      peak = std::max(peak, c[i]);
      worst_drawdown = std::max(worst_drawdown, 1 - c[i] / peak);
    }
    if (worst_drawdown > 0.25) ++with_crash;
    last_closes.insert(c.back() / sec.base_price);
    // Bars fall on the security's market calendar: weekdays only.
    for (auto d : t.dates()) ASSERT_LT(zorvane::utils::weekday_index(d), 5) << sec.code;
  }
  // Different codes walk differently, and deep sell-offs occur in the market.
  EXPECT_EQ(last_closes.size(), candlex::sample_securities().size());
  EXPECT_GE(with_crash, 10);
}

TEST(SampleMarket, CoversCoreIndicesEtfsAndMarkedSampleStocks) {
  for (const auto& index : candlex::all_core_indices()) {
    const auto* sec = candlex::find_sample_security(index.code);
    ASSERT_NE(sec, nullptr) << index.code;
    EXPECT_EQ(sec->name, index.name);
  }
  for (const auto& etf : candlex::etf_universe())
    EXPECT_NE(candlex::find_sample_security(etf.code), nullptr);
  for (const char* code : {"sh.600519", "sz.000001", "sz.300750", "sh.688981", "hk.00700",
                           "hk.09988", "us.AAPL", "us.MSFT", "us.NVDA"}) {
    const auto* sec = candlex::find_sample_security(code);
    ASSERT_NE(sec, nullptr) << code;
    EXPECT_THAT(sec->name, testing::StartsWith("示例")) << code;
  }
  EXPECT_EQ(candlex::find_sample_security("sz.000002"), nullptr);
}

TEST(SampleMarket, ServedByGetAnyOhlcWithoutADataCenter) {
  zv_test::EnvGuard env{"CANDLEX_CENTER", nullptr};
  auto t = candlex::get_any_ohlc("600519", "2024-01-01", "2024-06-28");
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(iso_date(t.dates().front()), "2024-01-02");  // 1 January is a holiday
  EXPECT_EQ(iso_date(t.last_date()), "2024-06-28");
  EXPECT_TRUE(candlex::get_any_ohlc("sz.000002", "2024-01-01", "2024-06-28").empty());
  EXPECT_EQ(candlex::get_name_from_code("hk.00700"), "示例科技");
  EXPECT_EQ(candlex::get_name_from_code("us.SPX"), "标普500");
  EXPECT_EQ(candlex::get_name_from_code("sz.000002"), "");
  // A future end date gives the bars through today.
  auto through_today = candlex::get_any_ohlc("sh.000001", std::nullopt, "2099-01-01");
  EXPECT_LE(through_today.last_date(), zorvane::utils::today_local());
}

TEST(SampleMarket, CsvTextRoundTripsExactly) {
  const auto* sec = candlex::find_sample_security("us.AAPL");
  ASSERT_NE(sec, nullptr);
  auto bars = candlex::generate_sample_bars(*sec, parse_iso_date("2020-12-31"));
  auto back = candlex::parse_bar_csv(candlex::bars_to_csv(bars), "daily/us.AAPL.csv");
  expect_same_bars(bars, back, "us.AAPL");
}

TEST(CandlexSampleProgram, WrittenCenterEqualsTheInMemoryMarket) {
  zv_test::TempDir dir{"candlex-sample"};
  const std::string program = std::string(ZV_BINARY_DIR) + "/candlex-sample";
  const std::string cmd = program + " --out " + dir.str() + " --through 2024-06-28 > /dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  zv_test::EnvGuard env{"CANDLEX_CENTER", dir.str()};
  candlex::clear_center_cache();
  const auto end = parse_iso_date("2024-06-28");
  for (const auto& sec : candlex::sample_securities()) {
    auto from_disk = candlex::get_any_ohlc(sec.code, "2015-01-01", "2024-06-28");
    expect_same_bars(from_disk, candlex::generate_sample_bars(sec, end), sec.code);
    EXPECT_EQ(candlex::get_name_from_code(sec.code), sec.name);
  }
}

TEST(CandlexSampleProgram, RejectsBadOptions) {
  const std::string program = std::string(ZV_BINARY_DIR) + "/candlex-sample";
  auto status = [](const std::string& cmd) {
    int rc = std::system((cmd + " > /dev/null 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  };
  EXPECT_EQ(status(program + " --out /tmp/x --through 2024-02-30"), 2);
  EXPECT_EQ(status(program), 2);
  EXPECT_EQ(status(program + " --print-indices XX"), 2);
  EXPECT_EQ(status(program + " --help"), 0);
}

}  // namespace
