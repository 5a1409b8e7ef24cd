#include "strategy/technical/all_stock_selector.hpp"

#include "zorvane/utils/logger.hpp"

namespace technical {

using zorvane::strategy::CheckResult;
using zorvane::utils::logger;

AllStockSelector::AllStockSelector(SelectorDeps deps) : deps_(std::move(deps)) {
  logger.info("AllStockSelector init");
}

CheckResult AllStockSelector::check(const std::string& code, const std::string& start_date,
                                    const std::string& end_date, const rapidjson::Value&) {
  candlex::BarTable df = deps_.load_bars(code, start_date, end_date);
  if (df.empty()) {
    logger.warning("股票 %s 没有数据", code);
    return {false, std::nullopt, std::move(df), "", 0.0, "ALL"};
  }
  indicators::StockStatus status = deps_.stock_status(df, code);
  return {true, std::move(status), std::move(df), "", 0.0, "ALL"};
}

}  // namespace technical
