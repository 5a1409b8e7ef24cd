#include "candlex/csv_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>

#include "zorvane/utils/dates.hpp"
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

// Plain decimals ("-123.45") whose digits fit in 2^53 with at most 22 decimals: the integer
// and the power of ten are both exact doubles, so one division is correctly rounded and the
// result equals from_chars'. Prices and volumes are nearly always of this form.
std::optional<double> fast_decimal(std::string_view s) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && s[i] == '-') negative = true, ++i;
  std::uint64_t mantissa = 0;
  int digits = 0, decimals = -1;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      if (++digits > 15) return std::nullopt;
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
      if (decimals >= 0) ++decimals;
    } else if (c == '.' && decimals < 0) {
      decimals = 0;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0) return std::nullopt;
  double v = static_cast<double>(mantissa);
  if (decimals > 0) v /= kPow10[decimals];
  return negative ? -v : v;
}

std::optional<double> to_number(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (auto v = fast_decimal(s)) return v;
  double v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

int two(const char* p) {
  return (p[0] - '0') * 10 + (p[1] - '0');
}

std::optional<Day> to_day(std::string_view s) {
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
  std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month{unsigned(m)},
                                  std::chrono::day{unsigned(d)}};
  if (!ymd.ok()) return std::nullopt;
  return Day(ymd);
}

}  // namespace

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

BarTable parse_bar_csv(std::string_view text, std::string_view source) {
  if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) text.remove_prefix(3);

  std::vector<std::string_view> fields;
  std::string scratch;
  std::size_t pos = 0;
  std::size_t line_no = 0;
  auto next_line = [&](std::string_view& line) {
    if (pos >= text.size()) return false;
    auto nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    line = text.substr(pos, nl - pos);
    pos = nl + 1;
    ++line_no;
    return true;
  };

  // Header: the first non-blank line.
  std::string_view line;
  bool have_header = false;
  while (next_line(line)) {
    if (!strip_spaces(line).empty() && strip_spaces(line) != "\r") {
      have_header = true;
      break;
    }
  }
  if (!have_header) fail(source, std::max<std::size_t>(line_no, 1), "empty file, no header line");
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

  std::vector<Day> dates;
  std::vector<std::size_t> lines;
  std::array<std::vector<double>, kFieldCount> cols;
  // Exact row capacity up front (memchr is vectorised; the tables live on in the cache, so
  // no over-allocation).
  std::size_t guess = 1;
  // `pos` is one past the end when the header was the last line and had no line break.
  for (const char* p = text.data() + std::min(pos, text.size());
       (p = static_cast<const char*>(
            std::memchr(p, '\n', static_cast<std::size_t>(text.data() + text.size() - p))));
       ++p)
    ++guess;
  dates.reserve(guess);
  lines.reserve(guess);
  for (int f = kOpen; f < kFieldCount; ++f) cols[f].reserve(guess);

  while (next_line(line)) {
    if (strip_spaces(line).empty() || strip_spaces(line) == "\r") continue;
    split_csv_line(line, fields, scratch);
    if (fields.size() < needed)
      fail(source, line_no,
           "expected at least " + std::to_string(needed) + " fields, found " +
               std::to_string(fields.size()));
    // Text beyond the header's columns means the row's commas do not line up with it (a
    // decimal comma, an unquoted comma): reading on would shift values into other columns.
    for (std::size_t i = header_fields; i < fields.size(); ++i)
      if (!strip_spaces(fields[i]).empty())
        fail(source, line_no,
             "expected at most " + std::to_string(header_fields) + " fields, found " +
                 std::to_string(fields.size()));
    auto date_text = strip_spaces(fields[index[kDate]]);
    auto day = to_day(date_text);
    if (!day) fail(source, line_no, "invalid date " + quoted_text(date_text));
    dates.push_back(*day);
    lines.push_back(line_no);
    for (int f = kOpen; f < kFieldCount; ++f) {
      if (index[f] < 0) continue;
      auto cell = strip_spaces(fields[index[f]]);
      const bool price = f <= kClose;
      if (cell.empty()) {
        if (price) fail(source, line_no, std::string("empty ") + kFieldNames[f] + " price");
        cols[f].push_back(kNaN);
        continue;
      }
      auto v = to_number(cell);
      if (!v || (price && !std::isfinite(*v)))
        fail(source, line_no,
             std::string("non-numeric ") + kFieldNames[f] + (price ? " price " : " ") +
                 quoted_text(cell));
      cols[f].push_back(*v);
    }
  }

  // Sort by date (stable, so a duplicate reports the later line) unless already in order.
  if (!std::is_sorted(dates.begin(), dates.end())) {
    std::vector<std::size_t> order(dates.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return dates[a] < dates[b]; });
    auto permute = [&](auto& v) {
      std::remove_reference_t<decltype(v)> out;
      out.reserve(v.size());
      for (auto i : order) out.push_back(v[i]);
      v = std::move(out);
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
  return table;
}

std::string read_text_file(const std::filesystem::path& path, std::string_view source) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw std::runtime_error(std::string(source) + ": cannot open: " + std::strerror(errno));
  // Read straight into the string, sized from fstat; keep going if the file has grown.
  std::string out;
  struct stat st {};
  std::size_t capacity = (::fstat(fd, &st) == 0 && st.st_size > 0)
                             ? static_cast<std::size_t>(st.st_size) + 1
                             : 1 << 16;
  std::size_t used = 0;
  out.resize(capacity);
  while (true) {
    if (used == out.size()) out.resize(out.size() * 2);
    ssize_t n = ::read(fd, out.data() + used, out.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      throw std::runtime_error(std::string(source) + ": cannot read: " + std::strerror(err));
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  ::close(fd);
  out.resize(used);
  return out;
}

BarTable read_bar_csv(const std::filesystem::path& path, std::string_view source) {
  return parse_bar_csv(read_text_file(path, source), source);
}

}  // namespace candlex
