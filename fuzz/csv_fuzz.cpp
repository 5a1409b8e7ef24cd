// Daily-bar CSV parsing on arbitrary files: no crash, no sanitizer report, failures only as
// "<file>:<line>: ..." runtime errors, and a parsed table that callers can rely on: dates
// strictly increasing, finite prices, every column as long as the table, and the same table
// whatever order the data rows come in.
// fuzz-deps: candlex
// fuzz-runs: 2000000

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "candlex/bar_table.hpp"
#include "candlex/csv_reader.hpp"

namespace {

constexpr std::string_view kSource = "daily/fuzz.csv";

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

bool same_value(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

bool same_table(const candlex::BarTable& a, const candlex::BarTable& b) {
  if (a.dates() != b.dates() || a.columns() != b.columns()) return false;
  for (const auto& name : a.columns()) {
    const auto& x = a.col(name);
    const auto& y = b.col(name);
    for (std::size_t i = 0; i < x.size(); ++i)
      if (!same_value(x[i], y[i])) return false;
  }
  return true;
}

// "<source>:<n>: <text>" with 1 <= n <= lines.
void check_error(const std::string& message, std::size_t lines) {
  const std::string prefix = std::string(kSource) + ":";
  check(message.rfind(prefix, 0) == 0, "error names the file");
  std::size_t i = prefix.size();
  std::size_t n = 0;
  std::size_t digits = 0;
  while (i < message.size() && message[i] >= '0' && message[i] <= '9' && digits < 12) {
    n = n * 10 + static_cast<std::size_t>(message[i++] - '0');
    ++digits;
  }
  check(digits > 0, "error names a line");
  check(n >= 1 && n <= lines, "error line lies inside the file");
  check(message.compare(i, 2, ": ") == 0, "line number is followed by the problem");
}

void check_table(const candlex::BarTable& t) {
  const auto columns = t.columns();
  check(columns.size() == 5 || columns.size() == 6, "five or six columns");
  const char* names[] = {"open", "high", "low", "close", "volume", "amount"};
  for (std::size_t i = 0; i < columns.size(); ++i) check(columns[i] == names[i], "column order");
  for (std::size_t i = 1; i < t.size(); ++i)
    check(t.dates()[i - 1] < t.dates()[i], "dates strictly increasing");
  for (const auto& name : columns) check(t.col(name).size() == t.size(), "column length");
  for (const char* price : {"open", "high", "low", "close"})
    for (double v : t.col(price)) check(std::isfinite(v), "prices are finite");

  auto weekly = candlex::to_weekly(t);
  check(weekly.size() <= t.size(), "weekly bars never outnumber daily bars");
  check(weekly.empty() == t.empty(), "weekly bars exist when daily bars do");
  for (std::size_t i = 1; i < weekly.size(); ++i)
    check(weekly.dates()[i - 1] < weekly.dates()[i], "weekly dates increasing");
}

// The text with its data lines (everything after the first non-blank line) in reverse order.
std::string reverse_rows(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    auto nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    lines.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  std::size_t header = 0;
  // Blank as the reader sees it: nothing but spaces and tabs around at most one '\r'.
  auto blank = [](std::string_view l) {
    while (!l.empty() && (l.front() == ' ' || l.front() == '\t')) l.remove_prefix(1);
    while (!l.empty() && (l.back() == ' ' || l.back() == '\t')) l.remove_suffix(1);
    return l.empty() || l == "\r";
  };
  // The byte-order mark is skipped before the header search.
  if (!lines.empty() && lines[0].substr(0, 3) == "\xEF\xBB\xBF" && blank(lines[0].substr(3))) {
    header = 1;
  }
  while (header < lines.size() && blank(lines[header])) ++header;
  std::string out;
  for (std::size_t i = 0; i <= header && i < lines.size(); ++i) {
    out.append(lines[i]);
    out.push_back('\n');
  }
  for (std::size_t i = lines.size(); i-- > header + 1;) {
    out.append(lines[i]);
    out.push_back('\n');
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::size_t lines = 1;
  for (char c : text) lines += c == '\n';

  candlex::BarTable table;
  try {
    table = candlex::parse_bar_csv(text, kSource);
  } catch (const std::runtime_error& e) {
    check_error(e.what(), lines);
    return 0;
  }
  check_table(table);

  // Row order never matters on success.
  const std::string reversed = reverse_rows(text);
  try {
    check(same_table(candlex::parse_bar_csv(reversed, kSource), table),
          "reversed rows give the same table");
  } catch (const std::runtime_error&) {
    check(false, "reversed rows parse as well");
  }

  // Line splitting: views lie in the line or in the scratch buffer.
  std::vector<std::string_view> fields;
  std::string scratch;
  const auto first_line = text.substr(0, text.find('\n'));
  candlex::split_csv_line(first_line, fields, scratch);
  check(!fields.empty(), "a line has at least one field");
  for (auto f : fields) {
    bool in_line = f.data() >= first_line.data() &&
                   f.data() + f.size() <= first_line.data() + first_line.size();
    bool in_scratch =
        f.data() >= scratch.data() && f.data() + f.size() <= scratch.data() + scratch.size();
    check(f.empty() || in_line || in_scratch, "field views point into the line or scratch");
  }
  return 0;
}
