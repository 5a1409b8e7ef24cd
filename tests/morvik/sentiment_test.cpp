#include "morvik/sentiment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "morvik/sentiment_fixtures.hpp"
#include "morvik/sentiment_universe.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace {

namespace fs = std::filesystem;
using morvik::compute_sentiment_snapshot;
using morvik::SentimentConfig;
using ::testing::HasSubstr;

void write_file(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string dumps(const rapidjson::Value& v) {
  return zorvane::utils::safe_json_dumps(v);
}

std::vector<fs::path> files_in(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) out.push_back(e.path());
  return out;
}

// A universe file and a bar source over constructed ETFs, recording every request.
class SnapshotFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    morvik::clear_sentiment_cache();
    const auto universe = senti_test::make_universe(10, senti_test::day("2019-01-07"),
                                                    {{900, 0.0, 0.012}, {90, 0.004, 0.006, 0.01}});
    std::string yaml = "etfs:\n";
    for (const auto& e : universe) {
      bars_[e.code] = e.daily;
      yaml += "  - code: \"" + e.code + "\"\n    name: 测试\n    category: broad\n";
    }
    last_ = universe.front().daily.last_date();
    universe_path_ = (dir_ / "etf.yaml").string();
    write_file(universe_path_, yaml);
  }
  void TearDown() override { morvik::clear_sentiment_cache(); }

  SentimentConfig config(const std::string& freq = "D") {
    SentimentConfig c;
    c.freq = freq;
    c.universe_path = universe_path_;
    c.source_id = "fixture";
    c.bar_loader = [this](const std::string& code, const std::string& start,
                          const std::string& end) {
      std::lock_guard lock(mutex_);
      requests_.push_back({code, start, end});
      if (failing_.count(code)) throw std::runtime_error("bad csv for " + code);
      auto it = bars_.find(code);
      if (it == bars_.end()) return candlex::BarTable();
      const auto from = zorvane::utils::parse_iso_date(start);
      auto upto = it->second.until(zorvane::utils::parse_iso_date(end));
      std::size_t first = 0;
      while (first < upto.size() && upto.dates()[first] < from) ++first;
      return upto.slice(first, upto.size());
    };
    return c;
  }
  std::size_t take_requests() {
    std::lock_guard lock(mutex_);
    auto n = requests_.size();
    requests_.clear();
    return n;
  }
  std::string date() const { return zorvane::utils::iso_date(last_); }
  fs::path cache_dir() const { return reports_.path() / "sentiment"; }

  struct Request {
    std::string code, start, end;
  };
  zv_test::TempDir dir_{"senti-universe"};
  zv_test::TempDir reports_{"senti-reports"};
  zv_test::EnvGuard report_env_{"REPORT_DIR", reports_.str()};
  std::map<std::string, candlex::BarTable> bars_;
  std::set<std::string> failing_;
  std::vector<Request> requests_;
  std::mutex mutex_;
  candlex::Day last_{};
  std::string universe_path_;
};

TEST_F(SnapshotFixture, AsksTheSourceUpToTheDateOnly) {
  const auto as_of = last_ - std::chrono::days{60};
  const std::string day = zorvane::utils::iso_date(as_of);
  auto daily = compute_sentiment_snapshot(day, config("D"), false);
  ASSERT_EQ(requests_.size(), 10u);
  std::string daily_start = requests_.front().start;
  for (const auto& r : requests_) EXPECT_EQ(r.end, day);
  take_requests();
  auto weekly = compute_sentiment_snapshot(day, config("W"), false);
  EXPECT_LT(requests_.front().start, daily_start);  // the weekly look-back is longer

  for (const auto* snap : {&daily, &weekly}) {
    EXPECT_LE(std::string((*snap)["date"].GetString()), day);
    EXPECT_EQ((*snap)["n_universe"].GetInt64(), 10);
    EXPECT_EQ((*snap)["confidence"].GetDouble(), 1.0) << "the look-back must cover the history";
  }
  EXPECT_EQ(std::string(weekly["freq"].GetString()), "W");

  EXPECT_THROW(compute_sentiment_snapshot("2024/05/10", config(), false), std::invalid_argument);
  EXPECT_THROW(compute_sentiment_snapshot(day, config("Q"), false), std::invalid_argument);
}

TEST_F(SnapshotFixture, NoDateMeansToday) {
  try {
    compute_sentiment_snapshot(std::nullopt, config(), false);
  } catch (const std::runtime_error&) {
    // The constructed bars may end before the look-back window of today.
  }
  ASSERT_FALSE(requests_.empty());
  EXPECT_EQ(requests_.front().end, zorvane::utils::iso_date(zorvane::utils::today_local()));
}

TEST_F(SnapshotFixture, CachedInProcessAndOnDisk) {
  const auto first = dumps(compute_sentiment_snapshot(date(), config(), true));
  EXPECT_EQ(take_requests(), 10u);
  auto files = files_in(cache_dir());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_THAT(files[0].filename().string(), HasSubstr(date()));

  EXPECT_EQ(dumps(compute_sentiment_snapshot(date(), config(), true)), first);
  EXPECT_EQ(take_requests(), 0u);

  // A fresh process has only the disk file.
  EXPECT_EQ(morvik::clear_sentiment_cache(), 1u);
  EXPECT_EQ(dumps(compute_sentiment_snapshot(date(), config(), true)), first);
  EXPECT_EQ(take_requests(), 0u);

  // Each of horizon, source and universe content is part of the key.
  compute_sentiment_snapshot(date(), config("W"), true);
  EXPECT_EQ(take_requests(), 10u);
  auto other = config();
  other.source_id = "another";
  compute_sentiment_snapshot(date(), other, true);
  EXPECT_EQ(take_requests(), 10u);
  std::ofstream(universe_path_, std::ios::app) << "  - code: \"999999\"\n";
  auto grown = compute_sentiment_snapshot(date(), config(), true);
  EXPECT_EQ(take_requests(), 11u);
  EXPECT_EQ(grown["n_universe"].GetInt64(), 11);

  // Without the cache every call computes and nothing is written.
  const auto before = files_in(cache_dir()).size();
  compute_sentiment_snapshot(date(), config(), false);
  compute_sentiment_snapshot(date(), config(), false);
  EXPECT_EQ(take_requests(), 22u);
  EXPECT_EQ(files_in(cache_dir()).size(), before);
  for (const auto& f : files_in(cache_dir())) {
    EXPECT_EQ(f.string().find(".tmp."), std::string::npos) << f;
  }
}

TEST_F(SnapshotFixture, DamagedOrUnwritableCacheOnlyCostsARecomputation) {
  const auto first = dumps(compute_sentiment_snapshot(date(), config(), true));
  take_requests();
  const auto file = files_in(cache_dir()).at(0);
  for (const char* junk : {"{\"temperature\": ", "[]", "{\"state\": \"HOT\"}"}) {
    write_file(file, junk);
    morvik::clear_sentiment_cache();
    EXPECT_EQ(dumps(compute_sentiment_snapshot(date(), config(), true)), first) << junk;
    EXPECT_EQ(take_requests(), 10u) << junk;
    ASSERT_TRUE(zorvane::utils::parse_json([&] {
                  std::ifstream in(file);
                  return std::string(std::istreambuf_iterator<char>(in), {});
                }())
                    .IsObject());
  }

  // A report root that is a plain file: the cache directory cannot exist.
  const auto blocker = dir_ / "not-a-dir";
  write_file(blocker, "x");
  zv_test::EnvGuard env("REPORT_DIR", blocker.string());
  morvik::clear_sentiment_cache();
  zorvane::utils::LogCapture log;
  EXPECT_EQ(dumps(compute_sentiment_snapshot(date(), config(), true)), first);
  EXPECT_EQ(log.matching("[情绪温度计] 缓存目录不可用").size(), 1u);
}

TEST_F(SnapshotFixture, FailingEtfIsSkippedWithAWarning) {
  failing_ = {bars_.begin()->first};
  zorvane::utils::LogCapture log;
  auto snap = compute_sentiment_snapshot(date(), config(), false);
  EXPECT_EQ(snap["n_etf"].GetInt64(), 9);
  EXPECT_EQ(snap["n_universe"].GetInt64(), 10);
  EXPECT_DOUBLE_EQ(snap["confidence"].GetDouble(), 0.9);
  auto lines = log.matching("读取 ETF 行情失败");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], HasSubstr(*failing_.begin()));

  for (const auto& [code, _] : bars_) failing_.insert(code);
  EXPECT_THROW(compute_sentiment_snapshot(date(), config(), false), std::runtime_error);
}

TEST_F(SnapshotFixture, ConcurrentCallersAgree) {
  const auto expected = dumps(compute_sentiment_snapshot(date(), config(), false));
  std::vector<std::string> got(4);
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < got.size(); ++k) {
    threads.emplace_back(
        [&, k] { got[k] = dumps(compute_sentiment_snapshot(date(), config(), true)); });
  }
  for (auto& t : threads) t.join();
  for (const auto& g : got) EXPECT_EQ(g, expected);
}

TEST(SentimentUniverse, ParsesEntries) {
  auto u = morvik::parse_sentiment_universe(
      "etfs:\n"
      "  - code: \"510050\"\n    name: 上证50ETF\n    category: broad\n"
      "  - code: 159915\n"
      "  - code: \"510050\"\n    name: duplicate\n"
      "  - name: no code\n",
      "u.yaml");
  ASSERT_EQ(u.entries.size(), 2u);
  EXPECT_EQ(u.entries[0].code, "510050");
  EXPECT_EQ(u.entries[0].name, "上证50ETF");
  EXPECT_EQ(u.entries[0].category, "broad");
  EXPECT_EQ(u.entries[1].code, "159915");

  auto bare = morvik::parse_sentiment_universe("- \"510300\"\n- code: \"510500\"\n", "b.yaml");
  ASSERT_EQ(bare.entries.size(), 2u);
  EXPECT_NE(bare.content_hash, u.content_hash);
}

TEST(SentimentUniverse, ErrorsNameTheFile) {
  zv_test::TempDir dir("senti-yaml");
  auto expect_error = [](const std::string& path, const char* what) {
    try {
      morvik::load_sentiment_universe(path);
      ADD_FAILURE() << "no error for " << what;
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), HasSubstr(path)) << what;
    }
  };
  expect_error((dir / "missing.yaml").string(), "missing file");
  expect_error(dir.str(), "a directory");
  write_file(dir / "bad.yaml", "etfs: [unclosed\n");
  expect_error((dir / "bad.yaml").string(), "invalid YAML");
  write_file(dir / "empty.yaml", "etfs: []\n");
  expect_error((dir / "empty.yaml").string(), "no entries");
  write_file(dir / "map.yaml", "funds:\n  - code: \"510050\"\n");
  expect_error((dir / "map.yaml").string(), "no etfs list");
}

TEST(SentimentCacheDir, FollowsTheReportRoot) {
  zv_test::TempDir root("senti-root");
  zv_test::EnvGuard project("ZORVANE_PROJECT_ROOT", root.str());
  {
    zv_test::EnvGuard report("REPORT_DIR", (root / "abs").string());
    zv_test::EnvGuard center("CANDLEX_CENTER", (root / "center").string());
    EXPECT_EQ(morvik::sentiment_cache_dir(), root / "abs" / "sentiment");
  }
  {
    zv_test::EnvGuard report("REPORT_DIR", "  ");
    zv_test::EnvGuard center("CANDLEX_CENTER", (root / "center").string());
    EXPECT_EQ(morvik::sentiment_cache_dir(), root / "center" / "report" / "sentiment");
  }
  {
    zv_test::EnvGuard report("REPORT_DIR", "out");
    EXPECT_EQ(morvik::sentiment_cache_dir(), root / "out" / "sentiment");
  }
  {
    zv_test::EnvGuard report("REPORT_DIR", nullptr);
    zv_test::EnvGuard center("CANDLEX_CENTER", nullptr);
    EXPECT_EQ(morvik::sentiment_cache_dir(), root / "report" / "sentiment");
  }
  EXPECT_TRUE(fs::is_directory(root / "out" / "sentiment"));
}

TEST(SentimentZoneDesc, FollowsTheStateBands) {
  using morvik::get_sentiment_zone_desc;
  const std::vector<double> zones = {5, 25, 50, 75, 95};
  std::set<std::string> titles;
  for (double t : zones) {
    auto d = get_sentiment_zone_desc(t);
    for (const auto& text : d) EXPECT_FALSE(text.empty()) << t;
    titles.insert(d[0]);
  }
  EXPECT_EQ(titles.size(), zones.size());
  auto title = [](double t) { return get_sentiment_zone_desc(t)[0]; };
  EXPECT_EQ(title(15.0), title(5));
  EXPECT_EQ(title(std::nextafter(15.0, 16.0)), title(25));
  EXPECT_EQ(title(35.0), title(25));
  EXPECT_EQ(title(65.0), title(75));
  EXPECT_EQ(title(std::nextafter(65.0, 64.0)), title(50));
  EXPECT_EQ(title(85.0), title(95));
  // Hot readings warn about crowding; overheating calls for taking profit.
  EXPECT_THAT(get_sentiment_zone_desc(75)[2], HasSubstr("拥挤"));
  EXPECT_THAT(get_sentiment_zone_desc(95)[1], HasSubstr("止盈"));
  EXPECT_THAT(get_sentiment_zone_desc(95)[0], HasSubstr("均值回归"));
  EXPECT_THROW(get_sentiment_zone_desc(std::numeric_limits<double>::quiet_NaN()),
               std::invalid_argument);
  EXPECT_THROW(get_sentiment_zone_desc(std::numeric_limits<double>::infinity()),
               std::invalid_argument);
}

// The shipped universe against the built-in sample market.
TEST(SentimentSampleMarket, ReadsTheShippedUniverse) {
  zv_test::TempDir reports("senti-sample");
  zv_test::EnvGuard center("CANDLEX_CENTER", nullptr);
  zv_test::EnvGuard report("REPORT_DIR", reports.str());
  SentimentConfig config;
  config.universe_path = std::string(ZV_SOURCE_DIR) + "/data/etf/etf.yaml";
  const auto n = morvik::load_sentiment_universe(config.universe_path).entries.size();
  EXPECT_GE(n, 40u);
  for (const char* f : {"D", "W"}) {
    config.freq = f;
    auto snap = compute_sentiment_snapshot("2024-05-10", config, false);
    EXPECT_EQ(std::string(snap["date"].GetString()), "2024-05-10") << f;
    EXPECT_EQ(snap["n_universe"].GetInt64(), static_cast<long long>(n));
    EXPECT_EQ(snap["n_etf"].GetInt64(), static_cast<long long>(n)) << f;
    const double t = snap["temperature"].GetDouble();
    EXPECT_TRUE(t >= 0.0 && t <= 100.0) << t;
    EXPECT_EQ(snap["factors"].MemberCount(), 5u) << f;
  }
}

}  // namespace
