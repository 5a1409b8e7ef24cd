#pragma once
// RAII environment variable for tests: sets (or unsets) a variable and restores the previous
// value, or its absence, on destruction. Not for use while other threads read the environment.

#include <stdlib.h>

#include <optional>
#include <string>

namespace zv_test {

class EnvGuard {
 public:
  // Sets `name` to `value`, or unsets it when `value` is nullopt.
  EnvGuard(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = ::getenv(name_.c_str())) old_ = std::string(old);
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  EnvGuard(std::string name, const char* value)
      : EnvGuard(std::move(name), value ? std::optional<std::string>(value) : std::nullopt) {}
  ~EnvGuard() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace zv_test
