// `tarsen` with the offline model client over the built-in sample market: the A-share brief
// carries the sentiment section computed by the thermometer, the US brief does not.

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
  std::ostringstream buf;
  buf << std::ifstream(p, std::ios::binary).rdbuf();
  return buf.str();
}

class TarsenSentiment : public ::testing::Test {
 protected:
  // A project root of its own (the shipped universe, no .env file).
  void SetUp() override {
    fs::create_directories(root_ / "data" / "etf");
    fs::create_directories(root_ / "work");
    fs::copy_file(fs::path(ZV_SOURCE_DIR) / "data/etf/etf.yaml", root_ / "data/etf/etf.yaml");
  }
  // Runs tarsen in <root>/work; returns its exit status, standard output in out_ and
  // standard error plus the log file in log_.
  int tarsen(const std::string& args) {
    const auto work = root_ / "work";
    const int raw = std::system(("cd '" + work.string() + "' && '" + ZV_BINARY_DIR + "/tarsen' " +
                                 args + " >out.txt 2>err.txt")
                                    .c_str());
    out_ = read_all(work / "out.txt");
    log_ = read_all(work / "err.txt") + read_all(work / "logs" / "zorvane.log");
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::vector<fs::path> snapshots() const {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(root_ / "reports" / "sentiment", ec)) {
      if (e.path().extension() == ".json") out.push_back(e.path());
    }
    return out;
  }

  zv_test::TempDir root_{"senti-e2e"};
  zv_test::EnvGuard project_{"ZORVANE_PROJECT_ROOT", root_.str()};
  zv_test::EnvGuard client_{"LLM_CLIENT_TYPE", "offline"};
  zv_test::EnvGuard center_{"CANDLEX_CENTER", nullptr};
  zv_test::EnvGuard report_{"REPORT_DIR", (root_ / "reports").string()};
  zv_test::EnvGuard sumora_{"ZORVANE_SUMORA_DIR", nullptr};
  zv_test::EnvGuard kafka_{"KAFKA_BOOTSTRAP_SERVERS", nullptr};
  std::string out_, log_;
};

TEST_F(TarsenSentiment, AShareBriefCarriesTheThermometer) {
  ASSERT_EQ(tarsen("-m A -t 2024-05-10"), 0) << log_;
  EXPECT_THAT(out_, HasSubstr("**▋ 情绪温度计**\n"));
  EXPECT_THAT(out_, Not(HasSubstr("情绪温度计数据暂不可用")));
  EXPECT_THAT(log_, Not(HasSubstr("情绪温度计计算失败")));
  // Both horizons were computed and cached on disk; the brief quotes their temperatures.
  const auto files = snapshots();
  EXPECT_EQ(files.size(), 2u);
  for (const auto& f : files) {
    auto snap = zorvane::utils::parse_json(read_all(f));
    const std::string freq = snap["freq"].GetString();
    EXPECT_EQ(std::string(snap["date"].GetString()), "2024-05-10");
    EXPECT_THAT(out_, HasSubstr(freq + " 线温度 " +
                                zorvane::utils::fixed_text(snap["temperature"].GetDouble(), 1)));
  }
  // ETF shares the A-share brief.
  const auto a_share = out_;
  ASSERT_EQ(tarsen("-m ETF -t 2024-05-10"), 0) << log_;
  EXPECT_EQ(out_, a_share);
}

TEST_F(TarsenSentiment, UsBriefHasNoThermometer) {
  ASSERT_EQ(tarsen("-m US -t 2024-05-10"), 0) << log_;
  EXPECT_THAT(out_, HasSubstr("**▋ 风险提示**"));
  EXPECT_THAT(out_, Not(HasSubstr("情绪温度计")));
  EXPECT_THAT(log_, Not(HasSubstr("情绪温度计计算失败")));
  EXPECT_TRUE(snapshots().empty());
}

}  // namespace
