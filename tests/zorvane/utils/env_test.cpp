#include "zorvane/utils/env.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"

namespace zu = zorvane::utils;
namespace fs = std::filesystem;
using zv_test::EnvGuard;

namespace {

std::optional<std::string> env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::optional<std::string>(v) : std::nullopt;
}

void write(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

TEST(LoadZorvaneEnv, ParsesTheUsualDotenvForms) {
  zv_test::TempDir tmp;
  write(tmp / ".env",
        "# a comment line\n"
        "\n"
        "ZVT_PLAIN=plain\n"
        "export ZVT_EXPORTED=yes\n"
        "  ZVT_SPACED  =  padded value  \n"
        "ZVT_INLINE=value # trailing comment\n"
        "ZVT_HASH=a#b\n"
        "ZVT_DOUBLE=\"two words # not a comment\"\n"
        "ZVT_ESCAPED=\"l1\\nl2\\t\\\"q\\\" \\\\\"\n"
        "ZVT_SINGLE='raw \\n # kept'\n"
        "ZVT_QUOTED_COMMENT=\"x\" # comment\n"
        "ZVT_EMPTY=\n"
        "ZVT_CRLF=windows\r\n"
        "ZVT_EXISTING=from-file\n"
        "ZVT-BAD=skipped\n"
        "=no-key\n"
        "no equals sign\n");
  const char* names[] = {"ZVT_PLAIN", "ZVT_EXPORTED", "ZVT_SPACED",         "ZVT_INLINE",
                         "ZVT_HASH",  "ZVT_DOUBLE",   "ZVT_ESCAPED",        "ZVT_SINGLE",
                         "ZVT_EMPTY", "ZVT_CRLF",     "ZVT_QUOTED_COMMENT", "ZVT-BAD"};
  std::vector<std::unique_ptr<EnvGuard>> guards;
  for (const char* n : names) guards.push_back(std::make_unique<EnvGuard>(n, nullptr));
  EnvGuard existing("ZVT_EXISTING", "from-environment");

  int set = zu::load_zorvane_env(tmp / ".env");

  EXPECT_EQ(set, 11);
  EXPECT_EQ(env("ZVT_PLAIN"), "plain");
  EXPECT_EQ(env("ZVT_EXPORTED"), "yes");
  EXPECT_EQ(env("ZVT_SPACED"), "padded value");
  EXPECT_EQ(env("ZVT_INLINE"), "value");
  EXPECT_EQ(env("ZVT_HASH"), "a#b");
  EXPECT_EQ(env("ZVT_DOUBLE"), "two words # not a comment");
  EXPECT_EQ(env("ZVT_ESCAPED"), "l1\nl2\t\"q\" \\");
  EXPECT_EQ(env("ZVT_SINGLE"), "raw \\n # kept");
  EXPECT_EQ(env("ZVT_QUOTED_COMMENT"), "x");
  EXPECT_EQ(env("ZVT_EMPTY"), "");
  EXPECT_EQ(env("ZVT_CRLF"), "windows");
  EXPECT_EQ(env("ZVT_EXISTING"), "from-environment");  // never overridden
  EXPECT_EQ(env("ZVT-BAD"), std::nullopt);
}

TEST(LoadZorvaneEnv, DefaultFileIsInTheProjectRootAndMissingFileIsFine) {
  zv_test::TempDir tmp;
  EnvGuard root("ZORVANE_PROJECT_ROOT", tmp.str());
  EnvGuard var("ZVT_FROM_ROOT", nullptr);
  EXPECT_EQ(zu::load_zorvane_env(), 0);  // no .env yet
  write(tmp / ".env", "ZVT_FROM_ROOT=1\n");
  EXPECT_EQ(zu::load_zorvane_env(), 1);
  EXPECT_EQ(env("ZVT_FROM_ROOT"), "1");
  EXPECT_EQ(zu::load_zorvane_env(tmp / "absent.env"), 0);
}

TEST(GetProjectRoot, EnvironmentVariableWinsAndIsMadeAbsolute) {
  zv_test::TempDir tmp;
  {
    EnvGuard root("ZORVANE_PROJECT_ROOT", tmp.str());
    EXPECT_EQ(zu::get_project_root(), tmp.path());
  }
  {
    EnvGuard root("ZORVANE_PROJECT_ROOT", "relative/dir");
    EXPECT_EQ(zu::get_project_root(), fs::current_path() / "relative/dir");
  }
  {
    EnvGuard home("HOME", tmp.str());
    EnvGuard root("ZORVANE_PROJECT_ROOT", "~/proj");
    EXPECT_EQ(zu::get_project_root(), tmp.path() / "proj");
  }
}

TEST(GetProjectRoot, FoundAboveTheExecutableWithoutTheVariable) {
  fs::path source = fs::weakly_canonical(ZV_SOURCE_DIR);
  fs::path binary = fs::weakly_canonical(ZV_BINARY_DIR);
  auto rel = binary.lexically_relative(source);
  if (rel.empty() || *rel.begin() == "..") GTEST_SKIP() << "build tree outside the source tree";
  EnvGuard root("ZORVANE_PROJECT_ROOT", nullptr);
  EXPECT_EQ(fs::weakly_canonical(zu::get_project_root()), source);
}

TEST(EnvHelpers, TextTrimsAndTreatsBlankAsUnset) {
  EnvGuard a("ZVT_A", "  value \t");
  EnvGuard b("ZVT_B", "   ");
  EnvGuard c("ZVT_C", nullptr);
  EXPECT_EQ(zu::env_text("ZVT_A"), "value");
  EXPECT_EQ(zu::env_text("ZVT_B"), std::nullopt);
  EXPECT_EQ(zu::env_text("ZVT_C"), std::nullopt);
  EXPECT_EQ(zu::env_or("ZVT_A", "fallback"), "value");
  EXPECT_EQ(zu::env_or("ZVT_B", "fallback"), "fallback");
  EXPECT_EQ(zu::env_or("ZVT_C", "fallback"), "fallback");
}

TEST(EnvHelpers, ExpandUserOnlyForALeadingTilde) {
  EnvGuard home("HOME", "/home/tester");
  EXPECT_EQ(zu::expand_user("~"), fs::path("/home/tester"));
  EXPECT_EQ(zu::expand_user("~/data/x"), fs::path("/home/tester/data/x"));
  EXPECT_EQ(zu::expand_user("~other/x"), fs::path("~other/x"));
  EXPECT_EQ(zu::expand_user("a/~/b"), fs::path("a/~/b"));
  EXPECT_EQ(zu::expand_user(""), fs::path(""));
}

}  // namespace
