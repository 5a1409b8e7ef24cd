#include "candlex/csv_tail.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

#include "candlex/csv_reader.hpp"
#include "candlex/data_file.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace {

using candlex::Day;
using testing::HasSubstr;
using zorvane::utils::iso_date;
using zorvane::utils::parse_iso_date;

const std::string kSource = "daily/sh.600519.csv";

class CsvTail : public ::testing::Test {
 protected:
  candlex::DataFile open(const std::string& text) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
    return std::move(*candlex::DataFile::open(path_, kSource));
  }
  // The full parse cut to [from, ...).
  static candlex::BarTable expected(const std::string& text, Day from) {
    auto all = candlex::parse_bar_csv(text, kSource);
    const auto& d = all.dates();
    return all.slice(
        static_cast<std::size_t>(std::lower_bound(d.begin(), d.end(), from) - d.begin()),
        all.size());
  }
  static void expect_same(const candlex::BarTable& got, const candlex::BarTable& want,
                          const std::string& what) {
    ASSERT_EQ(got.dates(), want.dates()) << what;
    ASSERT_EQ(got.columns(), want.columns()) << what;
    for (const auto& c : want.columns()) EXPECT_EQ(got.col(c), want.col(c)) << what << " " << c;
  }

  zv_test::TempDir dir_{"csv-tail"};
  std::filesystem::path path_ = dir_ / "x.csv";
};

// Rows of every weekday from `first`, in order; varied row lengths, quoted cells and blank
// lines.
std::string rows(Day first, int n, std::mt19937& rng, const std::string& eol, bool quoted,
                 bool blanks = true) {
  std::string out;
  std::uniform_real_distribution<double> price(0.5, 3000.0);
  int written = 0;
  for (Day d = first; written < n; d += std::chrono::days{1}) {
    if (std::chrono::weekday(d).iso_encoding() > 5) continue;
    char line[160];
    const double p = price(rng);
    const bool quote = quoted && rng() % 5 == 0;
    std::snprintf(
        line, sizeof line,
        quote ? "\"%s\",%.2f,%.3f,%.2f,%.4f,%u,\"%u\"%s" : "%s,%.2f,%.3f,%.2f,%.4f,%u,%u%s",
        iso_date(d).c_str(), p, p * 1.02, p * 0.98, p * 1.001,
        static_cast<unsigned>(rng() % 100000000), static_cast<unsigned>(rng() % 7), eol.c_str());
    out += line;
    if (blanks && rng() % 50 == 0) out += eol;  // a blank line now and then
    ++written;
  }
  return out;
}

TEST_F(CsvTail, SameBarsAsTheFullReadForAnyWindowAndChunk) {
  std::mt19937 rng(11);
  const Day first = parse_iso_date("2010-01-04");
  for (int round = 0; round < 24; ++round) {
    const std::string eol = round % 3 == 0 ? "\r\n" : "\n";
    std::string text = (round % 4 == 0 ? "\xEF\xBB\xBF" : "") +
                       std::string("Date,Open,High,Low,Close,Volume,amount") + eol +
                       rows(first, 200 + static_cast<int>(rng() % 1200), rng, eol, round % 2);
    if (round % 5 == 0) text.resize(text.size() - eol.size());  // no final line break
    const auto file = open(text);
    const auto last = candlex::parse_bar_csv(text, kSource).dates().back();
    for (int days : {0, 3, 30, 400, 1500, 4000}) {
      const Day from = last - std::chrono::days{days};
      for (std::size_t chunk : {64u, 700u, 4096u, 24u * 1024}) {
        SCOPED_TRACE("round " + std::to_string(round) + " days " + std::to_string(days) +
                     " chunk " + std::to_string(chunk));
        expect_same(candlex::read_bar_csv_since(file, from, chunk), expected(text, from), "");
      }
    }
  }
}

TEST_F(CsvTail, RowsOutOfOrderAreReadWhole) {
  std::mt19937 rng(5);
  const std::string head = "date,open,high,low,close,volume,amount\n";
  const std::string body = rows(parse_iso_date("2015-01-05"), 800, rng, "\n", false);
  const Day from = parse_iso_date("2017-06-01");
  // Newest first; a recent row misplaced at the top; an old row misplaced at the end.
  std::vector<std::string> lines;
  for (std::size_t p = 0; p < body.size();) {
    auto nl = body.find('\n', p);
    if (nl > p) lines.push_back(body.substr(p, nl + 1 - p));
    p = nl + 1;
  }
  std::string reversed, late_on_top = lines.back(), old_at_end;
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) reversed += *it;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) late_on_top += lines[i];
  for (std::size_t i = 1; i < lines.size(); ++i) old_at_end += lines[i];
  old_at_end += lines[0];
  for (const auto& text : {head + reversed, head + late_on_top, head + old_at_end}) {
    const auto file = open(text);
    expect_same(candlex::read_bar_csv_since(file, from, 512), expected(text, from),
                text.substr(0, 80));
  }
}

TEST_F(CsvTail, DamageInTheWindowNamesItsLineAndDroppedBarsAreCountedThere) {
  std::mt19937 rng(3);
  const std::string head = "date,open,high,low,close,volume,amount\n";
  std::string text = head + rows(parse_iso_date("2015-01-05"), 600, rng, "\n", false, false);
  // Line 591 (the 590th row) gets a bad close.
  std::size_t at = 0;
  for (int i = 0; i < 590; ++i) at = text.find('\n', at) + 1;
  const auto end = text.find('\n', at);
  const auto good_row = text.substr(at, end - at);
  const auto bad_row = good_row.substr(0, good_row.rfind(',', good_row.rfind(',') - 1) + 1) + "x,1";
  auto bad = text;
  bad.replace(at, end - at, bad_row);
  const Day from = parse_iso_date("2017-01-02");
  try {
    candlex::read_bar_csv_since(open(bad), from, 512);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr(kSource + ":591: non-numeric volume 'x'"));
  }

  // A negative bar before the window and two inside it: one warning, about the two.
  auto negative = [&](std::string s, std::size_t row) {
    std::size_t p = 0;
    for (std::size_t i = 0; i < row; ++i) p = s.find('\n', p) + 1;
    const auto comma = s.find(',', p);
    s.insert(comma + 1, "-");
    return s;
  };
  const auto mixed = negative(negative(negative(text, 10), 595), 598);
  zorvane::utils::LogCapture log;
  const auto t = candlex::read_bar_csv_since(open(mixed), from, 512);
  EXPECT_EQ(t.size(), expected(text, from).size() - 2);
  const auto warnings = log.matching("剔除");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_THAT(warnings[0], HasSubstr("剔除 2 根"));
}

TEST(DataFile, OnlyRegularFilesAreOpened) {
  zv_test::TempDir dir("data-file");
  EXPECT_FALSE(candlex::DataFile::open(dir / "missing.csv", "daily/missing.csv"));
  EXPECT_FALSE(candlex::DataFile::open(dir / "no-dir" / "x.csv", "daily/x.csv"));
  std::filesystem::create_directory(dir / "d.csv");
  ASSERT_EQ(::mkfifo((dir / "f.csv").c_str(), 0600), 0);
  for (const auto& [name, kind] : {std::pair{"d.csv", "a directory"}, {"f.csv", "a FIFO"}}) {
    try {
      candlex::DataFile::open(dir / name, std::string("daily/") + name);  // must not block
      ADD_FAILURE() << name;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string("daily/") + name + ": not a regular file (" + kind + ")");
    }
  }
}

}  // namespace
