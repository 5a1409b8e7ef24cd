// End-to-end runs of scan: the sample market, a hand-made data center with known findings,
// pool files, selectors, progress and option errors.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "candlex/sample_market.hpp"
#include "e2e/tarsen/child_process.hpp"
#include "morvik/pattern_fixtures.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/json.hpp"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

// 61 weekday bars from Monday 2024-01-01 end on Monday 2024-03-25 (a daily-frequency day).
const std::string kLastDay = "2024-03-25";

void write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

zv_test::BarBuilder quiet_range(unsigned seed) {
  zv_test::BarBuilder b;
  zv_test::Noise noise(seed);
  for (int i = 0; i < 60; ++i) b.step(10.0 * (1 + 0.01 * noise.next()), 1e6);
  return b;
}

std::vector<std::string> codes(const rapidjson::Value& list) {
  std::vector<std::string> out;
  for (const auto& r : list.GetArray()) out.emplace_back(r["code"].GetString());
  return out;
}

class Scan : public ::testing::Test {
 protected:
  void SetUp() override {
    // sh.600001: a 3x-volume rise out of a quiet range; sz.000002: a fall out of it;
    // sh.600003: still quiet; sh.000001: an index; sh.600009: a malformed file.
    auto spike = quiet_range(7);
    const double last = spike.last_close();
    spike.add(last, last * 1.045, last * 0.998, last * 1.04, 3.2e6);
    auto fall = quiet_range(7);
    fall.step(fall.last_close() * 0.93, 1e6);
    auto calm = quiet_range(7);
    calm.step(calm.last_close(), 1e6);
    write(center_ / "daily" / "sh.600001.csv", candlex::bars_to_csv(spike.table()));
    write(center_ / "daily" / "sz.000002.csv", candlex::bars_to_csv(fall.table()));
    write(center_ / "daily" / "sh.600003.csv", candlex::bars_to_csv(calm.table()));
    write(center_ / "daily" / "sh.000001.csv", candlex::bars_to_csv(calm.table()));
    write(center_ / "daily" / "sh.600009.csv", "date,open,high,low,close,volume\n2024-01-02,x\n");
    write(center_ / "names.csv", "code,name\nsh.600001,放量股\nsz.000002,破位股\n");
  }

  e2e::ChildResult scan(const std::vector<std::string>& args, bool sample = false) {
    return e2e::run_child(
        SCAN_EXE, args,
        {{"CANDLEX_CENTER", sample ? std::nullopt : std::optional<std::string>(center_.str())},
         {"ZORVANE_PROJECT_ROOT", std::string(ZV_SOURCE_DIR)}},
        work_.path());
  }

  zv_test::TempDir center_{"scan-center"};
  zv_test::TempDir work_{"scan-work"};
};

TEST_F(Scan, SampleMarketEtfRadarPrintsThreeSections) {
  const auto r = scan({"--market", "ETF", "--selector", "radar"}, true);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto a = r.out.find("《量化异动》"), b = r.out.find("《潜在机会》"),
             c = r.out.find("《风险提示》");
  ASSERT_NE(a, std::string::npos) << r.out;
  ASSERT_NE(b, std::string::npos) << r.out;
  ASSERT_NE(c, std::string::npos) << r.out;
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_THAT(r.out, HasSubstr("股票池: 50, 有数据: 50"));

  const auto j = scan({"--market", "ETF", "--format", "json"}, true);
  ASSERT_EQ(j.status, 0) << j.err;
  const auto doc = zorvane::utils::parse_json(j.out);
  EXPECT_EQ(doc["pool_size"].GetInt(), 50);
  std::set<std::string> seen;
  for (const auto& section : doc["sections"].GetObject())
    for (const auto& code : codes(section.value))
      EXPECT_TRUE(seen.insert(code).second) << code << " listed twice";
}

TEST_F(Scan, MarketRadarFindsTheConstructedCases) {
  const auto r = scan({"--market", "A", "-t", kLastDay, "--format", "json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto doc = zorvane::utils::parse_json(r.out);
  EXPECT_EQ(std::string(doc["frequency"].GetString()), "daily");
  // The index is not a stock; the malformed file counts in the pool but is skipped.
  EXPECT_EQ(doc["pool_size"].GetInt(), 4);
  EXPECT_EQ(doc["with_data"].GetInt(), 3);
  EXPECT_EQ(codes(doc["sections"]["量化异动"]), std::vector<std::string>{"sh.600001"});
  EXPECT_EQ(codes(doc["sections"]["风险提示"]), std::vector<std::string>{"sz.000002"});
  EXPECT_EQ(std::string(doc["sections"]["量化异动"][0]["name"].GetString()), "放量股");
  EXPECT_THAT(r.err, HasSubstr("sh.600009"));
  EXPECT_THAT(r.err, HasSubstr("1 只股票无法读取"));

  // A Friday end date switches the radar to weekly bars.
  const auto w = scan({"--market", "A", "-t", "2024-03-22", "--format", "json"});
  ASSERT_EQ(w.status, 0) << w.err;
  EXPECT_EQ(std::string(zorvane::utils::parse_json(w.out)["frequency"].GetString()), "weekly");
}

TEST_F(Scan, PoolFileAndSelectors) {
  write(work_ / "pool.txt",
        "\xEF\xBB\xBF# 自选股\r\n600001,自选一号\r\n\r\nsz.000002   # 破位\n"
        "SH.600001\n000003.SZ\n");
  const auto r = scan({"--pool", "pool.txt", "-t", kLastDay, "--selector", "all"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The duplicate is dropped and the file's name wins over names.csv; a code without bars is
  // counted in the pool but cannot pass.
  EXPECT_THAT(r.out, HasSubstr("股票池: 3, 有数据: 2, 通过: 2"));
  EXPECT_THAT(r.out, HasSubstr("  sh.600001  自选一号  评分 0.00  策略 ALL\n"));
  EXPECT_THAT(r.out, HasSubstr("  sz.000002  破位股  评分 0.00  策略 ALL\n"));
  EXPECT_THAT(r.out, Not(HasSubstr("sz.000003  ")));

  const auto c =
      scan({"--pool", "pool.txt", "-t", kLastDay, "--selector", "combined", "--format", "json"});
  ASSERT_EQ(c.status, 0) << c.err;
  const auto doc = zorvane::utils::parse_json(c.out);
  EXPECT_EQ(std::string(doc["selector"].GetString()), "combined");
  EXPECT_EQ(doc["with_data"].GetInt(), 2);
  EXPECT_TRUE(doc["passed"].IsArray());

  write(work_ / "bad.txt", "sh.600001\n../etc/passwd\n");
  const auto bad = scan({"--pool", "bad.txt"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_THAT(bad.err, HasSubstr("bad.txt line 2"));

  // Lines that are no security code, and a directory, are errors naming what is wrong.
  for (const std::string line : {"hello world", "!!!", "us.", "xx.12345"}) {
    write(work_ / "words.txt", "# 自选\nsh.600001\n" + line + "\n");
    const auto words = scan({"--pool", "words.txt"});
    EXPECT_EQ(words.status, 2) << line;
    EXPECT_THAT(words.err, HasSubstr("words.txt line 3: not a security code")) << line;
  }
  fs::create_directories(work_ / "pool.d");
  const auto dir = scan({"--pool", "pool.d"});
  EXPECT_EQ(dir.status, 2);
  EXPECT_THAT(dir.err, HasSubstr("pool.d: not a regular file"));
  EXPECT_TRUE(dir.out.empty());
}

TEST_F(Scan, ProgressOnlyForLargePools) {
  const std::string csv = candlex::bars_to_csv(quiet_range(3).table());
  std::string pool;
  for (int i = 0; i < 101; ++i) {
    char code[16];
    std::snprintf(code, sizeof code, "sh.601%03d", i);
    write(center_ / "daily" / (std::string(code) + ".csv"), csv);
    if (i < 100) pool += std::string(code) + "\n";
  }
  write(work_ / "hundred.txt", pool);
  const auto small = scan({"--pool", "hundred.txt", "-t", kLastDay});
  ASSERT_EQ(small.status, 0) << small.err;
  EXPECT_THAT(small.err, Not(HasSubstr("scan: 读取行情")));

  const auto large = scan({"--market", "A", "-t", kLastDay, "--selector", "tf"});
  ASSERT_EQ(large.status, 0) << large.err;
  EXPECT_THAT(large.err, HasSubstr("scan: 筛选 105/105 (100%)"));
  EXPECT_THAT(large.out, HasSubstr("股票池: 105, 有数据: 104"));
}

TEST_F(Scan, BadOptionsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--pool", "a.txt", "--market", "A"},
      {"--market", "CN"},
      {"--market", "A", "--selector", "magic"},
      {"--market", "A", "--format", "xml"},
      {"--market", "A", "-t", "2024-13-01"},
      {"--market", "A", "-t", "2999-01-01"},
      {"--market", "A", "-t", "0000-01-01"},
      {"--market", "A", "-t", "1899-12-31"},
      {"--pool", "missing.txt"},
      {"--market", "A", "--frobnicate"},
  };
  for (const auto& args : cases) {
    const auto r = scan(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.status, 2) << joined << "\n" << r.err;
    EXPECT_FALSE(r.err.empty()) << joined;
    EXPECT_TRUE(r.out.empty()) << joined;
  }
  const auto early = scan({"--market", "A", "-t", "0001-01-01"});
  EXPECT_THAT(early.err, HasSubstr("invalid date '0001-01-01', expected YYYY-MM-DD"));
  EXPECT_EQ(scan({"--help"}).status, 0);
}

}  // namespace
