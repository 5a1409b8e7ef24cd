#pragma once
// A one-line progress bar on standard error, drawn only when standard error is a terminal:
// "[#####.....] 12/50  sh.600519  失败 1  剩余 00:03:20".

#include <chrono>
#include <mutex>
#include <string>

#include "candlex/fetch/center_update.hpp"

namespace candlex::fetch {

class ProgressBar {
 public:
  explicit ProgressBar(bool enabled);
  void update(const Progress& p);
  // Prints a notice line above the bar (or alone when there is no bar). Thread-safe, as are
  // the other members.
  void note(const std::string& text);
  // Ends the bar (a final line break when drawn).
  void finish();

  // The bar's text for a state after `elapsed` (exposed for tests).
  static std::string render(const Progress& p, std::chrono::seconds elapsed);

 private:
  std::mutex mutex_;
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace candlex::fetch
