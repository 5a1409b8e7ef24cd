#include "morvik/sentiment.hpp"

#include <sys/stat.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <stdexcept>

#include "candlex/codes.hpp"
#include "candlex/data_center.hpp"
#include "candlex/market_data.hpp"
#include "morvik/sentiment_cache.hpp"
#include "morvik/sentiment_compute.hpp"
#include "morvik/sentiment_universe.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/env.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/temp_files.hpp"

namespace morvik {

namespace fs = std::filesystem;
using zorvane::utils::logger;

namespace {

std::string hex64(std::uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016" PRIx64, v);
  return buf;
}

// Calendar days of daily bars to load so that the horizon's look-back windows and ranking
// history are covered (about 1.6 calendar days per trading day, 7 per week, plus slack).
int lookback_days(const SentimentParams& p, bool weekly) {
  const auto bars = p.range_window + p.history + p.direction_lag + 10;
  return weekly ? static_cast<int>(bars * 7) : static_cast<int>(bars * 16 / 10);
}

std::string default_source_id() {
  auto center = zorvane::utils::env_text("CANDLEX_CENTER");
  return center ? "candlex:" + *center : std::string("candlex:sample");
}

rapidjson::Document compute_uncached(candlex::Day as_of, const std::string& freq,
                                     const SentimentConfig& config,
                                     const SentimentUniverse& universe) {
  const auto params = sentiment_params(freq);
  const auto end = zorvane::utils::iso_date(as_of);
  const auto start =
      zorvane::utils::iso_date(as_of - std::chrono::days{lookback_days(params, freq == "W")});
  std::vector<EtfBars> bars;
  bars.reserve(universe.entries.size());
  for (const auto& entry : universe.entries) {
    try {
      auto table = config.bar_loader ? config.bar_loader(entry.code, start, end)
                                     : candlex::get_any_ohlc(entry.code, start, end);
      // The source is asked up to `end`; anything later is dropped again by the computation.
      bars.push_back({entry.code, std::move(table)});
    } catch (const std::exception& e) {
      logger.warning("[情绪温度计] 读取 ETF 行情失败，已跳过 code=%s err=%s", entry.code, e.what());
    }
  }
  return compute_sentiment_from_bars(bars, universe.entries.size(), freq, as_of);
}

// Codes of a universe file's text, parsed once per distinct text for the process.
std::vector<std::string> universe_codes(const std::string& text, const std::string& path) {
  static std::mutex mutex;
  static std::map<std::uint64_t, std::vector<std::string>> parsed;
  const auto hash = fnv1a64(text);
  {
    std::lock_guard lock(mutex);
    if (auto it = parsed.find(hash); it != parsed.end()) return it->second;
  }
  std::vector<std::string> codes;
  for (const auto& entry : parse_sentiment_universe(text, path).entries)
    codes.push_back(entry.code);
  std::lock_guard lock(mutex);
  return parsed.emplace(hash, std::move(codes)).first->second;
}

// Identity of the bars a snapshot of the data center is computed from: each universe ETF's
// daily file as (modification time, size), so bars that arrive after a first run make a new
// cache key instead of being ignored. One stat per ETF; no file is read.
std::string center_bars_stamp(const fs::path& center, const std::string& universe_text,
                              const std::string& universe_path) {
  std::string identity;
  for (const auto& code : universe_codes(universe_text, universe_path)) {
    identity += code;
    struct stat st {};
    std::string file;
    try {
      file = (center / candlex::daily_file_name(candlex::normalize_code(code))).string();
    } catch (const std::exception&) {
      identity += "|?\n";  // a code the source cannot name: its load fails the same way
      continue;
    }
    if (::stat(file.c_str(), &st) == 0) {
      identity += "|" + std::to_string(st.st_mtim.tv_sec) + "." +
                  std::to_string(st.st_mtim.tv_nsec) + "|" + std::to_string(st.st_size) + "\n";
    } else {
      identity += "|-\n";
    }
  }
  return hex64(fnv1a64(identity));
}

}  // namespace

fs::path sentiment_cache_dir() {
  using zorvane::utils::env_text;
  std::string root_text;
  if (auto report = env_text("REPORT_DIR")) {
    root_text = *report;
  } else if (auto center = env_text("CANDLEX_CENTER")) {
    root_text = (fs::path(*center) / "report").string();
  } else {
    root_text = "report";
  }
  fs::path root = zorvane::utils::expand_user(root_text);
  if (!root.is_absolute()) root = zorvane::utils::get_project_root() / root;
  fs::path dir = root / "sentiment";
  fs::create_directories(dir);
  zorvane::utils::remove_stale_temp_files_once(dir);
  return dir;
}

std::size_t clear_sentiment_cache() {
  return detail::sentiment_memory_clear();
}

rapidjson::Document compute_sentiment_snapshot(const std::optional<std::string>& date,
                                               const SentimentConfig& config, bool use_cache,
                                               bool refresh) {
  const std::string freq = normalize_sentiment_freq(config.freq);
  const candlex::Day as_of = date && !date->empty() ? zorvane::utils::parse_iso_date(*date)
                                                    : zorvane::utils::today_local();
  // The universe file is read on every call: its hash keys the caches, so an edited file is
  // never answered from a stale entry. It is parsed only when a snapshot is computed.
  const std::string universe_text = read_sentiment_universe_file(config.universe_path);
  auto compute = [&] {
    return compute_uncached(as_of, freq, config,
                            parse_sentiment_universe(universe_text, config.universe_path));
  };
  if (!use_cache) return compute();

  const std::string date_text = zorvane::utils::iso_date(as_of);
  std::string source = config.bar_loader ? "custom:" + config.source_id : default_source_id();
  if (const auto center = candlex::center_dir(); center && !config.bar_loader) {
    source += "|" + center_bars_stamp(*center, universe_text, config.universe_path);
  }
  const std::string key = std::string(detail::SENTIMENT_CACHE_VERSION) + "|" + freq + "|" +
                          date_text + "|" + hex64(fnv1a64(universe_text)) + "|" + source;
  if (!refresh) {
    if (auto hit = detail::sentiment_memory_get(key)) return std::move(*hit);
  }

  fs::path file;
  try {
    file = sentiment_cache_dir() /
           ("sentiment_" + freq + "_" + date_text + "_" + hex64(fnv1a64(key)) + ".json");
    if (refresh) {
      // recompute below and replace the file
    } else if (auto hit = detail::read_snapshot_file(file)) {
      logger.debug("[情绪温度计] 命中磁盘缓存 path=%s", file);
      detail::sentiment_memory_put(key, *hit);
      return std::move(*hit);
    }
  } catch (const std::exception& e) {
    logger.warning("[情绪温度计] 缓存目录不可用 err=%s", e.what());
    file.clear();
  }

  auto snapshot = compute();
  detail::sentiment_memory_put(key, snapshot);
  if (!file.empty()) {
    try {
      detail::write_snapshot_file(file, snapshot);
    } catch (const std::exception& e) {
      logger.warning("[情绪温度计] 写缓存失败 err=%s", e.what());
    }
  }
  return snapshot;
}

std::array<std::string, 3> get_sentiment_zone_desc(double temperature) {
  if (!std::isfinite(temperature)) {
    throw std::invalid_argument("情绪温度计: 温度必须是有限数值");
  }
  const std::string state = sentiment_state(temperature);
  if (state == "ICE_COLD") {
    return {
        "冰点区：恐慌出清，情绪极度低迷",
        "左侧观察、等待回暖：中线（W 线）冰点是分批布局窗口，短线（D 线）冰点须等升温确认再进场",
        "广度、动量与位置分位都处在自身历史的低位，抛压接近衰竭；冰点不等于立刻见底，"
        "右侧确认（回暖、站上均线）之前只宜小仓位试探。"};
  }
  if (state == "COLD") {
    return {"偏冷区：情绪低迷，资金观望", "轻仓防守、精选强势：只做相对强度领先的品种，控制总仓位",
            "多数 ETF 运行在均线下方，赚钱效应弱；升温可视为修复的开始，降温则可能重回冰点。"};
  }
  if (state == "NEUTRAL") {
    return {"中性区：情绪均衡，多空分歧正常",
            "顺势而为、按信号操作：跟随趋势与个股信号，仓位保持中性",
            "各因子分位居中，情绪本身不提供方向优势，以个股结构与大盘研判为主。"};
  }
  if (state == "HOT") {
    return {"偏热区：情绪活跃，拥挤度上升",
            "持股为主、不追高：已有仓位沿趋势持有并上移止盈，新开仓等待回踩",
            "偏热衡量的是拥挤程度而不是买入信号；继续升温意味着透支加快，需防范冲高回落。"};
  }
  return {"过热区：情绪亢奋，均值回归压力大",
          "逢高止盈、严禁追高：分批兑现利润，右侧破位即离场，降低总仓位",
          "广度、动量与位置处在历史极端高位，拥挤交易易在利空或量能衰减时集中出逃；"
          "过热阶段的新买入胜率低、回撤大。"};
}

}  // namespace morvik
