#include "candlex/csv_reader.hpp"

#include "candlex/data_file.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace candlex {

namespace {

using zorvane::utils::quoted_text;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

enum Field { kDate, kOpen, kHigh, kLow, kClose, kVolume, kAmount, kFieldCount };

constexpr std::array<const char*, kFieldCount> kFieldNames = {"date",  "open",   "high",  "low",
                                                              "close", "volume", "amount"};

int field_of(std::string_view header) {
  struct Alias {
    std::string_view name;
    Field field;
  };
  static constexpr Alias kAliases[] = {
      {"date", kDate},     {"日期", kDate},   {"trade_date", kDate}, {"open", kOpen},
      {"开盘", kOpen},     {"开盘价", kOpen}, {"high", kHigh},       {"最高", kHigh},
      {"最高价", kHigh},   {"low", kLow},     {"最低", kLow},        {"最低价", kLow},
      {"close", kClose},   {"收盘", kClose},  {"收盘价", kClose},    {"volume", kVolume},
      {"成交量", kVolume}, {"vol", kVolume},  {"amount", kAmount},   {"成交额", kAmount},
  };
  std::string key = zorvane::utils::to_lower(zorvane::utils::trim(header));
  for (const auto& a : kAliases)
    if (a.name == key) return a.field;
  return -1;
}

[[noreturn]] void fail(std::string_view source, std::size_t line, const std::string& what) {
  throw std::runtime_error(std::string(source) + ":" + std::to_string(line) + ": " + what);
}

std::string_view strip_spaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int two(const char* p) {
  return (p[0] - '0') * 10 + (p[1] - '0');
}

// Dates of one month follow each other in a file, so the day number of the month's first day
// is worked out once per month.
class DayCache {
 public:
  std::optional<Day> get(int y, int m, int d) {
    if (y != y_ || m != m_) {
      const std::chrono::year_month_day first{std::chrono::year{y}, std::chrono::month{unsigned(m)},
                                              std::chrono::day{1}};
      if (!first.ok()) return std::nullopt;
      y_ = y, m_ = m;
      first_ = Day(first);
      days_ = static_cast<int>(unsigned((first.year() / first.month() / std::chrono::last).day()));
    }
    if (d < 1 || d > days_) return std::nullopt;
    return first_ + std::chrono::days{d - 1};
  }

 private:
  int y_ = -1, m_ = -1, days_ = 0;
  Day first_{};
};

std::optional<Day> to_day(std::string_view s, DayCache& cache) {
  const char* p = s.data();
  int y, m, d;
  auto digits = [&](std::size_t from, std::size_t n) {
    for (std::size_t i = from; i < from + n; ++i)
      if (p[i] < '0' || p[i] > '9') return false;
    return true;
  };
  if (s.size() == 10 && p[4] == '-' && p[7] == '-' && digits(0, 4) && digits(5, 2) &&
      digits(8, 2)) {
    y = two(p) * 100 + two(p + 2), m = two(p + 5), d = two(p + 8);
  } else if (s.size() == 8 && digits(0, 8)) {
    y = two(p) * 100 + two(p + 2), m = two(p + 4), d = two(p + 6);
  } else {
    return std::nullopt;
  }
  return cache.get(y, m, d);
}

constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// to_day for the ten bytes at `p` when they are "YYYY-MM-DD", checked eight bytes at a time:
// the common case, without a branch per character.
std::optional<Day> iso_day(const char* p, DayCache& cache) {
  std::uint64_t w;  // "YYYY-MM-", the first byte lowest
  std::memcpy(&w, p, 8);
  constexpr std::uint64_t kDigits = 0x00F0F000F0F0F0F0ull, kDashes = 0xFF0000FF00000000ull;
  // A byte is a digit when its high nibble is 3 before and after adding 6; a carry out of a
  // byte can only come from one that already failed.
  const bool ok = (w & kDigits) == (0x3030303030303030ull & kDigits) &&
                  ((w + 0x0606060606060606ull) & kDigits) == (0x3030303030303030ull & kDigits) &&
                  (w & kDashes) == 0x2D00002D00000000ull &&
                  static_cast<unsigned char>(p[8] - '0') < 10 &&
                  static_cast<unsigned char>(p[9] - '0') < 10;
  if (!ok) return std::nullopt;
  auto byte = [&](int i) { return static_cast<int>((w >> (8 * i)) & 0x0F); };
  return cache.get(byte(0) * 1000 + byte(1) * 100 + byte(2) * 10 + byte(3), byte(5) * 10 + byte(6),
                   two(p + 8));
}

// A plain decimal ("-123.45", at most 15 digits) from `p` up to the next comma or `end`:
// the position of that delimiter, with the value in `out`; nullptr for anything else (spaces,
// exponents, an empty cell), which the general path reads. Digits that fit in 2^53 and a
// power of ten up to 1e15 are both exact doubles, so the one division is correctly rounded
// and the value equals from_chars'.
const char* plain_decimal(const char* p, const char* end, double& out) {
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  const char* const start = p;
  const char* dot = nullptr;
  std::uint64_t mantissa = 0;
  for (; p != end; ++p) {
    const unsigned digit = static_cast<unsigned char>(*p) - '0';
    if (digit < 10) {
      mantissa = mantissa * 10 + digit;
    } else if (*p == '.' && !dot) {
      dot = p;
    } else if (*p == ',') {
      break;
    } else {
      return nullptr;
    }
  }
  const auto digits = (p - start) - (dot ? 1 : 0);
  if (digits == 0 || digits > 15) return nullptr;
  double v = static_cast<double>(mantissa);
  if (dot && p - dot > 1) v /= kPow10[p - dot - 1];
  out = negative ? -v : v;
  return p;
}

// plain_decimal for a cell whose line goes on after `end` (a line break or a '\r' stands
// there): the byte at `end` stops the digit runs, so they need no bounds checks.
const char* plain_decimal_before_break(const char* p, const char* end, double& out) {
  const bool negative = *p == '-';
  if (negative) ++p;
  const char* const start = p;
  std::uint64_t mantissa = 0;
  unsigned digit;
  while ((digit = static_cast<unsigned char>(*p) - '0') < 10) mantissa = mantissa * 10 + digit, ++p;
  const bool dot = *p == '.';
  std::ptrdiff_t decimals = 0;
  if (dot) {
    const char* const first = ++p;
    while ((digit = static_cast<unsigned char>(*p) - '0') < 10)
      mantissa = mantissa * 10 + digit, ++p;
    decimals = p - first;
  }
  if (p != end && *p != ',') return nullptr;
  const auto digits = (p - start) - (dot ? 1 : 0);
  if (digits == 0 || digits > 15) return nullptr;
  double v = static_cast<double>(mantissa);
  if (decimals > 0) v /= kPow10[decimals];
  out = negative ? -v : v;
  return p;
}

// A cell's number: plain decimals exactly as plain_decimal reads them, anything else (an
// exponent, a leading '+', more digits) through from_chars.
std::optional<double> to_number(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  const char* const end = s.data() + s.size();
  if (!s.empty() && plain_decimal(s.data(), end, v) == end) return v;
  auto [stop, ec] = std::from_chars(s.data(), end, v);
  if (ec != std::errc() || stop != end || s.empty()) return std::nullopt;
  return v;
}

// Blank as the reader sees it: nothing but spaces and tabs around at most one '\r'.
bool is_blank(std::string_view line) {
  line = strip_spaces(line);
  return line.empty() || line == "\r";
}

// Length of the valid UTF-8 prefix of `s`.
std::size_t utf8_prefix(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    // Eight ASCII bytes at a time.
    if (i + 8 <= n) {
      std::uint64_t w;
      std::memcpy(&w, p + i, 8);
      if ((w & 0x8080808080808080ull) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;  // no overlong forms
      if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;  // nothing past U+10FFFF
    } else {
      return i;
    }
    if (i + len > n || p[i + 1] < lo || p[i + 1] > hi) return i;
    for (std::size_t k = 2; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return i;
    i += len;
  }
  return n;
}

// Throws when `text` (part of line `line_no`, which begins at `line`) is not UTF-8.
void require_utf8(std::string_view text, std::string_view source, std::size_t line_no,
                  std::string_view line = {}) {
  const std::size_t ok = utf8_prefix(text);
  if (ok == text.size()) return;
  if (line.empty()) line = text;
  const auto column = static_cast<std::size_t>(text.data() - line.data()) + ok + 1;
  char byte[8];
  std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[ok]));
  fail(source, line_no,
       "not UTF-8 (byte " + std::string(byte) + " at column " + std::to_string(column) +
           "); exports of quote software are often GBK: convert the file to UTF-8, for example "
           "with iconv -f GBK -t UTF-8");
}

// Number of '\n' bytes: sixteen at a time where SSE2 is available, else eight.
std::size_t count_newlines(std::string_view s) {
  std::size_t n = 0, i = 0;
#ifdef __SSE2__
  const __m128i newline = _mm_set1_epi8('\n');
  while (i + 16 <= s.size()) {
    // Per-byte counters, summed before any of them can wrap (255 rounds).
    __m128i counts = _mm_setzero_si128();
    for (int round = 0; round < 255 && i + 16 <= s.size(); ++round, i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
      counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(bytes, newline));
    }
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    n += static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
         static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  }
#else
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full, kHigh = 0x8080808080808080ull;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    w ^= 0x0A0A0A0A0A0A0A0Aull;  // a '\n' byte becomes zero
    const std::uint64_t nonzero = ((w & kLow7) + kLow7) | w;
    // One bit per '\n' byte, summed by a multiply into the top byte.
    n += static_cast<std::size_t>((((~nonzero & kHigh) >> 7) * 0x0101010101010101ull) >> 56);
  }
#endif
  for (; i < s.size(); ++i) n += s[i] == '\n';
  return n;
}

}  // namespace

std::size_t csv_header_end(std::string_view text) {
  std::size_t pos = 0;
  if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) pos = 3;
  while (pos < text.size()) {
    const auto nl = text.find('\n', pos);
    if (nl == std::string_view::npos) return std::string_view::npos;
    const bool blank = is_blank(text.substr(pos, nl - pos));
    pos = nl + 1;
    if (!blank) return pos;
  }
  return std::string_view::npos;
}

void split_csv_line(std::string_view line, std::vector<std::string_view>& fields,
                    std::string& scratch) {
  fields.clear();
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.find('"') == std::string_view::npos) {
    std::size_t start = 0;
    while (true) {
      auto comma = line.find(',', start);
      if (comma == std::string_view::npos) {
        fields.push_back(line.substr(start));
        return;
      }
      fields.push_back(line.substr(start, comma - start));
      start = comma + 1;
    }
  }
  // Quoted fields: unescaped text never outgrows the line, so `scratch` never reallocates
  // and earlier views stay valid.
  scratch.clear();
  scratch.reserve(line.size());
  std::size_t i = 0;
  while (true) {
    std::size_t begin = i;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i < line.size() && line[i] == '"') {
      std::size_t out_start = scratch.size();
      ++i;
      while (i < line.size()) {
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            scratch.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        scratch.push_back(line[i++]);
      }
      fields.emplace_back(scratch.data() + out_start, scratch.size() - out_start);
      while (i < line.size() && line[i] != ',') ++i;  // text after the closing quote is dropped
    } else {
      i = begin;
      while (i < line.size() && line[i] != ',') ++i;
      fields.push_back(line.substr(begin, i - begin));
    }
    if (i >= line.size()) return;
    ++i;  // the comma
  }
}

namespace {

// The parse behind parse_daily_csv and parse_daily_csv_rows: the header from `text`, the data
// rows from `rows` when given (else from the rest of `text`), rows before `from` (when given)
// checked but not kept.
ParsedBars parse_impl(std::string_view text, std::optional<std::string_view> rows,
                      std::string_view source, std::optional<Day> from) {
  if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) text.remove_prefix(3);

  std::vector<std::string_view> fields;
  std::string scratch;
  std::size_t pos = 0;
  std::size_t line_no = 0;
  auto next_line = [&](std::string_view& line) {
    if (pos >= text.size()) return false;
    const char* nl =
        static_cast<const char*>(std::memchr(text.data() + pos, '\n', text.size() - pos));
    const std::size_t end = nl ? static_cast<std::size_t>(nl - text.data()) : text.size();
    line = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_no;
    return true;
  };

  // Header: the first non-blank line.
  std::string_view line;
  bool have_header = false;
  while (next_line(line)) {
    if (!is_blank(line)) {
      have_header = true;
      break;
    }
  }
  if (!have_header) fail(source, std::max<std::size_t>(line_no, 1), "empty file, no header line");
  if (rows) text = *rows, pos = 0;
  require_utf8(line, source, line_no);
  split_csv_line(line, fields, scratch);
  std::array<int, kFieldCount> index;
  index.fill(-1);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    int f = field_of(fields[i]);
    if (f < 0) continue;
    if (index[f] >= 0)
      fail(source, line_no,
           "two columns (" + quoted_text(fields[index[f]]) + " and " + quoted_text(fields[i]) +
               ") both mean '" + kFieldNames[f] + "'");
    index[f] = static_cast<int>(i);
  }
  for (int f = kDate; f <= kVolume; ++f)
    if (index[f] < 0)
      fail(source, line_no, std::string("missing required column '") + kFieldNames[f] + "'");
  const std::size_t header_fields = fields.size();
  const bool has_amount = index[kAmount] >= 0;
  const std::size_t needed =
      static_cast<std::size_t>(*std::max_element(index.begin(), index.end())) + 1;
  // What each of the header's columns holds; -1 for a column that is not read.
  std::vector<int> role(header_fields, -1);
  for (int f = 0; f < kFieldCount; ++f)
    if (index[f] >= 0) role[static_cast<std::size_t>(index[f])] = f;

  // One slot per remaining line, written by row index and cut to the rows kept at the end:
  // no capacity check per cell, and a row that is not kept is simply overwritten. The
  // capacity is exact (lines, not a doubling), as the tables may live on in the cache.
  // `pos` is one past the end when the header was the last line and had no line break.
  const std::size_t slots = 1 + count_newlines(text.substr(std::min(pos, text.size())));
  std::vector<Day> dates(slots);
  std::vector<std::size_t> lines(slots);
  std::array<std::vector<double>, kFieldCount> cols;
  std::array<double*, kFieldCount> cell_out{};
  for (int f = kOpen; f < kFieldCount; ++f)
    if (index[f] >= 0) cols[f].resize(slots), cell_out[f] = cols[f].data();
  std::size_t row = 0;  // rows kept so far; the row being read goes into slot `row`

  const char* const limit = text.data() + text.size();
  ParsedBars out;
  std::optional<Day> previous;  // date of the previous row, kept or not
  DayCache day_cache;
  // One cell of a data row: `column` in the row, `cell` its text.
  auto take = [&](std::size_t column, std::string_view cell) {
    if (column >= header_fields) {
      // Text beyond the header's columns means the row's commas do not line up with it (a
      // decimal comma, an unquoted comma): reading on would shift values into other columns.
      if (!strip_spaces(cell).empty()) return false;
      return true;
    }
    const int f = role[column];
    if (f < 0) {
      require_utf8(cell, source, line_no, line);
      return true;
    }
    cell = strip_spaces(cell);
    if (f == kDate) {
      auto day = to_day(cell, day_cache);
      if (!day) {
        require_utf8(line, source, line_no);
        fail(source, line_no, "invalid date " + quoted_text(cell));
      }
      dates[row] = *day;
      return true;
    }
    const bool price = f <= kClose;
    if (cell.empty()) {
      if (price) fail(source, line_no, std::string("empty ") + kFieldNames[f] + " price");
      cell_out[f][row] = kNaN;
      return true;
    }
    auto v = to_number(cell);
    if (!v || (price && !std::isfinite(*v))) {
      require_utf8(line, source, line_no);
      fail(source, line_no,
           std::string("non-numeric ") + kFieldNames[f] + (price ? " price " : " ") +
               quoted_text(cell));
    }
    cell_out[f][row] = *v;
    return true;
  };

  while (next_line(line)) {
    // A line that starts with anything but a space, a tab or '\r' is not blank.
    const bool maybe_blank =
        line.empty() || line.front() == ' ' || line.front() == '\t' || line.front() == '\r';
    if (maybe_blank && is_blank(line)) continue;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t count = 0;
    bool aligned = true;
    // The plain case, cell by cell without collecting the fields first; plain dates and
    // decimals are read in the same pass that finds the comma. A quote anywhere sends the row
    // to the splitter instead, undoing the cells already taken.
    bool quoted = false;
    const char* p = line.data();
    const char* const e = p + line.size();
    while (true) {
      const int f = count < header_fields ? role[count] : -1;
      const char* c = nullptr;
      if (f > kDate) {
        double& v = cell_out[f][row];
        c = e != limit ? plain_decimal_before_break(p, e, v) : plain_decimal(p, e, v);
      } else if (f == kDate && e - p >= 10 && (e - p == 10 || p[10] == ',')) {
        if (auto day = iso_day(p, day_cache)) {
          dates[row] = *day;
          c = p + 10;
        }
      }
      if (!c) {
        c = p;
        while (c != e && *c != ',' && *c != '"') ++c;
        if (c != e && *c == '"') {
          quoted = true;
          break;
        }
        aligned = take(count, std::string_view(p, static_cast<std::size_t>(c - p))) && aligned;
      }
      ++count;
      if (c == e) break;
      p = c + 1;
    }
    if (quoted) {
      // Text after a closing quote is dropped by the splitter, so check the raw line.
      require_utf8(line, source, line_no);
      split_csv_line(line, fields, scratch);
      count = fields.size();
      aligned = true;
      for (std::size_t i = 0; i < count; ++i) aligned = take(i, fields[i]) && aligned;
    }
    if (count < needed || !aligned) {
      require_utf8(line, source, line_no);
      if (count < needed)
        fail(source, line_no,
             "expected at least " + std::to_string(needed) + " fields, found " +
                 std::to_string(count));
      fail(source, line_no,
           "expected at most " + std::to_string(header_fields) + " fields, found " +
               std::to_string(count));
    }
    // Every required column, the date among them, was read or the row failed above.
    const Day day = dates[row];
    if (!out.first_date) out.first_date = day;
    if (previous && day < *previous) out.in_order = false;
    previous = day;
    if (from && day < *from) {
      // Before the window: checked (a damaged last row must not pass) but not kept.
      out.reaches_before = true;
      continue;
    }
    lines[row++] = line_no;
  }
  dates.resize(row);
  lines.resize(row);
  for (int f = kOpen; f < kFieldCount; ++f)
    if (index[f] >= 0) cols[f].resize(row);

  // Sort by date (stable, so a duplicate reports the later line) unless already in order.
  if (!out.in_order) {
    std::vector<std::size_t> order(dates.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return dates[a] < dates[b]; });
    auto permute = [&](auto& v) {
      std::remove_reference_t<decltype(v)> sorted;
      sorted.reserve(v.size());
      for (auto i : order) sorted.push_back(v[i]);
      v = std::move(sorted);
    };
    permute(dates);
    permute(lines);
    for (int f = kOpen; f < kFieldCount; ++f)
      if (index[f] >= 0) permute(cols[f]);
  }
  for (std::size_t i = 1; i < dates.size(); ++i) {
    if (dates[i] == dates[i - 1]) {
      auto [first, second] = std::minmax(lines[i - 1], lines[i]);
      fail(source, second,
           "duplicate date " + zorvane::utils::iso_date(dates[i]) + " (also on line " +
               std::to_string(first) + ")");
    }
  }

  BarTable table(std::move(dates));
  for (int f = kOpen; f <= kVolume; ++f) table.set(kFieldNames[f], std::move(cols[f]));
  if (has_amount) table.set("amount", std::move(cols[kAmount]));
  out.table = std::move(table);
  return out;
}

}  // namespace

ParsedBars parse_daily_csv(std::string_view text, std::string_view source) {
  return parse_impl(text, std::nullopt, source, std::nullopt);
}

ParsedBars parse_daily_csv_rows(std::string_view header, std::string_view rows,
                                std::string_view source, Day from) {
  return parse_impl(header, rows, source, from);
}

std::vector<Day> drop_non_positive_bars(BarTable& table) {
  std::vector<Day> dropped;
  if (table.empty()) return dropped;
  const auto& open = table.col("open");
  const auto& high = table.col("high");
  const auto& low = table.col("low");
  const auto& close = table.col("close");
  std::vector<char> keep(table.size(), 1);
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (open[i] > 0 && high[i] > 0 && low[i] > 0 && close[i] > 0) continue;
    keep[i] = 0;
    dropped.push_back(table.dates()[i]);
  }
  if (dropped.empty()) return dropped;
  auto kept = [&](const auto& v) {
    std::remove_cvref_t<decltype(v)> out;
    out.reserve(v.size() - dropped.size());
    for (std::size_t i = 0; i < v.size(); ++i)
      if (keep[i]) out.push_back(v[i]);
    return out;
  };
  BarTable out(kept(table.dates()));
  for (const auto& name : table.columns()) out.set(name, kept(table.col(name)));
  table = std::move(out);
  return dropped;
}

void warn_dropped_bars(std::string_view source, const std::vector<Day>& dropped) {
  if (dropped.empty()) return;
  zorvane::utils::logger.warning(
      "%s: 剔除 %d 根开盘/最高/最低/收盘价为零或负数的K线（%s 至 %s），其余照常分析", source,
      dropped.size(), zorvane::utils::iso_date(dropped.front()),
      zorvane::utils::iso_date(dropped.back()));
}

BarTable parse_bar_csv(std::string_view text, std::string_view source) {
  auto parsed = parse_daily_csv(text, source);
  warn_dropped_bars(source, drop_non_positive_bars(parsed.table));
  return std::move(parsed.table);
}

std::string read_text_file(const std::filesystem::path& path, std::string_view source) {
  auto file = DataFile::open(path, std::string(source));
  if (!file)
    throw std::runtime_error(std::string(source) + ": cannot open: " + std::strerror(ENOENT));
  return std::string(file->read_all().view());
}

BarTable read_bar_csv(const std::filesystem::path& path, std::string_view source) {
  auto file = DataFile::open(path, std::string(source));
  if (!file)
    throw std::runtime_error(std::string(source) + ": cannot open: " + std::strerror(ENOENT));
  return parse_bar_csv(file->read_all().view(), source);
}

}  // namespace candlex
