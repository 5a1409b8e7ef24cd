#include "zorvane/utils/temp_files.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "support/temp_dir.hpp"

namespace zorvane::utils {
namespace {

namespace fs = std::filesystem;

TEST(TempFiles, RecognisesOnlyOurOwnNames) {
  for (const char* name : {"sh.600519_offline.md.tmp.4242.0", "reports.md.tmp.1.17",
                           ".A_2024-05-10_v4.md.tmp-4242-3", "sentiment_d_x.json.tmp.9.1"}) {
    EXPECT_TRUE(is_own_temp_file_name(name)) << name;
  }
  for (const char* name : {"report.md", "notes.tmp", "x.tmp.12", ".tmp.1.2", "a.tmp.1.2x",
                           "a.tmp.-1.2", "A_v4.md.tmp-1-2", ".a.tmp.1.2.bak", "reports.db-wal"}) {
    EXPECT_FALSE(is_own_temp_file_name(name)) << name;
  }
}

TEST(TempFiles, RemovesOnlyStaleRegularFilesOfOurs) {
  zv_test::TempDir dir;
  auto make = [&](const std::string& name, std::chrono::hours age) {
    std::ofstream(dir / name) << "partial";
    fs::last_write_time(dir / name, fs::file_time_type::clock::now() - age);
  };
  make("a.md.tmp.100.0", std::chrono::hours(2));            // stale: removed
  make(".b.md.tmp-100-1", std::chrono::hours(30));          // stale: removed
  make("c.md.tmp.100.2", std::chrono::hours(0));            // a writer may still be busy: kept
  make("d.tmp", std::chrono::hours(5));                     // not our pattern: kept
  fs::create_directory(dir / "e.md.tmp.1.1");               // a directory: kept
  fs::create_symlink(dir / "d.tmp", dir / "f.md.tmp.1.2");  // a symlink: kept
  fs::create_directory(dir / "sub");
  make("sub/g.md.tmp.1.3", std::chrono::hours(3));  // below the directory: kept

  EXPECT_EQ(remove_stale_temp_files(dir.path()), 2u);
  std::set<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.path())) left.insert(e.path().filename());
  EXPECT_EQ(left, (std::set<std::string>{"c.md.tmp.100.2", "d.tmp", "e.md.tmp.1.1", "f.md.tmp.1.2",
                                         "sub"}));
  EXPECT_TRUE(fs::exists(dir / "sub" / "g.md.tmp.1.3"));
  EXPECT_EQ(remove_stale_temp_files(dir / "missing"), 0u);
}

}  // namespace
}  // namespace zorvane::utils
