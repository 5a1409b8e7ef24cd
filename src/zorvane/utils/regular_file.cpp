#include "zorvane/utils/regular_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace zorvane::utils {

namespace {

std::string kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "目录";
  if (S_ISFIFO(mode)) return "FIFO";
  if (S_ISSOCK(mode)) return "套接字";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "设备";
  return "特殊文件";
}

struct Fd {
  int fd;
  ~Fd() { ::close(fd); }
};

}  // namespace

std::optional<std::string> read_regular_file(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP) throw NotRegularFileError("不是普通文件（符号链接）: " + path.string());
    throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
  }
  Fd guard{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    throw std::system_error(errno, std::generic_category(), "cannot stat " + path.string());
  }
  if (!S_ISREG(st.st_mode)) {
    throw NotRegularFileError("不是普通文件（" + kind_of(st.st_mode) + "）: " + path.string());
  }
  std::string out;
  out.reserve(static_cast<std::size_t>(st.st_size));
  char buf[16384];
  for (;;) {
    const auto n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "cannot read " + path.string());
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace zorvane::utils
