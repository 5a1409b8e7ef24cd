#pragma once
// The ETF universe of the sentiment thermometer: a YAML file listing the funds whose
// cross-section is measured.
//
//   etfs:
//     - code: "510050"
//       name: 上证50ETF
//       category: broad
//
// A bare top-level list of the same entries is accepted too. Codes are kept as written
// (quote six-digit codes in YAML so that leading zeros survive); repeated codes count once.

#include <cstdint>
#include <string>
#include <vector>

namespace morvik {

struct UniverseEntry {
  std::string code;
  std::string name;
  std::string category;
};

struct SentimentUniverse {
  std::vector<UniverseEntry> entries;
  // FNV-1a 64 of the file's bytes: identifies the universe in cache keys.
  std::uint64_t content_hash = 0;
};

// Reads and parses the universe file. Throws std::runtime_error naming the path when the file
// is missing, unreadable, not YAML, or holds no entry with a code.
SentimentUniverse load_sentiment_universe(const std::string& path);

// The file's bytes. Throws std::runtime_error naming the path when it is missing or unreadable.
std::string read_sentiment_universe_file(const std::string& path);

// Parses universe text (the path is only used in error messages).
SentimentUniverse parse_sentiment_universe(const std::string& text, const std::string& path);

// FNV-1a 64-bit hash, also used to build cache keys.
std::uint64_t fnv1a64(const std::string& bytes, std::uint64_t seed = 0xcbf29ce484222325ULL);

}  // namespace morvik
