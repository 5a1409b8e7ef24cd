#include "zorvane/strategy/constants.hpp"

namespace zorvane::constants {

// A clean setup scores about 5 on pattern strength alone; the thresholds ask for some
// confirmation beyond that (confluence, volume, environment). Range and bottom setups are
// weak-resonance modes and need less; trend entries chase strength and need more.
const ThresholdMap STRATEGY_THRESHOLDS = {
    {"趋势跟随", 6.0},
    {"底部反转", 5.0},
    {"区间震荡", 5.0},
    {"均线压缩", 5.5},
};

const double DEFAULT_STRATEGY_THRESHOLD = 5.0;

}  // namespace zorvane::constants
