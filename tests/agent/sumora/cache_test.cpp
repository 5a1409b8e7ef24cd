#include "agent/sumora/cache.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/utils/env.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace sumora {
namespace {

namespace fs = std::filesystem;
using zv_test::EnvGuard;
using zv_test::TempDir;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void spit(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

// Every test works in its own cache directory.
class CacheDir : public ::testing::Test {
 protected:
  TempDir dir{"sumora-cache"};
  EnvGuard sumora_dir{"ZORVANE_SUMORA_DIR", dir.str()};
};

TEST(NormalizeDate, CutsTimeAndSpaces) {
  EXPECT_EQ(_normalize_date(""), "");
  EXPECT_EQ(_normalize_date("2024-05-10"), "2024-05-10");
  EXPECT_EQ(_normalize_date("2024-05-10_1530"), "2024-05-10");
  EXPECT_EQ(_normalize_date(" 2024-05-10 "), "2024-05-10");
  EXPECT_EQ(_normalize_date("2024-05-10T09:30"), "2024-05-10");
  EXPECT_EQ(_normalize_date("2024"), "2024");
}

TEST(CacheDirectory, ResolutionOrder) {
  TempDir root{"sumora-root"};
  EnvGuard project{"ZORVANE_PROJECT_ROOT", root.str()};
  EnvGuard home{"HOME", root.str()};
  EnvGuard s{"ZORVANE_SUMORA_DIR", std::nullopt};
  EnvGuard r{"REPORT_DIR", std::nullopt};
  EnvGuard c{"CANDLEX_CENTER", std::nullopt};

  EXPECT_EQ(_cache_dir(), root.path() / "report" / "sumoras");
  {
    EnvGuard blank{"REPORT_DIR", "   "};  // blank counts as unset
    EXPECT_EQ(_cache_dir(), root.path() / "report" / "sumoras");
  }
  {
    EnvGuard center{"CANDLEX_CENTER", (root.path() / "center").string()};
    EXPECT_EQ(_cache_dir(), root.path() / "center" / "report" / "sumoras");
    EnvGuard report{"REPORT_DIR", "out"};  // wins over the data centre, relative to the root
    EXPECT_EQ(_cache_dir(), root.path() / "out" / "sumoras");
  }
  {
    EnvGuard over{"ZORVANE_SUMORA_DIR", "~/briefs"};
    EXPECT_EQ(_cache_dir(), root.path() / "briefs");
    EXPECT_TRUE(fs::is_directory(root.path() / "briefs"));
  }
  {
    auto old = fs::current_path();
    fs::current_path(root.path());
    EnvGuard over{"ZORVANE_SUMORA_DIR", "rel"};
    EXPECT_EQ(_cache_dir(), fs::path("rel"));
    EXPECT_TRUE(fs::is_directory(root.path() / "rel"));
    fs::current_path(old);
  }
}

TEST_F(CacheDir, FileNames) {
  EXPECT_EQ(_cache_path("a", "2024-05-10_1530"), dir.path() / "A_2024-05-10_v4.md");
  EXPECT_EQ(_cache_path("ETF", "2024-05-10"), dir.path() / "ETF_2024-05-10_v4.md");
  EXPECT_EQ(_meta_cache_path("hk", "2024-05-10"), dir.path() / "HK_2024-05-10_v4.meta.json");
  EXPECT_EQ(sumora_cache_file("ETF", "2024-05-10"), sumora_cache_file("A", "2024-05-10"));
  EXPECT_EQ(sumora_cache_file("a", "2024-05-10").filename(), "A_2024-05-10_v4.md");
}

TEST_F(CacheDir, DatesThatAreNotDaysNeverReachTheFileSystem) {
  for (const char* bad :
       {"../../x", "", "2024-13-01", "2024-02-30", "2024/05/10", "../2024-05-10"}) {
    try {
      _cache_path("A", bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), std::string("[大盘 AI 简报] 非法分析日期: ") + bad);
    }
    EXPECT_THROW(sumora_cache_file("A", bad), std::runtime_error);
  }
  EXPECT_THROW(_cache_path("../../A", "2024-05-10"), std::runtime_error);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST_F(CacheDir, RoundTripWithSidecar) {
  zorvane::utils::LogCapture logs;
  _save_disk_cache("A", "2024-05-10", "简报正文\n", MetaRecord::from_client("offline", "离线"));
  EXPECT_EQ(slurp(dir.path() / "A_2024-05-10_v4.md"), "简报正文\n");
  EXPECT_EQ(slurp(dir.path() / "A_2024-05-10_v4.meta.json"),
            "{\n  \"llm_client_type\": \"offline\",\n  \"llm_model\": \"离线\"\n}");
  EXPECT_EQ(logs.matching("[大盘 AI 简报] 写缓存 path=" +
                          (dir.path() / "A_2024-05-10_v4.md").string() + " bytes=5")
                .size(),
            1u);

  auto loaded = _load_disk_cache("a", "2024-05-10_0930");
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->first, "简报正文");  // surrounding white space removed
  EXPECT_EQ(loaded->second.text("llm_client_type"), "offline");
  EXPECT_EQ(loaded->second.text("llm_model"), "离线");
  // Nothing but the two files: temporary files were renamed away.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST_F(CacheDir, EmptyMetaWritesNoSidecarAndKeepsAnOldOne) {
  _save_disk_cache("US", "2024-05-10", "brief");
  EXPECT_FALSE(fs::exists(dir.path() / "US_2024-05-10_v4.meta.json"));
  auto loaded = _load_disk_cache("US", "2024-05-10");
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(loaded->second.empty());

  _save_disk_cache("US", "2024-05-10", "v1", MetaRecord::from_client("a", "b"));
  _save_disk_cache("US", "2024-05-10", "v2", MetaRecord());
  EXPECT_EQ(_load_disk_cache("US", "2024-05-10")->second.text("llm_model"), "b");
}

TEST_F(CacheDir, MissesAndDegradedReads) {
  zorvane::utils::LogCapture logs;
  EXPECT_FALSE(_load_disk_cache("A", "2024-05-10"));  // no file

  spit(dir.path() / "A_2024-05-10_v4.md", " \n\t ");
  EXPECT_FALSE(_load_disk_cache("A", "2024-05-10"));  // blank file, no log
  EXPECT_TRUE(logs.lines().empty());

  spit(dir.path() / "A_2024-05-10_v4.md", "brief");
  spit(dir.path() / "A_2024-05-10_v4.meta.json", "{not json");
  auto broken_meta = _load_disk_cache("A", "2024-05-10");
  ASSERT_TRUE(broken_meta);
  EXPECT_TRUE(broken_meta->second.empty());
  EXPECT_TRUE(logs.lines().empty());  // a broken sidecar is silent

  // A damaged brief file is a miss with a warning, not an error for every later request.
  auto path = dir.path() / "HK_2024-05-10_v4.md";
  spit(path, "ok \xff\xfe broken");
  EXPECT_FALSE(_load_disk_cache("HK", "2024-05-10"));
  auto warned = logs.matching("[大盘 AI 简报] 读取缓存失败 path=" + path.string() + " err=");
  ASSERT_EQ(warned.size(), 1u);
  EXPECT_EQ(warned[0].rfind("warning|", 0), 0u);

  // A directory where the file should be is a file-system error: miss with a warning.
  fs::create_directory(dir.path() / "US_2024-05-10_v4.md");
  EXPECT_FALSE(_load_disk_cache("US", "2024-05-10"));
  EXPECT_EQ(
      logs.matching("读取缓存失败 path=" + (dir.path() / "US_2024-05-10_v4.md").string()).size(),
      1u);
}

// A FIFO would hang a plain open(); a symbolic link would serve whatever it points at. Both
// are misses with a warning, and the fresh brief replaces the entry itself, not its target.
TEST_F(CacheDir, SymlinksAndFifosAreMissesAndGetReplaced) {
  TempDir elsewhere{"sumora-elsewhere"};
  const auto target = elsewhere.path() / "planted.md";
  spit(target, "planted brief");
  const auto link = dir.path() / "A_2024-05-10_v4.md";
  fs::create_symlink(target, link);
  const auto fifo = dir.path() / "HK_2024-05-10_v4.md";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  spit(dir.path() / "US_2024-05-10_v4.md", "us brief");
  fs::create_symlink(target, dir.path() / "US_2024-05-10_v4.meta.json");

  zorvane::utils::LogCapture logs;
  EXPECT_FALSE(_load_disk_cache("A", "2024-05-10"));
  EXPECT_FALSE(_load_disk_cache("HK", "2024-05-10"));  // returns at once: no writer is waited for
  auto us = _load_disk_cache("US", "2024-05-10");      // usable brief, sidecar ignored
  ASSERT_TRUE(us);
  EXPECT_TRUE(us->second.empty());
  for (const auto& name :
       {"A_2024-05-10_v4.md", "HK_2024-05-10_v4.md", "US_2024-05-10_v4.meta.json"})
    EXPECT_EQ(logs.matching("读取缓存失败 path=" + (dir.path() / name).string()).size(), 1u)
        << name;

  _save_disk_cache("A", "2024-05-10", "fresh A", MetaRecord::from_client("c", "m"));
  _save_disk_cache("HK", "2024-05-10", "fresh HK");
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(slurp(link), "fresh A");
  EXPECT_EQ(slurp(target), "planted brief");  // the link's target is untouched
  EXPECT_TRUE(fs::is_regular_file(fifo));
  EXPECT_EQ(_load_disk_cache("HK", "2024-05-10")->first, "fresh HK");
}

TEST_F(CacheDir, WriteFailureIsLoggedNotThrown) {
  zorvane::utils::LogCapture logs;
  fs::create_directory(dir.path() / "A_2024-05-10_v4.md");
  fs::create_directory(dir.path() / "A_2024-05-10_v4.md" / "keep");  // rename over it fails
  EXPECT_NO_THROW(_save_disk_cache("A", "2024-05-10", "brief"));
  EXPECT_EQ(logs.matching("[大盘 AI 简报] 写缓存失败 path=").size(), 1u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST_F(CacheDir, ReadersNeverSeeAPartialBrief) {
  const std::string small(100, 'a');
  const std::string large(400000, 'b');
  _save_disk_cache("A", "2024-05-10", small);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 60; ++i) _save_disk_cache("A", "2024-05-10", i % 2 ? small : large);
    stop = true;
  });
  int reads = 0;
  std::string bad;
  while (!stop && bad.empty()) {
    auto got = _load_disk_cache("A", "2024-05-10");
    if (!got) {
      bad = "no brief";
    } else if (got->first != small && got->first != large) {
      bad = "partial brief of " + std::to_string(got->first.size()) + " bytes";
    }
    ++reads;
  }
  writer.join();
  EXPECT_EQ(bad, "");
  EXPECT_GT(reads, 0);
}

TEST(MemCache, ClearByMarket) {
  clear_sumora_cache();
  EXPECT_EQ(clear_sumora_cache(), 0u);
  detail::MEM_CACHE.put({"A", "2024-05-10", "v4"}, {"x", MetaRecord()});
  detail::MEM_CACHE.put({"A", "2024-05-11", "v3"}, {"y", MetaRecord()});
  detail::MEM_CACHE.put({"HK", "2024-05-10", "v4"}, {"z", MetaRecord()});
  EXPECT_EQ(clear_sumora_cache("ETF"), 0u);  // ETF briefs live under A
  EXPECT_EQ(clear_sumora_cache("a"), 2u);
  EXPECT_EQ(detail::MEM_CACHE.size(), 1u);
  EXPECT_EQ(clear_sumora_cache(), 1u);
}

TEST(LockMap, OneLockPerKey) {
  CacheKey a{"A", "2024-05-10", "v4"};
  EXPECT_EQ(&_get_lock(a), &_get_lock(a));
  EXPECT_NE(&_get_lock(a), &_get_lock({"A", "2024-05-11", "v4"}));
}

}  // namespace
}  // namespace sumora
