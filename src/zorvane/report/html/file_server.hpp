#pragma once
// Read-only HTTP access to the report root, for reading the pages on a phone:
//   - GET and HEAD only; every other method is refused with 405;
//   - only regular files under the root, of the kinds the pages use (.html, .md, .png, .svg,
//     .txt); names starting with '.' (lock files) and the database are never served;
//   - no way out of the root: ".." segments, encoded slashes or backslashes (%2f, %5c), NUL
//     bytes and symbolic links that resolve outside the root are refused;
//   - a directory is answered with its index.html, else a listing of what may be served.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zorvane::html {

// Outcome of mapping a request target to the file system.
struct Resolved {
  int status = 200;            // 200, or 400 / 403 / 404 when refused
  std::filesystem::path path;  // the canonical file or directory when status is 200
  bool directory = false;
};

// Maps the raw request target (percent-encoded path, optional query) to a file or directory
// under `root`, which must be canonical (std::filesystem::canonical).
Resolved resolve_request(const std::filesystem::path& root, std::string_view target);

class FileServer {
 public:
  // Serves `root` (made canonical; it must exist).
  explicit FileServer(const std::filesystem::path& root);
  ~FileServer();
  FileServer(const FileServer&) = delete;
  FileServer& operator=(const FileServer&) = delete;

  // Binds host:port (port 0: any free port); returns the port. Throws std::runtime_error
  // naming the address when it cannot be bound.
  int bind(const std::string& host, int port);
  // Serves until stop() is called (from another thread).
  void listen();
  void stop();
  const std::filesystem::path& root() const { return root_; }

 private:
  struct Impl;
  std::filesystem::path root_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zorvane::html
