#include "candlex/csv_tail.hpp"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "candlex/csv_reader.hpp"

namespace candlex {

namespace {

// The header and the first data row are looked for in this many bytes at the start.
constexpr std::size_t kHeadBytes = 2 * 1024;
// Reads from the end before giving up and reading the whole file.
constexpr int kMaxTailReads = 4;

// The bars of `table` from `from` on, less the non-positive ones (with the warning).
BarTable finish(BarTable table, Day from, std::string_view source) {
  const auto& d = table.dates();
  const auto first =
      static_cast<std::size_t>(std::lower_bound(d.begin(), d.end(), from) - d.begin());
  if (first > 0) table = table.slice(first, table.size());
  warn_dropped_bars(source, drop_non_positive_bars(table));
  return table;
}

// Complete lines of `text`: from `begin` through its last line break.
std::string_view complete_lines(std::string_view text, std::size_t begin) {
  const auto last = text.rfind('\n');
  if (last == std::string_view::npos || last < begin) return {};
  return text.substr(begin, last + 1 - begin);
}

}  // namespace

BarTable read_bar_csv_since(const DataFile& file, Day from, std::size_t first_chunk) {
  const std::string_view source = file.source();
  auto whole = [&] {
    return finish(parse_daily_csv(file.read_all().view(), source).table, from, source);
  };

  const std::uint64_t size = file.size();
  if (size <= 2 * first_chunk) return whole();

  // The header, and the date of the file's first data row: a file whose first row is later
  // than the rows at its end is not in date order.
  const auto head = file.read_range(0, kHeadBytes);
  const std::size_t header_end = csv_header_end(head.view());
  if (header_end == std::string_view::npos) return whole();
  const std::string_view header = head.view().substr(0, header_end);
  std::optional<Day> first_row;
  try {
    first_row = parse_daily_csv_rows(header, complete_lines(head.view(), header_end), source, from)
                    .first_date;
  } catch (const std::runtime_error&) {
    return whole();
  }
  if (!first_row) return whole();

  std::size_t chunk = first_chunk;
  for (int attempt = 0; attempt < kMaxTailReads; ++attempt) {
    if (chunk + header_end >= size) return whole();
    const auto tail = file.read_range(size - chunk, chunk);
    // Skip the partial row the read began in.
    const auto cut = tail.view().find('\n');
    if (cut == std::string_view::npos) {
      chunk *= 4;
      continue;
    }
    const std::string_view rows = tail.view().substr(cut + 1);
    ParsedBars parsed;
    try {
      parsed = parse_daily_csv_rows(header, rows, source, from);
    } catch (const std::runtime_error&) {
      return whole();  // so the error names the right line
    }
    if (!parsed.in_order || !parsed.first_date || *first_row > *parsed.first_date) return whole();
    // Covered once a row before the window has been read.
    if (parsed.reaches_before) {
      warn_dropped_bars(source, drop_non_positive_bars(parsed.table));
      // A copy of exact size: the parse reserved room for every row of the read, and a scan
      // keeps thousands of these tables.
      return parsed.table.slice(0, parsed.table.size());
    }
    if (parsed.table.empty()) return whole();
    // Grow by the bytes per day seen so far, with a margin.
    const Day oldest = parsed.table.dates().front(), newest = parsed.table.dates().back();
    const auto span = std::max<long>(1, (newest - oldest).count());
    const auto wanted = std::max<long>(1, (newest - from).count() + 7);
    const double per_day = static_cast<double>(rows.size()) / static_cast<double>(span);
    chunk = std::max(chunk * 2,
                     static_cast<std::size_t>(per_day * static_cast<double>(wanted) * 1.25) + 4096);
  }
  return whole();
}

}  // namespace candlex
