#include "zorvane/market/ema.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace zorvane::utils {

std::vector<double> _ema(const std::vector<double>& series, int span) {
  if (span < 1)
    throw std::invalid_argument("EMA span must be at least 1, got " + std::to_string(span));
  const double alpha = 2.0 / (span + 1.0);
  std::vector<double> out(series.size(), std::numeric_limits<double>::quiet_NaN());
  bool seeded = false;
  double ema = 0;
  for (std::size_t i = 0; i < series.size(); ++i) {
    const double x = series[i];
    if (!std::isnan(x)) {
      ema = seeded ? alpha * x + (1.0 - alpha) * ema : x;
      seeded = true;
    }
    if (seeded) out[i] = ema;
  }
  return out;
}

}  // namespace zorvane::utils
