#include "zorvane/report/html/colors.hpp"

#include <stdexcept>

#include "zorvane/utils/env.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::html {

ChartColors chart_colors(const std::optional<std::string>& market, std::string_view convention) {
  const std::string setting = utils::to_lower(utils::trim(convention));
  bool red_up = true;
  if (setting.empty() || setting == "auto") {
    red_up = !(market && utils::to_upper(*market) == "US");
  } else if (setting == "red-up") {
    red_up = true;
  } else if (setting == "green-up") {
    red_up = false;
  } else {
    throw std::invalid_argument("ZORVANE_CHART_COLORS 取值无效: " + std::string(convention) +
                                " (可选 auto, red-up, green-up)");
  }
  constexpr const char* kRed = "#e03131";
  constexpr const char* kGreen = "#2b8a3e";
  ChartColors c;
  c.red_up = red_up;
  c.up = red_up ? kRed : kGreen;
  c.down = red_up ? kGreen : kRed;
  c.ema5 = "#f08c00";
  c.ema20 = "#1971c2";
  c.ema60 = "#9c36b5";
  c.entry = "#1c7ed6";
  c.stop = "#862e9c";
  c.target = "#e8590c";
  c.support = "#0c8599";
  c.resistance = "#5c3d2e";
  return c;
}

ChartColors chart_colors(const std::optional<std::string>& market) {
  return chart_colors(market, utils::env_or("ZORVANE_CHART_COLORS", "auto"));
}

}  // namespace zorvane::html
