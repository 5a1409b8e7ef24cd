// The sample market announces itself once per process (kept in its own executable so no
// earlier test has used the sample market yet).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "candlex/market_data.hpp"
#include "support/env_guard.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace {

TEST(SampleMarketWarning, WarnsOnceThatTheDataAreSynthetic) {
  zv_test::EnvGuard env{"CANDLEX_CENTER", nullptr};
  zorvane::utils::LogCapture capture;
  candlex::get_any_ohlc("sh.000001", "2024-01-01", "2024-06-28");
  candlex::get_any_ohlc("sz.399001", "2024-01-01", "2024-06-28");
  auto lines = capture.matching("CANDLEX_CENTER");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], testing::StartsWith("warning|"));
  EXPECT_THAT(lines[0], testing::HasSubstr("合成数据"));
}

}  // namespace
