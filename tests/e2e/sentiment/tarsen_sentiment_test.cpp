// `tarsen` with the offline model client over the built-in sample market: the A-share brief
// carries the sentiment section computed from the thermometer, the US brief does not.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

std::string read_all(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

std::size_t json_files(const fs::path& dir) {
  std::size_t n = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) n += e.path().extension() == ".json";
  return n;
}

struct RunResult {
  int status = -1;
  std::string out, err, log;
};

class TarsenSentiment : public ::testing::Test {
 protected:
  void SetUp() override {
    // A project root of its own: the shipped universe and no .env file.
    fs::create_directories(root_ / "data" / "etf");
    fs::copy_file(fs::path(ZV_SOURCE_DIR) / "data" / "etf" / "etf.yaml",
                  root_ / "data" / "etf" / "etf.yaml");
  }

  RunResult tarsen(const std::string& args) {
    const auto work = root_ / "work";
    fs::create_directories(work);
    const std::string cmd = "cd '" + work.string() + "' && '" + ZV_BINARY_DIR + "/tarsen' " + args +
                            " >out.txt 2>err.txt";
    RunResult r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = read_all(work / "out.txt");
    r.err = read_all(work / "err.txt");
    r.log = read_all(work / "logs" / "zorvane.log");
    return r;
  }

  zv_test::TempDir root_{"senti-e2e"};
  zv_test::EnvGuard project_{"ZORVANE_PROJECT_ROOT", root_.str()};
  zv_test::EnvGuard client_{"LLM_CLIENT_TYPE", "offline"};
  zv_test::EnvGuard center_{"CANDLEX_CENTER", nullptr};
  zv_test::EnvGuard report_{"REPORT_DIR", (root_ / "reports").string()};
  zv_test::EnvGuard sumora_{"ZORVANE_SUMORA_DIR", nullptr};
  zv_test::EnvGuard kafka_{"KAFKA_BOOTSTRAP_SERVERS", nullptr};
};

TEST_F(TarsenSentiment, AShareBriefCarriesTheThermometer) {
  auto r = tarsen("-m A -t 2024-05-10");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("**▋ 情绪温度计**\n中线 W 线温度 "));
  EXPECT_THAT(r.out, HasSubstr("短线 D 线温度 "));
  EXPECT_THAT(r.out, Not(HasSubstr("情绪温度计数据暂不可用")));
  EXPECT_THAT(r.log + r.err, Not(HasSubstr("情绪温度计计算失败")));
  // Both horizons were computed and cached for other processes; the brief quotes their
  // temperatures.
  const auto dir = root_ / "reports" / "sentiment";
  EXPECT_EQ(json_files(dir), 2u);
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    auto snap = zorvane::utils::parse_json(read_all(e.path()));
    const std::string freq = snap["freq"].GetString();
    EXPECT_EQ(std::string(snap["date"].GetString()), "2024-05-10");
    EXPECT_THAT(r.out, HasSubstr(freq + " 线温度 " +
                                 zorvane::utils::fixed_text(snap["temperature"].GetDouble(), 1)))
        << freq;
  }

  // ETF shares the A-share brief, served from its cache.
  auto etf = tarsen("-m ETF -t 2024-05-10");
  ASSERT_EQ(etf.status, 0) << etf.err;
  EXPECT_THAT(etf.out, HasSubstr("**▋ 情绪温度计**\n中线 W 线温度 "));
}

TEST_F(TarsenSentiment, UsBriefHasNoThermometer) {
  auto r = tarsen("-m US -t 2024-05-10");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("**▋ 风险提示**"));
  EXPECT_THAT(r.out, Not(HasSubstr("情绪温度计")));
  EXPECT_THAT(r.log + r.err, Not(HasSubstr("情绪温度计计算失败")));
  EXPECT_EQ(json_files(root_ / "reports" / "sentiment"), 0u);
}

}  // namespace
