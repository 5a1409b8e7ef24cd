#pragma once
// Reading files that other processes (or other people) may have replaced with something else:
// cache files, sidecars, snapshot files.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace zorvane::utils {

// What stands at the path is not a regular file (a symbolic link, FIFO, directory, device).
class NotRegularFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole content of the regular file at `path`, or nullopt when nothing is there. The file
// is opened without following a symbolic link and without blocking, so a FIFO put in its
// place never hangs the reader. Throws NotRegularFileError naming the path for anything but a
// regular file, std::system_error naming the path for other failures.
std::optional<std::string> read_regular_file(const std::filesystem::path& path);

}  // namespace zorvane::utils
