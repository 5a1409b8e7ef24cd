#include "candlex/data_center.hpp"

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "candlex/codes.hpp"
#include "candlex/csv_reader.hpp"
#include "candlex/csv_tail.hpp"
#include "candlex/data_file.hpp"
#include "zorvane/utils/env.hpp"
#include "zorvane/utils/text.hpp"

namespace candlex {

namespace fs = std::filesystem;

namespace {

using Stamp = FileStamp;

// One entry per path; a changed stamp replaces the entry, so the cache never holds two
// versions of a file.
template <class T>
class FileCache {
 public:
  std::shared_ptr<const T> find(const std::string& path, const Stamp& stamp) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(path);
    if (it == entries_.end() || !(it->second.first == stamp)) return nullptr;
    return it->second.second;
  }
  void put(const std::string& path, const Stamp& stamp, std::shared_ptr<const T> value) {
    std::lock_guard lock(mutex_);
    entries_[path] = {stamp, std::move(value)};
  }
  void clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::pair<Stamp, std::shared_ptr<const T>>> entries_;
};

FileCache<BarTable>& bar_cache() {
  static FileCache<BarTable> cache;
  return cache;
}

FileCache<std::map<std::string, std::string>>& name_cache() {
  static FileCache<std::map<std::string, std::string>> cache;
  return cache;
}

void require_center(const fs::path& center) {
  std::error_code ec;
  if (!fs::is_directory(center, ec))
    throw std::runtime_error("data center directory " + center.string() +
                             " does not exist (CANDLEX_CENTER)");
}

std::map<std::string, std::string> parse_names(std::string_view text, std::string_view source) {
  std::map<std::string, std::string> out;
  std::vector<std::string_view> fields;
  std::string scratch;
  int code_col = -1, name_col = -1;
  std::size_t pos = 0, line_no = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  auto fail = [&](const std::string& what) {
    throw std::runtime_error(std::string(source) + ":" + std::to_string(line_no) + ": " + what);
  };
  while (pos < text.size()) {
    auto nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    auto line = text.substr(pos, nl - pos);
    pos = nl + 1;
    ++line_no;
    if (zorvane::utils::trim(line).empty()) continue;
    split_csv_line(line, fields, scratch);
    if (code_col < 0) {
      for (std::size_t i = 0; i < fields.size(); ++i) {
        auto key = zorvane::utils::to_lower(zorvane::utils::trim(fields[i]));
        if (code_col < 0 && (key == "code" || key == "代码" || key == "ts_code" || key == "symbol"))
          code_col = static_cast<int>(i);
        else if (name_col < 0 && (key == "name" || key == "名称" || key == "简称"))
          name_col = static_cast<int>(i);
      }
      if (code_col < 0) fail("missing required column 'code'");
      if (name_col < 0) fail("missing required column 'name'");
      continue;
    }
    auto needed = static_cast<std::size_t>(std::max(code_col, name_col)) + 1;
    if (fields.size() < needed)
      fail("expected at least " + std::to_string(needed) + " fields, found " +
           std::to_string(fields.size()));
    std::string code;
    try {
      code = normalize_code(fields[code_col]);
    } catch (const std::invalid_argument& e) {
      fail(e.what());
    }
    out[code] = std::string(zorvane::utils::trim(fields[name_col]));
  }
  return out;
}

// The open file, or nullopt when it does not exist (after checking that the center itself
// does, so that a missing center is not mistaken for missing data).
std::optional<DataFile> open_in_center(const fs::path& center, const std::string& rel) {
  auto file = DataFile::open(center / rel, rel);
  if (!file) require_center(center);
  return file;
}

}  // namespace

std::optional<fs::path> center_dir() {
  auto v = zorvane::utils::env_text("CANDLEX_CENTER");
  if (!v) return std::nullopt;
  return zorvane::utils::expand_user(*v);
}

std::string daily_file_name(std::string_view canonical_code) {
  return "daily/" + std::string(canonical_code) + ".csv";
}

std::shared_ptr<const BarTable> load_center_daily(const fs::path& center,
                                                  std::string_view canonical_code) {
  const auto rel = daily_file_name(canonical_code);
  auto file = open_in_center(center, rel);
  if (!file) return std::make_shared<const BarTable>();
  const auto key = (center / rel).string();
  if (auto hit = bar_cache().find(key, file->stamp())) return hit;
  auto table = std::make_shared<const BarTable>(parse_bar_csv(file->read_all().view(), rel));
  bar_cache().put(key, file->stamp(), table);
  return table;
}

BarTable load_center_daily_window(const fs::path& center, std::string_view canonical_code, Day from,
                                  Day to) {
  const auto rel = daily_file_name(canonical_code);
  auto file = open_in_center(center, rel);
  if (!file) return {};
  auto cut = [&](const BarTable& t) {
    const auto& d = t.dates();
    return t.slice(static_cast<std::size_t>(std::lower_bound(d.begin(), d.end(), from) - d.begin()),
                   static_cast<std::size_t>(std::upper_bound(d.begin(), d.end(), to) - d.begin()));
  };
  if (auto hit = bar_cache().find((center / rel).string(), file->stamp())) return cut(*hit);
  auto table = read_bar_csv_since(*file, from);
  if (!table.empty() && table.dates().back() > to) return cut(table);
  return table;
}

std::shared_ptr<const std::map<std::string, std::string>> load_center_names(
    const fs::path& center) {
  auto file = open_in_center(center, "names.csv");
  if (!file) return std::make_shared<const std::map<std::string, std::string>>();
  const auto key = (center / "names.csv").string();
  if (auto hit = name_cache().find(key, file->stamp())) return hit;
  auto names = std::make_shared<const std::map<std::string, std::string>>(
      parse_names(file->read_all().view(), "names.csv"));
  name_cache().put(key, file->stamp(), names);
  return names;
}

void clear_center_cache() {
  bar_cache().clear();
  name_cache().clear();
}

}  // namespace candlex
