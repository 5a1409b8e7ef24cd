#include "apps/common/pool_file.hpp"

#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "candlex/codes.hpp"
#include "zorvane/utils/text.hpp"

namespace apps {

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
    const std::string where = std::string(source) + " line " + std::to_string(line_no) + ": ";
    std::string code;
    try {
      code = candlex::normalize_code(code_text);
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(where + e.what());
    }
    if (!candlex::is_security_code(code)) {
      throw std::invalid_argument(where +
                                  "not a security code: " + zorvane::utils::quoted_text(code_text));
    }
    if (seen.insert(code).second) pool.push_back({code, std::string(name)});
  }
  return pool;
}

std::vector<PoolEntry> read_pool_file(const std::filesystem::path& path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) {
    throw std::runtime_error("cannot read pool file " + path.string() + ": no such file");
  }
  if (!std::filesystem::is_regular_file(status)) {
    throw std::runtime_error("cannot read pool file " + path.string() + ": not a regular file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read pool file " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw std::runtime_error("cannot read pool file " + path.string());
  return parse_pool(text.str(), path.string());
}

}  // namespace apps
