// What every program does on the way in and out: option parsing statuses and error printing.
#include "apps/common/program.hpp"

#include <gtest/gtest.h>
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Redirects a standard stream into a string for the lifetime of the guard.
class StreamCapture {
 public:
  explicit StreamCapture(std::ostream& stream)
      : stream_(stream), old_(stream.rdbuf(buf_.rdbuf())) {}
  ~StreamCapture() { stream_.rdbuf(old_); }
  StreamCapture(const StreamCapture&) = delete;
  StreamCapture& operator=(const StreamCapture&) = delete;
  std::string text() const { return buf_.str(); }

 private:
  std::ostream& stream_;
  std::ostringstream buf_;
  std::streambuf* old_;
};

std::optional<int> parse(std::vector<std::string> args) {
  CLI::App app{"test", "prog"};
  std::string market;
  app.add_option("-m,--market", market)->required();
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return apps::parse_command_line(app, static_cast<int>(argv.size()), argv.data());
}

TEST(ParseCommandLine, GoesOnOrStopsWithTheProgramsStatus) {
  StreamCapture out{std::cout}, err{std::cerr};
  EXPECT_EQ(parse({"prog", "-m", "A"}), std::nullopt);
  EXPECT_EQ(parse({"prog", "--help"}), 0);
  EXPECT_EQ(parse({"prog"}), 2);                        // required option missing
  EXPECT_EQ(parse({"prog", "-m", "A", "--bogus"}), 2);  // unknown option
  EXPECT_NE(err.text().find("--bogus"), std::string::npos);
}

TEST(PrintError, NamesTheProgramThenEveryNestedCause) {
  std::string text;
  try {
    try {
      try {
        throw std::runtime_error("disk full");
      } catch (...) {
        std::throw_with_nested(std::runtime_error("cannot write cache"));
      }
    } catch (...) {
      std::throw_with_nested(std::runtime_error("brief failed"));
    }
  } catch (const std::exception& e) {
    StreamCapture err{std::cerr};
    apps::print_error("tarsen", e);
    text = err.text();
  }
  EXPECT_EQ(text,
            "tarsen: error: brief failed\n"
            "  caused by: cannot write cache\n"
            "  caused by: disk full\n");
}

int throws_nested(int, char**) {
  try {
    throw std::invalid_argument("bad day");
  } catch (...) {
    std::throw_with_nested(std::runtime_error("analysis failed"));
  }
}

TEST(RunProgram, AnEscapingErrorIsPrintedAndMakesTheStatusOne) {
  StreamCapture err{std::cerr};
  EXPECT_EQ(apps::run_program(
                "kelvo", [](int, char**) { return 0; }, 0, nullptr),
            0);
  EXPECT_EQ(apps::run_program(
                "kelvo", [](int, char**) { return 2; }, 0, nullptr),
            2);
  EXPECT_EQ(err.text(), "");
  EXPECT_EQ(apps::run_program("kelvo", throws_nested, 0, nullptr), 1);
  EXPECT_EQ(err.text(), "kelvo: error: analysis failed\n  caused by: bad day\n");
}

}  // namespace
