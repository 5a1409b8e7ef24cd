// backtest-bench-data DIR [COUNT]: writes the sample market through 2024-12-31 as a data
// center under DIR/center, and a report root DIR/report whose reports.db holds COUNT
// (default 10000) stored decisions on the sample stocks and funds, made on their bar dates
// from 2018 to 2024: about 70% buys (entry around the close, stop 4% below, targets 5% and
// 9% above) and 30% waits, holding periods of 3-20 trading days, all three confidence levels.
// One decision per security and day; seeded, so every run writes the same rows.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "candlex/sample_market.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/report/sqlite_db.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

std::string price(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: backtest-bench-data DIR [COUNT]\n";
    return 2;
  }
  try {
    namespace fs = std::filesystem;
    const fs::path dir = argv[1];
    const int count = argc > 2 ? std::stoi(argv[2]) : 10000;
    const auto through = zorvane::utils::parse_iso_date("2024-12-31");
    const auto first = zorvane::utils::parse_iso_date("2018-01-02");
    candlex::write_sample_center(dir / "center", through);

    struct Series {
      const candlex::SampleSecurity* security;
      candlex::BarTable bars;
    };
    std::vector<Series> series;
    for (const auto& s : candlex::sample_securities()) {
      if (s.kind == candlex::SampleKind::index) continue;
      series.push_back({&s, candlex::generate_sample_bars(s, through).until(through)});
    }

    const fs::path root = dir / "report";
    zorvane::report::ReportStorage(root).exists("sh.600519", "2024-01-02", "offline");  // schema
    zorvane::report::SqliteDb db(root / "reports.db");
    zorvane::report::SqliteTransaction tx(db);
    zorvane::report::SqliteStatement insert(
        db,
        "INSERT INTO stock_reports (code, name, market_type, analysis_date, llm_client_type, "
        "llm_model, report, summary, decision, created_at) VALUES (?, ?, ?, ?, ?, ?, '', '', ?, "
        "'2025-01-01T00:00:00Z')");
    std::mt19937 rng(42);
    // One decision per (security, day), so every row is evaluated (none superseded).
    std::set<std::pair<const candlex::SampleSecurity*, std::size_t>> used;
    const char* confidences[] = {"高", "中", "低"};
    const char* buys[] = {"强烈买入", "建议买入", "谨慎买入"};
    for (int i = 0; i < count; ++i) {
      const Series& s = series[rng() % series.size()];
      const auto& dates = s.bars.dates();
      std::size_t row;
      do {
        row = rng() % dates.size();
      } while (dates[row] < first || !used.insert({s.security, row}).second);
      const double close = s.bars.col("close")[row];
      const bool buy = rng() % 10 < 7;
      const std::string market = s.security->kind == candlex::SampleKind::fund ? "ETF"
                                 : s.security->code.rfind("hk.", 0) == 0       ? "HK"
                                 : s.security->code.rfind("us.", 0) == 0       ? "US"
                                                                               : "A";
      std::string decision =
          "{\"stock_code\": \"" + s.security->code + "\", \"analysis_time\": \"" +
          zorvane::utils::iso_date(dates[row]) + "\", \"current_price\": " + price(close) +
          ", \"direction\": \"看多\", \"action\": \"" + (buy ? buys[rng() % 3] : "观望等待") + "\"";
      if (buy) {
        decision += ", \"entry_price_low\": " + price(close * 0.99) +
                    ", \"entry_price_high\": " + price(close * 1.005) +
                    ", \"stop_loss\": " + price(close * 0.96) +
                    ", \"target_1\": " + price(close * 1.05) +
                    ", \"target_2\": " + price(close * 1.09);
      }
      decision += ", \"holding_period\": \"" + std::to_string(3 + rng() % 18) +
                  "个交易日\", \"confidence\": \"" + confidences[rng() % 3] + "\"}";
      insert.bind(1, s.security->code)
          .bind(2, s.security->name)
          .bind(3, market)
          .bind(4, zorvane::utils::iso_date(dates[row]))
          .bind(5, "offline")
          .bind(6, "offline-rules")
          .bind(7, decision)
          .run();
    }
    tx.commit();
    std::cout << count << " decisions in " << (root / "reports.db").string() << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "backtest-bench-data: " << e.what() << "\n";
    return 1;
  }
}
