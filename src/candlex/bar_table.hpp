#pragma once
// Columnar bars of one security or index, oldest first.
//
// Row labels are dates; columns are named vectors of doubles kept in insertion order
// ("open", "high", "low", "close", "volume", optional "amount", then indicator columns).
// Missing values are NaN. Copies are deep (value semantics).

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace candlex {

using Day = std::chrono::sys_days;

class BarTable {
 public:
  BarTable() = default;
  explicit BarTable(std::vector<Day> dates) : dates_(std::move(dates)) {}

  bool empty() const { return dates_.empty(); }
  std::size_t size() const { return dates_.size(); }
  const std::vector<Day>& dates() const { return dates_; }
  // Date of the last row; throws std::out_of_range when empty.
  Day last_date() const;

  bool has(std::string_view name) const;
  // Column names in insertion order.
  std::vector<std::string> columns() const;
  // The column; throws std::out_of_range naming the column when absent.
  const std::vector<double>& col(std::string_view name) const;
  // Last value of the column; throws std::out_of_range when the column is absent or the
  // table is empty.
  double last(std::string_view name) const;
  // Value at a row; throws std::out_of_range for an absent column or row.
  double at(std::string_view name, std::size_t row) const;

  // Adds the column, or replaces it in place (keeping its position). Throws
  // std::invalid_argument when the length differs from the row count.
  void set(std::string_view name, std::vector<double> values);
  // Removes a column when present.
  void drop(std::string_view name);

  // Rows [begin, end) as a new table (clamped to the table).
  BarTable slice(std::size_t begin, std::size_t end) const;
  // The last n rows (all when n >= size()).
  BarTable tail(std::size_t n) const;
  // Rows whose date is on or before `day`.
  BarTable until(Day day) const;

 private:
  std::vector<Day> dates_;
  std::vector<std::pair<std::string, std::vector<double>>> cols_;

  const std::vector<double>* find(std::string_view name) const;
};

// Weekly bars from daily ones: each week (Monday to Sunday) becomes one bar labelled with
// its last trading day; open of the first day, high/low over the week, close of the last
// day, volume and amount summed. Other columns are not carried over.
BarTable to_weekly(const BarTable& daily);

}  // namespace candlex
