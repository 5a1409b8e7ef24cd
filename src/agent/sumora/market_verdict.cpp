#include "agent/sumora/market_verdict.hpp"

#include <cmath>

namespace sumora {

namespace detail {

const std::map<std::pair<std::string, std::string>, std::string> STRATEGY_TABLE = {
    {{"避险", "强"}, "空仓等待"}, {{"避险", "中"}, "空仓等待"}, {{"避险", "弱"}, "空仓等待"},
    {{"偏空", "强"}, "空仓等待"}, {{"偏空", "中"}, "空仓等待"}, {{"偏空", "弱"}, "区间震荡"},
    {{"偏多", "强"}, "趋势跟随"}, {{"偏多", "中"}, "趋势跟随"}, {{"偏多", "弱"}, "区间震荡"},
    {{"震荡", "强"}, "区间震荡"}, {{"震荡", "中"}, "区间震荡"}, {{"震荡", "弱"}, "区间震荡"},
};

}  // namespace detail

namespace {

// Fixed thresholds of the rules (not configuration).
constexpr double kAmplitudeMultiple = 1.5;
constexpr double kStrongMovePct = 1.5;
constexpr double kHeavyVolumeRatio = 1.5;
constexpr double kCrashPct = -2.0;

}  // namespace

MarketVerdict _compute_market_verdict(const std::vector<IndexPerformance>& perfs) {
  std::vector<const IndexPerformance*> valid;
  for (const auto& p : perfs) {
    if (p.valid) valid.push_back(&p);
  }
  if (valid.empty()) return {"震荡", "弱", "空仓等待", "核心指数数据不足，保守处理"};

  const IndexPerformance& p1 = perfs.front().valid ? perfs.front() : *valid.front();
  const IndexPerformance* p2 = nullptr;
  for (std::size_t i = 1; i < perfs.size(); ++i) {
    if (perfs[i].valid) {
      p2 = &perfs[i];
      break;
    }
  }

  bool all_down = true;
  for (const auto* p : valid) all_down = all_down && p->pct_val < 0;

  std::string bias;
  bool sharp_fall = p1.pct_val < 0 && p1.amp_avg20 > 0 &&
                    std::fabs(p1.pct_val) > kAmplitudeMultiple * p1.amp_avg20;
  if (sharp_fall || (p1.pct_val < kCrashPct && all_down)) {
    bias = "避险";
  } else if (p1.close < p1.ema20 && p1.ema5 < p1.ema20) {
    bias = "偏空";
  } else if (p1.close > p1.ema20 && p1.ema5 > p1.ema20) {
    bias = "偏多";
  } else {
    bias = "震荡";
  }

  int hits = 0;
  if (std::fabs(p1.pct_val) > kStrongMovePct) ++hits;
  if (p1.ratio_val > kHeavyVolumeRatio) ++hits;
  if (p1.ema_bull || p1.ema_bear) ++hits;
  if (p2 != nullptr && (p1.pct_val >= 0) == (p2->pct_val >= 0)) ++hits;

  std::string strength = hits >= 3 ? "强" : hits == 2 ? "中" : "弱";
  std::string strategy = detail::STRATEGY_TABLE.at({bias, strength});
  std::string rationale = "第一指数 " + p1.pct + "、量比 " + p1.ratio + "、收盘" +
                          (p1.close >= p1.ema20 ? "≥" : "<") + "EMA20；强度命中 " +
                          std::to_string(hits) + "/4 项";
  return {std::move(bias), std::move(strength), std::move(strategy), std::move(rationale)};
}

}  // namespace sumora
