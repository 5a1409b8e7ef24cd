#pragma once
// The watchlist run's progress bar: done / total and failures so far, kept below the log lines
// on standard error when it is a terminal.

#include <cstddef>
#include <string>

namespace kelvo {

// "[########------------]  8/20  失败 1": a 20-cell bar.
std::string progress_text(std::size_t done, std::size_t total, std::size_t failed);

class ProgressBar {
 public:
  // Draws only when `enabled` (standard error is a terminal).
  ProgressBar(std::size_t total, bool enabled);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void update(std::size_t done, std::size_t failed);
  // Leaves the last state on its own line.
  void finish();

 private:
  std::size_t total_;
  bool enabled_;
  std::string last_;
};

}  // namespace kelvo
