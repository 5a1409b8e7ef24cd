#include "zorvane/utils/logger.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace zu = zorvane::utils;
using zu::format_printf;
using zu::LogArg;

namespace {

struct Case {
  const char* format;
  std::vector<LogArg> args;
  const char* expected;
};

void run_cases(const std::vector<Case>& cases) {
  for (const auto& c : cases) EXPECT_EQ(format_printf(c.format, c.args), c.expected) << c.format;
}

TEST(FormatPrintf, TextConversions) {
  run_cases({
      {"%s", {"plain"}, "plain"},
      {"%s", {std::string("观望等待")}, "观望等待"},
      {"%s", {1.0}, "1.0"},
      {"%s", {0.1 + 0.2}, "0.30000000000000004"},
      {"%s", {1e-05}, "1e-05"},
      {"%s", {42}, "42"},
      {"%s", {std::uint64_t{18446744073709551615ull}}, "18446744073709551615"},
      {"%s", {true}, "True"},
      {"%s", {false}, "False"},
      {"%s", {std::nullopt}, "None"},
      {"%s", {std::optional<int>{}}, "None"},
      {"%s", {std::optional<double>{2.5}}, "2.5"},
      {"%s", {static_cast<const char*>(nullptr)}, "None"},
      {"%r", {"观望等待"}, "'观望等待'"},
      {"%r", {"it's"}, "\"it's\""},
      {"%r", {2.5}, "2.5"},
      {"%r", {true}, "True"},
      {"%r", {std::nullopt}, "None"},
      {"%.3s", {"观望等待"}, "观望等"},  // precision counts characters
      {"%.10s", {"short"}, "short"},
      {"[%5s]", {"ab"}, "[   ab]"},
      {"[%-5s]", {"ab"}, "[ab   ]"},
      {"[%4s]", {"观望"}, "[  观望]"},  // width counts characters
  });
}

TEST(FormatPrintf, NumericConversions) {
  run_cases({
      {"%d", {42}, "42"},
      {"%d", {2.7}, "2"},  // doubles are truncated
      {"%d", {-2.7}, "-2"},
      {"%i", {true}, "1"},
      {"%d", {"n/a"}, "n/a"},  // not a number: printed as %s would
      {"%d", {std::numeric_limits<double>::quiet_NaN()}, "nan"},
      {"%5d", {42}, "   42"},
      {"%-5d|", {42}, "42   |"},
      {"%05d", {-42}, "-0042"},
      {"%.2f", {3}, "3.00"},  // integers through %f
      {"%.2f", {2.675}, "2.67"},
      {"%.0f", {2.5}, "2"},
      {"%f", {1.5}, "1.500000"},
      {"%05.1f", {3.14159}, "003.1"},
      {"%.2f", {"x"}, "x"},
      {"%.2f", {std::numeric_limits<double>::infinity()}, "inf"},
      {"%g", {0.0001}, "0.0001"},
      {"%e", {12345.678}, "1.234568e+04"},
      {"%x", {255}, "ff"},
      {"%X", {255}, "FF"},
      {"%x", {-255}, "-ff"},
      {"%x", {std::numeric_limits<std::int64_t>::min()}, "-8000000000000000"},
  });
}

TEST(FormatPrintf, LiteralsAndMismatchedArgumentsNeverThrow) {
  run_cases({
      {"100%%", {}, "100%"},
      {"%d%%", {5}, "5%"},
      {"trailing %", {}, "trailing %"},
      {"%s and %s", {"one"}, "one and %s"},  // missing argument: conversion left in place
      {"%.2f%%", {}, "%.2f%"},
      {"%s", {"a", "b"}, "a"},   // extra arguments ignored
      {"%z %s", {"a"}, "%z a"},  // unknown conversion kept, argument not used
      {"{\"k\": %d, \"m\": {}}", {1}, "{\"k\": 1, \"m\": {}}"},
      {"{} {0} {:>5}", {}, "{} {0} {:>5}"},
  });
}

TEST(Logger, MessagesReachSinksWithLevelAndBracesIntact) {
  zu::LogCapture capture;
  zu::logger.info("[大盘 AI 简报] 命中磁盘缓存 | market=%s date=%s 字数=%d", "A", "2024-06-28",
                  250);
  zu::logger.warning("payload {\"a\": %s} {}", 1.5);
  zu::logger.error("%s", "boom");
  zu::logger.debug("ratio %.2f", 0.125);
  zu::logger.info("missing %s %s", "only");
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                "info|[大盘 AI 简报] 命中磁盘缓存 | market=A date=2024-06-28 字数=250",
                "warning|payload {\"a\": 1.5} {}", "error|boom", "debug|ratio 0.12",
                "info|missing only %s"}));
  EXPECT_EQ(capture.matching("boom").size(), 1u);
  capture.clear();
  EXPECT_TRUE(capture.lines().empty());
}

TEST(Logger, SetupLoggingWritesTheFileAtItsLevel) {
  zv_test::TempDir tmp;
  auto dir = tmp / "nested" / "logs";  // created when missing
  zu::setup_logging("warning", dir);
  zu::logger.info("below the level %d", 1);
  zu::logger.warning("kept %s", "w");
  zu::logger.error("kept %s", "e");
  zu::shutdown_logging();
  std::ifstream in(dir / "zorvane.log");
  ASSERT_TRUE(in) << "no log file in " << dir;
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str().find("below the level"), std::string::npos);
  EXPECT_NE(text.str().find("| warning | kept w"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("| error | kept e"), std::string::npos) << text.str();
  zu::setup_logging("INFO");
}

}  // namespace
