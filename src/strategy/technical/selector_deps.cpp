#include "strategy/technical/selector_deps.hpp"

#include "candlex/market_data.hpp"
#include "indicators/evaluate.hpp"
#include "morvik/pattern_scan.hpp"

namespace technical {

SelectorDeps SelectorDeps::defaults() {
  SelectorDeps d;
  d.load_bars = [](const std::string& code, const std::string& start, const std::string& end) {
    return candlex::get_any_ohlc(code, start, end);
  };
  d.stock_status = [](const candlex::BarTable& df, const std::string& code) {
    return indicators::get_stock_status(df, code);
  };
  d.scan = [](const candlex::BarTable& df, std::string_view symbol, std::string_view mode,
              double min_score, const rapidjson::Value* options) {
    return morvik::pre_screen_and_scan(df, symbol, mode, min_score, options);
  };
  d.thresholds = zorvane::constants::STRATEGY_THRESHOLDS;
  d.default_threshold = zorvane::constants::DEFAULT_STRATEGY_THRESHOLD;
  return d;
}

}  // namespace technical
