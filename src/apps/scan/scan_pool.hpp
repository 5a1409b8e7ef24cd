#pragma once
// The stocks a scan covers: from a pool file or from a market of the data source.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace scan {

struct PoolEntry {
  std::string code;  // canonical code
  std::string name;  // display name, possibly empty
};

// A pool file: one code per line, optionally "code,name"; blank lines and comments (from a
// "#" at the start of a line or after a blank) are skipped; a UTF-8 byte-order mark and CR
// line ends are tolerated. Codes are normalised and duplicates dropped (the first is kept).
// Throws std::invalid_argument naming the file and line for a code that is not valid, and
// std::runtime_error when the file cannot be read.
std::vector<PoolEntry> read_pool_file(const std::filesystem::path& path);

// The same from text already read; `source` names it in errors.
std::vector<PoolEntry> parse_pool(std::string_view text, std::string_view source);

// Securities of a market ("A", "HK", "US" or "ETF"): ETF is the ETF universe of
// data/etf/etf.yaml; the others are the data source's codes of that market (candlex::list_codes)
// less indices. Sorted by code.
std::vector<PoolEntry> market_pool(std::string_view market);

// Fills empty names from the data source (names.csv, the built-in names).
void fill_names(std::vector<PoolEntry>& pool);

}  // namespace scan
