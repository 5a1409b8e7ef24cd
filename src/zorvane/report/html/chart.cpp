#include "zorvane/report/html/chart.hpp"

#include <algorithm>
#include <cmath>

#include "candlex/technical.hpp"
#include "zorvane/report/html/html_text.hpp"
#include "zorvane/report/html/svg.hpp"
#include "zorvane/utils/dates.hpp"

namespace zorvane::html {

namespace {

constexpr double kMarginLeft = 8;
constexpr double kMarginRight = 44;  // price axis labels
constexpr double kTitleHeight = 22;
constexpr double kDateRow = 16;
constexpr double kVolumeHeight = 56;
constexpr double kNoteRow = 16;
constexpr double kLabelGap = 11;  // least vertical distance between two level labels
constexpr std::size_t kWarmUpBars = 300;
constexpr const char* kGrid = "#e9ecef";
constexpr const char* kInk = "#495057";

const std::string& ema_color(int period, const ChartColors& colors) {
  return period == 5 ? colors.ema5 : period == 20 ? colors.ema20 : colors.ema60;
}

std::vector<double> column_or_nan(const candlex::BarTable& t, std::string_view name) {
  if (t.has(name)) return t.col(name);
  return std::vector<double>(t.size(), std::nan(""));
}

struct LevelLabel {
  double y;
  std::string text;
  std::string color;
};

// Pushes labels apart so none overlaps the next, keeping them inside [top, bottom].
void spread_labels(std::vector<LevelLabel>& labels, double top, double bottom) {
  std::sort(labels.begin(), labels.end(), [](const auto& a, const auto& b) { return a.y < b.y; });
  for (std::size_t i = 1; i < labels.size(); ++i) {
    labels[i].y = std::max(labels[i].y, labels[i - 1].y + kLabelGap);
  }
  if (!labels.empty() && labels.back().y > bottom) {
    labels.back().y = bottom;
    for (std::size_t i = labels.size() - 1; i-- > 0;) {
      labels[i].y = std::min(labels[i].y, labels[i + 1].y - kLabelGap);
    }
  }
  for (auto& l : labels) l.y = std::max(l.y, top);
}

}  // namespace

std::string candle_chart_svg(const candlex::BarTable& history, const CandleChartOptions& options,
                             const ChartColors& colors) {
  const double width = options.width;
  const PlotArea price{kMarginLeft, kTitleHeight, width - kMarginLeft - kMarginRight,
                       options.price_height};
  const double volume_top = price.bottom() + kDateRow;
  const double charts_bottom =
      options.volume ? volume_top + kVolumeHeight : price.bottom() + kDateRow;

  if (history.empty() || !history.has("close")) {
    Svg svg(width, kTitleHeight + 60, options.title);
    svg.text(kMarginLeft, 15, options.title, 12, kInk);
    svg.text(width / 2, kTitleHeight + 34, "暂无K线数据", 14, kInk, "middle", "no-data");
    return svg.str();
  }

  // 300 bars before the first drawn one warm the averages up to well under a pixel (the start
  // value's weight in EMA60 falls below 0.001); older history only costs time.
  candlex::BarTable full = history.tail(options.bars + kWarmUpBars);
  if (!options.emas.empty()) candlex::technical::set_ema(full);
  const candlex::BarTable t = full.tail(options.bars);
  const std::size_t n = t.size();
  const auto open = column_or_nan(t, "open");
  const auto high = column_or_nan(t, "high");
  const auto low = column_or_nan(t, "low");
  const auto& close = t.col("close");
  std::vector<std::vector<double>> emas;
  for (int p : options.emas) emas.push_back(column_or_nan(t, "EMA_" + std::to_string(p)));

  auto [lo, hi] = finite_range({&high, &low, &close});
  for (const auto& e : emas) {
    auto [elo, ehi] = finite_range({&e});
    if (std::isfinite(elo) && (!std::isfinite(lo) || elo < lo)) lo = elo;
    if (std::isfinite(ehi) && (!std::isfinite(hi) || ehi > hi)) hi = ehi;
  }
  // Levels near the bars widen the price range; far ones would squash the candles into a
  // line, so they are named under the chart instead.
  std::vector<const Level*> drawn;
  std::vector<const Level*> off_chart;
  if (std::isfinite(lo)) {
    const double span = hi > lo ? hi - lo : std::max(std::fabs(hi) * 0.1, 1e-9);
    const double window_lo = lo - 0.5 * span;
    const double window_hi = hi + 0.5 * span;
    double new_lo = lo, new_hi = hi;
    for (const auto& level : options.levels) {
      const double a = std::min(level.low, level.high);
      const double b = std::max(level.low, level.high);
      if (!(a > 0) || !std::isfinite(b)) continue;
      if (a >= window_lo && b <= window_hi) {
        drawn.push_back(&level);
        new_lo = std::min(new_lo, a);
        new_hi = std::max(new_hi, b);
      } else {
        off_chart.push_back(&level);
      }
    }
    lo = new_lo;
    hi = new_hi;
  }
  const double height = charts_bottom + (off_chart.empty() ? 4 : kNoteRow + 4);

  Svg svg(width, height, options.title);
  const LinearScale y(lo, hi, price.bottom(), price.top);
  const BandScale x(n, price.left, price.width);

  // Title and moving-average legend.
  svg.text(kMarginLeft, 15, options.title, 12, kInk, "start", "chart-title");
  double legend_x = price.right();
  for (std::size_t k = options.emas.size(); k-- > 0;) {
    const std::string name = "EMA" + std::to_string(options.emas[k]);
    svg.text(legend_x, 15, name, 10, ema_color(options.emas[k], colors), "end", "legend");
    legend_x -= 6.5 * static_cast<double>(name.size()) + 8;
  }

  // Grid and price axis.
  for (int k = 0; k <= 4; ++k) {
    const double v = y.lo() + (y.hi() - y.lo()) * k / 4.0;
    const double gy = y(v);
    svg.line(price.left, gy, price.right(), gy, kGrid, 1, "grid");
    svg.text(price.right() + 3, gy + 3.5, price_text(v), 9.5, kInk);
  }
  // Dates under the price panel: first, middle and last bar.
  if (n > 0) {
    const std::size_t marks[] = {0, n / 2, n - 1};
    const char* anchors[] = {"start", "middle", "end"};
    for (int k = 0; k < 3; ++k) {
      if (k == 1 && (n < 3)) continue;
      svg.text(k == 0   ? price.left
               : k == 2 ? price.right()
                        : x.center(marks[k]),
               price.bottom() + 12, utils::iso_date(t.dates()[marks[k]]), 9.5, kInk, anchors[k]);
    }
  }

  // Entry bands sit under the candles; lines are drawn over them.
  std::vector<LevelLabel> labels;
  for (const Level* level : drawn) {
    const double a = std::min(level->low, level->high);
    const double b = std::max(level->low, level->high);
    svg.open_group("level level-" + level->kind);
    if (b > a) {
      svg.rect(price.left, y(b), price.width, y(a) - y(b), level->color, {},
               "fill-opacity=\"0.14\"");
      svg.line(price.left, y(a), price.right(), y(a), level->color, 1, {}, "2 3");
      svg.line(price.left, y(b), price.right(), y(b), level->color, 1, {}, "2 3");
      labels.push_back(
          {y(b) - 2, level->label + " " + price_text(a) + "–" + price_text(b), level->color});
    } else {
      svg.line(price.left, y(a), price.right(), y(a), level->color, 1.4, {}, "6 4");
      labels.push_back({y(a) - 2, level->label + " " + price_text(a), level->color});
    }
    svg.title(labels.back().text);
    svg.close_group();
  }

  const double body = std::max(1.0, x.step() * 0.7);
  for (std::size_t i = 0; i < n; ++i) {
    const double o = open[i], h = high[i], l = low[i], c = close[i];
    if (!std::isfinite(o) || !std::isfinite(h) || !std::isfinite(l) || !std::isfinite(c)) {
      continue;  // a gap in the data stays a gap
    }
    const bool up = c >= o;
    const std::string& color = up ? colors.up : colors.down;
    const double cx = x.center(i);
    svg.open_group(up ? "candle up" : "candle down");
    svg.line(cx, y(h), cx, y(l), color, 1);
    const double top = y(std::max(o, c));
    svg.rect(cx - body / 2, top, body, std::max(1.0, y(std::min(o, c)) - top), color);
    svg.close_group();
  }

  for (std::size_t k = 0; k < emas.size(); ++k) {
    svg.path(line_path(emas[k], x, y), ema_color(options.emas[k], colors), 1.4,
             "ema ema" + std::to_string(options.emas[k]));
  }

  // Labels sit inside the plot at its right end, just above their line, with a white halo.
  spread_labels(labels, price.top + 10, price.bottom() - 2);
  for (const auto& l : labels) {
    svg.text(price.right() - 2, l.y, l.text, 10, l.color, "end", "level-label",
             "stroke=\"#fff\" stroke-width=\"3\" paint-order=\"stroke\"");
  }

  if (options.volume) {
    const auto volume = column_or_nan(t, "volume");
    auto [vlo, vhi] = finite_range({&volume});
    (void)vlo;
    const LinearScale vy(0.0, std::isfinite(vhi) && vhi > 0 ? vhi : 1.0, volume_top + kVolumeHeight,
                         volume_top);
    svg.line(price.left, volume_top + kVolumeHeight, price.right(), volume_top + kVolumeHeight,
             kGrid, 1);
    svg.text(price.right() + 3, volume_top + 9, "成交量", 9.5, kInk);
    for (std::size_t i = 0; i < n; ++i) {
      if (!std::isfinite(volume[i]) || volume[i] <= 0) continue;
      const bool up = !(close[i] < open[i]);
      const double top = vy(volume[i]);
      svg.rect(x.center(i) - body / 2, top, body, volume_top + kVolumeHeight - top,
               up ? colors.up : colors.down, "vol", "fill-opacity=\"0.55\"");
    }
  }

  if (!off_chart.empty()) {
    std::string note = "图外价位：";
    for (std::size_t k = 0; k < off_chart.size(); ++k) {
      const Level& level = *off_chart[k];
      if (k) note += "，";
      note += level.label + " " + price_text(std::min(level.low, level.high));
      if (level.high > level.low) note += "–" + price_text(level.high);
    }
    svg.text(kMarginLeft, charts_bottom + 12, note, 10, kInk, "start", "off-chart");
  }
  return svg.str();
}

std::string sparkline_svg(const std::vector<double>& values, const ChartColors& colors) {
  constexpr double kW = 120, kH = 32;
  Svg svg(kW, kH, "走势");
  auto [lo, hi] = finite_range({&values});
  double first = std::nan(""), last = std::nan("");
  for (double v : values) {
    if (!std::isfinite(v)) continue;
    if (std::isnan(first)) first = v;
    last = v;
  }
  const BandScale x(values.size(), 2, kW - 4);
  const LinearScale y(lo, hi, kH - 3, 3);
  svg.path(line_path(values, x, y), last >= first ? colors.up : colors.down, 1.5, "spark");
  return svg.str();
}

}  // namespace zorvane::html
