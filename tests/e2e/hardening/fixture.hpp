#pragma once
// Shared set-up of the hardening tests: a sample data center written once per test process,
// a project root holding the ETF universe, and helpers to read files and log lines.

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/temp_dir.hpp"

namespace hardening {

using support::Child;
using support::Env;
using support::Finished;
using support::run;

namespace fs = std::filesystem;

inline const std::string kDay = "2024-05-10";  // a Friday inside the sample history

inline std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void write_file(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// The sample market through 2024-06-28 as a data center, made once per process.
inline const fs::path& sample_center() {
  static std::unique_ptr<zv_test::TempDir> dir = [] {
    auto d = std::make_unique<zv_test::TempDir>("hardening-center");
    auto made = run(CANDLEX_SAMPLE_EXE, {"--out", d->str(), "--through", "2024-06-28"}, {},
                    d->path(), std::chrono::seconds(300));
    if (made.status != 0) throw std::runtime_error("candlex-sample failed: " + made.err);
    return d;
  }();
  return dir->path();
}

// A project root with data/etf/etf.yaml (the sentiment universe), made once per process.
inline const fs::path& project_root() {
  static std::unique_ptr<zv_test::TempDir> dir = [] {
    auto d = std::make_unique<zv_test::TempDir>("hardening-project");
    fs::create_directories(d->path() / "data" / "etf");
    fs::copy_file(fs::path(ZV_SOURCE_DIR) / "data" / "etf" / "etf.yaml",
                  d->path() / "data" / "etf" / "etf.yaml");
    return d;
  }();
  return dir->path();
}

// A private copy of the sample center that a test may damage.
inline void copy_center(const fs::path& to) {
  fs::copy(sample_center(), to, fs::copy_options::recursive);
}

// What tarsen prints around a brief.
inline std::string framed(const std::string& brief) {
  auto repeat = [](const std::string& unit, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += unit;
    return out;
  };
  return "\n" + repeat("━", 30) + " [ 大盘 AI 研判 ] " + repeat("━", 30) + "\n" + brief + "\n" +
         repeat("━", 78) + "\n\n";
}

// The messages of console log lines ("<time> | <level> | <message>") as "level|message".
inline std::vector<std::string> log_lines(const std::string& err) {
  std::vector<std::string> out;
  for (const auto& line : split_lines(err)) {
    auto a = line.find(" | ");
    if (a == std::string::npos) continue;
    auto b = line.find(" | ", a + 3);
    if (b == std::string::npos) continue;
    out.push_back(line.substr(a + 3, b - a - 3) + "|" + line.substr(b + 3));
  }
  return out;
}

}  // namespace hardening
