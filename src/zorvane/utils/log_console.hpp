#pragma once
// What a program that runs several jobs at once adds to the shared logger: a per-thread prefix
// that names the job on each of its lines, and a status line (a progress bar) that the console
// keeps below the log lines on a terminal.

#include <string>

namespace zorvane::utils {

// While alive, every log line written by this thread starts with `prefix` ("[sh.600519] ").
// Nested prefixes replace each other and restore the outer one on destruction.
class ThreadLogPrefix {
 public:
  explicit ThreadLogPrefix(std::string prefix);
  ~ThreadLogPrefix();
  ThreadLogPrefix(const ThreadLogPrefix&) = delete;
  ThreadLogPrefix& operator=(const ThreadLogPrefix&) = delete;

 private:
  std::string previous_;
};

// Shows `text` as the console's last line: it is redrawn after each log line, so log lines
// appear above it and never inside it. Empty text removes it. Only for a terminal: the text is
// drawn with a carriage return and an erase-line sequence.
void set_console_status(const std::string& text);

}  // namespace zorvane::utils
