#pragma once
// Configuration from the environment and the project's .env file.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zorvane::utils {

// The project root: ZORVANE_PROJECT_ROOT when set, else the nearest directory at or above the
// running executable that holds data/etf/etf.yaml, else the current working directory.
// Always absolute.
std::filesystem::path get_project_root();

// Loads `<project root>/.env` (or `path` when given) into the environment without overriding
// variables that are already set. Lines are KEY=VALUE, optionally prefixed with "export";
// blank lines and lines starting with '#' are skipped; single- or double-quoted values are
// unquoted (double quotes also unescape \n, \t, \" and \\); an unquoted value ends at " #".
// A missing file is not an error. Returns the number of variables set.
int load_zorvane_env(const std::optional<std::filesystem::path>& path = std::nullopt);

// The variable's value with surrounding white space removed; nullopt when unset or blank.
std::optional<std::string> env_text(const char* name);

// env_text or `fallback`.
std::string env_or(const char* name, std::string_view fallback);

// Expands a leading "~" (alone or followed by '/') to $HOME.
std::filesystem::path expand_user(std::string_view path);

}  // namespace zorvane::utils
