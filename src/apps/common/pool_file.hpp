#pragma once
// Pool files: the list of stocks that `scan --pool` and `kelvo --watchlist` read.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace apps {

struct PoolEntry {
  std::string code;  // canonical code
  std::string name;  // display name, possibly empty
};

// A pool file: one code per line, optionally "code,name"; blank lines and comments (from a
// "#" at the start of a line or after a blank) are skipped; a UTF-8 byte-order mark and CR
// line ends are tolerated. Codes are normalised and duplicates dropped (the first is kept).
// Throws std::invalid_argument naming the file and line for a line that is not a security
// code, and std::runtime_error naming the file when it is not a readable regular file.
std::vector<PoolEntry> read_pool_file(const std::filesystem::path& path);

// The same from text already read; `source` names it in errors.
std::vector<PoolEntry> parse_pool(std::string_view text, std::string_view source);

}  // namespace apps
