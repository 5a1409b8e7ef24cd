#include "morvik/sentiment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>

#include <sys/stat.h>

#include "candlex/codes.hpp"
#include "candlex/data_center.hpp"
#include "morvik/sentiment_cache.hpp"
#include "morvik/sentiment_fixtures.hpp"
#include "morvik/sentiment_universe.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"
#include "zorvane/utils/text.hpp"

namespace {

namespace fs = std::filesystem;
using morvik::compute_sentiment_snapshot;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

void write_file(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}
std::string dumps(const rapidjson::Value& v) {
  return zorvane::utils::safe_json_dumps(v);
}
std::vector<fs::path> files_in(const fs::path& dir) {
  std::error_code ec;
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir, ec)) out.push_back(e.path());
  return out;
}

// A universe file and a bar source over constructed ETFs that records every request.
class Snapshot : public ::testing::Test {
 protected:
  void SetUp() override {
    morvik::clear_sentiment_cache();
    std::string yaml = "etfs:\n";
    for (auto& e : senti_test::make_universe(10, senti_test::day("2019-01-07"),
                                             {{900, 0.0, 0.012}, {90, 0.004, 0.006, 0.01}})) {
      yaml += "  - code: \"" + e.code + "\"\n    name: 测试\n";
      bars_[e.code] = std::move(e.daily);
    }
    date_ = zorvane::utils::iso_date(bars_.begin()->second.last_date());
    write_file(universe_, yaml);
  }
  void TearDown() override { morvik::clear_sentiment_cache(); }

  morvik::SentimentConfig config(const std::string& freq = "D", const std::string& id = "t") {
    morvik::SentimentConfig c;
    c.freq = freq;
    c.universe_path = universe_.string();
    c.source_id = id;
    c.bar_loader = [this](const std::string& code, const std::string& start,
                          const std::string& end) {
      ends_.push_back(end);
      starts_.push_back(start);
      if (failing_.count(code)) throw std::runtime_error("bad csv for " + code);
      auto it = bars_.find(code);
      return it == bars_.end() ? candlex::BarTable()
                               : it->second.until(zorvane::utils::parse_iso_date(end));
    };
    return c;
  }
  std::size_t loads() {
    auto n = ends_.size();
    ends_.clear();
    starts_.clear();
    return n;
  }

  zv_test::TempDir dir_{"senti-test"};
  zv_test::EnvGuard report_env_{"REPORT_DIR", (dir_ / "reports").string()};
  fs::path universe_ = dir_ / "etf.yaml";
  fs::path cache_ = dir_ / "reports" / "sentiment";
  std::map<std::string, candlex::BarTable> bars_;
  std::set<std::string> failing_;
  std::vector<std::string> starts_, ends_;
  std::string date_;
};

TEST_F(Snapshot, AsksTheSourceUpToTheDate) {
  auto daily = compute_sentiment_snapshot(date_, config("D"), false);
  ASSERT_EQ(ends_.size(), 10u);
  for (const auto& e : ends_) EXPECT_EQ(e, date_);
  const auto daily_start = starts_.front();
  loads();
  auto weekly = compute_sentiment_snapshot(date_, config("W"), false);
  EXPECT_LT(starts_.front(), daily_start);  // the weekly look-back is longer
  // Both look-backs cover the ranking history in full.
  EXPECT_EQ(daily["confidence"].GetDouble(), 1.0);
  EXPECT_EQ(weekly["confidence"].GetDouble(), 1.0);
  EXPECT_THROW(compute_sentiment_snapshot("2024/05/10", config(), false), std::invalid_argument);
}

TEST_F(Snapshot, CachedInProcessAndOnDisk) {
  const auto first = dumps(compute_sentiment_snapshot(date_, config(), true));
  EXPECT_EQ(loads(), 10u);
  ASSERT_EQ(files_in(cache_).size(), 1u);
  EXPECT_EQ(dumps(compute_sentiment_snapshot(date_, config(), true)), first);
  EXPECT_EQ(loads(), 0u);
  // A second process has only the disk file.
  EXPECT_EQ(morvik::clear_sentiment_cache(), 1u);
  EXPECT_EQ(dumps(compute_sentiment_snapshot(date_, config(), true)), first);
  EXPECT_EQ(loads(), 0u);

  // Horizon, bar source and universe content are each part of the key.
  compute_sentiment_snapshot(date_, config("W"), true);
  compute_sentiment_snapshot(date_, config("D", "other source"), true);
  EXPECT_EQ(loads(), 20u);
  std::ofstream(universe_, std::ios::app) << "  - code: \"999999\"\n";
  EXPECT_EQ(compute_sentiment_snapshot(date_, config(), true)["n_universe"].GetInt64(), 11);
  EXPECT_EQ(loads(), 11u);

  // Without the cache nothing is read or written.
  const auto files = files_in(cache_);
  compute_sentiment_snapshot(date_, config(), false);
  EXPECT_EQ(loads(), 11u);
  EXPECT_EQ(files_in(cache_), files);
  for (const auto& f : files) EXPECT_EQ(f.extension(), ".json") << f;  // no temporary left
}

TEST_F(Snapshot, DamagedOrUnwritableCacheOnlyCostsARecomputation) {
  const auto first = dumps(compute_sentiment_snapshot(date_, config(), true));
  const auto file = files_in(cache_).at(0);
  for (const char* junk : {"{\"temperature\": ", "[]", "{\"state\": \"HOT\"}"}) {
    write_file(file, junk);
    morvik::clear_sentiment_cache();
    loads();
    EXPECT_EQ(dumps(compute_sentiment_snapshot(date_, config(), true)), first) << junk;
    EXPECT_EQ(loads(), 10u) << junk;
    morvik::clear_sentiment_cache();
    EXPECT_EQ(dumps(compute_sentiment_snapshot(date_, config(), true)), first);
    EXPECT_EQ(loads(), 0u) << "the damaged file was rewritten";
  }
  // A report root that is a plain file: no cache directory, still an answer.
  write_file(dir_ / "plain", "x");
  zv_test::EnvGuard env("REPORT_DIR", (dir_ / "plain").string());
  morvik::clear_sentiment_cache();
  zorvane::utils::LogCapture log;
  EXPECT_EQ(dumps(compute_sentiment_snapshot(date_, config(), true)), first);
  EXPECT_EQ(log.matching("[情绪温度计] 缓存目录不可用").size(), 1u);
}

// With the data center as the bar source, a cached snapshot follows the files: bars that
// arrive after a first reading give a new reading, and refresh recomputes a cached one.
TEST_F(Snapshot, DataCenterBarsThatArriveLaterAreSeenAndRefreshRecomputes) {
  const fs::path center = dir_ / "center";
  const auto last = zorvane::utils::parse_iso_date(date_);
  auto write_bars = [&](candlex::Day until) {
    for (const auto& [code, table] : bars_) {
      const auto part = table.until(until);
      std::string csv = "date,open,high,low,close,volume\n";
      for (std::size_t i = 0; i < part.size(); ++i) {
        csv += zorvane::utils::iso_date(part.dates()[i]);
        for (const char* col : {"open", "high", "low", "close", "volume"})
          csv += "," + zorvane::utils::float_text(part.col(col)[i]);
        csv += "\n";
      }
      const auto file = center / candlex::daily_file_name(candlex::normalize_code(code));
      fs::create_directories(file.parent_path());
      write_file(file, csv);
    }
  };
  zv_test::EnvGuard source("CANDLEX_CENTER", center.string());
  morvik::SentimentConfig cfg;
  cfg.universe_path = universe_.string();

  write_bars(last - std::chrono::days{1});  // the day's bars are not in yet
  const auto early = compute_sentiment_snapshot(date_, cfg, true);
  EXPECT_LT(std::string(early["date"].GetString()), date_);
  write_bars(last);
  fs::remove_all(cache_);
  const auto late = compute_sentiment_snapshot(date_, cfg, true);
  EXPECT_EQ(std::string(late["date"].GetString()), date_);

  // A cached reading is answered from the cache until refresh recomputes and replaces it.
  const auto file = files_in(cache_).at(0);
  write_file(file, R"({"temperature": 1.0, "state": "ICE_COLD", "direction": "flat"})");
  morvik::clear_sentiment_cache();
  EXPECT_EQ(compute_sentiment_snapshot(date_, cfg, true)["temperature"].GetDouble(), 1.0);
  EXPECT_EQ(dumps(compute_sentiment_snapshot(date_, cfg, true, true)), dumps(late));
  morvik::clear_sentiment_cache();
  EXPECT_EQ(dumps(compute_sentiment_snapshot(date_, cfg, true)), dumps(late));
}

// A FIFO in place of a snapshot file would hang a plain reader; a symbolic link would serve
// another file. Both are misses with a warning, and the fresh snapshot replaces the entry.
TEST_F(Snapshot, CacheFileThatIsNotARegularFileIsAMiss) {
  const auto first = dumps(compute_sentiment_snapshot(date_, config(), true));
  const auto file = files_in(cache_).at(0);
  const auto planted = dir_ / "planted.json";
  write_file(planted, R"({"temperature": 99.0, "state": "OVERHEAT", "direction": "warming"})");
  for (bool fifo : {true, false}) {
    fs::remove(file);
    if (fifo) {
      ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
    } else {
      fs::create_symlink(planted, file);
    }
    morvik::clear_sentiment_cache();
    zorvane::utils::LogCapture log;
    EXPECT_EQ(dumps(compute_sentiment_snapshot(date_, config(), true)), first) << fifo;
    EXPECT_EQ(log.matching("[情绪温度计] 读取缓存失败 path=" + file.string()).size(), 1u);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file)));
  }
  // The link's target is untouched.
  EXPECT_EQ((*morvik::detail::read_snapshot_file(planted))["temperature"].GetDouble(), 99.0);
}

TEST_F(Snapshot, FailingEtfIsSkippedWithAWarning) {
  failing_ = {bars_.begin()->first};
  zorvane::utils::LogCapture log;
  auto snap = compute_sentiment_snapshot(date_, config(), false);
  EXPECT_EQ(snap["n_etf"].GetInt64(), 9);
  EXPECT_EQ(snap["n_universe"].GetInt64(), 10);
  EXPECT_THAT(log.matching("读取 ETF 行情失败"), ElementsAre(HasSubstr(*failing_.begin())));
  for (const auto& [code, _] : bars_) failing_.insert(code);
  EXPECT_THROW(compute_sentiment_snapshot(date_, config(), false), std::runtime_error);
}

TEST(SentimentUniverse, EntriesAndErrors) {
  auto u = morvik::parse_sentiment_universe(
      "etfs:\n  - code: \"510050\"\n    name: 上证50ETF\n    category: broad\n"
      "  - code: 159915\n  - code: \"510050\"\n  - name: no code\n",
      "u.yaml");
  ASSERT_EQ(u.entries.size(), 2u);  // the repeated and the code-less entries are dropped
  EXPECT_EQ(u.entries[0].name, "上证50ETF");
  EXPECT_EQ(u.entries[1].code, "159915");

  zv_test::TempDir dir("senti-yaml");
  write_file(dir / "bad.yaml", "etfs: [unclosed\n");
  write_file(dir / "empty.yaml", "etfs: []\n");
  write_file(dir / "other.yaml", "funds:\n  - code: \"510050\"\n");
  for (const auto& path : {dir / "missing.yaml", dir.path(), dir / "bad.yaml", dir / "empty.yaml",
                           dir / "other.yaml"}) {
    try {
      morvik::load_sentiment_universe(path.string());
      ADD_FAILURE() << "no error for " << path;
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), HasSubstr(path.string()));
    }
  }
}

TEST(SentimentZoneDesc, FollowsTheStateBands) {
  using morvik::get_sentiment_zone_desc;
  auto title = [](double t) { return get_sentiment_zone_desc(t)[0]; };
  EXPECT_EQ((std::set<std::string>{title(5), title(25), title(50), title(75), title(95)}).size(),
            5u);
  EXPECT_EQ(title(15.0), title(5));
  EXPECT_EQ(title(std::nextafter(15.0, 16.0)), title(25));
  EXPECT_EQ(title(65.0), title(75));
  EXPECT_EQ(title(85.0), title(95));
  // A hot reading measures crowding; overheating calls for taking profit.
  EXPECT_THAT(get_sentiment_zone_desc(75)[2], HasSubstr("拥挤"));
  EXPECT_THAT(get_sentiment_zone_desc(95)[1], HasSubstr("止盈"));
  EXPECT_THROW(get_sentiment_zone_desc(std::numeric_limits<double>::quiet_NaN()),
               std::invalid_argument);
}

}  // namespace
