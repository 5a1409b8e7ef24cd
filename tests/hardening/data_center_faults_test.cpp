// Damaged daily files through get_any_ohlc: rows whose commas do not line up with the header,
// files damaged after they were cached, and damage outside the requested window.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

#include "candlex/csv_reader.hpp"
#include "candlex/data_center.hpp"
#include "candlex/market_data.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kHead = "date,open,high,low,close,volume,amount\n";

std::string rows(int first_day, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "2024-01-%02d,10,11,9,%d.5,1000,10500\n", first_day + i,
                  10 + i);
    out += line;
  }
  return out;
}

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(CsvColumns, CommasThatShiftColumnsAreErrorsNotWrongValues) {
  // "10,5" written with a decimal comma would otherwise read as close 10, volume 5.
  EXPECT_EQ(error_of([] {
              candlex::parse_bar_csv(kHead + rows(2, 2) + "2024-01-04,10,11,9,10,5,1000,10500\n",
                                     "daily/x.csv");
            }),
            "daily/x.csv:4: expected at most 7 fields, found 8");
  // Likewise a decimal comma in the last column.
  EXPECT_EQ(error_of([] {
              candlex::parse_bar_csv(kHead + "2024-01-04,10,11,9,10.5,1000,10500,25\n",
                                     "daily/x.csv");
            }),
            "daily/x.csv:2: expected at most 7 fields, found 8");
  // Trailing empty fields shift nothing and are accepted, as are rows that stop after the
  // last column used.
  auto t = candlex::parse_bar_csv(
      "date,open,high,low,close,volume,note\n2024-01-02,10,11,9,10.5,1000,,,\n"
      "2024-01-03,10,11,9,11.5,1200\n",
      "daily/x.csv");
  EXPECT_EQ(t.col("close"), (std::vector<double>{10.5, 11.5}));
  EXPECT_EQ(t.col("volume"), (std::vector<double>{1000, 1200}));
}

class CenterFaults : public ::testing::Test {
 protected:
  void SetUp() override { candlex::clear_center_cache(); }
  void write(const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
  }
  candlex::BarTable load(const std::string& from = "2024-01-01",
                         const std::string& to = "2024-01-31") {
    return candlex::get_any_ohlc("sh.600519", from, to);
  }

  zv_test::TempDir dir{"hardening-center"};
  zv_test::EnvGuard env{"CANDLEX_CENTER", dir.str()};
  fs::path file = dir / "daily" / "sh.600519.csv";
};

TEST_F(CenterFaults, DamageAfterCachingIsSeenAndMendingIsToo) {
  write(kHead + rows(2, 10));
  const auto good = load();
  ASSERT_EQ(good.size(), 10u);

  // Truncated by a writer that died half-way: the cached table is not served any more.
  write(kHead + rows(2, 10).substr(0, 200));
  EXPECT_THAT(error_of([&] { load(); }), StartsWith("daily/sh.600519.csv:"));
  // The error is not cached either: the same damage is reported again, and a mended file
  // is read afresh.
  EXPECT_THAT(error_of([&] { load(); }), StartsWith("daily/sh.600519.csv:"));
  write(kHead + rows(2, 10));
  EXPECT_EQ(load().col("close"), good.col("close"));
}

TEST_F(CenterFaults, DamageOutsideTheWindowStillStopsTheRead) {
  // A bad row years before the requested window: the file as a whole is not trustworthy.
  write(kHead + "2019-03-04,10,11,9,abc,1,1\n" + rows(2, 5));
  EXPECT_EQ(error_of([&] { load(); }), "daily/sh.600519.csv:2: non-numeric close price 'abc'");
}

TEST_F(CenterFaults, FilesWithoutAHeader) {
  for (const std::string text : {"", "\xEF\xBB\xBF", "\n\n  \r\n", "\xEF\xBB\xBF\r\n"}) {
    write(text);
    EXPECT_THAT(error_of([&] { load(); }),
                ::testing::AllOf(StartsWith("daily/sh.600519.csv:"), HasSubstr("empty file")))
        << testing::PrintToString(text);
  }
  // A header alone is a file without bars: no data, no error, with or without its line
  // break (the reader once looked past the end of such a file).
  write(kHead);
  EXPECT_TRUE(load().empty());
  write(kHead.substr(0, kHead.size() - 1));
  EXPECT_TRUE(load().empty());
  EXPECT_TRUE(candlex::parse_bar_csv("date,open,high,low,close,volume", "daily/x.csv").empty());
}

TEST_F(CenterFaults, ADirectoryOrFifoInAFilesPlaceIsNamedNotTakenForNoData) {
  auto both = [&] {
    return std::pair{error_of([&] { load(); }), error_of([&] {
                       candlex::get_any_ohlc_uncached("sh.600519", "2024-01-01", "2024-01-31");
                     })};
  };
  fs::create_directories(file);
  const std::string dir_error = "daily/sh.600519.csv: not a regular file (a directory)";
  EXPECT_EQ(both(), std::pair(dir_error, dir_error));
  fs::remove(file);
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);  // a reader must not wait for a writer
  const std::string fifo_error = "daily/sh.600519.csv: not a regular file (a FIFO)";
  EXPECT_EQ(both(), std::pair(fifo_error, fifo_error));
}

}  // namespace
