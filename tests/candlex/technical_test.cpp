// Behaviour of the indicator setters at the edges: window starts, short and empty tables,
// missing columns and values, flat and one-way prices, zero volume.

#include "candlex/technical.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using candlex::BarTable;
using candlex::Day;
namespace tech = candlex::technical;
using Column = std::vector<double>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const std::vector<std::string> kAllColumns = {
    "EMA_5",      "EMA_10",    "EMA_20",       "EMA_60", "EMA_120",    "MACD",       "MACD_signal",
    "MACD_hist",  "RSI",       "RSI_6",        "RSI_12", "RSI_24",     "upper_band", "middle_band",
    "lower_band", "Volume_MA", "Volume_Ratio", "ATR",    "Volatility", "K",          "D",
    "J",          "OBV",       "MFI",          "ADX",    "SAR",        "VWMA"};

std::vector<Day> days(std::size_t n) {
  std::vector<Day> out;
  for (std::size_t i = 0; i < n; ++i)
    out.push_back(Day{std::chrono::days{19000 + static_cast<int>(i)}});
  return out;
}

// A wobbly random-looking walk (deterministic), with high/low around open/close.
BarTable make_bars(std::size_t n, std::uint32_t seed = 7) {
  Column open, high, low, close, volume;
  double price = 20.0;
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    double u = (seed >> 8) / 16777216.0;
    double o = price;
    price *= 1.0 + (u - 0.48) * 0.06;
    open.push_back(o);
    close.push_back(price);
    high.push_back(std::max(o, price) * (1.0 + u * 0.01));
    low.push_back(std::min(o, price) * (1.0 - (1.0 - u) * 0.01));
    volume.push_back(1000.0 + static_cast<double>(seed % 5000));
  }
  BarTable t(days(n));
  t.set("open", open);
  t.set("high", high);
  t.set("low", low);
  t.set("close", close);
  t.set("volume", volume);
  return t;
}

BarTable flat_bars(std::size_t n, double price, double volume) {
  BarTable t(days(n));
  for (const char* name : {"open", "high", "low", "close"}) t.set(name, Column(n, price));
  t.set("volume", Column(n, volume));
  return t;
}

std::size_t leading_nans(const Column& c) {
  std::size_t i = 0;
  while (i < c.size() && std::isnan(c[i])) ++i;
  return i;
}

bool same_values(const Column& a, const Column& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))) return false;
  return true;
}

TEST(Technical, SetAllAddsEveryColumnOncePerBar) {
  BarTable t = make_bars(300);
  tech::set_all(t);
  for (const auto& name : kAllColumns) {
    ASSERT_TRUE(t.has(name)) << name;
    EXPECT_EQ(t.col(name).size(), 300u) << name;
  }
  // Setting again replaces the columns in place instead of adding duplicates.
  auto before = t.columns();
  BarTable copy = t;
  tech::set_all(t);
  EXPECT_EQ(t.columns(), before);
  for (const auto& name : kAllColumns)
    EXPECT_TRUE(same_values(t.col(name), copy.col(name))) << name;
}

// Each column's first value sits on the documented bar, for tables shorter and longer than
// the window; once started, a column has no gaps.
TEST(Technical, FirstValueBarsOnShortAndLongTables) {
  struct Start {
    const char* name;
    std::size_t first;
  };
  const std::vector<Start> starts = {{"EMA_5", 0},
                                     {"EMA_120", 0},
                                     {"MACD", 0},
                                     {"MACD_signal", 0},
                                     {"MACD_hist", 0},
                                     {"RSI", 12},
                                     {"RSI_6", 6},
                                     {"RSI_12", 12},
                                     {"RSI_24", 24},
                                     {"upper_band", 19},
                                     {"middle_band", 19},
                                     {"lower_band", 19},
                                     {"Volume_MA", 4},
                                     {"Volume_Ratio", 5},
                                     {"ATR", 14},
                                     {"Volatility", 20},
                                     {"K", 8},
                                     {"D", 8},
                                     {"J", 8},
                                     {"OBV", 0},
                                     {"MFI", 14},
                                     {"ADX", 27},
                                     {"SAR", 1},
                                     {"VWMA", 19}};
  for (std::size_t n : {0u, 1u, 2u, 5u, 8u, 9u, 14u, 15u, 20u, 21u, 27u, 28u, 60u}) {
    BarTable t = make_bars(n);
    tech::set_all(t);
    for (const auto& s : starts) {
      const Column& c = t.col(s.name);
      ASSERT_EQ(c.size(), n) << s.name;
      std::size_t lead = leading_nans(c);
      EXPECT_EQ(lead, std::min(s.first, n)) << s.name << " on " << n << " bars";
      for (std::size_t i = lead; i < n; ++i)
        EXPECT_TRUE(std::isfinite(c[i])) << s.name << " bar " << i;
    }
  }
}

TEST(Technical, EmptyTableGetsEmptyColumns) {
  BarTable bare;  // no columns at all, as a code without data returns
  tech::set_all(bare);
  for (const auto& name : kAllColumns) {
    ASSERT_TRUE(bare.has(name)) << name;
    EXPECT_TRUE(bare.col(name).empty()) << name;
  }
}

TEST(Technical, TableWithoutCloseIsRejected) {
  BarTable t(days(3));
  t.set("open", {1, 2, 3});
  using Setter = std::function<void(BarTable&)>;
  for (const Setter& set :
       {Setter(tech::set_ema), Setter(tech::set_macd),
        Setter([](BarTable& b) { tech::set_rsi(b, 12); }), Setter(tech::set_boll),
        Setter([](BarTable& b) { tech::set_volume(b); }),
        Setter([](BarTable& b) { tech::set_all(b); })}) {
    EXPECT_THROW(set(t), std::invalid_argument);
    EXPECT_EQ(t.columns(), std::vector<std::string>{"open"});
  }
}

// Without high and low every range indicator uses close for both.
TEST(Technical, MissingHighLowFallsBackToClose) {
  BarTable full = make_bars(200);
  BarTable closes_only(full.dates());
  closes_only.set("close", full.col("close"));
  closes_only.set("volume", full.col("volume"));
  full.set("high", full.col("close"));
  full.set("low", full.col("close"));
  tech::set_all(full);
  tech::set_all(closes_only);
  for (const auto& name : kAllColumns)
    EXPECT_TRUE(same_values(full.col(name), closes_only.col(name))) << name;
  // With high = low = close the true range is the close-to-close move.
  const Column& close = full.col("close");
  double first_atr = 0;
  for (std::size_t i = 1; i <= 14; ++i) first_atr += std::abs(close[i] - close[i - 1]) / 14;
  EXPECT_NEAR(closes_only.col("ATR")[14], first_atr, 1e-12);
}

TEST(Technical, MissingVolumeLeavesVolumeColumnsNaN) {
  BarTable t = make_bars(100);
  t.drop("volume");
  tech::set_all(t);
  for (const char* name : {"Volume_MA", "Volume_Ratio", "OBV", "MFI", "VWMA"}) {
    ASSERT_EQ(t.col(name).size(), 100u);
    EXPECT_EQ(leading_nans(t.col(name)), 100u) << name;
  }
  for (const char* name : {"ATR", "Volatility", "ADX", "SAR", "K"})
    EXPECT_TRUE(std::isfinite(t.last(name))) << name;
}

// The table without the given rows.
BarTable without_rows(const BarTable& t, const std::vector<std::size_t>& rows) {
  auto dropped = [&](std::size_t i) {
    return std::find(rows.begin(), rows.end(), i) != rows.end();
  };
  std::vector<Day> kept_days;
  for (std::size_t i = 0; i < t.size(); ++i)
    if (!dropped(i)) kept_days.push_back(t.dates()[i]);
  BarTable out(kept_days);
  for (const auto& name : t.columns()) {
    Column c;
    for (std::size_t i = 0; i < t.size(); ++i)
      if (!dropped(i)) c.push_back(t.col(name)[i]);
    out.set(name, c);
  }
  return out;
}

// Column `name` of `gappy` equals the one of `compact` on the rows kept and is NaN elsewhere.
void expect_skipped(const BarTable& gappy, const BarTable& compact, const char* name,
                    const std::vector<std::size_t>& holes) {
  const Column& g = gappy.col(name);
  const Column& c = compact.col(name);
  std::size_t k = 0;
  for (std::size_t i = 0; i < g.size(); ++i) {
    if (std::find(holes.begin(), holes.end(), i) != holes.end()) {
      EXPECT_TRUE(std::isnan(g[i])) << name << " bar " << i;
      continue;
    }
    ASSERT_TRUE(same_values({g[i]}, {c[k]})) << name << " bar " << i;
    ++k;
  }
}

// A bar with a missing input is left out: the columns equal those of the table without that
// bar, with NaN on it. One bad bar must not poison the recursive indicators for good.
TEST(Technical, MissingValuesAreSkippedNotPropagated) {
  const BarTable full = make_bars(400);
  struct Hole {
    std::size_t row;
    const char* column;
  };
  const std::vector<Hole> holes = {{0, "close"},   {3, "close"},   {37, "high"},  {38, "low"},
                                   {90, "volume"}, {150, "close"}, {399, "close"}};
  BarTable gappy = full;
  for (const auto& h : holes) {
    Column c = gappy.col(h.column);
    c[h.row] = kNaN;
    gappy.set(h.column, c);
  }
  tech::set_all(gappy);
  auto rows_of = [&](std::initializer_list<std::string_view> inputs) {
    std::vector<std::size_t> rows;
    for (const auto& h : holes)
      for (auto in : inputs)
        if (in == h.column) rows.push_back(h.row);
    return rows;
  };
  struct Group {
    std::vector<std::size_t> holes;
    std::vector<const char*> columns;
  };
  const std::vector<Group> groups = {
      {rows_of({"close"}),
       {"EMA_5", "EMA_120", "MACD", "MACD_hist", "RSI", "RSI_24", "upper_band", "Volatility"}},
      {rows_of({"volume"}), {"Volume_MA", "Volume_Ratio"}},
      {rows_of({"high", "low", "close"}), {"ATR", "K", "D", "J", "ADX", "SAR"}},
      {rows_of({"close", "volume"}), {"OBV", "VWMA"}},
      {rows_of({"high", "low", "close", "volume"}), {"MFI"}},
  };
  for (const auto& group : groups) {
    BarTable compact = without_rows(full, group.holes);
    tech::set_all(compact);
    for (const char* name : group.columns) expect_skipped(gappy, compact, name, group.holes);
  }
}

TEST(Technical, FlatPricesGiveNeutralOrZeroReadings) {
  BarTable t = flat_bars(80, 10.0, 500.0);
  tech::set_all(t);
  EXPECT_DOUBLE_EQ(t.last("RSI"), 50.0);  // nothing rose or fell
  EXPECT_DOUBLE_EQ(t.last("K"), 50.0);    // zero high-low range
  EXPECT_DOUBLE_EQ(t.last("D"), 50.0);
  EXPECT_DOUBLE_EQ(t.last("MFI"), 50.0);  // no money flowed either way
  EXPECT_DOUBLE_EQ(t.last("ADX"), 0.0);
  EXPECT_DOUBLE_EQ(t.last("ATR"), 0.0);
  EXPECT_DOUBLE_EQ(t.last("Volatility"), 0.0);
  EXPECT_DOUBLE_EQ(t.last("upper_band"), 10.0);
  EXPECT_DOUBLE_EQ(t.last("lower_band"), 10.0);
  EXPECT_DOUBLE_EQ(t.last("Volume_Ratio"), 1.0);
  EXPECT_DOUBLE_EQ(t.last("OBV"), 500.0);  // unchanged closes leave OBV at the first volume
  EXPECT_DOUBLE_EQ(t.last("VWMA"), 10.0);
}

TEST(Technical, OneWayPricesSaturateTheOscillators) {
  BarTable up(days(60)), down(days(60));
  Column rising, falling;
  for (int i = 0; i < 60; ++i) rising.push_back(10.0 + i), falling.push_back(100.0 - i);
  for (auto* t : {&up, &down}) t->set("volume", Column(60, 100.0));
  up.set("close", rising);
  down.set("close", falling);
  tech::set_all(up);
  tech::set_all(down);
  EXPECT_DOUBLE_EQ(up.last("RSI_24"), 100.0);
  EXPECT_DOUBLE_EQ(down.last("RSI_24"), 0.0);
  EXPECT_DOUBLE_EQ(up.last("MFI"), 100.0);
  EXPECT_DOUBLE_EQ(down.last("MFI"), 0.0);
  EXPECT_DOUBLE_EQ(up.last("ADX"), 100.0);
  EXPECT_DOUBLE_EQ(up.last("OBV"), 100.0 * 60);
  EXPECT_DOUBLE_EQ(down.last("OBV"), 100.0 - 100.0 * 59);
  // A steady rise never touches the SAR, which stays below every close.
  const Column& sar = up.col("SAR");
  for (std::size_t i = 1; i < 60; ++i) EXPECT_LT(sar[i], rising[i]) << i;
}

TEST(Technical, ZeroVolumeWindowsHaveNoRatioOrWeightedMean) {
  BarTable t = make_bars(60);
  Column v = t.col("volume");
  // Fractional and huge volumes before the quiet run leave rounding residue in running sums.
  for (std::size_t i = 0; i < 20; ++i) v[i] = i % 3 ? 0.1 * static_cast<double>(i) : 3.3e11;
  for (std::size_t i = 20; i < 45; ++i) v[i] = 0.0;
  t.set("volume", v);
  tech::set_all(t);
  for (std::size_t i = 24; i < 45; ++i) EXPECT_EQ(t.col("Volume_MA")[i], 0.0) << "bar " << i;
  EXPECT_TRUE(std::isnan(t.col("Volume_Ratio")[30]));
  EXPECT_TRUE(std::isnan(t.col("VWMA")[44]));
  EXPECT_TRUE(std::isfinite(t.col("VWMA")[45]));       // one traded bar is enough
  EXPECT_DOUBLE_EQ(t.col("MFI")[44], 50.0);            // the 14 flows before bar 45 are all zero
  EXPECT_TRUE(std::isnan(t.col("Volume_Ratio")[45]));  // the five bars before traded nothing
  EXPECT_TRUE(std::isfinite(t.col("Volume_Ratio")[50]));
}

TEST(Technical, RsiPeriodSelectsTheRsiColumn) {
  BarTable t = make_bars(100);
  tech::set_rsi(t, 6);
  EXPECT_TRUE(same_values(t.col("RSI"), t.col("RSI_6")));
  tech::set_rsi(t);
  EXPECT_TRUE(same_values(t.col("RSI"), t.col("RSI_12")));
  tech::set_rsi(t, 3);
  EXPECT_EQ(leading_nans(t.col("RSI")), 3u);
  EXPECT_THROW(tech::set_rsi(t, 0), std::invalid_argument);
  EXPECT_THROW(tech::set_rsi(t, -5), std::invalid_argument);
}

// EMAs start from the first close (alpha 2/(n+1)), not from a mean of the first n closes.
TEST(Technical, EmaIsSeededWithTheFirstClose) {
  BarTable t(days(3));
  t.set("close", {10, 11, 10.5});
  tech::set_ema(t);
  EXPECT_EQ(t.col("EMA_5")[0], 10.0);
  EXPECT_EQ(t.col("EMA_120")[0], 10.0);
  EXPECT_DOUBLE_EQ(t.col("EMA_5")[1], 10.0 + 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(t.col("EMA_5")[2], 10.0 + 1.0 / 3.0 + (10.5 - 10.0 - 1.0 / 3.0) / 3.0);
}

}  // namespace
