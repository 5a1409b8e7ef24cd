#pragma once
// The core indices of each market, with their data-center codes and display names.

#include <string>
#include <string_view>
#include <vector>

namespace candlex {

struct IndexEntry {
  std::string code;
  std::string name;
};

// The market's core indices in display order (A and ETF: 上证指数, 深证成指, 创业板指, 科创50,
// 沪深300, 中证500; HK: 恒生指数, 恒生科技指数; US: 标普500, 纳斯达克, 道琼斯). The market text
// matches in any case; an unknown market gives an empty list.
std::vector<IndexEntry> core_indices(std::string_view market);

// Every core index of every market (each once).
std::vector<IndexEntry> all_core_indices();

}  // namespace candlex
