#include "apps/kelvo/progress_bar.hpp"

#include <cstdio>

#include "zorvane/utils/log_console.hpp"

namespace kelvo {

namespace {

constexpr std::size_t kCells = 20;

}  // namespace

std::string progress_text(std::size_t done, std::size_t total, std::size_t failed) {
  const std::size_t filled = total == 0 ? kCells : done * kCells / total;
  std::string bar = "[" + std::string(filled, '#') + std::string(kCells - filled, '-') + "]";
  const std::string count = std::to_string(total);
  std::string shown = std::to_string(done);
  shown.insert(0, count.size() > shown.size() ? count.size() - shown.size() : 0, ' ');
  return bar + " " + shown + "/" + count + "  失败 " + std::to_string(failed);
}

ProgressBar::ProgressBar(std::size_t total, bool enabled) : total_(total), enabled_(enabled) {
  update(0, 0);
}

ProgressBar::~ProgressBar() {
  finish();
}

void ProgressBar::update(std::size_t done, std::size_t failed) {
  if (!enabled_) return;
  last_ = progress_text(done, total_, failed);
  zorvane::utils::set_console_status(last_);
}

void ProgressBar::finish() {
  if (!enabled_) return;
  enabled_ = false;
  zorvane::utils::set_console_status("");
  std::fprintf(stderr, "\r\x1b[K%s\n", last_.c_str());
  std::fflush(stderr);
}

}  // namespace kelvo
