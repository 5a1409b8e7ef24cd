#include "zorvane/strategy/constants.hpp"

namespace zorvane::constants {

// Calibrated on scans of the sample market (250-bar windows every 5 bars): each threshold
// keeps roughly the better quarter of the setups the scan recognises, about half of the
// (rarer) bottom reversals, and lets some 15-20% of all scans through the combined screen.
// Trend setups score higher by construction (trend and confluence points coincide), hence
// their higher bar.
const ThresholdMap STRATEGY_THRESHOLDS = {
    {"趋势跟随", 7.0},
    {"底部反转", 5.5},
    {"区间震荡", 5.5},
    {"均线压缩", 5.5},
};

const double DEFAULT_STRATEGY_THRESHOLD = 5.5;

}  // namespace zorvane::constants
