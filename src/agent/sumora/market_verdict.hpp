#pragma once
// The brief's headline, computed by fixed rules instead of by the model: bias, strength,
// strategy line and a one-line rationale from the core indices' performance records.

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "agent/sumora/index_performance.hpp"

namespace sumora {

struct MarketVerdict {
  std::string bias;      // "避险" | "偏空" | "偏多" | "震荡"
  std::string strength;  // "强" | "中" | "弱"
  std::string strategy;  // "空仓等待" | "区间震荡" | "趋势跟随"
  std::string rationale;  // "第一指数 -0.52%、量比 0.85、收盘<EMA20；强度命中 1/4 项"

  bool operator==(const MarketVerdict&) const = default;
};

namespace detail {
// (bias, strength) -> strategy, complete for all twelve pairs.
extern const std::map<std::pair<std::string, std::string>, std::string> STRATEGY_TABLE;
}  // namespace detail

// `perfs` are the core indices' records in priority order (position 0 is the first index).
// Pure. Invalid records are skipped; with none valid the verdict is 震荡 / 弱 / 空仓等待.
MarketVerdict _compute_market_verdict(const std::vector<IndexPerformance>& perfs);

}  // namespace sumora
