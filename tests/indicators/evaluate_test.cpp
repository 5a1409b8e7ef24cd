#include "indicators/evaluate.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "candlex/technical.hpp"
#include "morvik/pattern_fixtures.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace indicators;

candlex::BarTable bars(std::size_t n = 80) {
  return zv_test::clean_uptrend(n);
}

// Runs every test against an empty data center, so names are looked up there and the
// built-in sample market stays out of it.
class Evaluate : public ::testing::Test {
 protected:
  zv_test::TempDir center_{"zv-indicators"};
  zv_test::EnvGuard env_{"CANDLEX_CENTER", center_.str()};
};

TEST_F(Evaluate, PresentColumnsAreReadAsTheyAre) {
  auto df = bars();
  std::size_t n = df.size();
  df.set("MACD", std::vector<double>(n, 1.5));
  df.set("MACD_signal", std::vector<double>(n, 2.5));
  df.set("MACD_hist", std::vector<double>(n, -1.0));
  df.set("RSI", std::vector<double>(n, 42.0));
  auto m = get_macd_status(df);
  EXPECT_EQ(to_string(m), "DIF: 1.5, DEA:2.5, MACD_hist: -1.0");
  EXPECT_EQ(get_rsi_status(df).rsi, 42.0);
  EXPECT_FALSE(df.has("RSI_6"));  // set_rsi did not run

  // Only EMA_5 is tested: the other EMA columns are not added.
  auto e = bars();
  e.set("EMA_5", std::vector<double>(e.size(), 1.0));
  EXPECT_EQ(get_ma_status(e).ma_type, MA_Type::EMA);
  EXPECT_FALSE(e.has("EMA_10"));
}

TEST_F(Evaluate, MissingColumnsAreComputedInPlaceAndTheLastRowRead) {
  auto df = bars();
  auto reference = df;
  candlex::technical::set_all(reference);

  auto b = get_boll_status(df);
  EXPECT_TRUE(df.has("upper_band"));
  EXPECT_EQ(b.upper_band, reference.last("upper_band"));
  EXPECT_EQ(b.lower_band, reference.last("lower_band"));
  auto v = get_volume_status(df);
  EXPECT_EQ(v.volume, df.last("volume"));
  EXPECT_EQ(v.volume_ratio, reference.last("Volume_Ratio"));
  EXPECT_EQ(v.volatility, reference.last("Volatility"));
  EXPECT_TRUE(v.msg.empty());
  EXPECT_EQ(v.score, 0);
  EXPECT_EQ(get_rsi_status(df).rsi, reference.last("RSI_12"));  // period 12
  get_ma_status(df);
  EXPECT_TRUE(df.has("EMA_120"));
}

TEST_F(Evaluate, UnsupportedMovingAverageFailsBeforeTouchingTheTable) {
  auto df = bars();
  auto columns = df.columns();
  try {
    get_ma_status(df, MA_Type::SMA);
    FAIL() << "SMA accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "不支持的移动平均类型: 0。支持的类型为 'EMA'");
  }
  EXPECT_THROW(get_ma_status(df, MA_Type::T3), std::invalid_argument);
  EXPECT_EQ(df.columns(), columns);
}

TEST_F(Evaluate, StockStatusLeavesTheCallersTableAlone) {
  auto df = bars();
  auto columns = df.columns();
  auto close = df.col("close");
  StockStatus s = get_stock_status(df, "sh.688028");
  EXPECT_EQ(df.columns(), columns);
  EXPECT_EQ(df.col("close"), close);

  auto reference = df;
  candlex::technical::set_all(reference);
  EXPECT_EQ(s.code, "sh.688028");
  EXPECT_EQ(s.name, "");  // unknown in the (empty) data center
  EXPECT_EQ(s.price, df.last("close"));
  ASSERT_TRUE(s.macd_status && s.rsi_status && s.boll_status && s.volume_status && s.ma_status);
  EXPECT_EQ(s.macd_status->dif, reference.last("MACD"));
  EXPECT_EQ(s.rsi_status->rsi, reference.last("RSI"));
  EXPECT_EQ(s.boll_status->middle_band, reference.last("middle_band"));
  EXPECT_EQ(s.volume_status->atr, reference.last("ATR"));
  EXPECT_EQ(s.ma_status->ma_type, MA_Type::EMA);
}

TEST_F(Evaluate, NameComesFromTheMarketData) {
  {
    std::ofstream names(center_ / "names.csv");
    names << "code,name\nsh.600519,贵州茅台\n";
  }
  EXPECT_EQ(get_stock_status(bars(), "sh.600519").name, "贵州茅台");
}

TEST_F(Evaluate, YoungStockStillPrints) {
  auto s = get_stock_status(bars(3), "sz.300001");
  std::string text = to_string(s);
  EXPECT_NE(text.find("Volume_Ratio: nan"), std::string::npos) << text;
  EXPECT_NE(text.find("rsi: nan"), std::string::npos) << text;
}

TEST_F(Evaluate, EmptyTableFailsWithAnIndexError) {
  candlex::BarTable empty;
  EXPECT_THROW(get_stock_status(empty, "sh.600000"), std::out_of_range);
  EXPECT_THROW(get_macd_status(empty), std::out_of_range);
}

}  // namespace
