// Page assembly: model text stays text, levels and colours, the index.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/report/html/html_fixtures.hpp"
#include "zorvane/report/html/index_page.hpp"
#include "zorvane/report/html/markdown.hpp"
#include "zorvane/report/html/page.hpp"
#include "zorvane/report/html/report_pages.hpp"
#include "zorvane/report/html/table_page.hpp"

namespace zorvane::html {
namespace {

using html_test::count;

TEST(HtmlPage, ModelMarkupIsShownAsTextNeverRun) {
  auto r = html_test::report();
  r.name = "<b>名</b>";
  r.report =
      "# 标题\n\n<script>alert(1)</script>\n\n段落 <img src=x onerror=alert(2)> 与 "
      "[链接](javascript:alert(3)) 和 ![图](https://example.com/t.png)\n\n"
      "| a | b |\n| - | - |\n| <i>x</i> | 2 |\n";
  r.summary = "<iframe src=\"https://example.com\"></iframe>";
  auto page = stock_page_html(r, html_test::bars(150), chart_colors("A", "auto"));

  EXPECT_EQ(page.find("<script"), std::string::npos);  // no script at all on a report page
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_EQ(page.find("<iframe"), std::string::npos);
  EXPECT_EQ(page.find("<i>x</i>"), std::string::npos);
  EXPECT_EQ(page.find("javascript:"), std::string::npos);
  EXPECT_EQ(page.find("<b>名</b>"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.find("&lt;img src=x onerror=alert(2)&gt;"), std::string::npos);
  EXPECT_NE(page.find("&lt;b&gt;名&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(page.find("<table>"), std::string::npos);            // tables are rendered
  EXPECT_NE(page.find("script-src 'none'"), std::string::npos);  // and the policy forbids any
  EXPECT_NE(page.find("default-src 'none'"), std::string::npos);
}

TEST(HtmlPage, MarkdownImagesBecomeLinksAndTablesRender) {
  auto html =
      markdown_to_html("![alt *x*](https://example.com/a.png)\n\n| h |\n| :-- |\n| **v** |");
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_NE(html.find("<a href=\"https://example.com/a.png\">alt <em>x</em></a>"),
            std::string::npos);
  EXPECT_NE(html.find("<td align=\"left\"><strong>v</strong></td>"), std::string::npos);
}

TEST(HtmlPage, StockPageDrawsTheDecisionLevelsAndCard) {
  auto r = html_test::report();
  auto page =
      stock_page_html(r, html_test::bars(300), chart_colors("A", "auto"),
                      DecisionVerdict{"rejected", {"current_price: 期望 11.50，实际 12.00"}});
  const auto daily_start = page.find("data-chart=\"daily\"");
  const auto weekly_start = page.find("data-chart=\"weekly\"");
  ASSERT_NE(daily_start, std::string::npos);
  ASSERT_NE(weekly_start, std::string::npos);
  const std::string daily = page.substr(daily_start, weekly_start - daily_start);
  EXPECT_EQ(count(daily, "class=\"candle "), 120u);
  EXPECT_EQ(count(daily, "<g class=\"level "), 6u);
  for (auto kind : {"entry", "stop", "target", "support", "resistance"}) {
    EXPECT_NE(daily.find(std::string("level-") + kind), std::string::npos) << kind;
  }
  EXPECT_EQ(count(daily, "class=\"ema ema(5|20|60)\""), 3u);
  EXPECT_EQ(count(daily, "class=\"vol\""), 120u);
  EXPECT_EQ(count(page.substr(weekly_start), "class=\"candle "), 43u);  // 300 days = 43 weeks

  EXPECT_NE(page.find("badge buy\">建议买入"), std::string::npos);
  EXPECT_NE(page.find("11.20 – 11.40"), std::string::npos);
  EXPECT_NE(page.find("1.50 / 2.50"), std::string::npos);
  EXPECT_NE(page.find("status-rejected"), std::string::npos);
  EXPECT_NE(page.find("current_price: 期望 11.50，实际 12.00"), std::string::npos);
  EXPECT_NE(page.find("<meta name=\"zv-action\" content=\"建议买入\">"), std::string::npos);

  auto gate = gate_verdict("rejected", R"([{"name":"decision.current_price","passed":false,
      "severity":"critical","detail":"期望 11.5，实际 12"},{"name":"decision.rrr","passed":true,
      "severity":"critical","detail":""}])");
  ASSERT_TRUE(gate);
  EXPECT_EQ(gate->failed_checks,
            std::vector<std::string>{"[critical] decision.current_price: 期望 11.5，实际 12"});
  EXPECT_FALSE(gate_verdict(std::nullopt, "[]"));
  EXPECT_TRUE(gate_verdict("valid", "not json")->failed_checks.empty());

  r.decision_json.reset();
  auto bare = stock_page_html(r, html_test::bars(30), chart_colors("A", "auto"));
  EXPECT_EQ(count(bare, "<g class=\"level "), 0u);
  EXPECT_NE(bare.find("无决策"), std::string::npos);
  r.decision_json = "[1, 2]";
  EXPECT_THROW(stock_page_html(r, html_test::bars(30), chart_colors("A", "auto")),
               std::invalid_argument);
}

TEST(HtmlPage, ColoursFollowTheMarketUnlessTheSettingSaysOtherwise) {
  const std::string red = "#e03131", green = "#2b8a3e";
  for (auto market : {"A", "ETF", "HK", "hk"}) EXPECT_EQ(chart_colors(market, "auto").up, red);
  EXPECT_EQ(chart_colors("US", "").up, green);
  EXPECT_EQ(chart_colors("US", "").down, red);
  EXPECT_EQ(chart_colors(std::nullopt, "auto").up, red);
  EXPECT_EQ(chart_colors("A", "green-up").up, green);
  EXPECT_EQ(chart_colors("US", " Red-Up ").up, red);
  try {
    chart_colors("A", "blue");
    FAIL() << "expected an error";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("ZORVANE_CHART_COLORS 取值无效: blue"), std::string::npos);
  }

  // A rising candle takes the up colour of the page's market.
  zv_test::EnvGuard setting("ZORVANE_CHART_COLORS", std::nullopt);
  auto us = stock_page_html(html_test::report("US"), html_test::bars(60), chart_colors("US"));
  EXPECT_GT(count(us, "<g class=\"candle up\"><line [^>]*stroke=\"" + green), 0u);
  EXPECT_EQ(count(us, "<g class=\"candle up\"><line [^>]*stroke=\"" + red), 0u);
  auto a = stock_page_html(html_test::report("A"), html_test::bars(60), chart_colors("A"));
  EXPECT_EQ(count(a, "<g class=\"candle up\"><line [^>]*stroke=\"" + green), 0u);
}

TEST(HtmlPage, TablePageSortsWithItsOwnScriptAndDrawsSparklines) {
  TablePage t;
  t.title = "扫描 <结果>";
  t.columns = {"代码", "评分"};
  t.rows.push_back({{{"sh.600000", std::nullopt, "x/<a>.html"}, {"1.5", 1.5, ""}}, {1, 2, 3}});
  t.rows.push_back({{{"sz.000001", std::nullopt, ""}, {"—", std::nan(""), ""}}, {}});
  auto page = table_page_html(t, chart_colors("A", "auto"));
  EXPECT_NE(page.find("扫描 &lt;结果&gt;"), std::string::npos);
  EXPECT_EQ(count(page, "<th class=\"sortable\">"), 2u);
  EXPECT_EQ(count(page, "class=\"spark\""), 3u);  // two cells, one drawn line
  EXPECT_NE(page.find("<td data-v=\"1.5\">1.5</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>—</td>"), std::string::npos);  // NaN is no sort key
  EXPECT_NE(page.find("href=\"x/&lt;a&gt;.html\""), std::string::npos);
  EXPECT_NE(page.find("script-src 'unsafe-inline'"), std::string::npos);
  EXPECT_EQ(page.find("class=\"summary\""), std::string::npos);
  EXPECT_EQ(page.find("zv-label"), std::string::npos);

  t.summary = {"胜率 <50%>", "期望 +1%"};
  page = table_page_html(t, chart_colors("A", "auto"));
  EXPECT_NE(page.find("<ul class=\"summary\"><li>胜率 &lt;50%&gt;</li><li>期望 +1%</li></ul>"),
            std::string::npos);
}

TEST(HtmlPage, TablePagesWrittenIntoAReportRootAreListed) {
  zv_test::TempDir root("zv-html");
  write_stock_page(root.path(), html_test::report(), html_test::bars(30));  // 2024-06-28
  TablePage backtest;
  backtest.title = "回测";
  backtest.label = "回测";
  write_page_file(root / "backtest.html", table_page_html(backtest, chart_colors("A", "auto")));
  TablePage scan;
  scan.title = "机会雷达";
  write_page_file(root / "2024-06-28/scan.html", table_page_html(scan, chart_colors("A", "auto")));
  // Elsewhere nothing is indexed.
  zv_test::TempDir other("zv-html");
  write_page_file(other / "backtest.html", table_page_html(backtest, chart_colors("A", "auto")));
  EXPECT_FALSE(std::filesystem::exists(other / "index.html"));

  std::ifstream in(root / "index.html");
  const std::string index((std::istreambuf_iterator<char>(in)), {});
  const auto day = index.find("<h2>2024-06-28</h2>");
  const auto tables = index.find("<h2>其他表格</h2>");
  ASSERT_NE(day, std::string::npos);
  ASSERT_NE(tables, std::string::npos);
  EXPECT_LT(day, tables);
  // Newest first within the day: the scan page, then the stock report as before.
  const auto scan_at = index.find("badge brief\">表格</span> <a href=\"2024-06-28/scan.html\">");
  const auto stock_at = index.find("href=\"2024-06-28/sh.600519_offline.html\"");
  ASSERT_NE(scan_at, std::string::npos);
  EXPECT_LT(scan_at, stock_at);
  EXPECT_LT(stock_at, tables);
  const auto backtest_at =
      index.find("badge brief\">回测</span> <a href=\"backtest.html\">回测</a>");
  ASSERT_NE(backtest_at, std::string::npos);
  EXPECT_GT(backtest_at, tables);
  EXPECT_EQ(count(index, "<li>"), 3u);

  // An index that cannot be rebuilt (a directory in its way) still leaves the page written.
  std::filesystem::remove(root / "index.html");
  std::filesystem::create_directory(root / "index.html");
  EXPECT_NO_THROW(
      write_page_file(root / "late.html", table_page_html(backtest, chart_colors("A", "auto"))));
  EXPECT_TRUE(std::filesystem::is_regular_file(root / "late.html"));
}

TEST(HtmlPage, IndexListsPagesNewestDayFirstWithBadges) {
  zv_test::TempDir root("zv-html");
  auto older = html_test::report();
  older.analysis_date = "2024-06-27";
  write_stock_page(root.path(), older, html_test::bars(80));
  auto newer = html_test::report("US");
  newer.decision_json = R"({"action":"观望等待"})";
  write_stock_page(root.path(), newer, html_test::bars(80));
  zorvane::report::SumoraReport brief{"A", "# 简报", "2024-06-28_1500", "offline", "m"};
  const auto brief_path = write_brief_page(
      root.path(), brief, "| 指数名称 | 涨跌幅 |\n| :--- | :--- |\n| **上证指数** | +0.50% |",
      {{"上证指数", html_test::bars(90, 3000)}});
  EXPECT_EQ(brief_path, root / "2024-06-28/brief-A.html");
  EXPECT_TRUE(brief_page_current(root.path(), brief));  // a cached brief needs no new page
  auto changed = brief;
  changed.content += "。";
  EXPECT_FALSE(brief_page_current(root.path(), changed));
  std::ofstream(root / "2024-06-28/notes.html") << "<html>not a report</html>";

  std::ifstream in(root / "index.html");
  const std::string index((std::istreambuf_iterator<char>(in)), {});
  const auto p27 = index.find("<h2>2024-06-27</h2>");
  const auto p28 = index.find("<h2>2024-06-28</h2>");
  ASSERT_NE(p27, std::string::npos);
  ASSERT_NE(p28, std::string::npos);
  EXPECT_LT(p28, p27);
  EXPECT_NE(index.find("href=\"2024-06-27/sh.600519_offline.html\""), std::string::npos);
  EXPECT_NE(index.find("badge wait\">观望等待"), std::string::npos);
  EXPECT_NE(index.find("badge buy\">建议买入"), std::string::npos);
  EXPECT_NE(index.find("href=\"2024-06-28/brief-A.html\""), std::string::npos);
  EXPECT_EQ(index.find("notes.html"), std::string::npos);
  // The brief page draws one small chart per index, 60 bars each.
  std::ifstream bin(brief_path);
  const std::string brief_page((std::istreambuf_iterator<char>(bin)), {});
  EXPECT_EQ(count(brief_page, "class=\"candle "), 60u);
  EXPECT_EQ(count(brief_page, "class=\"ema ema20\""), 1u);
  EXPECT_NE(brief_page.find("<td align=\"left\"><strong>上证指数</strong></td>"),
            std::string::npos);

  auto bad = html_test::report();
  bad.code = "../etc";
  EXPECT_THROW(write_stock_page(root.path(), bad, html_test::bars(5)), std::invalid_argument);
}

TEST(HtmlPage, ConcurrentWritersAllReachTheIndex) {
  zv_test::TempDir root("zv-html");
  std::vector<std::thread> writers;
  for (int i = 0; i < 6; ++i) {
    writers.emplace_back([&, i] {
      auto r = html_test::report();
      r.code = "sh.60000" + std::to_string(i);
      write_stock_page(root.path(), r, html_test::bars(30));
    });
  }
  for (auto& w : writers) w.join();
  std::ifstream in(root / "index.html");
  const std::string index((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(count(index, "<li>"), 6u);
}

}  // namespace
}  // namespace zorvane::html
