#pragma once
// The market sentiment thermometer: how warm the mainland ETF market reads on a 0-100 scale,
// for a daily ("D") or weekly ("W") horizon. The computation (five cross-sectional factors of
// the ETF universe ranked against their own history) is described in sentiment_compute.hpp;
// this header adds the data loading and the caches.
//
// Caching (use_cache): a snapshot is kept for the process and written to
// <report root>/sentiment/ as JSON, keyed by the requested date (today when none), the
// horizon, a hash of the universe file's bytes, the bar source (for the data center, with the
// modification time and size of every universe ETF's daily file, so bars that arrive later
// are seen) and the computation's version, so a second process reads it instead of
// recomputing. The report root is REPORT_DIR, else
// CANDLEX_CENTER/report, else <project root>/report (relative paths are taken from the
// project root). Cache files are written atomically (temporary file, then rename); a cache
// that cannot be read or written only costs a recomputation.

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <rapidjson/document.h>

#include "candlex/bar_table.hpp"

namespace morvik {

// Daily bars of `code` from `start_date` to `end_date` inclusive ("YYYY-MM-DD").
using DailyBarLoader = std::function<candlex::BarTable(
    const std::string& code, const std::string& start_date, const std::string& end_date)>;

struct SentimentConfig {
  // "D" (daily bars) or "W" (weekly bars built from the daily ones), any case.
  std::string freq = "D";
  // Path of the ETF universe YAML file (see sentiment_universe.hpp).
  std::string universe_path;
  // Bar source; empty means candlex::get_any_ohlc.
  DailyBarLoader bar_loader;
  // Names the bar source in cache keys when bar_loader is set (snapshots of different sources
  // must not share a cache entry). Ignored for the default source, which is named by
  // CANDLEX_CENTER (or the sample market when unset).
  std::string source_id;
};

// The thermometer as of the newest bar on or before `date` ("YYYY-MM-DD"; today when none).
// Returns the snapshot object: "date", "freq", "temperature" (0-100), "state" (ICE_COLD,
// COLD, NEUTRAL, HOT, OVERHEAT), "direction" (warming, cooling, flat), "temperature_change",
// "confidence" ([0, 1]), "n_etf", "n_universe", "factors" (code -> percentile).
// Throws std::invalid_argument for a bad date or horizon, std::runtime_error when the universe
// file cannot be used or the bars do not allow a reading; bars of a single ETF that fail to
// load are skipped with a warning. `refresh` (with use_cache) ignores a cached snapshot,
// recomputes it and replaces the cached one.
rapidjson::Document compute_sentiment_snapshot(const std::optional<std::string>& date,
                                               const SentimentConfig& config, bool use_cache = true,
                                               bool refresh = false);

// Zone description of a temperature: {zone title, tactical guidance, detail}. Zones follow
// the state bands. Throws std::invalid_argument for a temperature that is not finite.
std::array<std::string, 3> get_sentiment_zone_desc(double temperature);

// Directory of the disk cache (created when missing).
std::filesystem::path sentiment_cache_dir();

// Empties the per-process cache (disk files are kept); returns the number of entries removed.
std::size_t clear_sentiment_cache();

namespace detail {

// Version of the computation, part of every cache key.
inline constexpr const char* SENTIMENT_CACHE_VERSION = "s1";

}  // namespace detail

}  // namespace morvik
