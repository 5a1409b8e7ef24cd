#include "candlex/csv_tail.hpp"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "candlex/csv_reader.hpp"

namespace candlex {

namespace {

// The header and the first data rows are looked for in this many bytes at the start.
constexpr std::size_t kHeadBytes = 8 * 1024;
// Reads from the end before giving up and reading the whole file.
constexpr int kMaxTailReads = 4;

// The bars of `parsed` from `from` on, less the non-positive ones (with the warning).
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
    const auto rows = complete_lines(head.view(), header_end);
    // The first complete row alone (the head may end mid-row).
    const auto one = rows.substr(0, rows.find('\n') + 1);
    auto parsed = parse_daily_csv(std::string(header).append(one), source);
    if (!parsed.table.empty()) first_row = parsed.table.dates().front();
  } catch (const std::runtime_error&) {
    return whole();
  }
  if (!first_row) return whole();

  std::size_t chunk = first_chunk;
  std::string text;
  for (int attempt = 0; attempt < kMaxTailReads; ++attempt) {
    if (chunk + header_end >= size) return whole();
    const std::uint64_t offset = size - chunk;
    const auto tail = file.read_range(offset, chunk);
    // Skip the partial row the read began in.
    const auto cut = tail.view().find('\n');
    if (cut == std::string_view::npos) {
      chunk *= 4;
      continue;
    }
    const std::string_view rows = tail.view().substr(cut + 1);
    text.assign(header).append(rows);
    ParsedBars parsed;
    try {
      parsed = parse_daily_csv(text, source);
    } catch (const std::runtime_error&) {
      return whole();  // so the error names the right line
    }
    if (!parsed.in_order || parsed.table.empty() || *first_row > parsed.table.dates().front())
      return whole();
    const Day oldest = parsed.table.dates().front(), newest = parsed.table.dates().back();
    // Covered once a row before the window has been read.
    if (oldest < from) return finish(std::move(parsed.table), from, source);
    // Grow by the bytes per day seen so far, with a margin.
    const auto span = std::max<long>(1, (newest - oldest).count());
    const auto wanted = std::max<long>(1, (newest - from).count() + 7);
    const double per_day = static_cast<double>(rows.size()) / static_cast<double>(span);
    chunk = std::max(chunk * 2,
                     static_cast<std::size_t>(per_day * static_cast<double>(wanted) * 1.25) + 4096);
  }
  return whole();
}

}  // namespace candlex
