// backtest as a program: walk-forward generation into its own root on a sample data center,
// then the stored decisions evaluated again as JSON.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/child_process.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/json.hpp"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

class BacktestE2e : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new zv_test::TempDir("backtest-e2e");
    auto made = support::run(
        CANDLEX_SAMPLE_EXE,
        {"--out", (dir_->path() / "center").string(), "--through", "2024-09-30"}, {}, dir_->path());
    ASSERT_EQ(made.status, 0) << made.err;
    std::ofstream(dir_->path() / "pool.txt") << "sh.600519\nus.AAPL  # 示例\n";
  }
  static void TearDownTestSuite() { delete dir_; }

  // The environment of a user with delivery configured and their own report root: generation
  // must use none of it.
  support::Env user_env() const {
    const fs::path d = dir_->path();
    return {{"CANDLEX_CENTER", (d / "center").string()},
            {"REPORT_DIR", (d / "user-reports").string()},
            {"ZORVANE_SUMORA_DIR", (d / "user-briefs").string()},
            {"KAFKA_BOOTSTRAP_SERVERS", "127.0.0.1:9"},
            {"NOTIFY_WEBHOOK_URL", "http://127.0.0.1:9/hook"},
            {"LLM_CLIENT_TYPE", "deepseek"},
            {"DEEPSEEK_API_KEY", std::nullopt},
            {"ZORVANE_PROJECT_ROOT", ZV_SOURCE_DIR}};
  }

  static zv_test::TempDir* dir_;
};

zv_test::TempDir* BacktestE2e::dir_ = nullptr;

TEST_F(BacktestE2e, WalkForwardIntoItsOwnRootThenJson) {
  const fs::path d = dir_->path();
  auto gen =
      support::run(BACKTEST_EXE,
                   {"--generate", "--pool", (d / "pool.txt").string(), "--from", "2024-03-01",
                    "--to", "2024-04-30", "--every", "10", "--root", (d / "gen").string()},
                   user_env(), d, std::chrono::seconds(240));
  ASSERT_EQ(gen.status, 0) << gen.err;
  EXPECT_THAT(gen.err, HasSubstr("[回测生成] 完成：计划 10，已分析 10，当日无K线 0，失败 0"));
  EXPECT_THAT(gen.err, Not(HasSubstr("Kafka")));  // no delivery was attempted
  EXPECT_THAT(gen.out, HasSubstr("全部"));
  EXPECT_THAT(gen.out, HasSubstr("置信度校准"));
  EXPECT_TRUE(fs::exists(d / "gen" / "reports.db"));
  ASSERT_TRUE(fs::exists(d / "gen" / "sumoras"));
  EXPECT_FALSE(fs::is_empty(d / "gen" / "sumoras"));  // the briefs were cached under the root
  EXPECT_FALSE(fs::exists(d / "user-reports"));
  EXPECT_FALSE(fs::exists(d / "user-briefs"));

  auto json = support::run(BACKTEST_EXE, {"--report-dir", (d / "gen").string(), "--format", "json"},
                           user_env(), d);
  ASSERT_EQ(json.status, 0) << json.err;
  auto doc = zorvane::utils::parse_json(json.out);
  ASSERT_TRUE(doc.IsObject());
  const auto& decisions = doc["decisions"];
  ASSERT_EQ(decisions.Size(), 10u);
  for (const auto& row : decisions.GetArray()) {
    EXPECT_EQ(row["client_type"], "offline");
    EXPECT_NE(row["status"], "unmatched");
    EXPECT_NE(row["status"], "open");  // bars run to September
    EXPECT_TRUE(row["forward_return_pct"].IsNumber());
    EXPECT_TRUE(row["index_pct"].IsNumber());
  }
  EXPECT_EQ(doc["aggregates"]["overall"]["decisions"].GetInt(), 10);
  // Running the generation again finds every report stored and adds none.
  auto again = support::run(
      BACKTEST_EXE,
      {"--generate", "--pool", (d / "pool.txt").string(), "--from", "2024-03-01", "--to",
       "2024-04-30", "--every", "10", "--root", (d / "gen").string(), "--format", "csv"},
      user_env(), d, std::chrono::seconds(240));
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out.rfind("id,code,name,market,analysis_date", 0), 0u);
  EXPECT_THAT(again.out, HasSubstr("\ndimension,group,decisions"));
}

TEST_F(BacktestE2e, OptionErrorsExitTwo) {
  const fs::path d = dir_->path();
  auto no_pool = support::run(
      BACKTEST_EXE, {"--generate", "--from", "2024-03-01", "--to", "2024-04-01"}, user_env(), d);
  EXPECT_EQ(no_pool.status, 2);
  EXPECT_THAT(no_pool.err, HasSubstr("--pool"));
  auto bad_date = support::run(BACKTEST_EXE, {"--from", "2024/03/01"}, user_env(), d);
  EXPECT_EQ(bad_date.status, 2);
  EXPECT_THAT(bad_date.err, HasSubstr("2024/03/01"));
  auto missing =
      support::run(BACKTEST_EXE, {"--report-dir", (d / "nowhere").string()}, user_env(), d);
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, HasSubstr("reports.db"));
}

}  // namespace
