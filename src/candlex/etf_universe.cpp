#include "candlex/etf_universe.hpp"

#include <yaml-cpp/yaml.h>

#include <stdexcept>

#include "candlex/codes.hpp"
#include "zorvane/utils/env.hpp"

namespace candlex {

std::vector<EtfInfo> load_etf_universe(const std::filesystem::path& path) {
  const std::string where = path.string();
  YAML::Node root;
  try {
    root = YAML::LoadFile(where);
  } catch (const YAML::Exception& e) {
    throw std::runtime_error(where + ": " + e.what());
  }
  const auto list = root["etfs"];
  if (!list || !list.IsSequence()) throw std::runtime_error(where + ": no 'etfs' list");
  std::vector<EtfInfo> out;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto& node = list[i];
    auto text = [&](const char* key) -> std::string {
      const auto v = node[key];
      if (!v || !v.IsScalar()) return {};
      return v.as<std::string>();
    };
    EtfInfo info{text("code"), text("name"), text("category")};
    if (info.code.empty() || info.name.empty())
      throw std::runtime_error(where + ": entry " + std::to_string(i + 1) +
                               " lacks a code or name");
    if (!is_fund_code(info.code))
      throw std::runtime_error(where + ": entry " + std::to_string(i + 1) + " has code '" +
                               info.code + "', not an exchange fund code");
    out.push_back(std::move(info));
  }
  return out;
}

const std::vector<EtfInfo>& etf_universe() {
  static const std::vector<EtfInfo> universe =
      load_etf_universe(zorvane::utils::get_project_root() / "data" / "etf" / "etf.yaml");
  return universe;
}

}  // namespace candlex
