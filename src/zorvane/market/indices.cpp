#include "zorvane/market/indices.hpp"

#include "candlex/catalog.hpp"

namespace zorvane::utils {

std::vector<MarketIndex> _get_indices_for_market(std::string_view market) {
  std::vector<MarketIndex> out;
  for (auto& entry : candlex::core_indices(market))
    out.push_back({std::move(entry.code), std::move(entry.name)});
  return out;
}

}  // namespace zorvane::utils
