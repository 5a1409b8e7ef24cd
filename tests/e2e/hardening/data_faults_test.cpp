// Damaged data centers through the programs (offline model client, so the outcome depends on
// the data alone): empty, truncated, unsorted, duplicated and non-numeric CSV files, and
// missing index files. Each run ends in the defined degraded result or in an error naming the
// file and line, never in a crash.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "e2e/hardening/fixture.hpp"
#include "zorvane/utils/json.hpp"

namespace hardening {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// The file's lines without their line breaks.
std::vector<std::string> file_lines(const fs::path& p) {
  return split_lines(slurp(p));
}

std::string join(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

// Kinds of damage, each applied to one file of a private center copy.
void reverse_rows(const fs::path& p) {
  auto lines = file_lines(p);
  std::reverse(lines.begin() + 1, lines.end());
  write_file(p, join(lines));
}

// Line `n` (1-based) repeated right after itself; returns that line's date.
std::string duplicate_line(const fs::path& p, std::size_t n) {
  auto lines = file_lines(p);
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(n), lines[n - 1]);
  write_file(p, join(lines));
  return lines[n - 1].substr(0, lines[n - 1].find(','));
}

// The close (fifth field) of line `n` replaced by `text`.
void replace_close(const fs::path& p, std::size_t n, const std::string& text) {
  auto lines = file_lines(p);
  auto& l = lines[n - 1];
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) start = l.find(',', start) + 1;
  l.replace(start, l.find(',', start) - start, text);
  write_file(p, join(lines));
}

// The file cut off inside a price of a row half-way down, as a writer that died would leave
// it; returns that row's line number. (A cut inside the last field of a row leaves a row that
// reads as complete, which no reader can tell from a shorter number.)
std::size_t truncate_mid_row(const fs::path& p) {
  auto text = slurp(p);
  auto row = text.rfind('\n', text.size() / 2) + 1;
  auto cut = text.find(',', text.find(',', row) + 1) + 2;  // two characters into "high"
  text.resize(cut);
  write_file(p, text);
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
}

class DataFaults : public ::testing::Test {
 protected:
  void SetUp() override { copy_center(center()); }

  fs::path center() const { return work.path() / "center"; }
  fs::path daily(const std::string& code) const { return center() / "daily" / (code + ".csv"); }

  Env env() const {
    return {{"CANDLEX_CENTER", center().string()},
            {"ZORVANE_PROJECT_ROOT", project_root().string()},
            {"REPORT_DIR", (work.path() / "report").string()},
            {"ZORVANE_SUMORA_DIR", std::nullopt},
            {"KAFKA_BOOTSTRAP_SERVERS", std::nullopt},
            {"LLM_CLIENT_TYPE", "offline"}};
  }

  Finished program(const std::string& exe, const std::vector<std::string>& args) const {
    fs::remove_all(work.path() / "report");  // every run starts with an empty cache
    return run(exe, args, env(), work.path(), std::chrono::seconds(180));
  }

  zv_test::TempDir work{"hardening-data"};
};

TEST_F(DataFaults, MalformedIndexFileStopsTheBriefNamingFileAndLine) {
  struct Case {
    std::string name;
    std::function<std::string()> damage;  // returns the expected "file:line: problem" text
  };
  const std::vector<Case> cases = {
      {"non-numeric close",
       [&] {
         replace_close(daily("sz.399006"), 17, "abc");
         return std::string("daily/sz.399006.csv:17: non-numeric close price 'abc'");
       }},
      {"duplicated row",
       [&] {
         auto date = duplicate_line(daily("sz.399006"), 20);
         return "daily/sz.399006.csv:21: duplicate date " + date + " (also on line 20)";
       }},
      {"truncated mid-row",
       [&] {
         auto line = truncate_mid_row(daily("sh.000300"));
         return "daily/sh.000300.csv:" + std::to_string(line) + ": ";
       }},
      {"empty file",
       [&] {
         write_file(daily("sh.000688"), "");
         return std::string("daily/sh.000688.csv:1: empty file, no header line");
       }},
      // The main index also drives the trading calendar that moves the end date.
      {"main index non-numeric",
       [&] {
         replace_close(daily("sh.000001"), 9, "--");
         return std::string("daily/sh.000001.csv:9: non-numeric close price '--'");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(center());
    copy_center(center());
    const auto expected = c.damage();
    auto r = program(TARSEN_EXE, {"-m", "A", "-t", kDay});
    EXPECT_FALSE(r.hung);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("tarsen: error: " + expected));
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(work.path() / "report" / "sumoras" / ("A_" + kDay + "_v4.md")));
  }
}

TEST_F(DataFaults, MissingOrEmptyIndexDegradesToNoDataRows) {
  const auto baseline = program(TARSEN_EXE, {"-m", "A", "-t", kDay});
  ASSERT_EQ(baseline.status, 0) << baseline.err;
  ASSERT_THAT(baseline.out, HasSubstr("| **创业板指** | "));

  // A file with its header only holds no bars; a missing file neither.
  write_file(daily("sz.399006"), file_lines(daily("sz.399006"))[0] + "\n");
  const auto header_only = program(TARSEN_EXE, {"-m", "A", "-t", kDay});
  fs::remove(daily("sz.399006"));
  const auto missing = program(TARSEN_EXE, {"-m", "A", "-t", kDay});
  for (const auto* r : {&header_only, &missing}) {
    EXPECT_EQ(r->status, 0) << r->err;
    EXPECT_THAT(r->out, HasSubstr("| **创业板指** | — | — | 数据不足 |"));
    // The other core indices are untouched.
    for (const char* name : {"上证指数", "科创50", "沪深300"}) {
      auto row = "| **" + std::string(name) + "** | ";
      auto line = baseline.out.substr(baseline.out.find(row));
      line = line.substr(0, line.find('\n'));
      EXPECT_THAT(r->out, HasSubstr(line));
    }
  }

  // Without the main index the brief still comes, from rule calendars.
  fs::remove(daily("sh.000001"));
  const auto no_main = program(TARSEN_EXE, {"-m", "A", "-t", kDay});
  EXPECT_EQ(no_main.status, 0) << no_main.err;
  EXPECT_THAT(no_main.out, HasSubstr("| **上证指数** | — | — | 数据不足 |"));

  fs::remove(daily("us.SPX"));
  const auto us = program(TARSEN_EXE, {"-m", "US", "-t", kDay});
  EXPECT_EQ(us.status, 0) << us.err;
  EXPECT_THAT(us.out, HasSubstr("| **标普500** | — | — | 数据不足 |"));
}

TEST_F(DataFaults, RowOrderDoesNotChangeAnyResult) {
  const auto brief = program(TARSEN_EXE, {"-m", "A", "-t", kDay});
  const auto hk = program(TARSEN_EXE, {"-m", "HK", "-t", kDay});
  const auto stock = program(KELVO_EXE, {"-s", "sh.600519", "-t", kDay});
  ASSERT_EQ(brief.status, 0) << brief.err;
  ASSERT_EQ(hk.status, 0) << hk.err;
  ASSERT_EQ(stock.status, 0) << stock.err;

  for (const auto& e : fs::directory_iterator(center() / "daily")) reverse_rows(e.path());
  const auto brief2 = program(TARSEN_EXE, {"-m", "A", "-t", kDay});
  const auto hk2 = program(TARSEN_EXE, {"-m", "HK", "-t", kDay});
  const auto stock2 = program(KELVO_EXE, {"-s", "sh.600519", "-t", kDay});
  EXPECT_EQ(brief2.status, 0) << brief2.err;
  EXPECT_EQ(brief2.out, brief.out);
  EXPECT_EQ(hk2.out, hk.out);

  // The report and summary that kelvo logs (the log lines without their time stamps).
  auto analysis = [](const std::string& err) {
    auto from = err.find("===== 股票分析报告 =====");
    auto to = err.find("===== 总结结束 =====");
    std::vector<std::string> out;
    if (from == std::string::npos || to == std::string::npos) return out;
    for (const auto& line : split_lines(err.substr(from, to - from)))
      out.push_back(line.size() > 24 && line[4] == '-' ? line.substr(24) : line);
    return out;
  };
  EXPECT_EQ(stock2.status, 0) << stock2.err;
  EXPECT_THAT(analysis(stock.err), Not(IsEmpty()));
  EXPECT_EQ(analysis(stock2.err), analysis(stock.err));
}

TEST_F(DataFaults, StockCommandNamesTheBrokenFile) {
  replace_close(daily("sh.600519"), 30, "12,5");  // a decimal comma shifts the columns
  auto bad_stock = program(KELVO_EXE, {"-s", "sh.600519", "-t", kDay});
  EXPECT_FALSE(bad_stock.hung);
  EXPECT_EQ(bad_stock.status, 1);
  EXPECT_THAT(bad_stock.err, HasSubstr("kelvo: error: daily/sh.600519.csv:30: expected at most 7 "
                                       "fields, found 8"));
  EXPECT_THAT(bad_stock.err, Not(HasSubstr("正在分析股票")));

  // A broken names file: the name lookup of the command is tolerated and logged; the status
  // evaluation's own lookup is not, and names the line.
  write_file(center() / "names.csv", "code,name\nsh.600519\n");
  auto bad_names = program(KELVO_EXE, {"-s", "hk.00700", "-t", kDay});
  EXPECT_EQ(bad_names.status, 1);
  EXPECT_THAT(log_lines(bad_names.err),
              ::testing::Contains(
                  "info|获取股票名称时出错: names.csv:2: expected at least 2 fields, found 1"));
  EXPECT_THAT(bad_names.err,
              HasSubstr("kelvo: error: names.csv:2: expected at least 2 fields, found 1"));
}

TEST_F(DataFaults, ScanSkipsBrokenFilesAndNamesEach) {
  const auto good = daily("sh.600519");
  const auto copy_as = [&](const std::string& code) {
    fs::copy_file(good, daily(code));
    return daily(code);
  };
  // The scan reads only the end of each file (its 400-day window up to kDay), so the damage
  // is put among the last rows; damage years earlier goes unnoticed (sh.600108).
  const auto last = file_lines(good).size();
  copy_as("sh.600101");
  reverse_rows(copy_as("sh.600102"));
  write_file(copy_as("sh.600103"), "");
  const auto cut_line = truncate_mid_row(copy_as("sh.600104"));
  const auto dup_date = duplicate_line(copy_as("sh.600105"), last - 60);
  replace_close(copy_as("sh.600106"), last - 70, "n/a");
  write_file(copy_as("sh.600107"), file_lines(good)[0] + "\n");
  replace_close(copy_as("sh.600108"), 40, "n/a");
  std::string pool;
  for (int i = 1; i <= 8; ++i) pool += "sh.60010" + std::to_string(i) + "\n";
  write_file(work.path() / "pool.txt", pool);

  auto r = program(SCAN_EXE, {"--pool", "pool.txt", "-t", kDay, "--format", "json"});
  EXPECT_FALSE(r.hung);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> expected = {
      "sh.600103 无法读取，已跳过: daily/sh.600103.csv:1: empty file, no header line",
      "sh.600104 无法读取，已跳过: daily/sh.600104.csv:" + std::to_string(cut_line) + ": ",
      "sh.600105 无法读取，已跳过: daily/sh.600105.csv:" + std::to_string(last - 59) +
          ": duplicate date " + dup_date + " (also on line " + std::to_string(last - 60) + ")",
      "sh.600106 无法读取，已跳过: daily/sh.600106.csv:" + std::to_string(last - 70) +
          ": non-numeric close price 'n/a'",
  };
  for (const auto& e : expected) EXPECT_THAT(r.err, HasSubstr("warning | " + e));
  EXPECT_THAT(r.err, HasSubstr("scan: 4 只股票无法读取"));

  auto doc = zorvane::utils::parse_json(r.out);
  EXPECT_EQ(doc["pool_size"].GetInt(), 8);
  // The good file, its reversed copy and the one damaged before the window.
  EXPECT_EQ(doc["with_data"].GetInt(), 3);
  // The reversed copy is judged exactly as the original.
  std::map<std::string, std::string> items;
  for (auto& section : doc["sections"].GetObject()) {
    for (auto& item : section.value.GetArray()) {
      std::string code = item["code"].GetString();
      item["code"].SetString("");
      items[code] =
          std::string(section.name.GetString()) + " " + zorvane::utils::safe_json_dumps(item);
    }
  }
  ASSERT_EQ(items.count("sh.600101"), items.count("sh.600102"));
  if (items.count("sh.600101")) {
    EXPECT_EQ(items["sh.600101"], items["sh.600102"]);
  }
}

}  // namespace
}  // namespace hardening
