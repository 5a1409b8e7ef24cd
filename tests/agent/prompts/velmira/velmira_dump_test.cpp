// Runs the velmira-dump program as a child process.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "agent/prompts/velmira/prompts.hpp"

namespace {

struct Run {
  int status = -1;
  std::string out;
};

Run run_dump(const std::string& args) {
  const std::string command = std::string(ZV_BINARY_DIR) + "/velmira-dump " + args + " 2>/dev/null";
  Run run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buf[4096];
  std::size_t n = 0;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) run.out.append(buf, n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

TEST(VelmiraDump, PrintsEachTemplateExactly) {
  struct Case {
    const char* args;
    const std::string& text;
  };
  const Case cases[] = {
      {"--market A", velmira::A_STOCK_PROMPT()},
      {"--market US --part system", velmira::US_STOCK_SYSTEM_TEMPLATE()},
      {"--market HK --part user", velmira::HK_STOCK_USER_TEMPLATE()},
      {"--market ETF --part full", velmira::ETF_STOCK_PROMPT()},
      {"--market ETF --part system", velmira::ETF_STOCK_SYSTEM_TEMPLATE()},
      {"--part system --market SUMMARY", velmira::SUMMARY_SYSTEM_TEMPLATE()},
      {"--market SUMMARY --part user", velmira::SUMMARY_USER_TEMPLATE()},
  };
  for (const auto& c : cases) {
    const auto run = run_dump(c.args);
    EXPECT_EQ(run.status, 0) << c.args;
    EXPECT_EQ(run.out, c.text) << c.args;
  }
}

TEST(VelmiraDump, BadOptionsExitWithTwo) {
  for (const char* args : {"", "--market a", "--market CN", "--market A --part body",
                           "--market A --extra", "--market A --part"}) {
    const auto run = run_dump(args);
    EXPECT_EQ(run.status, 2) << "'" << args << "'";
    EXPECT_TRUE(run.out.find("# Role") == std::string::npos) << args;
  }
  const auto help = run_dump("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--market"), std::string::npos);
}

}  // namespace
