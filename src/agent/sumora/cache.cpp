#include "agent/sumora/cache.hpp"

#include <stdexcept>

#include "zorvane/utils/atomic_file.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/env.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/regular_file.hpp"
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

zorvane::utils::FileLock lock_brief_file(const std::string& market_type,
                                         const std::string& analysis_date,
                                         std::chrono::milliseconds wait) {
  auto path = _cache_path(market_type, analysis_date);
  path += ".lock";
  try {
    const auto started = std::chrono::steady_clock::now();
    auto lock = zorvane::utils::FileLock::acquire(path, wait, [&] {
      logger.info("[大盘 AI 简报] 等待其他进程生成简报 | market=%s date=%s", market_type,
                  analysis_date);
    });
    if (!lock.locked()) {
      const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - started;
      logger.warning("[大盘 AI 简报] 等待简报生成锁超时，自行生成 | path=%s 等待=%.1f秒",
                     path.string(), waited.count());
    }
    return lock;
  } catch (const std::exception& e) {
    logger.warning("[大盘 AI 简报] 简报生成锁不可用，自行生成 | path=%s err=%s", path.string(),
                   e.what());
    return {};
  }
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
  using zorvane::utils::read_regular_file;
  auto path = _cache_path(market_type, analysis_date);
  try {
    // Not followed through a symbolic link, never blocked on a FIFO: anything but a regular
    // file is a miss, and the next brief replaces it.
    auto raw = read_regular_file(path);
    if (!raw) return std::nullopt;
    if (!zorvane::utils::is_valid_utf8(*raw)) throw std::runtime_error("不是有效的 UTF-8 文本");
    std::string content(zorvane::utils::trim(*raw));
    if (content.empty()) return std::nullopt;
    MetaRecord meta;
    const auto meta_path = _meta_cache_path(market_type, analysis_date);
    try {
      if (auto text = read_regular_file(meta_path)) meta = MetaRecord::parse(*text);
    } catch (const zorvane::utils::NotRegularFileError& e) {
      logger.warning("[大盘 AI 简报] 读取缓存失败 path=%s err=%s", meta_path.string(), e.what());
    } catch (const std::exception&) {
      meta = MetaRecord();  // a broken sidecar only loses the meta record
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
    // A rename replaces whatever stood there (a symbolic link itself, never its target).
    zorvane::utils::write_file_atomic(path, content);
    if (meta && !meta->empty()) {
      zorvane::utils::write_file_atomic(_meta_cache_path(market_type, analysis_date),
                                        meta->dumps());
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
