#pragma once
// A small SVG writer: scales from data to plot coordinates, and elements appended in order.
// Charts are drawn in a fixed coordinate system and scaled by the browser through the
// viewBox, so they fit any screen width.

#include <string>
#include <string_view>
#include <vector>

namespace zorvane::html {

// Maps a value domain [lo, hi] linearly onto a pixel range [from, to] (`to` < `from` for a
// y axis that grows upwards). A flat domain (lo == hi) is widened around its value, so the
// value maps to the middle of the range and nothing divides by zero.
class LinearScale {
 public:
  LinearScale(double lo, double hi, double from, double to);
  double operator()(double value) const;
  double lo() const { return lo_; }
  double hi() const { return hi_; }

 private:
  double lo_, hi_, from_, to_;
};

// `count` equal slots across [left, left + width]; slot i is centred at center(i).
class BandScale {
 public:
  BandScale(std::size_t count, double left, double width);
  double center(std::size_t i) const;
  double step() const { return step_; }

 private:
  double left_, step_;
};

// Rectangle of the plot inside the picture.
struct PlotArea {
  double left = 0, top = 0, width = 0, height = 0;
  double right() const { return left + width; }
  double bottom() const { return top + height; }
};

// Path data through the points (x(i), y(value[i])): "M" starts a run, "L" continues it, and a
// NaN value ends the run, so gaps in the data stay gaps in the line. Empty when no value is
// finite.
std::string line_path(const std::vector<double>& values, const BandScale& x, const LinearScale& y);

// Smallest and largest finite value of the columns; {NaN, NaN} when there is none.
std::pair<double, double> finite_range(std::initializer_list<const std::vector<double>*> columns);

class Svg {
 public:
  // A picture of width x height user units, with an accessible label.
  Svg(double width, double height, std::string_view label);

  // Raw markup appended as is: only for markup this writer produced (a nested group).
  Svg& raw(std::string_view markup);
  Svg& open_group(std::string_view cls, std::string_view extra_attrs = {});
  Svg& close_group();
  Svg& rect(double x, double y, double w, double h, std::string_view fill,
            std::string_view cls = {}, std::string_view extra_attrs = {});
  Svg& line(double x1, double y1, double x2, double y2, std::string_view stroke,
            double stroke_width = 1, std::string_view cls = {}, std::string_view dash = {});
  Svg& path(std::string_view d, std::string_view stroke, double stroke_width = 1,
            std::string_view cls = {});
  // Text is escaped. `anchor` is "start", "middle" or "end".
  Svg& text(double x, double y, std::string_view text, double size, std::string_view fill,
            std::string_view anchor = "start", std::string_view cls = {},
            std::string_view extra_attrs = {});
  Svg& title(std::string_view text);

  std::string str() const;

 private:
  double width_, height_;
  std::string label_;
  std::string body_;
};

}  // namespace zorvane::html
