#include "zorvane/utils/file_lock.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "support/temp_dir.hpp"
#include "zorvane/utils/regular_file.hpp"

namespace zorvane::utils {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(FileLock, ExclusiveUntilReleasedAndBoundedWait) {
  zv_test::TempDir dir{"file-lock"};
  const auto path = dir / "brief.lock";
  auto first = FileLock::acquire(path, 0ms);
  ASSERT_TRUE(first.locked());
  int waits = 0;
  const auto start = std::chrono::steady_clock::now();
  auto second = FileLock::acquire(path, 200ms, [&] { ++waits; });
  EXPECT_FALSE(second.locked());
  EXPECT_EQ(waits, 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
  first.release();
  EXPECT_TRUE(FileLock::acquire(path, 0ms).locked());

  // A lock file that is a symbolic link or a FIFO is refused, not followed or waited on.
  fs::create_symlink(dir / "elsewhere", dir / "link.lock");
  EXPECT_THROW(FileLock::acquire(dir / "link.lock", 0ms), std::runtime_error);
  EXPECT_FALSE(fs::exists(dir / "elsewhere"));
  ASSERT_EQ(::mkfifo((dir / "fifo.lock").c_str(), 0644), 0);
  EXPECT_THROW(FileLock::acquire(dir / "fifo.lock", 0ms), std::runtime_error);
}

TEST(RegularFile, ReadsOnlyRegularFiles) {
  zv_test::TempDir dir{"regular-file"};
  std::ofstream(dir / "plain.txt") << "text";
  EXPECT_EQ(read_regular_file(dir / "plain.txt"), "text");
  EXPECT_EQ(read_regular_file(dir / "missing.txt"), std::nullopt);
  fs::create_symlink(dir / "plain.txt", dir / "link.txt");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  for (const char* name : {"link.txt", "fifo", "."}) {
    try {
      read_regular_file(dir / name);
      ADD_FAILURE() << name;
    } catch (const NotRegularFileError& e) {
      EXPECT_NE(std::string(e.what()).find((dir / name).string()), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace zorvane::utils
