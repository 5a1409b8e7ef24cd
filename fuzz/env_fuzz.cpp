// The .env loader on arbitrary files: no crash, no sanitizer report, variables that are
// already set are never overridden, only well-formed names are set, the count returned is the
// number of variables added, and loading the same file again adds nothing.
// fuzz-deps: zorvane_utils
// fuzz-runs: 300000
// (glibc never frees the strings that setenv stores, so memory grows with every input: about
// 2 KB each; 300000 inputs stay well under libFuzzer's 2 GB limit.)

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "zorvane/utils/env.hpp"

extern char** environ;

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

std::map<std::string, std::string> snapshot() {
  std::map<std::string, std::string> out;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string kv(*e);
    auto eq = kv.find('=');
    if (eq != std::string::npos) out.emplace(kv.substr(0, eq), kv.substr(eq + 1));
  }
  return out;
}

bool name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

int memory_file = -1;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Variables the inputs may try to override (the dictionary names them).
  ::setenv("FUZZ_KEEP", "original", 1);
  ::setenv("FUZZ_EMPTY", "", 1);
  memory_file = ::memfd_create("env-fuzz", MFD_CLOEXEC);
  if (memory_file < 0) {
    std::perror("memfd_create");
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The input as a file, without touching the disk.
  check(::ftruncate(memory_file, 0) == 0, "truncate the memory file");
  std::size_t done = 0;
  while (done < size) {
    auto n = ::pwrite(memory_file, data + done, size - done, static_cast<off_t>(done));
    check(n > 0, "write the memory file");
    done += static_cast<std::size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(memory_file);

  const auto before = snapshot();
  const int added = zorvane::utils::load_zorvane_env(path);
  const auto after = snapshot();

  for (const auto& [key, value] : before) {
    auto it = after.find(key);
    check(it != after.end() && it->second == value, "a variable already set is kept as it was");
  }
  int fresh = 0;
  for (const auto& [key, value] : after) {
    if (before.count(key) != 0) continue;
    ++fresh;
    check(!key.empty(), "names are not empty");
    for (char c : key) check(name_char(c), "names are letters, digits and '_'");
  }
  check(added == fresh, "the count is the number of variables added");
  check(zorvane::utils::load_zorvane_env(path) == 0, "a second load adds nothing");

  // Back to the starting environment for the next input.
  for (const auto& [key, value] : after)
    if (before.count(key) == 0) ::unsetenv(key.c_str());
  return 0;
}
