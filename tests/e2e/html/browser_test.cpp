// The report pages in headless Chromium: pages made by the real programs (kelvo with the
// offline model client, a kelvo watchlist run, scan, backtest) are loaded from disk and through
// zorvane-serve; each must load without a console message, draw the expected candles, level
// lines or table rows, and render a screenshot that is not blank. Screenshots are kept in
// <build>/browser-screenshots/.
//
// Skips, saying why, where Chromium is not installed (scripts/install-deps installs it).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <png.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "support/child_process.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kChromium = "/usr/bin/chromium";
const std::string kDay = "2024-05-10";

std::size_t count(const std::string& text, const std::string& pattern) {
  const std::regex re(pattern);
  return static_cast<std::size_t>(
      std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The part of `dom` inside <figure ... data-chart="<name>"> ... </figure>.
std::string figure(const std::string& dom, const std::string& name) {
  const auto start = dom.find("data-chart=\"" + name + "\"");
  if (start == std::string::npos) return {};
  return dom.substr(start, dom.find("</figure>", start) - start);
}

// Levels far from the bars are named under the chart ("图外价位：目标2 15.00，...").
std::size_t off_chart_levels(const std::string& chart) {
  std::smatch m;
  if (!std::regex_search(chart, m, std::regex("class=\"off-chart\"[^>]*>([^<]*)<"))) return 0;
  return 1 + count(m[1].str(), "，");
}

int free_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

struct Pixels {
  std::size_t total = 0;
  std::size_t off_background = 0;  // pixels unlike the most common colour
  std::size_t colours = 0;
};

Pixels read_png(const fs::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> buf(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, buf.data(), 0, nullptr)) return {};
  std::map<std::uint32_t, std::size_t> histogram;
  for (std::size_t i = 0; i + 2 < buf.size(); i += 3) {
    ++histogram[(std::uint32_t{buf[i]} << 16) | (std::uint32_t{buf[i + 1]} << 8) | buf[i + 2]];
  }
  Pixels p;
  p.total = buf.size() / 3;
  p.colours = histogram.size();
  std::size_t most = 0;
  for (const auto& [c, n] : histogram) most = std::max(most, n);
  p.off_background = p.total - most;
  return p;
}

struct Load {
  std::string dom;
  std::vector<std::string> console;  // console messages and uncaught errors
  Pixels screenshot;
  int status = -1;
};

// One headless Chromium run: the DOM after scripts ran, console output and a screenshot at
// phone width.
Load load(const std::string& url, const fs::path& work, const std::string& shot_name) {
  static std::atomic<int> n{0};
  const fs::path profile = work / ("profile-" + std::to_string(++n));
  const fs::path shot = fs::path(ZV_BINARY_DIR) / "browser-screenshots" / (shot_name + ".png");
  fs::create_directories(shot.parent_path());
  fs::remove(shot);
  auto run = support::run(
      kChromium,
      {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
       "--disable-background-networking", "--disable-component-update", "--disable-sync",
       "--user-data-dir=" + profile.string(), "--enable-logging=stderr", "--v=0",
       "--hide-scrollbars", "--window-size=412,1900", "--screenshot=" + shot.string(), "--dump-dom",
       url},
      {}, work, 90s);
  Load out;
  out.status = run.hung ? -1 : run.status;
  out.dom = run.out;
  std::istringstream err(run.err);
  for (std::string line; std::getline(err, line);) {
    if (line.find(":CONSOLE") != std::string::npos) out.console.push_back(line);
  }
  out.screenshot = read_png(shot);
  return out;
}

void expect_clean(const Load& l, const std::string& what) {
  EXPECT_EQ(l.status, 0) << what;
  EXPECT_TRUE(l.console.empty()) << what << ": " << l.console.front();
  EXPECT_NE(l.dom.find("</html>"), std::string::npos) << what;
  // Not blank: a real share of the picture differs from the background, in many colours.
  EXPECT_GT(l.screenshot.total, 0u) << what << ": no screenshot";
  EXPECT_GT(l.screenshot.off_background, l.screenshot.total / 200) << what;
  EXPECT_GT(l.screenshot.colours, 20u) << what;
}

class ReportPagesInBrowser : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (::access(kChromium.c_str(), X_OK) != 0) return;
    work_ = new zv_test::TempDir("zv-browser");
    root_ = work_->path() / "report";
    const support::Env env{{"LLM_CLIENT_TYPE", "offline"},
                           {"REPORT_DIR", root_.string()},
                           {"ZORVANE_SUMORA_DIR", (work_->path() / "sumora").string()},
                           {"CANDLEX_CENTER", std::nullopt},
                           {"ZORVANE_CHART_COLORS", std::nullopt},
                           {"KAFKA_BOOTSTRAP_SERVERS", std::nullopt}};
    for (auto code : {"sh.600519", "us.AAPL"}) {
      auto r = support::run(KELVO_EXE, {"-s", code, "-t", kDay}, env, work_->path());
      ASSERT_EQ(r.status, 0) << code << "\n" << r.err;
    }
    // A watchlist run of the same two stocks (analysed again, so each row has a decision);
    // with --format html it prints its summary page's path.
    auto w = support::run(KELVO_EXE,
                          {"-s", "sh.600519,us.AAPL", "-t", kDay, "--force", "--format", "html"},
                          env, work_->path());
    ASSERT_EQ(w.status, 0) << w.err;
    watchlist_ = fs::path(w.out.substr(0, w.out.find('\n'))).lexically_relative(root_).string();
    ASSERT_EQ(watchlist_.rfind(kDay + "/watchlist_", 0), 0u) << w.out;
    auto b = support::run(BACKTEST_EXE,
                          {"--report-dir", root_.string(), "--format", "html", "--out",
                           (root_ / "backtest.html").string()},
                          env, work_->path());
    ASSERT_EQ(b.status, 0) << b.err;
    auto s = support::run(SCAN_EXE,
                          {"--market", "A", "-t", kDay, "--format", "html", "--out",
                           (root_ / "scan-A.html").string()},
                          env, work_->path());
    ASSERT_EQ(s.status, 0) << s.err;
    port_ = free_port();
    server_ = new support::Child(
        SERVE_EXE, {"--port", std::to_string(port_), "--root", root_.string()}, env, work_->path());
    std::this_thread::sleep_for(500ms);  // the server binds at once; Chromium starts slower
  }
  static void TearDownTestSuite() {
    delete server_;
    delete work_;
  }
  void SetUp() override {
    if (::access(kChromium.c_str(), X_OK) != 0) {
      GTEST_SKIP() << "Chromium is not installed at " << kChromium
                   << " (scripts/install-deps installs the Debian package 'chromium'); "
                      "the browser checks of the report pages are skipped";
    }
  }

  // The page loaded from disk and through the server, started now.
  static std::pair<std::future<Load>, std::future<Load>> both(const std::string& rel,
                                                              const std::string& name,
                                                              const std::string& fragment = "") {
    const fs::path work = work_->path();
    const std::string file_url = "file://" + (root_ / rel).string() + fragment;
    const std::string http_url = "http://127.0.0.1:" + std::to_string(port_) + "/" + rel + fragment;
    return {std::async(std::launch::async, [=] { return load(file_url, work, name + "-file"); }),
            std::async(std::launch::async, [=] { return load(http_url, work, name + "-http"); })};
  }

  static zv_test::TempDir* work_;
  static fs::path root_;
  static std::string watchlist_;  // the summary page, relative to the root
  static int port_;
  static support::Child* server_;
};

zv_test::TempDir* ReportPagesInBrowser::work_ = nullptr;
fs::path ReportPagesInBrowser::root_;
std::string ReportPagesInBrowser::watchlist_;
int ReportPagesInBrowser::port_ = 0;
support::Child* ReportPagesInBrowser::server_ = nullptr;

// Candles, level lines and the market's colours of a stock page.
void check_stock_page(const fs::path& root, const std::string& code, const std::string& up,
                      const Load& disk, const Load& http) {
  {
    // The decision's levels, from the Markdown copy written beside the page.
    const std::string md = slurp(root / (kDay + "/" + code + "_offline.md"));
    std::size_t expected_levels = 0;
    for (auto key : {"stop_loss", "target_1", "target_2", "support_price", "resistance_price"}) {
      std::smatch m;
      const std::regex re("\"" + std::string(key) + "\": ([0-9.]+)");
      if (std::regex_search(md, m, re) && std::stod(m[1]) > 0) ++expected_levels;
    }
    if (std::regex_search(md, std::regex("\"entry_price_(low|high)\": [1-9]"))) ++expected_levels;
    ASSERT_GT(expected_levels, 0u) << md;

    for (const auto* l : {&disk, &http}) {
      const std::string what = code + (l == &disk ? " from disk" : " over HTTP");
      expect_clean(*l, what);
      const std::string daily = figure(l->dom, "daily");
      EXPECT_EQ(count(daily, "<g class=\"candle (up|down)\""), 120u) << what;
      EXPECT_EQ(count(daily, "<g class=\"level ") + off_chart_levels(daily), expected_levels)
          << what;
      EXPECT_EQ(count(daily, "class=\"ema ema"), 3u) << what;
      EXPECT_GT(count(figure(l->dom, "weekly"), "<g class=\"candle "), 20u) << what;
      EXPECT_GT(count(daily, "<g class=\"candle up\"><line [^>]*stroke=\"" + std::string(up)), 0u)
          << what;
      EXPECT_NE(l->dom.find("id=\"decision\""), std::string::npos) << what;
    }
  }
}

// One small chart per A-share core index.
void check_brief_page(const Load& disk, const Load& http) {
  for (const auto* l : {&disk, &http}) {
    expect_clean(*l, "brief");
    EXPECT_EQ(count(l->dom, "data-chart=\"index\""), 4u);  // the four A-share core indices
    EXPECT_EQ(count(l->dom, "<g class=\"candle "), 4u * 60u);
    EXPECT_EQ(count(l->dom, "class=\"ema ema20\""), 4u);
    EXPECT_NE(l->dom.find("上证指数"), std::string::npos);
  }
}

// A table page sorted on load by its address fragment (#sort=<column>-<dir>, the column
// counted as the page counts it, the sparkline's included): the script ran, and the rows
// stand in the order of that column's numbers. Every row has a sparkline. Returns the rows.
std::size_t check_sorted_table(const Load& disk, const Load& http, const std::string& what,
                               std::size_t column, bool descending) {
  std::size_t rows = 0;
  for (const auto* l : {&disk, &http}) {
    expect_clean(*l, what);
    rows = count(l->dom, "<tr>") - 1;
    EXPECT_GT(rows, 0u) << what;
    EXPECT_EQ(count(l->dom, "class=\"spark\""), 2 * rows) << what;  // a cell and a line per row
    EXPECT_NE(l->dom.find(descending ? "aria-sort=\"descending\"" : "aria-sort=\"ascending\""),
              std::string::npos)
        << what;  // the script ran
    std::vector<double> values;
    const std::regex value("<tr>(?:<td[^>]*>.*?</td>){" + std::to_string(column) +
                           "}<td data-v=\"([^\"]+)\"");
    for (std::sregex_iterator it(l->dom.begin(), l->dom.end(), value), end; it != end; ++it) {
      values.push_back(std::stod((*it)[1]));
    }
    EXPECT_EQ(values.size(), rows) << what;
    if (descending) std::reverse(values.begin(), values.end());
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << what;
  }
  return rows;
}

// Links to every page, newest first, with badges; the table pages written into the root
// after the day's pages.
void check_index_page(const Load& disk, const Load& http, const std::string& watchlist) {
  for (const auto* l : {&disk, &http}) {
    expect_clean(*l, "index");
    for (const std::string link :
         {"2024-05-10/sh.600519_offline.html", "2024-05-10/us.AAPL_offline.html",
          "2024-05-10/brief-A.html", "2024-05-10/brief-US.html", watchlist.c_str(), "scan-A.html",
          "backtest.html"}) {
      EXPECT_NE(l->dom.find("href=\"" + link + "\""), std::string::npos) << link;
    }
    EXPECT_EQ(count(l->dom, "class=\"badge "), 7u);
    EXPECT_LT(l->dom.find(watchlist), l->dom.find("其他表格"));
  }
}

TEST_F(ReportPagesInBrowser, EveryKindOfPageFromDiskAndOverHttp) {
  for (auto code : {"sh.600519", "us.AAPL"}) {
    ASSERT_TRUE(fs::exists(root_ / (kDay + "/" + code + "_offline.html"))) << code;
  }
  // All loads at once: Chromium spends most of its start-up waiting.
  auto a = both(kDay + "/sh.600519_offline.html", "sh.600519");
  auto us = both(kDay + "/us.AAPL_offline.html", "us.AAPL");
  auto brief = both(kDay + "/brief-A.html", "brief-A");
  auto scan = both("scan-A.html", "scan-A", "#sort=5-desc");
  auto watchlist = both(watchlist_, "watchlist", "#sort=6-desc");     // by stop-loss
  auto backtest = both("backtest.html", "backtest", "#sort=13-asc");  // by forward return
  auto index = both("index.html", "index");
  {
    SCOPED_TRACE("stock page, A share");
    check_stock_page(root_, "sh.600519", "#e03131", a.first.get(), a.second.get());
  }
  {
    SCOPED_TRACE("stock page, US");
    check_stock_page(root_, "us.AAPL", "#2b8a3e", us.first.get(), us.second.get());
  }
  {
    SCOPED_TRACE("brief page");
    check_brief_page(brief.first.get(), brief.second.get());
  }
  {
    SCOPED_TRACE("scan table page");
    EXPECT_GT(check_sorted_table(scan.first.get(), scan.second.get(), "scan", 5, true), 1u);
  }
  {
    SCOPED_TRACE("watchlist page");
    const Load disk = watchlist.first.get();
    EXPECT_EQ(check_sorted_table(disk, watchlist.second.get(), "watchlist", 6, true), 2u);
    for (auto code : {"sh.600519", "us.AAPL"}) {  // the stocks' pages, beside the summary
      const std::string link = std::string("<a href=\"") + code + "_offline.html\">" + code;
      EXPECT_NE(disk.dom.find(link), std::string::npos) << link;
    }
  }
  {
    SCOPED_TRACE("backtest page");
    const Load disk = backtest.first.get();
    EXPECT_EQ(check_sorted_table(disk, backtest.second.get(), "backtest", 13, false), 2u);
    EXPECT_NE(disk.dom.find("<ul class=\"summary\"><li>决策 2 条"), std::string::npos);
  }
  {
    SCOPED_TRACE("index page");
    check_index_page(index.first.get(), index.second.get(), watchlist_);
  }
}

}  // namespace
