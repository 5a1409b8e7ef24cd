#include "morvik/sentiment_cache.hpp"

#include <map>
#include <mutex>
#include <stdexcept>

#include "zorvane/utils/atomic_file.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/regular_file.hpp"

namespace morvik::detail {

namespace fs = std::filesystem;

namespace {

std::mutex& memory_mutex() {
  static std::mutex m;
  return m;
}

std::map<std::string, rapidjson::Document>& memory() {
  static std::map<std::string, rapidjson::Document> cache;
  return cache;
}

rapidjson::Document copy_of(const rapidjson::Value& v) {
  rapidjson::Document d;
  d.CopyFrom(v, d.GetAllocator());
  return d;
}

}  // namespace

std::optional<rapidjson::Document> sentiment_memory_get(const std::string& key) {
  std::lock_guard lock(memory_mutex());
  auto it = memory().find(key);
  if (it == memory().end()) return std::nullopt;
  return copy_of(it->second);
}

void sentiment_memory_put(const std::string& key, const rapidjson::Value& snapshot) {
  auto copy = copy_of(snapshot);
  std::lock_guard lock(memory_mutex());
  memory().insert_or_assign(key, std::move(copy));
}

std::size_t sentiment_memory_clear() {
  std::lock_guard lock(memory_mutex());
  auto n = memory().size();
  memory().clear();
  return n;
}

std::optional<rapidjson::Document> read_snapshot_file(const fs::path& path) {
  try {
    // Neither followed through a symbolic link nor waited on as a FIFO.
    const auto text = zorvane::utils::read_regular_file(path);
    if (!text) return std::nullopt;
    auto doc = zorvane::utils::parse_json(*text);
    if (!doc.IsObject()) return std::nullopt;
    const auto* t = zorvane::utils::json_find(doc, "temperature");
    const auto* s = zorvane::utils::json_find(doc, "state");
    const auto* d = zorvane::utils::json_find(doc, "direction");
    if (!t || !t->IsNumber() || !s || !s->IsString() || !d || !d->IsString()) {
      return std::nullopt;
    }
    return doc;
  } catch (const zorvane::utils::NotRegularFileError& e) {
    zorvane::utils::logger.warning("[情绪温度计] 读取缓存失败 path=%s err=%s", path, e.what());
    return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void write_snapshot_file(const fs::path& path, const rapidjson::Value& snapshot) {
  try {
    zorvane::utils::write_file_atomic(path, zorvane::utils::safe_json_dumps(snapshot, false, 2));
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("写入情绪快照失败: " + path.string() + " (" + e.what() + ")");
  }
}

}  // namespace morvik::detail
