// Scans read only the end of each daily file: the output must not depend on the history
// before the window. Also the files that cannot be read (not regular files) and running out
// of memory while reading.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "candlex/sample_market.hpp"
#include "e2e/tarsen/child_process.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using zorvane::utils::parse_iso_date;

void write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// The CSV text's data rows in reverse order (newest first), header kept.
std::string newest_first(const std::string& csv) {
  const auto header_end = csv.find('\n') + 1;
  std::vector<std::string> rows;
  for (std::size_t p = header_end; p < csv.size();) {
    const auto nl = csv.find('\n', p);
    rows.push_back(csv.substr(p, nl + 1 - p));
    p = nl + 1;
  }
  std::reverse(rows.begin(), rows.end());
  std::string out = csv.substr(0, header_end);
  for (const auto& r : rows) out += r;
  return out;
}

std::string with_crlf(const std::string& csv) {
  std::string out;
  for (char c : csv) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

class ScanWindow : public ::testing::Test {
 protected:
  e2e::ChildResult scan(const fs::path& center, const std::vector<std::string>& args) {
    return e2e::run_child(
        SCAN_EXE, args,
        {{"CANDLEX_CENTER", center.string()}, {"ZORVANE_PROJECT_ROOT", std::string(ZV_SOURCE_DIR)}},
        work_.path());
  }

  zv_test::TempDir full_{"scan-full"};
  zv_test::TempDir cut_{"scan-cut"};
  zv_test::TempDir work_{"scan-window-work"};
};

TEST_F(ScanWindow, OutputIsTheSameWhetherTheCenterHoldsTheHistoryOrOnlyTheWindow) {
  // 48 stocks with nine years of bars through 2024-06-28; one file newest first, one with
  // CRLF line ends. The cut center holds only the rows of the 400-day window.
  const auto through = parse_iso_date("2024-06-28");
  std::vector<std::pair<std::string, candlex::BarTable>> series;
  for (int i = 0; i < 48; ++i) {
    char code[16];
    std::snprintf(code, sizeof code, "%s.%06d", i % 2 ? "sz" : "sh", (i % 2 ? 2 : 600100) + i);
    candlex::SampleSecurity sec{
        code, "", candlex::SampleKind::stock, 4.0 + i % 30, 0.012 + 0.002 * (i % 9), 1e7};
    series.emplace_back(code, candlex::generate_sample_bars(sec, through));
  }
  for (const std::string date : {"2024-03-25", "2024-03-22", "2024-06-28"}) {
    const auto end = parse_iso_date(date);
    const auto start = end - std::chrono::days{400};
    for (std::size_t i = 0; i < series.size(); ++i) {
      const auto& [code, bars] = series[i];
      auto full = candlex::bars_to_csv(bars);
      auto window = candlex::bars_to_csv(bars.until(end).slice(
          static_cast<std::size_t>(
              std::lower_bound(bars.dates().begin(), bars.dates().end(), start) -
              bars.dates().begin()),
          bars.size()));
      if (i == 3) full = newest_first(full), window = newest_first(window);
      if (i == 5) full = with_crlf(full), window = with_crlf(window);
      write(full_ / "daily" / (code + ".csv"), full);
      write(cut_ / "daily" / (code + ".csv"), window);
    }
    ASSERT_GT(fs::file_size(full_ / "daily" / "sh.600100.csv"),
              5 * fs::file_size(cut_ / "daily" / "sh.600100.csv"));

    for (const std::string selector : {"radar", "combined", "tf", "brp", "all"}) {
      SCOPED_TRACE(selector + " " + date);
      const std::vector<std::string> args = {"--market",   "A",      "-t",       date,
                                             "--selector", selector, "--format", "json"};
      const auto a = scan(full_.path(), args);
      const auto b = scan(cut_.path(), args);
      ASSERT_EQ(a.status, 0) << a.err;
      ASSERT_EQ(b.status, 0) << b.err;
      EXPECT_EQ(a.out, b.out);
      // The comparison has something to compare: every stock has data, and the radar and
      // the all-stock selector list stocks.
      const auto doc = zorvane::utils::parse_json(a.out);
      EXPECT_EQ(doc["with_data"].GetInt(), 48);
      if (selector == "radar") {
        std::size_t listed = 0;
        for (const auto& s : doc["sections"].GetObject()) listed += s.value.Size();
        EXPECT_GT(listed, 0u);
      }
      if (selector == "all") {
        EXPECT_EQ(doc["passed"].Size(), 48u);
      }
    }
  }
}

TEST_F(ScanWindow, FilesThatCannotBeReadAreNamed) {
  const auto through = parse_iso_date("2024-03-25");
  candlex::SampleSecurity sec{"sh.600001", "", candlex::SampleKind::stock, 10.0, 0.02, 1e7};
  write(full_ / "daily" / "sh.600001.csv",
        candlex::bars_to_csv(candlex::generate_sample_bars(sec, through)));
  fs::create_directories(full_ / "daily" / "sh.600002.csv");
  ASSERT_EQ(::mkfifo((full_ / "daily" / "sh.600003.csv").c_str(), 0600), 0);
  write(full_ / "daily" / "sh.600004.csv",
        "\xC8\xD5\xC6\xDA,open,high,low,close,volume\n2024-03-25,1,1,1,1,1\n");
  const auto r = scan(full_.path(), {"--market", "A", "-t", "2024-03-25", "--format", "json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(zorvane::utils::parse_json(r.out)["with_data"].GetInt(), 1);
  EXPECT_THAT(r.err, HasSubstr("3 只股票无法读取"));
  EXPECT_THAT(r.err, HasSubstr("daily/sh.600002.csv: not a regular file (a directory)"));
  EXPECT_THAT(r.err, HasSubstr("daily/sh.600003.csv: not a regular file (a FIFO)"));
  EXPECT_THAT(r.err, HasSubstr("daily/sh.600004.csv:1: not UTF-8"));
  EXPECT_THAT(r.err, HasSubstr("GBK"));
}

TEST_F(ScanWindow, RunningOutOfMemoryIsAnErrorNamingTheFile) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer ends the process on a failed allocation";
#endif
  // A sparse file of a terabyte without line breaks has to be read whole, which no address
  // space limit below that allows.
  write(full_ / "daily" / "sh.600001.csv", "");
  fs::resize_file(full_ / "daily" / "sh.600001.csv", std::uintmax_t{1} << 40);
  const auto r = e2e::run_child(
      "/bin/bash", {"-c", "ulimit -v 8000000 && exec \"$0\" --market A -t 2024-03-25", SCAN_EXE},
      {{"CANDLEX_CENTER", full_.str()}, {"ZORVANE_PROJECT_ROOT", std::string(ZV_SOURCE_DIR)}},
      work_.path());
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_THAT(r.err, HasSubstr("scan: error: out of memory while reading the bars of sh.600001 "
                               "(daily/sh.600001.csv, 0 of 1 stocks done)"));
}

}  // namespace
