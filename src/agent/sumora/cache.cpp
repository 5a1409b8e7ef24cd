#include "agent/sumora/cache.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/env.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/temp_files.hpp"
#include "zorvane/utils/text.hpp"

namespace sumora {

namespace fs = std::filesystem;
using zorvane::utils::logger;

namespace detail {

MemCache MEM_CACHE;
LockMap LOCKS;

std::optional<CachedBrief> MemCache::get(const CacheKey& key) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

bool MemCache::contains(const CacheKey& key) const {
  std::lock_guard lock(mutex_);
  return entries_.count(key) != 0;
}

void MemCache::put(const CacheKey& key, CachedBrief entry) {
  std::lock_guard lock(mutex_);
  entries_.insert_or_assign(key, std::move(entry));
}

std::size_t MemCache::remove(const std::optional<std::string>& market) {
  std::lock_guard lock(mutex_);
  if (!market) {
    auto n = entries_.size();
    entries_.clear();
    return n;
  }
  std::size_t n = 0;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->first.market_type == *market) {
      it = entries_.erase(it);
      ++n;
    } else {
      ++it;
    }
  }
  return n;
}

std::size_t MemCache::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

std::mutex& LockMap::get(const CacheKey& key) {
  std::lock_guard lock(mutex_);
  auto& slot = locks_[key];
  if (!slot) slot = std::make_unique<std::mutex>();
  return *slot;
}

std::size_t LockMap::size() const {
  std::lock_guard lock(mutex_);
  return locks_.size();
}

void require_valid_date(const std::string& analysis_date) {
  auto day = _normalize_date(analysis_date);
  bool valid = day.size() == 10;
  if (valid) {
    try {
      zorvane::utils::parse_iso_date(day);
    } catch (const std::invalid_argument&) {
      valid = false;
    }
  }
  if (!valid) throw std::runtime_error("[大盘 AI 简报] 非法分析日期: " + analysis_date);
}

}  // namespace detail

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. Returns the offset
// of the first bad byte, or nullopt when the text is well formed.
std::optional<std::size_t> first_invalid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, cp = c & 0x07, min = 0x10000;
    } else {
      return i;
    }
    if (i + len > s.size()) return i;
    for (std::size_t k = 1; k < len; ++k) {
      auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
    i += len;
  }
  return std::nullopt;
}

[[noreturn]] void throw_errno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// The whole file as bytes; std::system_error (with the OS reason) on failure.
std::string read_file(const fs::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw_errno("cannot open " + path.string());
  std::string out;
  char buf[16384];
  for (;;) {
    auto n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      errno = saved;
      throw_errno("cannot read " + path.string());
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

// Replaces `path` with `data` atomically: a unique temporary file in the same directory,
// flushed to disk, then renamed over the target.
void write_file_atomic(const fs::path& path, std::string_view data) {
  static std::atomic<unsigned> counter{0};
  auto tmp = path.parent_path() / ("." + path.filename().string() + ".tmp-" +
                                   std::to_string(::getpid()) + "-" + std::to_string(++counter));
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) throw_errno("cannot create " + tmp.string());
  auto fail = [&](const std::string& what) {
    int saved = errno;
    ::close(fd);
    ::unlink(tmp.c_str());
    errno = saved;
    throw_errno(what);
  };
  std::size_t done = 0;
  while (done < data.size()) {
    auto n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("cannot write " + tmp.string());
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) fail("cannot flush " + tmp.string());
  if (::close(fd) != 0) {
    int saved = errno;
    ::unlink(tmp.c_str());
    errno = saved;
    throw_errno("cannot close " + tmp.string());
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    ::unlink(tmp.c_str());
    errno = saved;
    throw_errno("cannot rename " + tmp.string() + " to " + path.string());
  }
}

}  // namespace

std::string _normalize_date(std::string_view analysis_date) {
  if (analysis_date.empty()) return {};
  auto head = analysis_date.substr(0, analysis_date.find('_'));
  head = zorvane::utils::trim(head);
  // Cut to 10 characters (code points), not bytes.
  std::size_t i = 0;
  for (int chars = 0; i < head.size() && chars < 10; ++chars) {
    ++i;
    while (i < head.size() && (static_cast<unsigned char>(head[i]) & 0xC0) == 0x80) ++i;
  }
  return std::string(head.substr(0, i));
}

fs::path _cache_dir() {
  using zorvane::utils::env_text;
  using zorvane::utils::expand_user;
  fs::path dir;
  if (auto override_dir = env_text("ZORVANE_SUMORA_DIR")) {
    dir = expand_user(*override_dir);
  } else {
    std::string root_text = "report";
    if (auto report = env_text("REPORT_DIR")) {
      root_text = *report;
    } else if (auto center = env_text("CANDLEX_CENTER")) {
      root_text = (fs::path(*center) / "report").string();
    }
    fs::path root = expand_user(root_text);
    if (!root.is_absolute()) root = zorvane::utils::get_project_root() / root;
    dir = root / "sumoras";
  }
  fs::create_directories(dir);
  zorvane::utils::remove_stale_temp_files_once(dir);
  return dir;
}

fs::path _cache_path(const std::string& market_type, const std::string& analysis_date) {
  detail::require_valid_date(analysis_date);
  auto mt = zorvane::utils::to_upper(market_type);
  if (mt.empty() || mt.find('/') != std::string::npos || mt.find('\0') != std::string::npos ||
      mt == "." || mt == "..") {
    throw std::runtime_error("[大盘 AI 简报] 不支持的市场类型: " + market_type);
  }
  auto name =
      mt + "_" + _normalize_date(analysis_date) + "_" + std::string(detail::CACHE_VERSION) + ".md";
  return _cache_dir() / name;
}

fs::path _meta_cache_path(const std::string& market_type, const std::string& analysis_date) {
  auto path = _cache_path(market_type, analysis_date);
  return path.replace_extension(".meta.json");
}

std::optional<CachedBrief> _load_disk_cache(const std::string& market_type,
                                            const std::string& analysis_date) {
  auto path = _cache_path(market_type, analysis_date);
  std::error_code ec;
  if (!fs::exists(path, ec)) return std::nullopt;
  try {
    auto raw = read_file(path);
    if (auto bad = first_invalid_utf8(raw)) {
      throw std::runtime_error("invalid UTF-8 at byte " + std::to_string(*bad));
    }
    std::string content(zorvane::utils::trim(raw));
    if (content.empty()) return std::nullopt;
    MetaRecord meta;
    auto meta_path = _meta_cache_path(market_type, analysis_date);
    if (fs::exists(meta_path, ec)) {
      try {
        meta = MetaRecord::parse(read_file(meta_path));
      } catch (const std::exception&) {
        meta = MetaRecord();  // a broken sidecar only loses the meta record
      }
    }
    return CachedBrief{std::move(content), std::move(meta)};
  } catch (const std::exception& e) {
    logger.warning("[大盘 AI 简报] 读取缓存失败 path=%s err=%s", path.string(), e.what());
    return std::nullopt;
  }
}

void _save_disk_cache(const std::string& market_type, const std::string& analysis_date,
                      const std::string& content, const std::optional<MetaRecord>& meta) {
  auto path = _cache_path(market_type, analysis_date);
  try {
    write_file_atomic(path, content);
    if (meta && !meta->empty()) {
      write_file_atomic(_meta_cache_path(market_type, analysis_date), meta->dumps());
    }
    logger.debug("[大盘 AI 简报] 写缓存 path=%s bytes=%d", path.string(),
                 zorvane::utils::char_count(content));
  } catch (const std::exception& e) {
    logger.warning("[大盘 AI 简报] 写缓存失败 path=%s err=%s", path.string(), e.what());
  }
}

std::mutex& _get_lock(const CacheKey& key) {
  return detail::LOCKS.get(key);
}

fs::path sumora_cache_file(const std::string& market_type, const std::string& analysis_date) {
  auto mt = zorvane::utils::to_upper(market_type);
  if (mt == "ETF") mt = "A";
  return _cache_path(mt, analysis_date);
}

std::size_t clear_sumora_cache(const std::optional<std::string>& market_type) {
  if (!market_type) return detail::MEM_CACHE.remove(std::nullopt);
  return detail::MEM_CACHE.remove(zorvane::utils::to_upper(*market_type));
}

}  // namespace sumora
