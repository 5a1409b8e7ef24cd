// End-to-end runs of candlex-fetch against the local replay server (no network), and of
// tarsen and kelvo on the center it filled.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "candlex/csv_reader.hpp"
#include "candlex/etf_universe.hpp"
#include "candlex/fetch/replay_server.hpp"
#include "e2e/tarsen/child_process.hpp"
#include "support/child_process.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string days_ago(int n) {
  return zorvane::utils::iso_date(zorvane::utils::today_local() - std::chrono::days{n});
}

class Fetch : public ::testing::Test {
 protected:
  void SetUp() override {
    first_ = days_ago(3 * 365);
    last_ = days_ago(0);
    for (auto& s : replay::mainland_market(first_, last_)) server.put(s);
    const auto etf_yaml = fs::path(ZV_SOURCE_DIR) / "data" / "etf" / "etf.yaml";
    for (const auto& etf : candlex::load_etf_universe(etf_yaml)) {
      const bool sh = etf.code[0] == '5';
      server.put({(sh ? "1." : "0.") + etf.code, (sh ? "sh" : "sz") + etf.code, etf.name,
                  replay::walk(first_, last_, 3.0, 5e5)});
    }
    fs::create_directories(project.path() / "data" / "etf");
    fs::copy_file(etf_yaml, project.path() / "data" / "etf" / "etf.yaml");
  }

  support::Env env() const {
    return {
        {"CANDLEX_EASTMONEY_URL", server.url()}, {"CANDLEX_TENCENT_URL", server.url()},
        {"CANDLEX_FETCH_DELAY_MS", "0"},         {"CANDLEX_CENTER", std::nullopt},
        {"ZORVANE_PROJECT_ROOT", project.str()}, {"REPORT_DIR", (work.path() / "report").string()},
        {"ZORVANE_SUMORA_DIR", std::nullopt},    {"KAFKA_BOOTSTRAP_SERVERS", std::nullopt},
        {"LLM_CLIENT_TYPE", "offline"}};
  }

  e2e::ChildResult fetch(std::vector<std::string> args, support::Env extra = {}) const {
    auto e = env();
    for (auto& [k, v] : extra) e[k] = v;
    return e2e::run_child(CANDLEX_FETCH_EXE, args, e, work.path());
  }

  replay::Server server;
  zv_test::TempDir work{"fetch-work"};
  zv_test::TempDir project{"fetch-project"};
  fs::path center = work.path() / "center";
  std::string first_, last_;
};

TEST_F(Fetch, FilledCenterServesTarsenAndKelvo) {
  auto run = fetch({"--center", center.string(), "--market", "A", "--codes", "sh.600519"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("failed 0"));
  EXPECT_THAT(slurp(center / "center.json"), HasSubstr("\"adjust\": \"qfq\""));
  EXPECT_THAT(slurp(center / "names.csv"), HasSubstr("sh.600519,贵州茅台"));
  EXPECT_TRUE(fs::exists(center / "daily" / "510050.csv"));
  EXPECT_TRUE(fs::exists(center / "daily" / "sz.399006.csv"));

  support::Env with_center = env();
  with_center["CANDLEX_CENTER"] = center.string();
  auto tarsen = e2e::run_child(TARSEN_EXE, {"-m", "A"}, with_center, work.path());
  ASSERT_EQ(tarsen.status, 0) << tarsen.err;
  EXPECT_THAT(tarsen.out, HasSubstr("大盘 AI 研判"));
  EXPECT_THAT(tarsen.out, HasSubstr("上证指数"));
  auto kelvo = e2e::run_child(KELVO_EXE, {"-s", "sh.600519"}, with_center, work.path());
  ASSERT_EQ(kelvo.status, 0) << kelvo.err;
  EXPECT_THAT(kelvo.err, HasSubstr("贵州茅台"));

  // A second run appends nothing new and keeps the adjustment; another one is refused.
  run = fetch({"--center", center.string(), "--codes", "sh.600519"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("created 0"));
  run = fetch({"--center", center.string(), "--codes", "sh.600519", "--adjust", "hfq"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("holds qfq bars; --adjust hfq would mix adjustments"));
}

TEST_F(Fetch, WholeUsMarketFromTheListKeepsExchangeNumbers) {
  for (const auto& [secid, tencent_code] : {std::pair{"100.SPX", "usINX"},
                                            {"100.NDX", "usIXIC"},
                                            {"100.DJIA", "usDJI"},
                                            {"106.IBM", "usIBM.N"},
                                            {"105.AAPL", "usAAPL.OQ"}})
    server.put({secid, tencent_code, "", replay::walk(days_ago(60), last_, 100, 1e6)});
  server.set_listing({{"IBM", "106", "国际商业机器"}});
  auto run = fetch({"--center", center.string(), "--market", "US", "--all"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("4 codes"));
  EXPECT_THAT(slurp(center / "names.csv"), HasSubstr("us.IBM,国际商业机器"));
  // A ticker missing from the list is found by probing the exchanges; both numbers are kept.
  run = fetch({"--center", center.string(), "--codes", "AAPL.US"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const auto config = slurp(center / "center.json");
  EXPECT_THAT(config, HasSubstr("\"IBM\": \"106\""));
  EXPECT_THAT(config, HasSubstr("\"AAPL\": \"105\""));
  server.clear_log();
  run = fetch({"--center", center.string(), "--codes", "us.AAPL"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  for (const auto& line : server.log())
    EXPECT_THAT(line, ::testing::Not(::testing::EndsWith(" lmt=1")));
}

TEST_F(Fetch, BadInputEndsWithStatusTwo) {
  const auto file = work.path() / "a-file";
  std::ofstream(file) << "x";
  const std::string tomorrow =
      zorvane::utils::iso_date(zorvane::utils::today_local() + std::chrono::days{2});
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"--center", center.string(), "--codes", "hello"}, "unknown security code 'hello'"},
      {{"--center", center.string(), "--codes", "sh.600519", "--start", tomorrow},
       "is in the future"},
      {{"--codes", "sh.600519"}, "no data center"},
      {{"--center", (file / "center").string(), "--codes", "sh.600519"},
       "cannot write data center"},
      {{"--center", center.string()}, "nothing to fetch"},
  };
  for (const auto& c : cases) {
    auto run = fetch(c.args);
    EXPECT_EQ(run.status, 2) << c.error << "\n" << run.err;
    EXPECT_THAT(run.err, HasSubstr(c.error));
  }
}

TEST_F(Fetch, HandWrittenCenterIsAdoptedAndStaysReadable) {
  fs::create_directories(center / "daily");
  // Another vendor's export: Chinese headers, compact dates, prices that differ from the
  // source's forward-adjusted ones.
  std::ofstream(center / "daily" / "sh.600519.csv")
      << "日期,开盘,最高,最低,收盘,成交量\n20230103,1700,1710,1690,1705,1000\n"
         "20230104,1705,1720,1700,1715,1200\n";
  const std::string untouched = "日期,开盘,最高,最低,收盘,成交量\n20230103,10,11,9,10.5,100\n";
  std::ofstream(center / "daily" / "sz.000002.csv") << untouched;
  std::ofstream(center / "names.csv") << "code,name\nsz.000002,万科A\n";

  auto run = fetch({"--codes", "600519.SH"}, {{"CANDLEX_CENTER", center.string()}});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("adopting"));
  EXPECT_THAT(run.out, HasSubstr("restated 1"));
  EXPECT_THAT(slurp(center / "center.json"), HasSubstr("qfq"));
  auto bars = candlex::read_bar_csv(center / "daily" / "sh.600519.csv", "sh.600519");
  EXPECT_GT(bars.size(), 700u);
  EXPECT_EQ(slurp(center / "daily" / "sz.000002.csv"), untouched);
  EXPECT_THAT(slurp(center / "names.csv"), HasSubstr("sz.000002,万科A"));
}

TEST_F(Fetch, FailuresAreSummarisedAndAKilledRunTearsNoFile) {
  auto run = fetch({"--center", center.string(), "--codes", "sh.600519,sh.600000"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.out, HasSubstr("failed 1"));
  EXPECT_THAT(run.out, HasSubstr("failed sh.600000: eastmoney: data: null"));
  EXPECT_TRUE(fs::exists(center / "daily" / "sh.600519.csv"));

  // Every file is rewritten after a restatement; the run is killed part way.
  std::map<std::string, std::string> before;
  for (const auto& f : fs::directory_iterator(center / "daily"))
    before[f.path().filename().string()] = slurp(f.path());
  for (const char* secid :
       {"1.000001", "0.399001", "0.399006", "1.000688", "1.000300", "1.000905", "1.600519"})
    server.restate(secid, 0.95);
  server.set_delay(std::chrono::milliseconds(100));
  auto e = env();
  support::Child child(CANDLEX_FETCH_EXE, {"--center", center.string(), "--codes", "sh.600519"}, e,
                       work.path());
  auto changed = [&] {
    std::size_t n = 0;
    for (const auto& [name, old] : before)
      if (slurp(center / "daily" / name) != old) ++n;
    return n;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (changed() == 0 && child.running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  // A second run on the same center refuses while the first holds it.
  auto second = fetch({"--center", center.string(), "--codes", "sh.600519"});
  EXPECT_EQ(second.status, 1);
  EXPECT_THAT(second.err, HasSubstr("another candlex-fetch is updating " + center.string()));
  auto killed = child.wait(std::chrono::milliseconds(0));
  EXPECT_TRUE(killed.hung);
  for (const auto& [name, old] : before)
    EXPECT_NO_THROW(candlex::read_bar_csv(center / "daily" / name, name)) << name;
  EXPECT_GT(changed(), 0u);
  EXPECT_LT(changed(), before.size());
}

}  // namespace
