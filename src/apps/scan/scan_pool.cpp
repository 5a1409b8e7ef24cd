#include "apps/scan/scan_pool.hpp"

#include <algorithm>
#include <set>

#include "candlex/catalog.hpp"
#include "candlex/etf_universe.hpp"
#include "candlex/listing.hpp"
#include "candlex/market_data.hpp"
#include "zorvane/market/market_type.hpp"

namespace scan {

namespace {

bool is_index(const std::string& code) {
  static const std::set<std::string> core = [] {
    std::set<std::string> s;
    for (const auto& index : candlex::all_core_indices()) s.insert(index.code);
    return s;
  }();
  return core.count(code) != 0 || code.rfind("sh.000", 0) == 0 || code.rfind("sz.399", 0) == 0;
}

}  // namespace

std::vector<PoolEntry> market_pool(std::string_view market) {
  std::vector<PoolEntry> pool;
  if (market == "ETF") {
    for (const auto& etf : candlex::etf_universe()) pool.push_back({etf.code, etf.name});
    std::sort(pool.begin(), pool.end(),
              [](const PoolEntry& a, const PoolEntry& b) { return a.code < b.code; });
    return pool;
  }
  for (auto& code : candlex::list_codes()) {
    if (is_index(code)) continue;
    if (zorvane::utils::get_market_type(code) != market) continue;
    pool.push_back({std::move(code), ""});
  }
  return pool;
}

void fill_names(std::vector<PoolEntry>& pool) {
  for (auto& e : pool)
    if (e.name.empty()) e.name = candlex::get_name_from_code(e.code);
}

}  // namespace scan
