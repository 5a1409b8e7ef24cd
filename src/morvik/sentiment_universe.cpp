#include "morvik/sentiment_universe.hpp"

#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "zorvane/utils/text.hpp"

namespace morvik {

std::uint64_t fnv1a64(const std::string& bytes, std::uint64_t seed) {
  std::uint64_t h = seed;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

namespace {

std::string scalar_text(const YAML::Node& node) {
  if (!node || !node.IsScalar()) return {};
  return std::string(zorvane::utils::trim(node.Scalar()));
}

}  // namespace

SentimentUniverse parse_sentiment_universe(const std::string& text, const std::string& path) {
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::Exception& e) {
    throw std::runtime_error("情绪温度计: ETF 池文件不是有效的 YAML: " + path + " (" + e.what() +
                             ")");
  }
  YAML::Node list = root;
  if (root.IsMap()) list = root["etfs"];
  if (!list || !list.IsSequence()) {
    throw std::runtime_error("情绪温度计: ETF 池文件缺少 etfs 列表: " + path);
  }
  SentimentUniverse out;
  out.content_hash = fnv1a64(text);
  std::set<std::string> seen;
  for (const auto& item : list) {
    UniverseEntry entry;
    if (item.IsMap()) {
      entry.code = scalar_text(item["code"]);
      entry.name = scalar_text(item["name"]);
      entry.category = scalar_text(item["category"]);
    } else {
      entry.code = scalar_text(item);  // a bare code
    }
    if (entry.code.empty() || !seen.insert(entry.code).second) continue;
    out.entries.push_back(std::move(entry));
  }
  if (out.entries.empty()) {
    throw std::runtime_error("情绪温度计: ETF 池文件没有任何 ETF 代码: " + path);
  }
  return out;
}

std::string read_sentiment_universe_file(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    throw std::runtime_error("情绪温度计: ETF 池文件不存在: " + path);
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("情绪温度计: 无法读取 ETF 池文件: " + path);
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) throw std::runtime_error("情绪温度计: 无法读取 ETF 池文件: " + path);
  return buf.str();
}

SentimentUniverse load_sentiment_universe(const std::string& path) {
  return parse_sentiment_universe(read_sentiment_universe_file(path), path);
}

}  // namespace morvik
