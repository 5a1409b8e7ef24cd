#pragma once
// Whole-file replacement that readers never see half done.

#include <filesystem>
#include <string_view>

namespace zorvane::utils {

// Writes `text` to a temporary file beside `target`, syncs it and renames it over `target`,
// creating the parent directory when missing. On failure the temporary file is removed, the
// old `target` is untouched, and std::runtime_error names the path.
void write_file_atomic(const std::filesystem::path& target, std::string_view text);

}  // namespace zorvane::utils
