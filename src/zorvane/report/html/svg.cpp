#include "zorvane/report/html/svg.hpp"

#include <cmath>
#include <limits>

#include "zorvane/report/html/html_text.hpp"

namespace zorvane::html {

LinearScale::LinearScale(double lo, double hi, double from, double to)
    : lo_(lo), hi_(hi), from_(from), to_(to) {
  if (!std::isfinite(lo_) || !std::isfinite(hi_)) {
    lo_ = 0.0;
    hi_ = 1.0;
  }
  if (lo_ > hi_) std::swap(lo_, hi_);
  if (hi_ - lo_ <= 0.0) {
    // A flat series: one percent of its size either side, or one unit around zero.
    const double pad = lo_ == 0.0 ? 1.0 : std::fabs(lo_) * 0.01;
    lo_ -= pad;
    hi_ += pad;
  }
}

double LinearScale::operator()(double value) const {
  return from_ + (value - lo_) / (hi_ - lo_) * (to_ - from_);
}

BandScale::BandScale(std::size_t count, double left, double width)
    : left_(left), step_(count == 0 ? width : width / static_cast<double>(count)) {}

double BandScale::center(std::size_t i) const {
  return left_ + step_ * (static_cast<double>(i) + 0.5);
}

std::string line_path(const std::vector<double>& values, const BandScale& x, const LinearScale& y) {
  std::string d;
  bool in_run = false;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!std::isfinite(values[i])) {
      in_run = false;
      continue;
    }
    if (!d.empty()) d += ' ';
    d += in_run ? 'L' : 'M';
    d += coord(x.center(i)) + ' ' + coord(y(values[i]));
    in_run = true;
  }
  return d;
}

std::pair<double, double> finite_range(std::initializer_list<const std::vector<double>*> columns) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  double lo = nan, hi = nan;
  for (const auto* col : columns) {
    if (col == nullptr) continue;
    for (double v : *col) {
      if (!std::isfinite(v)) continue;
      if (std::isnan(lo) || v < lo) lo = v;
      if (std::isnan(hi) || v > hi) hi = v;
    }
  }
  return {lo, hi};
}

Svg::Svg(double width, double height, std::string_view label)
    : width_(width), height_(height), label_(label) {}

Svg& Svg::raw(std::string_view markup) {
  body_ += markup;
  return *this;
}

Svg& Svg::open_group(std::string_view cls, std::string_view extra_attrs) {
  body_ += "<g";
  if (!cls.empty()) body_ += " class=\"" + escape(cls) + "\"";
  if (!extra_attrs.empty()) (body_ += ' ') += extra_attrs;
  body_ += '>';
  return *this;
}

Svg& Svg::close_group() {
  body_ += "</g>";
  return *this;
}

Svg& Svg::rect(double x, double y, double w, double h, std::string_view fill, std::string_view cls,
               std::string_view extra_attrs) {
  body_ += "<rect";
  if (!cls.empty()) body_ += " class=\"" + escape(cls) + "\"";
  body_ += " x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" width=\"" + coord(std::max(w, 0.0)) +
           "\" height=\"" + coord(std::max(h, 0.0)) + "\" fill=\"" + escape(fill) + "\"";
  if (!extra_attrs.empty()) (body_ += ' ') += extra_attrs;
  body_ += "/>";
  return *this;
}

Svg& Svg::line(double x1, double y1, double x2, double y2, std::string_view stroke,
               double stroke_width, std::string_view cls, std::string_view dash) {
  body_ += "<line";
  if (!cls.empty()) body_ += " class=\"" + escape(cls) + "\"";
  body_ += " x1=\"" + coord(x1) + "\" y1=\"" + coord(y1) + "\" x2=\"" + coord(x2) + "\" y2=\"" +
           coord(y2) + "\" stroke=\"" + escape(stroke) + "\" stroke-width=\"" +
           coord(stroke_width) + "\"";
  if (!dash.empty()) body_ += " stroke-dasharray=\"" + escape(dash) + "\"";
  body_ += "/>";
  return *this;
}

Svg& Svg::path(std::string_view d, std::string_view stroke, double stroke_width,
               std::string_view cls) {
  if (d.empty()) return *this;
  body_ += "<path";
  if (!cls.empty()) body_ += " class=\"" + escape(cls) + "\"";
  body_ += " d=\"" + escape(d) + "\" fill=\"none\" stroke=\"" + escape(stroke) +
           "\" stroke-width=\"" + coord(stroke_width) + "\" stroke-linejoin=\"round\"/>";
  return *this;
}

Svg& Svg::text(double x, double y, std::string_view text, double size, std::string_view fill,
               std::string_view anchor, std::string_view cls, std::string_view extra_attrs) {
  body_ += "<text";
  if (!cls.empty()) body_ += " class=\"" + escape(cls) + "\"";
  body_ += " x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" font-size=\"" + coord(size) +
           "\" fill=\"" + escape(fill) + "\" text-anchor=\"" + escape(anchor) + "\"";
  if (!extra_attrs.empty()) (body_ += ' ') += extra_attrs;
  body_ += '>' + escape(text) + "</text>";
  return *this;
}

Svg& Svg::title(std::string_view text) {
  body_ += "<title>" + escape(text) + "</title>";
  return *this;
}

std::string Svg::str() const {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + coord(width_) + ' ' +
         coord(height_) + "\" role=\"img\" aria-label=\"" + escape(label_) +
         "\" preserveAspectRatio=\"xMidYMid meet\">" + body_ + "</svg>";
}

}  // namespace zorvane::html
