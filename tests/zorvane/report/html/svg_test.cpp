// Geometry of the SVG writer and the candle chart.
#include "zorvane/report/html/svg.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "zorvane/report/html/chart.hpp"
#include "zorvane/report/html/html_fixtures.hpp"

namespace zorvane::html {
namespace {

const double kNaN = std::nan("");

TEST(SvgGeometry, ScaleEndsMapToPlotEdgesAndFlatDomainsToTheMiddle) {
  const LinearScale y(10.0, 20.0, 366.0, 26.0);  // y grows downwards: top of range = top of plot
  EXPECT_DOUBLE_EQ(y(20.0), 26.0);
  EXPECT_DOUBLE_EQ(y(10.0), 366.0);
  EXPECT_DOUBLE_EQ(y(15.0), 196.0);

  for (double v : {5.0, 0.0, -3.0}) {
    const LinearScale flat(v, v, 100.0, 0.0);
    EXPECT_TRUE(std::isfinite(flat(v)));
    EXPECT_DOUBLE_EQ(flat(v), 50.0) << v;
  }
  const LinearScale empty(kNaN, kNaN, 100.0, 0.0);  // no finite data at all
  EXPECT_TRUE(std::isfinite(empty(0.5)));
}

TEST(SvgGeometry, NaNValuesLeaveGapsInLines) {
  const BandScale x(6, 0.0, 60.0);
  const LinearScale y(0.0, 10.0, 100.0, 0.0);
  EXPECT_EQ(line_path({1, 2, kNaN, 4, 5, kNaN}, x, y), "M5 90 L15 80 M35 60 L45 50");
  EXPECT_EQ(line_path({kNaN, 3, kNaN, kNaN, kNaN, kNaN}, x, y), "M15 70");
  EXPECT_EQ(line_path({kNaN, kNaN}, x, y), "");
}

TEST(SvgGeometry, HighestBarReachesThePlotTopAndLowestTheBottom) {
  auto t = html_test::bars(30);
  CandleChartOptions opt;
  opt.volume = false;
  auto svg = candle_chart_svg(t, opt, chart_colors("A", "auto"));
  // Each candle: <g class="candle ..."><line x1 y1(high) x2 y2(low) ...>.
  std::regex wick(
      R"re(<g class="candle (?:up|down)"><line x1="[^"]+" y1="([^"]+)" x2="[^"]+" y2="([^"]+)")re");
  double top = 1e9, bottom = -1e9;
  std::size_t candles = 0;
  for (std::sregex_iterator it(svg.begin(), svg.end(), wick), end; it != end; ++it, ++candles) {
    top = std::min(top, std::stod((*it)[1]));
    bottom = std::max(bottom, std::stod((*it)[2]));
  }
  EXPECT_EQ(candles, 30u);
  EXPECT_DOUBLE_EQ(top, 22.0);             // plot top
  EXPECT_DOUBLE_EQ(bottom, 22.0 + 230.0);  // plot bottom
  EXPECT_NE(svg.find("viewBox=\"0 0 480 "), std::string::npos);
  EXPECT_EQ(svg.find(" width=\"480\""), std::string::npos);  // scales with the page
}

TEST(SvgGeometry, FlatAndGappySeriesDrawWithoutInvalidNumbers) {
  auto t = html_test::bars(40);
  std::vector<double> flat(40, 7.0);
  for (auto col : {"open", "high", "low", "close"}) t.set(col, flat);
  auto gappy = html_test::bars(40);
  auto close = gappy.col("close");
  close[10] = kNaN;
  gappy.set("close", close);

  CandleChartOptions opt;
  opt.emas = {5, 20, 60};
  const auto colors = chart_colors("A", "auto");
  for (const auto& svg : {candle_chart_svg(t, opt, colors), candle_chart_svg(gappy, opt, colors),
                          sparkline_svg(flat, colors), sparkline_svg({kNaN, 1, kNaN, 2}, colors)}) {
    EXPECT_EQ(svg.find("nan"), std::string::npos) << svg.substr(0, 200);
    EXPECT_EQ(svg.find("inf"), std::string::npos);
  }
  EXPECT_EQ(html_test::count(candle_chart_svg(t, opt, colors), "class=\"candle "), 40u);
  // The bar without a close leaves an empty slot, not a candle at zero.
  EXPECT_EQ(html_test::count(candle_chart_svg(gappy, opt, colors), "class=\"candle "), 39u);
  EXPECT_NE(candle_chart_svg(candlex::BarTable{}, opt, colors).find("暂无K线数据"),
            std::string::npos);
}

TEST(SvgGeometry, LevelsNearTheBarsAreDrawnAndFarOnesNamedUnderTheChart) {
  auto t = html_test::bars(120);  // closes about 9.7 .. 11.5
  const auto colors = chart_colors("A", "auto");
  CandleChartOptions opt;
  opt.levels = {{"entry", "买入区间", 11.0, 11.2, colors.entry},
                {"stop", "止损", 10.5, 10.5, colors.stop},
                {"target", "目标2", 40.0, 40.0, colors.target},
                {"support", "支撑", 0.0, 0.0, colors.support}};  // unset: left out
  auto svg = candle_chart_svg(t, opt, colors);
  EXPECT_EQ(html_test::count(svg, "<g class=\"level "), 2u);
  EXPECT_EQ(html_test::count(svg, "class=\"level level-entry\"><rect"), 1u);  // a band
  EXPECT_NE(svg.find("止损 10.50"), std::string::npos);
  EXPECT_NE(svg.find("图外价位：目标2 40.00"), std::string::npos);
  EXPECT_EQ(svg.find("支撑"), std::string::npos);
}

}  // namespace
}  // namespace zorvane::html
