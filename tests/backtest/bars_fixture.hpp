#pragma once
// Hand-built daily bar tables for the backtest tests: row i is dated `first` plus i days.

#include <array>
#include <chrono>
#include <vector>

#include "candlex/bar_table.hpp"

namespace backtest_test {

using Ohlc = std::array<double, 4>;  // open, high, low, close

inline candlex::BarTable table_of(const std::vector<Ohlc>& rows, candlex::Day first) {
  std::vector<candlex::Day> dates;
  std::vector<double> o, h, l, c;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    dates.push_back(first + std::chrono::days{i});
    o.push_back(rows[i][0]);
    h.push_back(rows[i][1]);
    l.push_back(rows[i][2]);
    c.push_back(rows[i][3]);
  }
  candlex::BarTable t(dates);
  t.set("open", o);
  t.set("high", h);
  t.set("low", l);
  t.set("close", c);
  return t;
}

}  // namespace backtest_test
