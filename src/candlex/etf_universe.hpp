#pragma once
// The ETF universe of data/etf/etf.yaml: a list `etfs:` of {code, name, category}.

#include <filesystem>
#include <string>
#include <vector>

namespace candlex {

struct EtfInfo {
  std::string code;      // six digits, as in daily/<code>.csv
  std::string name;      // display name
  std::string category;  // broad, sector, bond, commodity or cross_border
};

// Reads the file. Throws std::runtime_error naming the file when it is missing, is not YAML,
// or an entry lacks a code or name.
std::vector<EtfInfo> load_etf_universe(const std::filesystem::path& yaml_path);

// <project root>/data/etf/etf.yaml, read once per process.
const std::vector<EtfInfo>& etf_universe();

}  // namespace candlex
