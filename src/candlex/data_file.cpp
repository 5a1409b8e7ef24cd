#include "candlex/data_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace candlex {

namespace {

std::string kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a file";
}

[[noreturn]] void fail(const std::string& source, const char* what, int err) {
  throw std::runtime_error(source + ": " + what + ": " + std::strerror(err));
}

}  // namespace

std::optional<DataFile> DataFile::open(const std::filesystem::path& path, std::string source) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    fail(source, "cannot open", errno);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    fail(source, "cannot read", err);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw std::runtime_error(source + ": not a regular file (" + kind_of(st.st_mode) + ")");
  }
  FileStamp stamp{static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                  static_cast<std::uint64_t>(st.st_size)};
  return DataFile(fd, stamp, std::move(source));
}

DataFile::DataFile(DataFile&& other) noexcept
    : fd_(other.fd_), stamp_(other.stamp_), source_(std::move(other.source_)) {
  other.fd_ = -1;
}

DataFile::~DataFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t DataFile::read_into(char* buffer, std::size_t length, std::uint64_t offset) const {
  std::size_t used = 0;
  while (used < length) {
    const ssize_t n = ::pread(fd_, buffer + used, length - used, static_cast<off_t>(offset + used));
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(source_, "cannot read", errno);
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  return used;
}

FileBytes DataFile::read_range(std::uint64_t offset, std::size_t length) const {
  auto data = std::make_unique_for_overwrite<char[]>(length);
  const std::size_t used = read_into(data.get(), length, offset);
  return FileBytes(std::move(data), used);
}

FileBytes DataFile::read_all() const {
  // One byte more than the stamp's size, so a file that has grown is noticed and read on.
  std::size_t capacity = static_cast<std::size_t>(stamp_.size) + 1;
  auto data = std::make_unique_for_overwrite<char[]>(capacity);
  std::size_t used = read_into(data.get(), capacity, 0);
  while (used == capacity) {
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity * 2);
    std::memcpy(bigger.get(), data.get(), used);
    data = std::move(bigger);
    used += read_into(data.get() + used, capacity, used);
    capacity *= 2;
  }
  return FileBytes(std::move(data), used);
}

}  // namespace candlex
