#pragma once
// Storage behind the thermometer's use_cache: a thread-safe per-process map and snapshot files
// written atomically.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include <rapidjson/document.h>

namespace morvik::detail {

// Per-process cache (copies in and out).
std::optional<rapidjson::Document> sentiment_memory_get(const std::string& key);
void sentiment_memory_put(const std::string& key, const rapidjson::Value& snapshot);
std::size_t sentiment_memory_clear();

// A snapshot file's object; nullopt when the file is missing, unreadable, not JSON or lacks
// the entries every snapshot has ("temperature" number, "state" and "direction" texts), and
// (with a warning naming the path) when it is not a regular file: a symbolic link is not
// followed and a FIFO not waited on.
std::optional<rapidjson::Document> read_snapshot_file(const std::filesystem::path& path);

// Writes the snapshot through a temporary file in the same directory and a rename, so a
// reader never sees a partial file. Throws std::runtime_error naming the path on failure (the
// temporary file is removed).
void write_snapshot_file(const std::filesystem::path& path, const rapidjson::Value& snapshot);

}  // namespace morvik::detail
