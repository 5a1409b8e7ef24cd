#pragma once
// center.json: what a data center was filled with, so later runs stay consistent.
//
//   {"adjust": "qfq", "us_prefix": {"AAPL": "105", "IBM": "106"}}
//
// `adjust` is the price adjustment of every daily file; `us_prefix` keeps the Eastmoney
// exchange number (105 Nasdaq, 106 NYSE, 107 NYSE American/Arca) of each US ticker once it
// has been resolved, so the next run need not look it up again.

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "candlex/fetch/source.hpp"

namespace candlex::fetch {

struct CenterConfig {
  Adjust adjust = Adjust::qfq;
  std::map<std::string, std::string> us_prefix;  // ticker -> "105" | "106" | "107"
};

// The center's center.json; nullopt when there is none. Throws std::runtime_error naming the
// file when it cannot be read or is not the layout above.
std::optional<CenterConfig> read_center_config(const std::filesystem::path& center);

// Writes center.json atomically. Throws std::runtime_error naming the file.
void write_center_config(const std::filesystem::path& center, const CenterConfig& config);

// US exchange numbers shared by the sources of one run (thread-safe).
class UsPrefixes {
 public:
  explicit UsPrefixes(std::map<std::string, std::string> known = {}) : known_(std::move(known)) {}
  std::optional<std::string> find(const std::string& ticker) const;
  void set(const std::string& ticker, const std::string& prefix);
  std::map<std::string, std::string> all() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string> known_;
};

}  // namespace candlex::fetch
