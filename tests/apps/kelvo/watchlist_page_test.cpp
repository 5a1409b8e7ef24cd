// The watchlist summary page: stock text stays text, figures sort as numbers, a code links its
// report page only when that page was written, and the page goes beside the reports, into the
// index.

#include "apps/kelvo/watchlist_page.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>

#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;

std::size_t count(const std::string& text, const std::string& pattern) {
  const std::regex re(pattern);
  return static_cast<std::size_t>(
      std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::time_t local_time(int hour, int min, int sec) {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 4;
  tm.tm_mday = 10;
  tm.tm_hour = hour;
  tm.tm_min = min;
  tm.tm_sec = sec;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

std::vector<kelvo::WatchlistRow> three_rows() {
  kelvo::WatchlistRow ok;
  ok.code = "sh.600519";
  ok.name = "<script>alert(1)</script>";
  ok.market_type = "A";
  ok.analysis_time = "2024-05-10";
  ok.action = "谨慎买入";
  ok.confidence = "中";
  ok.entry_price_low = 114.06;
  ok.entry_price_high = 115.4162;
  ok.stop_loss = 111.35;
  ok.target_1 = 123.14;
  ok.status = "ok";
  kelvo::WatchlistRow us;  // a market that closed a day earlier
  us.code = "us.AAPL";
  us.market_type = "US";
  us.analysis_time = "2024-05-09";
  us.status = "rejected: decision.current_price";
  kelvo::WatchlistRow failed;  // analysed, but its report was never written
  failed.code = "sz.000002";
  failed.market_type = "A";
  failed.analysis_time = "2024-05-10";
  failed.status = "failed: no data";
  return {ok, us, failed};
}

TEST(WatchlistPage, RowsLinkWrittenReportsSortAsNumbersAndReachTheIndex) {
  zv_test::EnvGuard colours("ZORVANE_CHART_COLORS", std::nullopt);
  zv_test::TempDir root("zv-watchlist");
  fs::create_directories(root / "2024-05-10");
  fs::create_directories(root / "2024-05-09");
  std::ofstream(root / "2024-05-10/sh.600519_offline.html") << "page";
  std::ofstream(root / "2024-05-09/us.AAPL_offline.html") << "page";
  std::ofstream(root / "2024-05-10/sz.000002_deepseek.html") << "another model's page";

  std::map<std::string, std::string> asked;
  const kelvo::ClosesFn closes = [&](const std::string& code, const std::string& date) {
    asked[code] = date;
    return code == "sz.000002" ? std::vector<double>{} : std::vector<double>{1, 2, 3};
  };
  const auto path = kelvo::write_watchlist_page(root.path(), three_rows(), "2024-05-10", "offline",
                                                local_time(16, 5, 9), closes);
  EXPECT_EQ(path, root / "2024-05-10/watchlist_160509.html");
  EXPECT_EQ(asked["us.AAPL"], "2024-05-09");  // each stock's closes end on its own date

  const std::string page = slurp(path);
  EXPECT_EQ(page.find("<script>alert"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  // Links to the written report pages only, relative to the summary page.
  EXPECT_NE(page.find("<a href=\"sh.600519_offline.html\">sh.600519</a>"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"../2024-05-09/us.AAPL_offline.html\">us.AAPL</a>"),
            std::string::npos);
  EXPECT_EQ(count(page, "<a href="), 2u);
  EXPECT_NE(page.find("<td data-v=\"114.06\">114.06-115.42</td><td data-v=\"111.35\">111.35</td>"
                      "<td data-v=\"123.14\">123.14</td><td>ok</td>"),
            std::string::npos);
  EXPECT_EQ(count(page, "<td data-v="), 3u);
  EXPECT_EQ(count(page, "class=\"spark\""), 3u + 2u);  // a cell per row, two lines
  EXPECT_NE(page.find("共 3 只 · ok 1 · skipped 0 · no decision 0 · failed 2"), std::string::npos);

  const std::string index = slurp(root / "index.html");
  EXPECT_NE(index.find("自选股</span> <a href=\"2024-05-10/watchlist_160509.html\">"),
            std::string::npos);
}

TEST(WatchlistPage, PageFolderIsTheLatestAnalysedDateElseTheInputDate) {
  const fs::path root = "/r";
  auto rows = three_rows();
  EXPECT_EQ(kelvo::watchlist_page_path(root, rows, "2024-05-12", local_time(9, 0, 0)),
            root / "2024-05-10/watchlist_090000.html");
  for (auto& r : rows) r.analysis_time.clear();  // every date refused
  EXPECT_EQ(kelvo::watchlist_page_path(root, rows, "2024-05-12", local_time(9, 0, 0)),
            root / "2024-05-12/watchlist_090000.html");
  EXPECT_THROW(kelvo::watchlist_page_path(root, rows, "../x", local_time(9, 0, 0)),
               std::invalid_argument);
}

}  // namespace
