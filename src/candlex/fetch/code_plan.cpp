#include "candlex/fetch/code_plan.hpp"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "candlex/calendar.hpp"
#include "candlex/catalog.hpp"
#include "candlex/codes.hpp"
#include "candlex/etf_universe.hpp"
#include "candlex/fetch/eastmoney.hpp"
#include "candlex/fetch/tencent.hpp"
#include "zorvane/utils/text.hpp"

namespace candlex::fetch {

namespace fs = std::filesystem;

std::string fetchable_code(std::string_view text) {
  const std::string code = normalize_code(text);
  const bool us_stock = code.rfind("us.", 0) == 0;
  if (eastmoney::secid_of(code, us_stock ? "105" : "") || tencent::param_code(code, "105"))
    return code;
  throw std::invalid_argument("unknown security code " + zorvane::utils::quoted_text(text));
}

std::vector<std::string> read_code_list(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::error_code ec;
  if (!in || fs::is_directory(path, ec))
    throw std::runtime_error("cannot read code list " + path.string());
  std::vector<std::string> codes;
  std::string line;
  std::size_t line_no = 0;
  while (std::getline(in, line)) {
    ++line_no;
    std::string_view view(line);
    if (line_no == 1 && view.rfind("\xEF\xBB\xBF", 0) == 0) view.remove_prefix(3);
    if (auto hash = view.find('#'); hash != std::string_view::npos) view = view.substr(0, hash);
    view = zorvane::utils::trim(view.substr(0, view.find(',')));
    if (view.empty()) continue;
    try {
      codes.push_back(fetchable_code(view));
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(path.string() + ":" + std::to_string(line_no) + ": " + e.what());
    }
  }
  return codes;
}

std::vector<std::string> market_codes(std::string_view market, const fs::path& center,
                                      const std::function<void(const std::string&)>& warn) {
  const std::string key = market_key(market);
  std::vector<std::string> codes;
  for (const auto& index : core_indices(key)) codes.push_back(index.code);
  if (key == "A" || key == "ETF") {
    try {
      for (const auto& etf : etf_universe()) codes.push_back(etf.code);
    } catch (const std::runtime_error& e) {
      if (warn) warn(std::string("the ETF universe is not fetched: ") + e.what());
    }
  }
  std::error_code ec;
  std::vector<std::string> stored;
  for (fs::directory_iterator it(center / "daily", ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".csv") continue;
    const auto code = it->path().stem().string();
    const auto code_market = calendar_market_of(code);
    const bool fits = key == "ETF" ? is_fund_code(code) : code_market == key;
    if (fits) stored.push_back(code);
  }
  std::sort(stored.begin(), stored.end());
  codes.insert(codes.end(), stored.begin(), stored.end());
  return codes;
}

std::vector<std::string> with_market_indices(const std::vector<std::string>& codes) {
  std::vector<std::string> out;
  std::set<std::string> seen;
  auto add = [&](const std::string& c) {
    if (seen.insert(c).second) out.push_back(c);
  };
  std::set<std::string> markets;
  for (const auto& c : codes) markets.insert(calendar_market_of(c));
  for (const char* m : {"A", "HK", "US"})
    if (markets.count(m))
      for (const auto& index : core_indices(m)) add(index.code);
  for (const auto& c : codes) add(c);
  return out;
}

}  // namespace candlex::fetch
