#include "candlex/names.hpp"

#include "candlex/catalog.hpp"
#include "candlex/codes.hpp"
#include "candlex/data_center.hpp"
#include "candlex/etf_universe.hpp"
#include "candlex/market_data.hpp"
#include "candlex/sample_market.hpp"

namespace candlex {

std::string builtin_name(std::string_view code) {
  for (const auto& index : all_core_indices())
    if (index.code == code) return index.name;
  for (const auto& etf : etf_universe())
    if (etf.code == code) return etf.name;
  return "";
}

std::string get_name_from_code(std::string_view code) {
  const std::string canonical = normalize_code(code);
  if (auto center = center_dir()) {
    auto names = load_center_names(*center);
    if (auto it = names->find(canonical); it != names->end() && !it->second.empty())
      return it->second;
    return builtin_name(canonical);
  }
  if (const auto* sec = find_sample_security(canonical)) return sec->name;
  return "";
}

}  // namespace candlex
