#pragma once
// Captures the shared logger's lines while alive, as "<level>|<message>" (level names
// debug, info, warning, error). For tests and diagnostics.

#include <memory>
#include <string>
#include <vector>

namespace zorvane::utils {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Every captured line, oldest first.
  std::vector<std::string> lines() const;
  // Lines whose message contains `needle`.
  std::vector<std::string> matching(const std::string& needle) const;
  void clear();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zorvane::utils
