#pragma once
// Which codes one run fetches.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace candlex::fetch {

// The canonical form of a code that a source can fetch (any spelling the data layer
// accepts). Throws std::invalid_argument naming the text when it is not such a code.
std::string fetchable_code(std::string_view text);

// Codes of a list file: one per line, optionally "code,name"; blank lines and "#" comments
// are skipped. Throws std::invalid_argument naming file and line for a bad code, and
// std::runtime_error when the file cannot be read.
std::vector<std::string> read_code_list(const std::filesystem::path& path);

// What `--market M` covers: the market's core indices (its calendar index among them), the
// ETF universe for A and ETF, and every code of that market already in the center.
// `warn` receives a note when the ETF universe cannot be read.
std::vector<std::string> market_codes(std::string_view market, const std::filesystem::path& center,
                                      const std::function<void(const std::string&)>& warn = {});

// The final order: the core indices of every market the codes belong to come first (the
// calendar and the brief need them), then the codes as given; each code once.
std::vector<std::string> with_market_indices(const std::vector<std::string>& codes);

}  // namespace candlex::fetch
