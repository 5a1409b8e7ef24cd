// The center updater against the local replay server: fills, appends, restatements,
// fallback between the sources, blocks, failures, and names.csv.

#include "candlex/fetch/center_update.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "candlex/csv_reader.hpp"
#include "candlex/data_center.hpp"
#include "candlex/fetch/eastmoney.hpp"
#include "candlex/fetch/replay_server.hpp"
#include "candlex/fetch/tencent.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

namespace fs = std::filesystem;
using namespace candlex::fetch;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// An instant given as "YYYY-MM-DD" plus hours UTC (Shanghai is UTC+8: the close is 07:00).
std::chrono::system_clock::time_point at(const std::string& day, int hour_utc) {
  return zorvane::utils::parse_iso_date(day) + std::chrono::hours{hour_utc};
}

class CenterUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto& s : replay::mainland_market("2024-01-02", "2024-06-28")) server.put(s);
  }

  // Runs `codes` with the sources pointed at the given base URLs.
  RunReport run(const std::vector<std::string>& codes, std::chrono::system_clock::time_point now,
                const std::string& east_url = "", const std::string& tencent_url = "") {
    eastmoney::Hosts eh;
    eh.mainland = eh.hong_kong = eh.us = eh.list = east_url.empty() ? server.url() : east_url;
    tencent::Hosts th;
    th.mainland = th.web = tencent_url.empty() ? server.url() : tencent_url;
    eastmoney::Source east(http, eh, prefixes);
    tencent::Source tx(http, th, prefixes);
    UpdateOptions o;
    o.center = center.path();
    o.now = now;
    o.start = start;
    o.jobs = jobs;
    CenterUpdater updater(o, {&east, &tx}, [this](const std::string& w) { warnings.push_back(w); });
    auto report = updater.run(codes);
    names = updater.names();
    return report;
  }

  candlex::BarTable stored(const std::string& code) {
    return candlex::read_bar_csv(center / "daily" / (code + ".csv"), code);
  }

  replay::Server server;
  zv_test::TempDir center{"fetch-center"};
  HttpClient http{HttpOptions{std::chrono::milliseconds(0), 1, std::chrono::milliseconds(5000)}};
  UsPrefixes prefixes;
  std::optional<candlex::Day> start;
  int jobs = 1;
  std::vector<std::string> warnings;
  std::map<std::string, std::string> names;
};

TEST_F(CenterUpdate, FillAppendRestateAndUnchanged) {
  // 10:00 in Shanghai on the 28th: that day's bar is not finished and is not stored.
  auto r = run({"sh.600519"}, at("2024-06-28", 2));
  ASSERT_EQ(r.codes[0].outcome, Outcome::created) << r.codes[0].reason;
  auto t = stored("sh.600519");
  EXPECT_EQ(zorvane::utils::iso_date(t.last_date()), "2024-06-27");
  const auto rows = replay::walk("2024-01-02", "2024-06-28", 1500, 30000);
  EXPECT_EQ(t.size(), rows.size() - 1);
  EXPECT_DOUBLE_EQ(t.col("volume")[0], rows[0].volume * 100);  // lots to shares
  EXPECT_DOUBLE_EQ(t.col("amount")[0], rows[0].amount);
  EXPECT_DOUBLE_EQ(t.col("close")[0], rows[0].close);
  EXPECT_EQ(names["sh.600519"], "贵州茅台");

  // After the close: one overlap bar asked for, one new bar appended.
  server.clear_log();
  r = run({"sh.600519"}, at("2024-06-28", 8));
  ASSERT_EQ(r.codes[0].outcome, Outcome::updated) << r.codes[0].reason;
  EXPECT_EQ(r.codes[0].bars, 1u);
  EXPECT_EQ(server.log(), std::vector<std::string>{"eastmoney 1.600519 beg=20240627"});
  EXPECT_EQ(stored("sh.600519").size(), rows.size());

  // Nothing new: the file is left alone.
  const auto before = slurp(center / "daily" / "sh.600519.csv");
  r = run({"sh.600519"}, at("2024-06-28", 9));
  EXPECT_EQ(r.codes[0].outcome, Outcome::unchanged);
  EXPECT_EQ(slurp(center / "daily" / "sh.600519.csv"), before);

  // An ex-dividend day restates the forward-adjusted history: the whole file is replaced.
  server.restate("1.600519", 0.97);
  server.add_row("1.600519", {"2024-07-01", 1400, 1410, 1420, 1390, 25000, 3.5e9});
  server.clear_log();
  r = run({"sh.600519"}, at("2024-07-01", 8));
  ASSERT_EQ(r.codes[0].outcome, Outcome::restated) << r.codes[0].reason;
  EXPECT_EQ(server.log(), (std::vector<std::string>{"eastmoney 1.600519 beg=20240628",
                                                    "eastmoney 1.600519 beg=0"}));
  t = stored("sh.600519");
  EXPECT_EQ(t.size(), rows.size() + 1);
  EXPECT_NEAR(t.col("close")[0], rows[0].close * 0.97, 1e-9);
}

TEST_F(CenterUpdate, FallsBackWhenTheFirstSourceBlocks) {
  // data: null for a code Tencent knows: Eastmoney is taken as blocking for the rest.
  server.set_modes(replay::Server::Mode::data_null, replay::Server::Mode::normal);
  auto r = run({"sh.600519", "sh.000300"}, at("2024-06-28", 8));
  for (const auto& c : r.codes) {
    EXPECT_EQ(c.outcome, Outcome::created) << c.code << ": " << c.reason;
    EXPECT_EQ(c.source, "tencent") << c.code;
  }
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_THAT(warnings[0], HasSubstr("eastmoney is refusing our requests"));
  auto log = server.log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) { return l.rfind("eastmoney", 0) == 0; }),
            1);
  // Tencent's rows land in the same units: lots to shares, amount from 10,000 yuan.
  const auto rows = replay::walk("2024-01-02", "2024-06-28", 1500, 30000);
  auto t = stored("sh.600519");
  EXPECT_DOUBLE_EQ(t.col("volume")[0], rows[0].volume * 100);
  EXPECT_NEAR(t.col("amount")[0], rows[0].amount, 0.01);
  EXPECT_EQ(t.size(), rows.size());

  // A dropped connection is a block too, and is not retried.
  fs::remove_all(center / "daily");
  warnings.clear();
  replay::Dropper dropper;
  server.set_modes(replay::Server::Mode::normal, replay::Server::Mode::normal);
  r = run({"sh.600519", "sh.000300"}, at("2024-06-28", 8), dropper.url());
  EXPECT_EQ(r.codes[0].outcome, Outcome::created);
  EXPECT_EQ(r.codes[1].outcome, Outcome::created);
  EXPECT_EQ(dropper.accepted(), 1);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_THAT(warnings[0], HasSubstr("connection closed without a response"));

  // Both sources blocking: the run stops and writes nothing more.
  fs::remove_all(center / "daily");
  r = run({"sh.600519", "sh.000300"}, at("2024-06-28", 8), dropper.url(), dropper.url());
  EXPECT_THAT(r.stopped, HasSubstr("Wait a few hours"));
  EXPECT_EQ(r.codes[1].outcome, Outcome::not_run);
  EXPECT_FALSE(fs::exists(center / "daily" / "sh.600519.csv"));
}

TEST_F(CenterUpdate, FailuresKeepStoredFilesAndDoNotBlock) {
  // Unknown to both sources: a failure naming both, and Eastmoney stays in use.
  auto r = run({"sh.600000", "sh.600519"}, at("2024-06-28", 8));
  EXPECT_EQ(r.codes[0].outcome, Outcome::failed);
  EXPECT_THAT(r.codes[0].reason, HasSubstr("eastmoney: data: null"));
  EXPECT_THAT(r.codes[0].reason, HasSubstr("tencent: no data for sh600000"));
  EXPECT_EQ(r.codes[1].source, "eastmoney");
  EXPECT_TRUE(warnings.empty());

  // Empty klines for the window: nothing written.
  start = zorvane::utils::parse_iso_date("2024-07-01");
  r = run({"sh.000300"}, at("2024-06-28", 8));
  EXPECT_EQ(r.codes[0].outcome, Outcome::failed);
  EXPECT_THAT(r.codes[0].reason, HasSubstr("no closed bars"));
  EXPECT_FALSE(fs::exists(center / "daily" / "sh.000300.csv"));
  start.reset();

  // Bodies cut short by both sources: the stored file stays as it was.
  server.restate("1.600519", 0.9);
  const auto before = slurp(center / "daily" / "sh.600519.csv");
  server.set_modes(replay::Server::Mode::truncated, replay::Server::Mode::truncated);
  r = run({"sh.600519"}, at("2024-06-28", 8));
  EXPECT_EQ(r.codes[0].outcome, Outcome::failed);
  EXPECT_THAT(r.codes[0].reason, HasSubstr("malformed reply"));
  EXPECT_EQ(slurp(center / "daily" / "sh.600519.csv"), before);

  // A 503 is retried.
  server.set_modes(replay::Server::Mode::error_503_once, replay::Server::Mode::param_error);
  server.clear_log();
  r = run({"sh.000905"}, at("2024-06-28", 8));
  EXPECT_EQ(r.codes[0].outcome, Outcome::created) << r.codes[0].reason;
  EXPECT_EQ(server.log().size(), 2u);
}

TEST_F(CenterUpdate, NamesAreMergedKeepingOldOnes) {
  std::ofstream(center / "names.csv") << "code,name\nsh.600519,旧名\nsz.000002,\"万科A, 地产\"\n";
  jobs = 3;
  auto r = run({"sh.600519", "sh.000001", "sh.000300", "sz.399001"}, at("2024-06-28", 8));
  for (const auto& c : r.codes) EXPECT_EQ(c.outcome, Outcome::created) << c.code;
  merge_names(center.path(), names);
  candlex::clear_center_cache();
  auto merged = *candlex::load_center_names(center.path());
  EXPECT_EQ(merged["sh.600519"], "贵州茅台");
  EXPECT_EQ(merged["sz.000002"], "万科A, 地产");
  EXPECT_EQ(merged["sh.000001"], "上证指数");
}

}  // namespace
