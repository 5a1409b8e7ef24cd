#include "zorvane/utils/temp_files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <mutex>
#include <set>
#include <string>

#include "zorvane/utils/logger.hpp"

namespace zorvane::utils {

namespace {

bool all_digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// `name` is "<stem><marker><digits><sep><digits>" with a non-empty stem.
bool has_temp_suffix(std::string_view name, std::string_view marker, char sep) {
  auto at = name.rfind(marker);
  if (at == std::string_view::npos || at == 0) return false;
  auto tail = name.substr(at + marker.size());
  auto split = tail.find(sep);
  if (split == std::string_view::npos) return false;
  return all_digits(tail.substr(0, split)) && all_digits(tail.substr(split + 1));
}

}  // namespace

bool is_own_temp_file_name(std::string_view name) {
  if (has_temp_suffix(name, ".tmp.", '.')) return true;
  return name.size() > 1 && name.front() == '.' && has_temp_suffix(name.substr(1), ".tmp-", '-');
}

std::size_t remove_stale_temp_files(const std::filesystem::path& dir,
                                    std::chrono::seconds max_age) {
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec);
  if (ec) return 0;
  const std::time_t cutoff = std::time(nullptr) - static_cast<std::time_t>(max_age.count());
  std::size_t removed = 0;
  for (const auto& entry : it) {
    const std::string name = entry.path().filename().string();
    if (!is_own_temp_file_name(name)) continue;
    struct stat st {};
    if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (st.st_mtime >= cutoff) continue;
    if (::unlink(entry.path().c_str()) == 0) ++removed;
  }
  if (removed > 0) {
    logger.info("[清理] 已删除 %d 个过期临时文件 dir=%s", removed, dir.string());
  }
  return removed;
}

void remove_stale_temp_files_once(const std::filesystem::path& dir) {
  static std::mutex mutex;
  static std::set<std::filesystem::path> swept;
  {
    std::lock_guard lock(mutex);
    if (!swept.insert(dir.lexically_normal()).second) return;
  }
  remove_stale_temp_files(dir);
}

}  // namespace zorvane::utils
