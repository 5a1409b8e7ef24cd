#include "candlex/sample_market.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <mutex>
#include <numbers>
#include <stdexcept>

#include "candlex/calendar.hpp"
#include "candlex/catalog.hpp"
#include "candlex/codes.hpp"
#include "candlex/etf_universe.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace candlex {

namespace {

namespace fs = std::filesystem;
using std::chrono::days;

// splitmix64: small, fast and the same on every platform (the standard distributions are
// not, so the normal deviates are drawn by hand too).
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in (0, 1).
  double uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53; }
  double normal() {
    return std::sqrt(-2.0 * std::log(uniform())) * std::cos(2.0 * std::numbers::pi * uniform());
  }
  int between(int lo, int hi) {
    return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1));
  }

 private:
  std::uint64_t state_;
};

std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

enum class Regime { bull, bear, range, crash, recovery };

struct RegimeShape {
  double drift;   // mean daily log return, in units of the daily deviation
  double vol;     // multiplier of the daily deviation
  double volume;  // multiplier of the typical volume
  int min_len, max_len;
};

RegimeShape shape_of(Regime r) {
  switch (r) {
    case Regime::bull:
      return {0.09, 0.9, 1.15, 40, 160};
    case Regime::bear:
      return {-0.08, 1.1, 0.95, 30, 120};
    case Regime::range:
      return {0.0, 0.75, 0.8, 30, 120};
    case Regime::crash:
      return {-0.9, 2.2, 2.2, 6, 18};
    case Regime::recovery:
      return {0.3, 1.4, 1.3, 25, 70};
  }
  return {0, 1, 1, 30, 60};
}

// Next regime: a crash is always followed by a recovery; otherwise trends lean against how
// far the price has strayed from its base level, which keeps ten years of walk plausible.
Regime next_regime(Regime previous, double stretch, Rng& rng) {
  if (previous == Regime::crash) return Regime::recovery;
  double s = std::clamp(stretch, -1.0, 1.0);
  double w_bull = 0.34 - 0.25 * s, w_bear = 0.26 + 0.25 * s, w_range = 0.32;
  double w_crash = (stretch > -0.3 && previous != Regime::recovery) ? 0.08 : 0.0;
  double u = rng.uniform() * (w_bull + w_bear + w_range + w_crash);
  if ((u -= w_bull) < 0) return Regime::bull;
  if ((u -= w_bear) < 0) return Regime::bear;
  if ((u -= w_range) < 0) return Regime::range;
  return Regime::crash;
}

double tick_of(const SampleSecurity& s) {
  return s.kind == SampleKind::fund ? 0.001 : 0.01;
}

double to_tick(double price, double tick) {
  double decimals = tick < 0.005 ? 1000.0 : 100.0;
  return std::max(tick, std::round(price * decimals) / decimals);
}

struct StockSeed {
  const char* code;
  const char* name;
  double price, vol, volume;
};

constexpr StockSeed kStocks[] = {
    {"sh.600519", "示例酒业", 180, 0.017, 3e6},   {"sz.000001", "示例银行", 12, 0.016, 8e7},
    {"sz.300750", "示例新能源", 80, 0.026, 2e7},  {"sh.688981", "示例芯片", 50, 0.028, 4e7},
    {"hk.00700", "示例科技", 140, 0.019, 1.5e7},  {"hk.09988", "示例电商", 90, 0.024, 3e7},
    {"us.AAPL", "示例消费电子", 110, 0.017, 6e7}, {"us.MSFT", "示例软件", 46, 0.016, 3e7},
    {"us.NVDA", "示例半导体", 20, 0.03, 4e8},
};

struct IndexSeed {
  const char* code;
  double price, vol, volume;
};

constexpr IndexSeed kIndexSeeds[] = {
    {"sh.000001", 3300, 0.012, 3e10},   {"sz.399001", 11500, 0.014, 4e10},
    {"sz.399006", 1800, 0.018, 1.5e10}, {"sh.000688", 1000, 0.018, 3e9},
    {"sh.000300", 3600, 0.012, 1.5e10}, {"sh.000905", 5700, 0.014, 1.2e10},
    {"hk.HSI", 23000, 0.013, 2e9},      {"hk.HSTECH", 5000, 0.02, 8e8},
    {"us.SPX", 2050, 0.01, 3e9},        {"us.IXIC", 4700, 0.013, 4e9},
    {"us.DJI", 17800, 0.01, 3e8},
};

double fund_vol(const std::string& category) {
  if (category == "bond") return 0.002;
  if (category == "commodity") return 0.01;
  if (category == "broad") return 0.012;
  if (category == "cross_border") return 0.014;
  return 0.017;  // sector funds
}

std::vector<SampleSecurity> build_securities() {
  std::vector<SampleSecurity> out;
  for (const auto& index : all_core_indices()) {
    SampleSecurity s{index.code, index.name, SampleKind::index, 1000, 0.012, 1e9};
    for (const auto& seed : kIndexSeeds) {
      if (index.code == seed.code) {
        s.base_price = seed.price;
        s.daily_vol = seed.vol;
        s.base_volume = seed.volume;
      }
    }
    out.push_back(std::move(s));
  }
  for (const auto& etf : etf_universe()) {
    // Fund price levels between 0.8 and 4.8, fixed per code.
    double level = 0.8 + static_cast<double>(fnv1a(etf.code) % 4000) / 1000.0;
    out.push_back({etf.code, etf.name, SampleKind::fund, level, fund_vol(etf.category), 2e8});
  }
  for (const auto& st : kStocks)
    out.push_back({st.code, st.name, SampleKind::stock, st.price, st.vol, st.volume});
  return out;
}

std::once_flag g_warned;

struct CachedSeries {
  Day through;
  std::shared_ptr<const BarTable> bars;
};

std::mutex g_cache_mutex;
std::map<std::string, CachedSeries, std::less<>> g_cache;

}  // namespace

Day sample_first_day() {
  return std::chrono::year{2015} / 1 / 5;
}

const std::vector<SampleSecurity>& sample_securities() {
  static const std::vector<SampleSecurity> securities = build_securities();
  return securities;
}

const SampleSecurity* find_sample_security(std::string_view code) {
  for (const auto& s : sample_securities())
    if (s.code == code) return &s;
  return nullptr;
}

BarTable generate_sample_bars(const SampleSecurity& sec, Day through) {
  const auto dates = rule_trading_days(calendar_market_of(sec.code), sample_first_day(), through);
  const std::size_t n = dates.size();
  std::vector<double> open(n), high(n), low(n), close(n), volume(n), amount(n);

  Rng rng(fnv1a(sec.code));
  const double tick = tick_of(sec);
  const double base_log = std::log(sec.base_price);
  const double sigma = sec.daily_vol;
  double log_price = base_log + 0.15 * rng.normal();
  double prev_close = to_tick(std::exp(log_price), tick);
  Regime regime = Regime::range;
  int left = rng.between(20, 60);
  double anchor = log_price;

  for (std::size_t i = 0; i < n; ++i) {
    if (left-- <= 0) {
      regime = next_regime(regime, log_price - base_log, rng);
      auto shape = shape_of(regime);
      left = rng.between(shape.min_len, shape.max_len) - 1;
      anchor = log_price;
    }
    const auto shape = shape_of(regime);
    const double day_sigma = sigma * shape.vol * std::exp(0.25 * rng.normal());
    double drift = shape.drift * sigma;
    if (regime == Regime::range) drift = 0.05 * (anchor - log_price);
    drift -= 0.001 * (log_price - base_log);  // a weak pull keeps decades of walk in range
    const double ret = drift + day_sigma * rng.normal();
    const double gap = 0.3 * day_sigma * rng.normal();
    log_price += ret;

    double o = to_tick(prev_close * std::exp(gap), tick);
    double c = to_tick(std::exp(log_price), tick);
    double h = to_tick(std::max(o, c) * std::exp(0.5 * day_sigma * std::abs(rng.normal())), tick);
    double l = to_tick(std::min(o, c) * std::exp(-0.5 * day_sigma * std::abs(rng.normal())), tick);
    h = std::max({h, o, c});
    l = std::min({l, o, c});

    double v = sec.base_volume * shape.volume * std::exp(0.3 * rng.normal()) *
               (1.0 + 0.6 * std::abs(ret) / sigma);
    v = sec.kind == SampleKind::index ? std::max(1.0, std::round(v))
                                      : std::max(100.0, std::round(v / 100.0) * 100.0);
    open[i] = o;
    high[i] = h;
    low[i] = l;
    close[i] = c;
    volume[i] = v;
    amount[i] = c * v;
    prev_close = c;
  }

  BarTable table(dates);
  table.set("open", std::move(open));
  table.set("high", std::move(high));
  table.set("low", std::move(low));
  table.set("close", std::move(close));
  table.set("volume", std::move(volume));
  table.set("amount", std::move(amount));
  return table;
}

std::shared_ptr<const BarTable> sample_daily(std::string_view code, Day through) {
  std::call_once(g_warned, [] {
    zorvane::utils::logger.warning(
        "未设置 CANDLEX_CENTER，使用内置示例行情（合成数据，仅供演示，不代表真实市场）");
  });
  const SampleSecurity* sec = find_sample_security(code);
  if (!sec) return std::make_shared<const BarTable>();
  {
    std::lock_guard lock(g_cache_mutex);
    auto it = g_cache.find(code);
    if (it != g_cache.end()) {
      if (it->second.through == through) return it->second.bars;
      // A longer series holds the shorter one as its prefix.
      if (it->second.through > through)
        return std::make_shared<const BarTable>(it->second.bars->until(through));
    }
  }
  auto bars = std::make_shared<const BarTable>(generate_sample_bars(*sec, through));
  std::lock_guard lock(g_cache_mutex);
  auto& slot = g_cache[sec->code];
  if (!slot.bars || slot.through < through) slot = {through, bars};
  return bars;
}

std::string bars_to_csv(const BarTable& bars) {
  using zorvane::utils::float_text;
  static const char* kCols[] = {"open", "high", "low", "close", "volume", "amount"};
  std::string out = "date,open,high,low,close,volume,amount\n";
  out.reserve(bars.size() * 80 + out.size());
  const bool has_amount = bars.has("amount");
  for (std::size_t i = 0; i < bars.size(); ++i) {
    out += zorvane::utils::iso_date(bars.dates()[i]);
    for (const char* col : kCols) {
      out += ',';
      if (std::string_view(col) == "amount" && !has_amount) continue;
      double v = bars.col(col)[i];
      if (!std::isnan(v)) out += float_text(v);  // an empty cell reads back as NaN
    }
    out += '\n';
  }
  return out;
}

std::size_t write_sample_center(const fs::path& dir, Day through) {
  std::error_code ec;
  fs::create_directories(dir / "daily", ec);
  if (ec)
    throw std::runtime_error("cannot create " + (dir / "daily").string() + ": " + ec.message());
  auto write = [](const fs::path& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    f.close();
    if (!f) throw std::runtime_error("cannot write " + path.string());
  };
  std::string names = "code,name\n";
  std::size_t count = 0;
  for (const auto& sec : sample_securities()) {
    write(dir / "daily" / (sec.code + ".csv"), bars_to_csv(generate_sample_bars(sec, through)));
    names += sec.code + "," + sec.name + "\n";
    ++count;
  }
  write(dir / "names.csv", names);
  return count;
}

}  // namespace candlex
