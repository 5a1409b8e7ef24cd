#pragma once
// Runs a program as a child process with a chosen environment and working directory, and
// collects its exit status, standard output and standard error.

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.hpp"

namespace e2e {

struct ChildResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// `env` entries override the parent's environment; a nullopt value removes the variable.
// A child still running after five minutes is killed and reported with status 128 + 9.
inline ChildResult run_child(const std::string& exe, const std::vector<std::string>& args,
                             const std::map<std::string, std::optional<std::string>>& env,
                             const std::filesystem::path& cwd) {
  auto done = support::run(exe, args, env, cwd, std::chrono::minutes(5));
  return ChildResult{done.status, std::move(done.out), std::move(done.err)};
}

}  // namespace e2e
