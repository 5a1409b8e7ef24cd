#include "candlex/csv_reader.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>

#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace {

using candlex::parse_bar_csv;
using testing::HasSubstr;
using zorvane::utils::iso_date;

const char* kSource = "daily/sh.600519.csv";

std::string error_of(const std::string& text) {
  try {
    parse_bar_csv(text, kSource);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(BarCsv, MalformedFilesNameFileAndLine) {
  const std::string head = "date,open,high,low,close,volume\n";
  const std::string good = "2024-01-02,10,11,9,10.5,100\n";
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"date,open,high,low,volume\n" + good,
       "daily/sh.600519.csv:1: missing required column 'close'"},
      {"date,open,high,low,close\n", "daily/sh.600519.csv:1: missing required column 'volume'"},
      {"", "daily/sh.600519.csv:1: empty file"},
      {head + good + "2024-01-03,10,abc,9,10,100\n",
       "daily/sh.600519.csv:3: non-numeric high price 'abc'"},
      {head + good + "2024-01-03,10,11,9,nan,100\n",
       "daily/sh.600519.csv:3: non-numeric close price 'nan'"},
      {head + good + "2024-01-03,10,11,9,10.5x,100\n",
       "daily/sh.600519.csv:3: non-numeric close price '10.5x'"},
      {head + good + "2024-01-03,,11,9,10,100\n", "daily/sh.600519.csv:3: empty open price"},
      {head + good + "2024-01-03,10,11,9,10,lots\n",
       "daily/sh.600519.csv:3: non-numeric volume 'lots'"},
      {head + good + "2024-13-01,10,11,9,10,100\n",
       "daily/sh.600519.csv:3: invalid date '2024-13-01'"},
      {head + good + "2024-02-30,10,11,9,10,100\n",
       "daily/sh.600519.csv:3: invalid date '2024-02-30'"},
      {head + good + "2024/01/03,10,11,9,10,100\n",
       "daily/sh.600519.csv:3: invalid date '2024/01/03'"},
      // Cells the fast paths turn down, on a line with and without a line break after it.
      {head + good + "2024-01-03,10,11,9,1.2.3,100\n",
       "daily/sh.600519.csv:3: non-numeric close price '1.2.3'"},
      {head + good + "2024-01-03,10,11,9,10,-", "daily/sh.600519.csv:3: non-numeric volume '-'"},
      {head + good + "2024-01-03,10,11,9,10,-\n", "daily/sh.600519.csv:3: non-numeric volume '-'"},
      {head + good + "2024-0a-03,10,11,9,10,100\n",
       "daily/sh.600519.csv:3: invalid date '2024-0a-03'"},
      {head + good + "2024-01-3:,10,11,9,10,100\n",
       "daily/sh.600519.csv:3: invalid date '2024-01-3:'"},
      {head + good + "2024-01-03,10,11,9\n",
       "daily/sh.600519.csv:3: expected at least 6 fields, found 4"},
      {head + good + "2024-01-03,1,1,1,1,1\n" + good,
       "daily/sh.600519.csv:4: duplicate date 2024-01-02 (also on line 2)"},
      {"date,Close,收盘,open,high,low,volume\n", "both mean 'close'"},
  };
  for (const auto& c : cases) EXPECT_THAT(error_of(c.text), HasSubstr(c.expected)) << c.text;
}

TEST(BarCsv, DuplicateFoundAfterSortingReportsTheLaterLine) {
  auto msg = error_of(
      "date,open,high,low,close,volume\n"
      "2024-01-05,1,1,1,1,1\n"
      "2024-01-02,1,1,1,1,1\n"
      "2024-01-05,2,2,2,2,2\n");
  EXPECT_THAT(msg, HasSubstr("daily/sh.600519.csv:4: duplicate date 2024-01-05 (also on line 2)"));
}

TEST(BarCsv, AliasesDateFormsAndRowOrder) {
  // Exporter-style header in Chinese and mixed case, YYYYMMDD dates, rows newest first,
  // an unused column, CRLF endings and a byte-order mark.
  auto t = parse_bar_csv(
      "\xEF\xBB\xBF日期,代码,开盘,最高,最低,收盘,VOL,成交额\r\n"
      "20240104,600519,12,13,11,12.5,300,3750\r\n"
      "20240102,600519,10,11,9,10.5,100,1050\r\n"
      "2024-01-03,600519,11,12,10,11.5,200,2300\r\n",
      kSource);
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(iso_date(t.dates()[0]), "2024-01-02");
  EXPECT_EQ(iso_date(t.dates()[2]), "2024-01-04");
  EXPECT_EQ(t.columns(),
            (std::vector<std::string>{"open", "high", "low", "close", "volume", "amount"}));
  EXPECT_EQ(t.col("close"), (std::vector<double>{10.5, 11.5, 12.5}));
  EXPECT_EQ(t.col("volume"), (std::vector<double>{100, 200, 300}));
  EXPECT_EQ(t.col("amount"), (std::vector<double>{1050, 2300, 3750}));

  auto u =
      parse_bar_csv("Trade_Date,Open,High,Low,Close,Volume\n2024-01-02,1,2,0.5,1.5,10\n", kSource);
  EXPECT_EQ(u.size(), 1u);
  EXPECT_FALSE(u.has("amount"));
}

TEST(BarCsv, EmptyVolumeOrAmountIsMissingNotZero) {
  auto t = parse_bar_csv(
      "date,open,high,low,close,volume,amount\n"
      "2024-01-02,10,11,9,10.5,,\n"
      "2024-01-03,10,11,9,10.5,5,\n",
      kSource);
  EXPECT_TRUE(std::isnan(t.col("volume")[0]));
  EXPECT_EQ(t.col("volume")[1], 5.0);
  EXPECT_TRUE(std::isnan(t.col("amount")[1]));
}

TEST(BarCsv, QuotedFieldsBlankLinesAndExactNumbers) {
  auto t = parse_bar_csv(
      "\"date\",\"open\",\"high\",\"low\",\"close\",\"volume\",\"note\"\n"
      "\n"
      "\"2024-01-02\",\"0.1\",\"0.30000000000000004\",+0.05, 0.2 ,1e3,\"a, \"\"b\"\"\"\n"
      "\n",
      kSource);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t.col("open")[0], 0.1);
  EXPECT_EQ(t.col("high")[0], 0.30000000000000004);
  EXPECT_EQ(t.col("low")[0], 0.05);
  EXPECT_EQ(t.col("close")[0], 0.2);
  EXPECT_EQ(t.col("volume")[0], 1000.0);
}

TEST(BarCsv, NumbersReadExactlyAsTheStandardParserReadsThem) {
  // Decimal texts of many lengths and magnitudes, including the longest that still fit a
  // 53-bit integer, and ones beyond it.
  std::mt19937_64 rng(7);
  std::vector<std::string> texts = {"0",
                                    "-0.0",
                                    "1.",
                                    ".5",
                                    "9007199254740993",
                                    "123456789012345.6",
                                    "0.1234567890123456789",
                                    "1e5",
                                    "2.5E-3",
                                    "80961282166115.05"};
  for (int i = 0; i < 3000; ++i) {
    auto digits = std::to_string(rng() % 1000000000000000ULL);
    auto cut = rng() % (digits.size() + 1);
    texts.push_back((i % 7 == 0 ? "-" : "") + digits.substr(0, cut) + "." + digits.substr(cut));
  }
  // Volume and amount, which may be zero or negative (prices may not).
  std::string csv = "date,open,high,low,close,volume,amount\n";
  auto day = zorvane::utils::parse_iso_date("2000-01-01");
  for (const auto& t : texts) {
    csv += iso_date(day) + ",1,1,1,1," + t + "," + t + "\n";
    day += std::chrono::days{1};
  }
  csv.pop_back();  // the last cells end the text rather than a line
  auto table = parse_bar_csv(csv, kSource);
  ASSERT_EQ(table.size(), texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    double expected = 0;
    std::from_chars(texts[i].data(), texts[i].data() + texts[i].size(), expected);
    EXPECT_EQ(table.col("amount")[i], expected) << texts[i];
    EXPECT_EQ(std::signbit(table.col("volume")[i]), std::signbit(expected)) << texts[i];
  }
}

TEST(BarCsv, HeaderOnlyIsAnEmptyTable) {
  auto t = parse_bar_csv("date,open,high,low,close,volume\n", kSource);
  EXPECT_TRUE(t.empty());
  EXPECT_TRUE(t.has("close"));
}

TEST(BarCsv, TextThatIsNotUtf8IsNamedWithLineAndColumn) {
  const std::string gbk_date = "\xC8\xD5\xC6\xDA";  // 日期 in GBK
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      // A GBK export: the header itself.
      {gbk_date + ",open,high,low,close,volume\n2024-01-02,10,11,9,10.5,100\n",
       "daily/sh.600519.csv:1: not UTF-8 (byte 0xC8 at column 1)"},
      // GBK in a column that is not read, in a cell that fails to parse, in a quoted row,
      // past the header's columns; a truncated sequence and an overlong form.
      {"date,name,open,high,low,close,volume\n2024-01-02,ok,10,11,9,10.5,100\n2024-01-03," +
           gbk_date + ",10,11,9,10.5,100\n",
       "daily/sh.600519.csv:3: not UTF-8 (byte 0xC8 at column 12)"},
      {"date,open,high,low,close,volume\n2024-01-02,10,11,9,10.5\xA3\xAC,100\n",
       "daily/sh.600519.csv:2: not UTF-8 (byte 0xA3 at column 24)"},
      {"date,open,high,low,close,volume\n\"2024-01-02\"\xC8,10,11,9,10.5,100\n",
       "daily/sh.600519.csv:2: not UTF-8 (byte 0xC8 at column 13)"},
      {"date,open,high,low,close,volume\n2024-01-02,10,11,9,10.5,100,\xC8\n",
       "daily/sh.600519.csv:2: not UTF-8 (byte 0xC8 at column 29)"},
      {"date,open,high,low,close,volume,note\n2024-01-02,10,11,9,10.5,100,\xE6\x97\n",
       "daily/sh.600519.csv:2: not UTF-8 (byte 0xE6 at column 29)"},
      {"date,open,high,low,close,volume,note\n2024-01-02,10,11,9,10.5,100,\xC0\xAF\n",
       "daily/sh.600519.csv:2: not UTF-8 (byte 0xC0 at column 29)"},
  };
  for (const auto& c : cases) {
    const auto message = error_of(c.text);
    EXPECT_THAT(message, HasSubstr(c.expected)) << c.text;
    EXPECT_THAT(message, HasSubstr("GBK"));
  }
  // Four-byte characters and Chinese text in unread columns are fine.
  EXPECT_EQ(
      parse_bar_csv("日期,名称,开盘,最高,最低,收盘,成交量\n2024-01-02,贵州茅台😀,10,11,9,10.5,100\n",
                    kSource)
          .size(),
      1u);
}

TEST(BarCsv, BarsWithNonPositivePricesAreDroppedWithOneWarning) {
  zorvane::utils::LogCapture log;
  // Forward-adjusted history: negative and zero prices in the oldest years, rows unsorted.
  auto t = parse_bar_csv(
      "date,open,high,low,close,volume\n"
      "2024-01-03,10,11,9,10.5,100\n"
      "1999-03-02,-1.2,-1.0,-1.5,-1.1,100\n"
      "1999-03-01,0.5,0.6,0,0.5,100\n"
      "2001-07-04,0.5,0.6,0.4,0,100\n"
      "2024-01-02,10,11,9,10.5,-3\n",
      kSource);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(iso_date(t.dates()[0]), "2024-01-02");
  EXPECT_EQ(t.col("volume"), (std::vector<double>{-3, 100}));  // volume is not a price
  const auto warnings = log.matching("剔除");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_THAT(warnings[0], HasSubstr("warning|daily/sh.600519.csv: 剔除 3 根"));
  EXPECT_THAT(warnings[0], HasSubstr("1999-03-01 至 2001-07-04"));

  // A file of nothing but such bars is a file without bars; a clean file warns nothing.
  EXPECT_TRUE(
      parse_bar_csv("date,open,high,low,close,volume\n2024-01-02,0,0,0,0,0\n", kSource).empty());
  log.clear();
  parse_bar_csv("date,open,high,low,close,volume\n2024-01-02,1,1,1,1,0\n", kSource);
  EXPECT_TRUE(log.matching("剔除").empty());
}

TEST(CsvLine, SplitsQuotedAndPlainFields) {
  std::vector<std::string_view> fields;
  std::string scratch;
  candlex::split_csv_line("a,\"b,c\",\"d\"\"e\",,f\r", fields, scratch);
  EXPECT_EQ(fields, (std::vector<std::string_view>{"a", "b,c", "d\"e", "", "f"}));
  candlex::split_csv_line("x,y,", fields, scratch);
  EXPECT_EQ(fields, (std::vector<std::string_view>{"x", "y", ""}));
}

}  // namespace
