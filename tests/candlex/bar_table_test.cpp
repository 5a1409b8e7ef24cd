#include "candlex/bar_table.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using candlex::BarTable;
using candlex::Day;
using namespace std::chrono;
using Column = std::vector<double>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Day d(int y, unsigned m, unsigned day) {
  return sys_days(year{y} / month{m} / day);
}

BarTable daily(std::vector<Day> dates, Column open, Column high, Column low, Column close,
               Column volume) {
  BarTable t(std::move(dates));
  t.set("open", std::move(open));
  t.set("high", std::move(high));
  t.set("low", std::move(low));
  t.set("close", std::move(close));
  t.set("volume", std::move(volume));
  return t;
}

TEST(BarTable, ColumnsKeepOrderAndReplaceInPlace) {
  BarTable t({d(2024, 1, 2), d(2024, 1, 3)});
  t.set("close", {1, 2});
  t.set("open", {3, 4});
  t.set("close", {5, 6});
  EXPECT_EQ(t.columns(), (std::vector<std::string>{"close", "open"}));
  EXPECT_EQ(t.col("close"), (Column{5, 6}));
  EXPECT_EQ(t.last("close"), 6);
  EXPECT_EQ(t.at("open", 0), 3);
  t.drop("close");
  t.drop("absent");
  EXPECT_EQ(t.columns(), (std::vector<std::string>{"open"}));
}

TEST(BarTable, BadAccessThrowsNamingTheProblem) {
  BarTable t({d(2024, 1, 2)});
  t.set("close", {1});
  auto message = [](auto&& fn) {
    try {
      fn();
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  EXPECT_THROW(t.set("open", {1, 2}), std::invalid_argument);
  EXPECT_NE(message([&] { t.set("open", {1, 2}); }).find("'open'"), std::string::npos);
  EXPECT_THROW(t.col("volume"), std::out_of_range);
  EXPECT_NE(message([&] { t.col("volume"); }).find("'volume'"), std::string::npos);
  EXPECT_THROW(t.at("close", 1), std::out_of_range);
  BarTable empty;
  EXPECT_THROW(empty.last_date(), std::out_of_range);
  BarTable no_rows(std::vector<Day>{});
  no_rows.set("close", {});
  EXPECT_THROW(no_rows.last("close"), std::out_of_range);
}

TEST(BarTable, CopiesAreIndependentAndSlicesClamp) {
  BarTable t({d(2024, 1, 2), d(2024, 1, 3), d(2024, 1, 4), d(2024, 1, 5)});
  t.set("close", {1, 2, 3, 4});
  BarTable copy = t;
  copy.set("close", {9, 9, 9, 9});
  EXPECT_EQ(t.col("close"), (Column{1, 2, 3, 4}));

  EXPECT_EQ(t.slice(1, 3).col("close"), (Column{2, 3}));
  EXPECT_EQ(t.slice(3, 100).col("close"), (Column{4}));
  EXPECT_TRUE(t.slice(5, 2).empty());
  EXPECT_EQ(t.tail(2).dates(), (std::vector<Day>{d(2024, 1, 4), d(2024, 1, 5)}));
  EXPECT_EQ(t.tail(10).size(), 4u);
  EXPECT_EQ(t.until(d(2024, 1, 3)).col("close"), (Column{1, 2}));
  EXPECT_EQ(t.until(d(2023, 12, 31)).size(), 0u);
  EXPECT_EQ(t.until(d(2024, 1, 3)).columns(), t.columns());
}

// Two weeks with a mid-week holiday and a week ending on Thursday; the weekly bar is
// labelled with the week's last trading day.
TEST(ToWeekly, AggregatesMondayToSundayWeeks) {
  BarTable t = daily({d(2024, 1, 2), d(2024, 1, 3), d(2024, 1, 5),    // Tue, Wed, Fri
                      d(2024, 1, 8), d(2024, 1, 9), d(2024, 1, 11)},  // Mon, Tue, Thu
                     {10, 11, 12, 20, 21, 22}, {11, 15, 13, 25, 22, 23}, {9, 10, 8, 19, 18, 21},
                     {10.5, 12, 12.5, 21, 20, 22.5}, {100, 200, 300, 10, 20, 30});
  t.set("amount", {1, 2, 3, 4, 5, 6});
  t.set("EMA_5", {1, 1, 1, 1, 1, 1});
  BarTable w = candlex::to_weekly(t);
  EXPECT_EQ(w.dates(), (std::vector<Day>{d(2024, 1, 5), d(2024, 1, 11)}));
  EXPECT_EQ(w.col("open"), (Column{10, 20}));
  EXPECT_EQ(w.col("high"), (Column{15, 25}));
  EXPECT_EQ(w.col("low"), (Column{8, 18}));
  EXPECT_EQ(w.col("close"), (Column{12.5, 22.5}));
  EXPECT_EQ(w.col("volume"), (Column{600, 60}));
  EXPECT_EQ(w.col("amount"), (Column{6, 15}));
  EXPECT_FALSE(w.has("EMA_5"));  // indicator columns are not carried over
}

TEST(ToWeekly, WeekBoundariesAcrossYearsEpochAndSundays) {
  // 2024-12-30 (Mon) to 2025-01-03 (Fri) is one week; Sunday 2025-01-05 closes it too.
  BarTable y = daily({d(2024, 12, 30), d(2025, 1, 3), d(2025, 1, 5), d(2025, 1, 6)}, {1, 2, 3, 4},
                     {1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4}, {1, 1, 1, 1});
  EXPECT_EQ(candlex::to_weekly(y).dates(), (std::vector<Day>{d(2025, 1, 5), d(2025, 1, 6)}));
  // Around 1970-01-01 (a Thursday): 1969-12-29 (Mon) .. 1970-01-04 (Sun) is one week, and
  // Sunday 1969-12-28 belongs to the week before.
  BarTable e =
      daily({d(1969, 12, 28), d(1969, 12, 29), d(1970, 1, 2), d(1970, 1, 4), d(1970, 1, 5)},
            {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}, {1, 1, 1, 1, 1});
  BarTable we = candlex::to_weekly(e);
  EXPECT_EQ(we.dates(), (std::vector<Day>{d(1969, 12, 28), d(1970, 1, 4), d(1970, 1, 5)}));
  EXPECT_EQ(we.col("volume"), (Column{1, 3, 1}));
}

TEST(ToWeekly, MissingValuesAndColumns) {
  BarTable t({d(2024, 1, 2), d(2024, 1, 3), d(2024, 1, 4)});
  t.set("open", {kNaN, 11, 12});
  t.set("high", {kNaN, 14, 13});
  t.set("low", {9, kNaN, 10});
  t.set("close", {10, 12, kNaN});
  t.set("volume", {kNaN, 5, 6});
  BarTable w = candlex::to_weekly(t);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w.last("open"), 11);  // first open that exists
  EXPECT_EQ(w.last("high"), 14);
  EXPECT_EQ(w.last("low"), 9);
  EXPECT_EQ(w.last("close"), 12);   // last close that exists
  EXPECT_EQ(w.last("volume"), 11);  // missing volume does not poison the sum
  EXPECT_FALSE(w.has("amount"));    // absent in, absent out

  BarTable empty;
  BarTable we = candlex::to_weekly(empty);
  EXPECT_TRUE(we.empty());
  EXPECT_TRUE(we.columns().empty());
}

}  // namespace
