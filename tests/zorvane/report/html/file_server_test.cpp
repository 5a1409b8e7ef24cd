// The report server hands out files under its root and nothing else.
#include "zorvane/report/html/file_server.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <thread>

#include "support/temp_dir.hpp"

namespace zorvane::html {
namespace {

namespace fs = std::filesystem;

class ReportServerFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "root/2024-06-28");
    fs::create_directories(dir_ / "root/empty-day");
    std::ofstream(dir_ / "root/index.html") << "<p>index</p>";
    std::ofstream(dir_ / "root/2024-06-28/sh.600519_offline.html") << "<p>page</p>";
    std::ofstream(dir_ / "root/2024-06-28/sh.600519_offline.md") << "# md";
    std::ofstream(dir_ / "root/reports.db") << "SQLite";
    std::ofstream(dir_ / "root/.index.lock") << "";
    std::ofstream(dir_ / "secret.html") << "<p>outside</p>";
    fs::create_directory_symlink("/etc", dir_ / "root/etc");
    fs::create_symlink(dir_ / "secret.html", dir_ / "root/leak.html");
    fs::create_symlink(dir_ / "root/2024-06-28/sh.600519_offline.html", dir_ / "root/inside.html");
    root_ = fs::canonical(dir_ / "root");
  }
  int status(std::string_view target) { return resolve_request(root_, target).status; }

  zv_test::TempDir dir_{"zv-serve"};
  fs::path root_;
};

TEST_F(ReportServerFiles, ServesPagesAndMarkdownUnderTheRoot) {
  auto page = resolve_request(root_, "/2024-06-28/sh.600519_offline.html?x=1");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.path, root_ / "2024-06-28/sh.600519_offline.html");
  EXPECT_EQ(status("/2024-06-28/sh.600519_offline.md"), 200);
  EXPECT_EQ(status("/2024-06-28//sh%2E600519_offline.html"), 200);  // plain escapes are fine
  EXPECT_EQ(status("/inside.html"), 200);                           // a link kept inside
  auto dir = resolve_request(root_, "/2024-06-28/");
  EXPECT_EQ(dir.status, 200);
  EXPECT_TRUE(dir.directory);
  EXPECT_EQ(status("/2024-06-28/missing.html"), 404);
}

TEST_F(ReportServerFiles, RefusesEveryWayOut) {
  for (auto target :
       {"/../secret.html", "/2024-06-28/../../secret.html", "/%2e%2e/secret.html",
        "/%2E%2E/%2e%2e/etc/passwd", "/2024-06-28/.%2e/.%2E/secret.html", "/./index.html"}) {
    EXPECT_EQ(status(target), 403) << target;
  }
  for (auto target :
       {"/..%2fsecret.html", "/2024-06-28%2F..%2F..%2Fsecret.html", "/..%5csecret.html",
        "/..\\secret.html", "/index.html%00.png", "/%zz", "/%2", "relative.html", ""}) {
    EXPECT_EQ(status(target), 400) << target;
  }
  EXPECT_EQ(status("/etc/passwd"), 403);  // a symbolic link to /etc
  EXPECT_EQ(status("/etc/"), 403);
  EXPECT_EQ(status("/leak.html"), 403);   // a link to a file outside
  EXPECT_EQ(status("/reports.db"), 404);  // not a page
  EXPECT_EQ(status("/.index.lock"), 404);
}

TEST_F(ReportServerFiles, HttpServerIsReadOnlyAndAnswersWhatResolveSays) {
  FileServer server(dir_ / "root");
  const int port = server.bind("127.0.0.1", 0);
  std::thread t([&] { server.listen(); });
  httplib::Client cli("127.0.0.1", port);
  cli.set_url_encode(false);  // send the targets exactly as written

  auto page = cli.Get("/2024-06-28/sh.600519_offline.html");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->body, "<p>page</p>");
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(cli.Get("/")->body, "<p>index</p>");
  auto listing = cli.Get("/2024-06-28/");
  EXPECT_NE(listing->body.find("href=\"sh.600519_offline.md\""), std::string::npos);
  EXPECT_EQ(cli.Get("/2024-06-28")->status, 302);
  auto empty = cli.Get("/empty-day/");
  EXPECT_EQ(empty->status, 200);
  EXPECT_NE(empty->body.find("href=\"../\""), std::string::npos);

  for (auto target : {"/%2e%2e/secret.html", "/..%2fsecret.html", "/etc/passwd", "/leak.html",
                      "/../secret.html"}) {
    auto res = cli.Get(target);
    ASSERT_TRUE(res) << target;
    EXPECT_TRUE(res->status == 400 || res->status == 403) << target << " " << res->status;
    EXPECT_EQ(res->body.find("outside"), std::string::npos) << target;
    EXPECT_EQ(res->body.find("root:"), std::string::npos) << target;
  }
  EXPECT_EQ(cli.Post("/index.html", "x", "text/plain")->status, 405);
  EXPECT_EQ(cli.Delete("/index.html")->status, 405);
  EXPECT_TRUE(fs::exists(dir_ / "root/index.html"));
  server.stop();
  t.join();
}

}  // namespace
}  // namespace zorvane::html
