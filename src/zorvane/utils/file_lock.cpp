#include "zorvane/utils/file_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

namespace zorvane::utils {

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FileLock::~FileLock() {
  release();
}

void FileLock::release() {
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

int FileLock::open_lock_file(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw std::runtime_error("无法打开锁文件 " + path.string() + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw std::runtime_error("锁文件不是普通文件: " + path.string());
  }
  return fd;
}

bool FileLock::try_lock() {
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return false;
    throw std::runtime_error(std::string("flock 失败: ") + std::strerror(errno));
  }
  return true;
}

bool FileLock::wait_for(std::chrono::milliseconds wait) {
  // flock has no timeout: poll, backing off from 5 ms to 100 ms between attempts.
  // Bounded so that a huge wait cannot overflow the clock's nanosecond count.
  const auto deadline = std::chrono::steady_clock::now() +
                        std::min<std::chrono::milliseconds>(wait, std::chrono::hours(24 * 365));
  std::chrono::milliseconds step{5};
  for (;;) {
    if (try_lock()) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      release();
      return false;
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(step, deadline - now));
    step = std::min(step * 2, std::chrono::milliseconds{100});
  }
}

}  // namespace zorvane::utils
