#pragma once
// Clean-up of the temporary files our atomic writers leave behind when a process dies between
// writing a temporary file and renaming it over its target.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string_view>

namespace zorvane::utils {

// True for the names our atomic writers give their temporary files:
// "<name>.tmp.<pid>.<n>" and ".<name>.tmp-<pid>-<n>".
bool is_own_temp_file_name(std::string_view name);

// Removes the regular files directly in `dir` (not below it, symlinks never followed) that carry
// one of our temporary-file names and were last modified more than `max_age` ago; a writer
// still busy with a file touches it within seconds. Returns how many were removed, logs the
// count at info level when any were. Never throws: an unreadable directory removes nothing.
std::size_t remove_stale_temp_files(const std::filesystem::path& dir,
                                    std::chrono::seconds max_age = std::chrono::hours(1));

// remove_stale_temp_files with the default age, at most once per directory per process, so it
// can sit on the path that resolves a directory before each write.
void remove_stale_temp_files_once(const std::filesystem::path& dir);

}  // namespace zorvane::utils
