// Walk-forward dates and the isolation of a generation run from the user's settings.

#include "backtest/walk_forward.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "support/env_guard.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

using zorvane::utils::iso_date;
using zorvane::utils::parse_iso_date;

TEST(BacktestWalkForward, EveryNthTradingDayOfTheMarket) {
  zv_test::EnvGuard center("CANDLEX_CENTER", nullptr);  // rule calendars
  // 2024-03-29 is Good Friday: a US holiday, an A-share trading day.
  auto a = backtest::walk_forward_dates("A", parse_iso_date("2024-03-25"),
                                        parse_iso_date("2024-04-05"), 4);
  std::vector<std::string> a_days;
  for (auto d : a) a_days.push_back(iso_date(d));
  EXPECT_EQ(a_days, (std::vector<std::string>{"2024-03-25", "2024-03-29", "2024-04-04"}));
  auto us = backtest::walk_forward_dates("US", parse_iso_date("2024-03-25"),
                                         parse_iso_date("2024-04-05"), 4);
  EXPECT_EQ(iso_date(us[1]), "2024-04-01");
  EXPECT_THROW(backtest::walk_forward_dates("A", parse_iso_date("2024-03-25"),
                                            parse_iso_date("2024-03-01"), 1),
               std::invalid_argument);
  EXPECT_THROW(backtest::walk_forward_dates("A", parse_iso_date("2024-03-01"),
                                            parse_iso_date("2024-03-25"), 0),
               std::invalid_argument);
}

TEST(BacktestWalkForward, GenerationCountsSkipsAndFailures) {
  zv_test::EnvGuard center("CANDLEX_CENTER", nullptr);
  std::vector<std::string> seen;
  std::ostringstream progress;
  auto summary = backtest::generate(
      {"sh.600519", "sh.999999"}, parse_iso_date("2024-03-04"), parse_iso_date("2024-03-08"), 2,
      [&](const std::string& code, const std::string& date) {
        seen.push_back(code + " " + date);
        if (date == "2024-03-06") throw std::runtime_error("model down");
      },
      progress);
  EXPECT_EQ(summary.planned, 6u);
  EXPECT_EQ(summary.no_bar, 3u);  // the sample market has no sh.999999
  EXPECT_EQ(summary.failed, 1u);
  EXPECT_EQ(summary.analysed, 2u);
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_NE(progress.str().find("[回测生成] 6/6 sh.999999 2024-03-08"), std::string::npos);
}

TEST(BacktestWalkForward, IsolationPointsAtTheRootAndDropsDelivery) {
  zv_test::EnvGuard kafka("KAFKA_BOOTSTRAP_SERVERS", "broker:9092");
  zv_test::EnvGuard hook("NOTIFY_WEBHOOK_URL", "http://hook");
  zv_test::EnvGuard report("REPORT_DIR", "/elsewhere");
  zv_test::EnvGuard briefs("ZORVANE_SUMORA_DIR", "/elsewhere/briefs");
  backtest::isolate_generation_environment("/tmp/gen-root");
  EXPECT_EQ(std::getenv("KAFKA_BOOTSTRAP_SERVERS"), nullptr);
  EXPECT_EQ(std::getenv("NOTIFY_WEBHOOK_URL"), nullptr);
  EXPECT_STREQ(std::getenv("REPORT_DIR"), "/tmp/gen-root");
  EXPECT_STREQ(std::getenv("ZORVANE_SUMORA_DIR"), "/tmp/gen-root/sumoras");
}

}  // namespace
