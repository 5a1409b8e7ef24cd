#include "candlex/catalog.hpp"

#include "zorvane/utils/text.hpp"

namespace candlex {

namespace {

const std::vector<IndexEntry> kMainland = {
    {"sh.000001", "上证指数"}, {"sz.399001", "深证成指"}, {"sz.399006", "创业板指"},
    {"sh.000688", "科创50"},   {"sh.000300", "沪深300"},  {"sh.000905", "中证500"},
};
const std::vector<IndexEntry> kHongKong = {{"hk.HSI", "恒生指数"}, {"hk.HSTECH", "恒生科技指数"}};
const std::vector<IndexEntry> kUnitedStates = {
    {"us.SPX", "标普500"}, {"us.IXIC", "纳斯达克"}, {"us.DJI", "道琼斯"}};

}  // namespace

std::vector<IndexEntry> core_indices(std::string_view market) {
  auto key = zorvane::utils::to_upper(zorvane::utils::trim(market));
  if (key == "A" || key == "ETF") return kMainland;
  if (key == "HK") return kHongKong;
  if (key == "US") return kUnitedStates;
  return {};
}

std::vector<IndexEntry> all_core_indices() {
  std::vector<IndexEntry> out = kMainland;
  out.insert(out.end(), kHongKong.begin(), kHongKong.end());
  out.insert(out.end(), kUnitedStates.begin(), kUnitedStates.end());
  return out;
}

}  // namespace candlex
