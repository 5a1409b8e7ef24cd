#include "candlex/bar_table.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace candlex {

Day BarTable::last_date() const {
  if (dates_.empty()) throw std::out_of_range("bar table is empty");
  return dates_.back();
}

const std::vector<double>* BarTable::find(std::string_view name) const {
  for (const auto& [n, v] : cols_)
    if (n == name) return &v;
  return nullptr;
}

bool BarTable::has(std::string_view name) const { return find(name) != nullptr; }

std::vector<std::string> BarTable::columns() const {
  std::vector<std::string> out;
  out.reserve(cols_.size());
  for (const auto& c : cols_) out.push_back(c.first);
  return out;
}

const std::vector<double>& BarTable::col(std::string_view name) const {
  if (const auto* v = find(name)) return *v;
  throw std::out_of_range("bar table has no column '" + std::string(name) + "'");
}

double BarTable::last(std::string_view name) const {
  const auto& v = col(name);
  if (v.empty()) throw std::out_of_range("bar table is empty (column '" + std::string(name) + "')");
  return v.back();
}

double BarTable::at(std::string_view name, std::size_t row) const {
  const auto& v = col(name);
  if (row >= v.size())
    throw std::out_of_range("row " + std::to_string(row) + " out of range for column '" +
                            std::string(name) + "'");
  return v[row];
}

void BarTable::set(std::string_view name, std::vector<double> values) {
  if (values.size() != dates_.size())
    throw std::invalid_argument("column '" + std::string(name) + "' has " +
                                std::to_string(values.size()) + " values for " +
                                std::to_string(dates_.size()) + " rows");
  for (auto& [n, v] : cols_) {
    if (n == name) {
      v = std::move(values);
      return;
    }
  }
  cols_.emplace_back(std::string(name), std::move(values));
}

void BarTable::drop(std::string_view name) {
  std::erase_if(cols_, [&](const auto& c) { return c.first == name; });
}

BarTable BarTable::slice(std::size_t begin, std::size_t end) const {
  end = std::min(end, dates_.size());
  begin = std::min(begin, end);
  auto b = static_cast<std::ptrdiff_t>(begin);
  auto e = static_cast<std::ptrdiff_t>(end);
  BarTable out(std::vector<Day>(dates_.begin() + b, dates_.begin() + e));
  for (const auto& [n, v] : cols_) out.cols_.emplace_back(n, std::vector<double>(v.begin() + b, v.begin() + e));
  return out;
}

BarTable BarTable::tail(std::size_t n) const {
  return slice(dates_.size() > n ? dates_.size() - n : 0, dates_.size());
}

BarTable BarTable::until(Day day) const {
  auto it = std::upper_bound(dates_.begin(), dates_.end(), day);
  return slice(0, static_cast<std::size_t>(it - dates_.begin()));
}

BarTable to_weekly(const BarTable& daily) {
  using std::chrono::days;
  const auto nan = std::numeric_limits<double>::quiet_NaN();
  const auto& dates = daily.dates();
  auto column = [&](std::string_view name) -> const std::vector<double>* {
    return daily.has(name) ? &daily.col(name) : nullptr;
  };
  const auto* open = column("open");
  const auto* high = column("high");
  const auto* low = column("low");
  const auto* close = column("close");
  const auto* volume = column("volume");
  const auto* amount = column("amount");

  std::vector<Day> wdates;
  std::vector<double> wo, wh, wl, wc, wv, wa;
  // Week index: days since the Monday of 1970-01-05 divided by 7.
  auto week_of = [](Day d) {
    auto n = (d - Day{std::chrono::days{4}}).count();
    return n >= 0 ? n / 7 : (n - 6) / 7;
  };
  for (std::size_t i = 0; i < dates.size(); ++i) {
    bool new_week = wdates.empty() || week_of(dates[i]) != week_of(wdates.back());
    auto val = [&](const std::vector<double>* c) { return c ? (*c)[i] : nan; };
    if (new_week) {
      wdates.push_back(dates[i]);
      wo.push_back(val(open));
      wh.push_back(val(high));
      wl.push_back(val(low));
      wc.push_back(val(close));
      wv.push_back(val(volume));
      wa.push_back(val(amount));
      continue;
    }
    wdates.back() = dates[i];
    if (std::isnan(wo.back())) wo.back() = val(open);
    double h = val(high), l = val(low);
    if (!std::isnan(h)) wh.back() = std::isnan(wh.back()) ? h : std::max(wh.back(), h);
    if (!std::isnan(l)) wl.back() = std::isnan(wl.back()) ? l : std::min(wl.back(), l);
    if (!std::isnan(val(close))) wc.back() = val(close);
    double v = val(volume), a = val(amount);
    if (!std::isnan(v)) wv.back() = std::isnan(wv.back()) ? v : wv.back() + v;
    if (!std::isnan(a)) wa.back() = std::isnan(wa.back()) ? a : wa.back() + a;
  }
  BarTable out(std::move(wdates));
  if (open) out.set("open", std::move(wo));
  if (high) out.set("high", std::move(wh));
  if (low) out.set("low", std::move(wl));
  if (close) out.set("close", std::move(wc));
  if (volume) out.set("volume", std::move(wv));
  if (amount) out.set("amount", std::move(wa));
  return out;
}

}  // namespace candlex
