#pragma once
// The two-level cache of market briefs: a process-wide memory map and one Markdown file per
// (market, day) on disk, shared by every process, with a ".meta.json" sidecar.
//
// Cache key is (market, day, version). The directory is resolved anew on every path
// computation: ZORVANE_SUMORA_DIR as given, else <report root>/sumoras where the report root
// is REPORT_DIR, else CANDLEX_CENTER/report, else "report" (relative roots sit under the
// project root).
//
// Everything here is safe to call from many threads at once.

#include <chrono>
#include <compare>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "agent/sumora/meta_record.hpp"
#include "zorvane/utils/file_lock.hpp"

namespace sumora {

namespace detail {
// Part of every key and file name; bumping it makes older files invisible.
inline constexpr std::string_view CACHE_VERSION = "v4";
}  // namespace detail

struct CacheKey {
  std::string market_type;  // internal market type (upper case, ETF already mapped to A)
  std::string date;         // normalised "YYYY-MM-DD"
  std::string version;

  auto operator<=>(const CacheKey&) const = default;
};

using CachedBrief = std::pair<std::string, MetaRecord>;

namespace detail {

// Memory cache: key -> (brief text, meta record). Guarded by its own mutex.
class MemCache {
 public:
  std::optional<CachedBrief> get(const CacheKey& key) const;
  bool contains(const CacheKey& key) const;
  void put(const CacheKey& key, CachedBrief entry);
  // Removes every entry (market nullopt) or those whose market equals `market` exactly.
  std::size_t remove(const std::optional<std::string>& market);
  std::size_t size() const;

 private:
  mutable std::mutex mutex_;
  std::map<CacheKey, CachedBrief> entries_;
};

// Per-key generation locks, created lazily and kept for the process.
class LockMap {
 public:
  std::mutex& get(const CacheKey& key);
  std::size_t size() const;

 private:
  mutable std::mutex mutex_;
  std::map<CacheKey, std::unique_ptr<std::mutex>> locks_;
};

extern MemCache MEM_CACHE;
extern LockMap LOCKS;

// The cross-process generation lock of a brief: an advisory lock on "<brief file>.lock",
// released by the system if its holder dies. Waits at most `wait`, logging once at info level
// that it waits; a wait that runs out, or a lock file that cannot be used, is logged as a
// warning and gives an unlocked result, so the caller generates anyway (one extra model call
// at worst, never a hang).
zorvane::utils::FileLock lock_brief_file(const std::string& market_type,
                                         const std::string& analysis_date,
                                         std::chrono::milliseconds wait);

// Throws std::runtime_error "[大盘 AI 简报] 非法分析日期: <date>" unless the normalised date is
// a real "YYYY-MM-DD" date: the date becomes part of a file name.
void require_valid_date(const std::string& analysis_date);

}  // namespace detail

// "" for ""; otherwise the part before the first "_", trimmed, cut to 10 characters:
// "2024-05-10_1530" -> "2024-05-10".
std::string _normalize_date(std::string_view analysis_date);

// The cache directory, created with missing parents. Failure to create it throws.
std::filesystem::path _cache_dir();

// <cache dir>/<MARKET>_<date>_v4.md. The market type is upper-cased, not mapped (ETF stays
// ETF). Throws std::runtime_error for a date that is not a real date after normalisation and
// for a market type that could leave the directory.
std::filesystem::path _cache_path(const std::string& market_type, const std::string& analysis_date);
// The brief path with ".md" replaced by ".meta.json".
std::filesystem::path _meta_cache_path(const std::string& market_type,
                                       const std::string& analysis_date);

// (brief, meta) from disk, or nullopt when there is no usable brief file: missing, blank, or
// unreadable (file-system error, text that is not UTF-8, or not a regular file: a symbolic
// link or a FIFO is neither followed nor waited on; logged as a warning). A missing or broken
// sidecar gives an empty meta record.
std::optional<CachedBrief> _load_disk_cache(const std::string& market_type,
                                            const std::string& analysis_date);

// Writes the brief (and, for a non-empty meta, the sidecar) by writing a temporary file in
// the same directory and renaming it over the old one, so readers never see a partial file.
// File-system errors are logged as a warning and swallowed.
void _save_disk_cache(const std::string& market_type, const std::string& analysis_date,
                      const std::string& content, const std::optional<MetaRecord>& meta = {});

// The generation lock of `key`.
std::mutex& _get_lock(const CacheKey& key);

// Where the pipeline keeps the brief of `market_type` (ETF -> A, any case) on that day.
std::filesystem::path sumora_cache_file(const std::string& market_type,
                                        const std::string& analysis_date);

// Removes memory entries: all (nullopt) or those of the upper-cased market (ETF not mapped).
// Returns the number removed. Files and locks are left alone.
std::size_t clear_sumora_cache(const std::optional<std::string>& market_type = std::nullopt);

}  // namespace sumora
