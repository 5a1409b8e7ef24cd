#pragma once
// The on-disk data center: <center>/daily/<code>.csv per security or index and
// <center>/names.csv (code,name). Parsed files are cached for the process, keyed by path,
// modification time and size, so a rewritten file is read again.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "candlex/bar_table.hpp"

namespace candlex {

// The data center directory from CANDLEX_CENTER ("~" expanded); nullopt when unset or blank.
std::optional<std::filesystem::path> center_dir();

// "daily/<code>.csv" relative to the center, as errors name it.
std::string daily_file_name(std::string_view canonical_code);

// Every daily bar of `canonical_code` in `center`, oldest first; an empty table when the
// file does not exist. Throws std::runtime_error when the center directory itself is missing,
// the file is not a regular file, or it is malformed (naming file and line).
std::shared_ptr<const BarTable> load_center_daily(const std::filesystem::path& center,
                                                  std::string_view canonical_code);

// The bars of `canonical_code` dated in [from, to], reading only the end of the file that
// holds them (see csv_tail.hpp) and keeping nothing in the process-wide cache (a table that is
// already cached is cut instead). For scans, which read each of thousands of files once.
// Errors as load_center_daily.
BarTable load_center_daily_window(const std::filesystem::path& center,
                                  std::string_view canonical_code, Day from, Day to);

// names.csv as canonical code -> name; empty when the file does not exist. Throws
// std::runtime_error naming file and line for a malformed file.
std::shared_ptr<const std::map<std::string, std::string>> load_center_names(
    const std::filesystem::path& center);

// Forgets every cached file (tests and benchmarks).
void clear_center_cache();

}  // namespace candlex
