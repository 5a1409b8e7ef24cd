#include "candlex/fetch/progress_bar.hpp"

#include <cstdio>

namespace candlex::fetch {

namespace {

std::string clock_text(long seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return buf;
}

}  // namespace

ProgressBar::ProgressBar(bool enabled)
    : enabled_(enabled), started_(std::chrono::steady_clock::now()) {}

std::string ProgressBar::render(const Progress& p, std::chrono::seconds elapsed) {
  constexpr std::size_t kWidth = 24;
  const std::size_t filled = p.total ? p.done * kWidth / p.total : kWidth;
  std::string text = "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] " +
                     std::to_string(p.done) + "/" + std::to_string(p.total) + "  " + p.code +
                     "  失败 " + std::to_string(p.failed);
  if (p.done > 0 && p.done < p.total) {
    const long left = static_cast<long>(elapsed.count() * static_cast<long>(p.total - p.done) /
                                        static_cast<long>(p.done));
    text += "  剩余 " + clock_text(left);
  }
  return text;
}

void ProgressBar::update(const Progress& p) {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  auto elapsed =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_);
  std::fprintf(stderr, "\r\033[K%s", render(p, elapsed).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::note(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (drawn_) std::fprintf(stderr, "\r\033[K");
  drawn_ = false;
  std::fprintf(stderr, "candlex-fetch: %s\n", text.c_str());
}

void ProgressBar::finish() {
  std::lock_guard lock(mutex_);
  if (enabled_ && drawn_) std::fprintf(stderr, "\n");
  drawn_ = false;
}

}  // namespace candlex::fetch
