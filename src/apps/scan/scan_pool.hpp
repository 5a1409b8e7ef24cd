#pragma once
// The stocks a scan covers: from a pool file or from a market of the data source.

#include <string>
#include <string_view>
#include <vector>

#include "apps/common/pool_file.hpp"

namespace scan {

using apps::parse_pool;
using apps::PoolEntry;
using apps::read_pool_file;

// Securities of a market ("A", "HK", "US" or "ETF"): ETF is the ETF universe of
// data/etf/etf.yaml; the others are the data source's codes of that market (candlex::list_codes)
// less indices. Sorted by code.
std::vector<PoolEntry> market_pool(std::string_view market);

// Fills empty names from the data source (names.csv, the built-in names).
void fill_names(std::vector<PoolEntry>& pool);

}  // namespace scan
