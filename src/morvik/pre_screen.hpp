#pragma once
// Internal to the pattern scan: tiers, strategy recognition and scoring (rules documented in
// morvik/pattern_scan.hpp).

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "morvik/pattern_features.hpp"

namespace morvik::pattern {

struct Tier {
  std::string name;  // "强势档", "中性档", "弱势档", "未定档"
  double adx_min;
  double whipsaw_atr;
  double stop_atr;
  double min_rrr;
  int max_position_pct;
  double env_points;
  bool weak;
};

// The tier of a market bias (偏多, 震荡, 偏空, 避险); the stricter of the strong and neutral
// tiers when the bias is unknown. Throws std::invalid_argument for any other text.
Tier tier_for(const std::optional<std::string>& market_bias);

struct StrategyCheck {
  explicit StrategyCheck(const char* k) : key(k) {}
  const char* key;  // "trend_following", ...
  bool matched = false;
  std::vector<std::pair<std::string, bool>> conditions;
};

struct Breakdown {
  double pattern = 0, confluence = 0, volume = 0, environment = 0, regime = 0, risk = 0;
};

struct Confidence {
  double trend_resonance = 0, volume = 0, market_environment = 0, signal_confluence = 0,
         risk_penalty = 0, total = 0;
};

struct PreScreen {
  std::string strategy_type;  // one of the six types
  bool passed = false;
  double total_score = 0;
  std::string urgency;  // HIGH, MEDIUM, LOW
  std::vector<std::string> reasons;
  std::vector<StrategyCheck> checks;  // data, trend_following, bottom_reversal, ...
  Breakdown breakdown;
  Confidence confidence;
  double min_rrr = 0;
  double max_stop_dist_atr = 0;
  int max_position_pct = 0;
};

// mode is "all" or "trend" (already validated).
PreScreen run_pre_screen(const Features& f, const Tier& tier, const std::string& mode,
                         double min_score);

}  // namespace morvik::pattern
