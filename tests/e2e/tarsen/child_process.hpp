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

// The environment of a program run on the data center `center` against the loopback model
// stub at `base_url`: reports under `report_dir`, no Kafka, no brief directory of its own, the
// trust gate only reporting (the stub's replies are not briefs: one call each), short model
// timeouts and no retries. Callers overwrite what they need otherwise.
inline support::Env stub_model_env(const std::filesystem::path& center,
                                   const std::filesystem::path& project,
                                   const std::filesystem::path& report_dir,
                                   const std::string& base_url) {
  return {{"CANDLEX_CENTER", center.string()},
          {"ZORVANE_PROJECT_ROOT", project.string()},
          {"REPORT_DIR", report_dir.string()},
          {"ZORVANE_SUMORA_DIR", std::nullopt},
          {"KAFKA_BOOTSTRAP_SERVERS", std::nullopt},
          {"LLM_CLIENT_TYPE", "openai"},
          {"ZORVANE_GATE", "report"},
          {"OPENAI_API_KEY", "sk-e2e-secret"},
          {"OPENAI_BASE_URL", base_url},
          {"OPENAI_MODEL", "stub-model"},
          {"LLM_TIMEOUT_S", "10"},
          {"LLM_MAX_RETRIES", "0"},
          {"LLM_RETRY_BASE_MS", "1"}};
}

}  // namespace e2e
