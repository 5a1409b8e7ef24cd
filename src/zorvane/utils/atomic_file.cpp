#include "zorvane/utils/atomic_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace zorvane::utils {

namespace {

[[noreturn]] void fail(const std::filesystem::path& path, const std::string& what, int err) {
  throw std::runtime_error("写入文件失败: " + path.string() + " (" + what + ": " +
                           std::strerror(err) + ")");
}

}  // namespace

void write_file_atomic(const std::filesystem::path& target, std::string_view text) {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  if (target.has_parent_path()) {
    std::filesystem::create_directories(target.parent_path(), ec);
    if (ec) fail(target, "create directory", ec.value());
  }
  std::filesystem::path temp = target;
  temp += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);

  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) fail(target, "open", errno);
  auto abandon = [&](const char* what) {
    int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    fail(target, what, err);
  };
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      abandon("write");
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) abandon("fsync");
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    fail(target, "close", err);
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    fail(target, "rename", err);
  }
}

}  // namespace zorvane::utils
