#include "apps/scan/scan_pool.hpp"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "candlex/catalog.hpp"
#include "candlex/codes.hpp"
#include "candlex/etf_universe.hpp"
#include "candlex/listing.hpp"
#include "candlex/market_data.hpp"
#include "zorvane/market/market_type.hpp"
#include "zorvane/utils/text.hpp"

namespace scan {

namespace {

using zorvane::utils::trim;

// Text before a comment: "#" at the start or after a blank.
std::string_view strip_comment(std::string_view line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
      return line.substr(0, i);
  }
  return line;
}

bool is_index(const std::string& code) {
  static const std::set<std::string> core = [] {
    std::set<std::string> s;
    for (const auto& index : candlex::all_core_indices()) s.insert(index.code);
    return s;
  }();
  return core.count(code) != 0 || code.rfind("sh.000", 0) == 0 || code.rfind("sz.399", 0) == 0;
}

}  // namespace

std::vector<PoolEntry> parse_pool(std::string_view text, std::string_view source) {
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.remove_prefix(3);
  std::vector<PoolEntry> pool;
  std::set<std::string> seen;
  std::size_t line_no = 0;
  while (!text.empty()) {
    ++line_no;
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    line = trim(strip_comment(line));
    if (!line.empty() && line.back() == '\r') line = trim(line.substr(0, line.size() - 1));
    if (line.empty()) continue;
    const auto comma = line.find(',');
    const auto code_text = trim(line.substr(0, comma));
    const auto name =
        comma == std::string_view::npos ? std::string_view() : trim(line.substr(comma + 1));
    std::string code;
    try {
      code = candlex::normalize_code(code_text);
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(std::string(source) + " line " + std::to_string(line_no) + ": " +
                                  e.what());
    }
    if (seen.insert(code).second) pool.push_back({code, std::string(name)});
  }
  return pool;
}

std::vector<PoolEntry> read_pool_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read pool file " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw std::runtime_error("cannot read pool file " + path.string());
  return parse_pool(text.str(), path.string());
}

std::vector<PoolEntry> market_pool(std::string_view market) {
  std::vector<PoolEntry> pool;
  if (market == "ETF") {
    for (const auto& etf : candlex::etf_universe()) pool.push_back({etf.code, etf.name});
    std::sort(pool.begin(), pool.end(),
              [](const PoolEntry& a, const PoolEntry& b) { return a.code < b.code; });
    return pool;
  }
  for (auto& code : candlex::list_codes()) {
    if (is_index(code)) continue;
    if (zorvane::utils::get_market_type(code) != market) continue;
    pool.push_back({std::move(code), ""});
  }
  return pool;
}

void fill_names(std::vector<PoolEntry>& pool) {
  for (auto& e : pool)
    if (e.name.empty()) e.name = candlex::get_name_from_code(e.code);
}

}  // namespace scan
