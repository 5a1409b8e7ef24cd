// scan-bench-center DIR [COUNT] [THROUGH]: writes a data center of COUNT (default 5000)
// A-share stocks with 300 daily bars each through THROUGH (default 2024-06-28), plus the
// Shanghai index for the trading calendar and names.csv. The bars are the sample market's
// random walk under made-up codes, so every run writes the same files.

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "candlex/sample_market.hpp"
#include "zorvane/utils/dates.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: scan-bench-center DIR [COUNT] [THROUGH]\n";
    return 2;
  }
  try {
    const std::filesystem::path dir = argv[1];
    const int count = argc > 2 ? std::stoi(argv[2]) : 5000;
    const auto through = zorvane::utils::parse_iso_date(argc > 3 ? argv[3] : "2024-06-28");
    std::filesystem::create_directories(dir / "daily");
    std::ofstream names(dir / "names.csv");
    names << "code,name\n";
    auto write = [&](const candlex::SampleSecurity& s, std::size_t bars) {
      std::ofstream(dir / "daily" / (s.code + ".csv"))
          << candlex::bars_to_csv(candlex::generate_sample_bars(s, through).tail(bars));
      names << s.code << ',' << s.name << '\n';
    };
    write({"sh.000001", "上证指数", candlex::SampleKind::index, 3000.0, 0.012, 3e8}, 300);
    for (int i = 0; i < count; ++i) {
      char code[16], name[32];
      std::snprintf(code, sizeof code, "%s.%06d", i % 2 ? "sz" : "sh", (i % 2 ? 1 : 600000) + i);
      std::snprintf(name, sizeof name, "基准%04d", i);
      write({code, name, candlex::SampleKind::stock, 5.0 + i % 40, 0.022, 1e7}, 300);
    }
    std::cout << count + 1 << " series written to " << dir.string() << '\n';
  } catch (const std::exception& e) {
    std::cerr << "scan-bench-center: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
