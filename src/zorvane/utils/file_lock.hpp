#pragma once
// An advisory lock on a file (flock), shared by every process that opens the same path: the
// way separate processes agree that only one of them does some work at a time. The system
// releases it when its holder dies, so a crashed holder never blocks anyone.

#include <chrono>
#include <filesystem>

namespace zorvane::utils {

class FileLock {
 public:
  FileLock() = default;
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

  // Takes an exclusive lock on `path` (created with mode 0644 when missing), waiting at most
  // `wait`; `on_wait` runs once if the lock is held by someone else at first. The file is
  // opened without following a symbolic link and without blocking and must be a regular
  // file. Returns an unlocked FileLock when the wait ran out. Throws std::runtime_error naming
  // the path when the file cannot be used.
  template <class OnWait>
  static FileLock acquire(const std::filesystem::path& path, std::chrono::milliseconds wait,
                          OnWait&& on_wait) {
    FileLock lock(open_lock_file(path));
    if (lock.try_lock()) return lock;
    on_wait();
    if (lock.wait_for(wait)) return lock;
    return FileLock();
  }
  static FileLock acquire(const std::filesystem::path& path, std::chrono::milliseconds wait) {
    return acquire(path, wait, [] {});
  }

  bool locked() const { return fd_ >= 0; }
  // Gives the lock up now (the destructor does the same).
  void release();

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  static int open_lock_file(const std::filesystem::path& path);
  bool try_lock();
  bool wait_for(std::chrono::milliseconds wait);

  int fd_ = -1;
};

}  // namespace zorvane::utils
