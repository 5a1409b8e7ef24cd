// candlex-sample: writes the built-in sample market as a data center, or prints the last
// bars of a market's core indices with their indicator columns.
//
//   candlex-sample --out DIR [--through YYYY-MM-DD]
//   candlex-sample --print-indices A [--bars 5]

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "candlex/calendar.hpp"
#include "candlex/catalog.hpp"
#include "candlex/market_data.hpp"
#include "candlex/sample_market.hpp"
#include "candlex/technical.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/env.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace {

using zorvane::utils::fixed_text;
using zorvane::utils::iso_date;

std::string cell(double v, int decimals) {
  return fixed_text(v, decimals);
}

void print_indices(const std::string& market, std::size_t bars) {
  const auto today = iso_date(zorvane::utils::today_local());
  const auto end = candlex::normalize_market_end_date(today, market);
  const auto indices = candlex::core_indices(market);
  std::printf("核心指数 market=%s 截至 %s\n", candlex::market_key(market).c_str(), end.c_str());
  for (const auto& index : indices) {
    auto table = candlex::get_any_ohlc(index.code, std::nullopt, end);
    std::printf("\n== %s (%s) ==\n", index.name.c_str(), index.code.c_str());
    if (table.empty()) {
      std::printf("  (无数据)\n");
      continue;
    }
    candlex::technical::set_all(table);
    const auto last = table.tail(bars);
    for (std::size_t i = 0; i < last.size(); ++i) {
      std::string line = "  " + iso_date(last.dates()[i]);
      std::string extra = "     ";
      for (const auto& name : last.columns()) {
        double v = last.col(name)[i];
        if (name == "open" || name == "high" || name == "low" || name == "close") {
          line += "  " + name + " " + cell(v, 2);
        } else if (name == "volume") {
          line += "  volume " + cell(v, 0);
        } else if (name != "amount") {
          extra += " " + name + "=" + cell(v, 2);
        }
      }
      std::printf("%s\n%s\n", line.c_str(), extra.c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  zorvane::utils::load_zorvane_env();
  CLI::App app{"Writes the built-in sample market as a data center, or prints core-index bars."};
  std::string out_dir;
  std::string through;
  std::string market;
  std::size_t bars = 5;
  auto* out_opt = app.add_option("--out", out_dir, "data center directory to write");
  app.add_option("--through", through, "last bar date YYYY-MM-DD (default: today)")->needs(out_opt);
  auto* print_opt =
      app.add_option("--print-indices", market,
                     "print the last bars of this market's core indices (A, ETF, HK, US)");
  app.add_option("--bars", bars, "bars per index to print")
      ->needs(print_opt)
      ->check(CLI::Range(1, 1000));
  out_opt->excludes(print_opt);
  try {
    app.parse(argc, argv);
    if (out_dir.empty() && market.empty()) throw CLI::RequiredError("--out or --print-indices");
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return e.get_exit_code() == 0 ? code : 2;
  }

  try {
    if (!market.empty()) {
      print_indices(market, bars);
      return 0;
    }
    auto last =
        through.empty() ? zorvane::utils::today_local() : zorvane::utils::parse_iso_date(through);
    auto n = candlex::write_sample_center(out_dir, last);
    std::printf("wrote %zu series through %s to %s\n", n, iso_date(last).c_str(), out_dir.c_str());
    return 0;
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "candlex-sample: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "candlex-sample: %s\n", e.what());
    return 1;
  }
}
