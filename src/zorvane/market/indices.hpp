#pragma once
// The core-index catalogue that the market brief relies on.

#include <string>
#include <string_view>
#include <vector>

namespace zorvane::utils {

struct MarketIndex {
  std::string code;  // data-center code, accepted by candlex::get_any_ohlc
  std::string name;  // display name
};

// A and ETF: 上证指数, 深证成指, 创业板指, 科创50, 沪深300, 中证500; HK: 恒生指数, 恒生科技指数;
// US: 标普500, 纳斯达克, 道琼斯 (in this order). The market matches in any case; an unknown
// market gives an empty list.
std::vector<MarketIndex> _get_indices_for_market(std::string_view market);

}  // namespace zorvane::utils
