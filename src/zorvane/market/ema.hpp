#pragma once
// Exponential moving average of a plain series.

#include <vector>

namespace zorvane::utils {

// One output per input: alpha = 2 / (span + 1), seeded with the first value
// (ema[0] = x[0], ema[i] = alpha * x[i] + (1 - alpha) * ema[i-1]). A NaN input carries the
// previous average forward; outputs before the first non-NaN input are NaN. Throws
// std::invalid_argument when span < 1.
std::vector<double> _ema(const std::vector<double>& series, int span);

}  // namespace zorvane::utils
