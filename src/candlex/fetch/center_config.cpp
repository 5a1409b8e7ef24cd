#include "candlex/fetch/center_config.hpp"

#include <stdexcept>
#include <system_error>

#include "candlex/csv_reader.hpp"
#include "zorvane/utils/atomic_file.hpp"
#include "zorvane/utils/json.hpp"

namespace candlex::fetch {

namespace fs = std::filesystem;

std::optional<CenterConfig> read_center_config(const fs::path& center) {
  const auto path = center / "center.json";
  std::error_code ec;
  if (!fs::exists(path, ec)) return std::nullopt;
  const std::string where = path.string();
  rapidjson::Document doc;
  try {
    doc = zorvane::utils::parse_json(read_text_file(path, where));
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(where + ": " + e.what());
  }
  if (!doc.IsObject()) throw std::runtime_error(where + ": not a JSON object");
  CenterConfig config;
  const auto* adjust = zorvane::utils::json_find(doc, "adjust");
  if (!adjust || !adjust->IsString()) throw std::runtime_error(where + ": no \"adjust\" text");
  try {
    config.adjust = parse_adjust(adjust->GetString());
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(where + ": " + e.what());
  }
  if (const auto* prefixes = zorvane::utils::json_find(doc, "us_prefix")) {
    if (!prefixes->IsObject()) throw std::runtime_error(where + ": \"us_prefix\" is not an object");
    for (const auto& m : prefixes->GetObject())
      if (m.value.IsString()) config.us_prefix[m.name.GetString()] = m.value.GetString();
  }
  return config;
}

void write_center_config(const fs::path& center, const CenterConfig& config) {
  rapidjson::Document doc(rapidjson::kObjectType);
  auto& alloc = doc.GetAllocator();
  zorvane::utils::json_add(doc, "adjust", adjust_text(config.adjust), alloc);
  rapidjson::Value prefixes(rapidjson::kObjectType);
  for (const auto& [ticker, prefix] : config.us_prefix)
    zorvane::utils::json_add(prefixes, ticker, prefix, alloc);
  zorvane::utils::json_add(doc, "us_prefix", std::move(prefixes), alloc);
  zorvane::utils::write_file_atomic(center / "center.json",
                                    zorvane::utils::safe_json_dumps(doc, false, 2) + "\n");
}

std::optional<std::string> UsPrefixes::find(const std::string& ticker) const {
  std::lock_guard lock(mutex_);
  auto it = known_.find(ticker);
  if (it == known_.end()) return std::nullopt;
  return it->second;
}

void UsPrefixes::set(const std::string& ticker, const std::string& prefix) {
  std::lock_guard lock(mutex_);
  known_[ticker] = prefix;
}

std::map<std::string, std::string> UsPrefixes::all() const {
  std::lock_guard lock(mutex_);
  return known_;
}

}  // namespace candlex::fetch
