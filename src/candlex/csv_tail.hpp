#pragma once
// Reading only the recent part of a daily-bar CSV file: the rows dated on or after a given
// day, read from the end of the file. A scan needs a few hundred bars of histories that run
// to thousands, so this reads and parses a few kilobytes instead of the whole file.
//
// The result equals the full read cut to the same days whenever the file is well-formed and
// its rows are in date order. The tail is trusted only when the rows read are in order and
// the file's first row is not later than them; otherwise, and whenever the tail does not
// parse, the whole file is read (so errors name the right line). Every row read is checked;
// rows before those read are not, so damage there goes unnoticed.

#include <cstddef>

#include "candlex/bar_table.hpp"
#include "candlex/data_file.hpp"

namespace candlex {

// Bars of `file` dated on or after `from`, oldest first. Bars with a zero or negative price
// among them are dropped with one warning. Throws std::runtime_error naming the file and
// line for a malformed file. `first_chunk` is the size of the first read from the end
// (tests make it small to exercise the growing reads).
BarTable read_bar_csv_since(const DataFile& file, Day from, std::size_t first_chunk = 24 * 1024);

}  // namespace candlex
