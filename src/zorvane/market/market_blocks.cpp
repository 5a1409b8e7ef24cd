#include "zorvane/market/market_blocks.hpp"

#include <chrono>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "candlex/market_data.hpp"
#include "candlex/technical.hpp"
#include "zorvane/market/indices.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::utils {

namespace {

using candlex::BarTable;

// Calendar days of history fetched for the indicator block, so that EMA60 and MACD are warm
// by the first row shown.
constexpr int kIndicatorHistoryDays = 1100;

struct IndexBars {
  std::string code;
  std::string name;
  BarTable bars;  // daily bars on or before the analysis date (may be empty)
};

Day resolve_day(const std::optional<std::string>& analysis_time) {
  if (!analysis_time) return today_local();
  std::string_view text = *analysis_time;
  auto head = trim(text.substr(0, text.find('_')));
  try {
    return parse_iso_date(head);
  } catch (const std::invalid_argument&) {
    throw std::invalid_argument("analysis_time is not a date: " + quoted_text(*analysis_time));
  }
}

std::vector<IndexBars> load_bars(const std::string& market, Day as_of,
                                 std::optional<int> history_days = std::nullopt) {
  std::optional<std::string> start;
  if (history_days) start = iso_date(as_of - std::chrono::days(*history_days));
  std::vector<IndexBars> out;
  for (const auto& index : _get_indices_for_market(market)) {
    auto bars = candlex::get_any_ohlc(index.code, start, iso_date(as_of)).until(as_of);
    out.push_back({index.code, index.name, std::move(bars)});
  }
  return out;
}

std::optional<Day> newest_bar(const std::vector<IndexBars>& all) {
  std::optional<Day> newest;
  for (const auto& ib : all) {
    if (!ib.bars.empty() && (!newest || ib.bars.last_date() > *newest))
      newest = ib.bars.last_date();
  }
  return newest;
}

std::string num(double v, int decimals = 2) {
  return std::isnan(v) ? "—" : fixed_text(v, decimals);
}

std::string signed_pct(double v) {
  if (std::isnan(v) || std::isinf(v)) return "—";
  auto t = fixed_text(v, 2);
  return (t.front() == '-' ? t : "+" + t) + "%";
}

double change_pct(const std::vector<double>& close, std::size_t i) {
  if (i == 0 || close[i - 1] == 0.0) return std::nan("");
  return (close[i] - close[i - 1]) / close[i - 1] * 100.0;
}

double column_at(const BarTable& t, std::string_view name, std::size_t i) {
  return t.has(name) ? t.col(name)[i] : std::nan("");
}

std::string join_lines(const std::vector<std::string>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) out += '\n';
    out += lines[i];
  }
  return out;
}

rapidjson::Document base_meta(const std::string& market, Day as_of) {
  rapidjson::Document meta(rapidjson::kObjectType);
  auto& a = meta.GetAllocator();
  json_add(meta, "market", to_upper(market), a);
  json_add(meta, "as_of", iso_date(as_of), a);
  return meta;
}

MarketBlock skipped(rapidjson::Document meta, const char* reason) {
  json_add(meta, "skip_reason", reason, meta.GetAllocator());
  return {std::string(), std::move(meta)};
}

void add_missing(rapidjson::Document& meta, const std::vector<IndexBars>& all) {
  auto& a = meta.GetAllocator();
  rapidjson::Value missing(rapidjson::kArrayType);
  for (const auto& ib : all) {
    if (ib.bars.empty()) missing.PushBack(json_string(ib.code, a), a);
  }
  json_add(meta, "missing", std::move(missing), a);
}

}  // namespace

MarketBlock format_market_environment_block(const std::string& market,
                                            const std::optional<std::string>& analysis_time) {
  const Day as_of = resolve_day(analysis_time);
  auto all = load_bars(market, as_of);
  auto meta = base_meta(market, as_of);
  auto newest = newest_bar(all);
  if (!newest) return skipped(std::move(meta), "no_data");
  auto& a = meta.GetAllocator();
  json_add(meta, "latest_bar_date", iso_date(*newest), a);
  if ((as_of - *newest).count() > kMaxSnapshotAgeDays)
    return skipped(std::move(meta), "stale_data");

  std::vector<std::string> lines{
      "| 指数 | 代码 | 日期 | 收盘 | 涨跌幅 | 开盘 | 最高 | 最低 | 振幅 | 成交量 | 量比(5日) |",
      "| :--- | :--- | :--- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"};
  int shown = 0;
  for (const auto& ib : all) {
    if (ib.bars.empty()) continue;
    const auto& t = ib.bars;
    const std::size_t i = t.size() - 1;
    const auto& close = t.col("close");
    const auto& volume = t.col("volume");
    double prev = i > 0 ? close[i - 1] : std::nan("");
    double amp = (i > 0 && prev != 0.0)
                     ? (column_at(t, "high", i) - column_at(t, "low", i)) / prev * 100.0
                     : std::nan("");
    // Volume against the mean of up to five earlier bars.
    double sum = 0.0;
    int n = 0;
    for (std::size_t k = i >= 5 ? i - 5 : 0; k < i; ++k) {
      if (!std::isnan(volume[k])) sum += volume[k], ++n;
    }
    double ratio = n > 0 && sum > 0 ? volume[i] / (sum / n) : std::nan("");
    lines.push_back("| " + ib.name + " | " + ib.code + " | " + iso_date(t.dates()[i]) + " | " +
                    num(close[i]) + " | " + signed_pct(change_pct(close, i)) + " | " +
                    num(column_at(t, "open", i)) + " | " + num(column_at(t, "high", i)) + " | " +
                    num(column_at(t, "low", i)) + " | " +
                    (std::isnan(amp) ? "—" : fixed_text(amp, 2) + "%") + " | " + num(volume[i], 0) +
                    " | " + num(ratio) + " |");
    ++shown;
  }
  json_add(meta, "indices", shown, a);
  add_missing(meta, all);
  return {join_lines(lines), std::move(meta)};
}

MarketBlock format_market_history_block(const std::string& market, int days,
                                        const std::optional<std::string>& analysis_time) {
  if (days <= 0) throw std::invalid_argument("days must be positive: " + std::to_string(days));
  const Day as_of = resolve_day(analysis_time);
  auto all = load_bars(market, as_of);
  auto meta = base_meta(market, as_of);
  if (!newest_bar(all)) return skipped(std::move(meta), "no_data");

  std::vector<std::string> sections;
  int rows = 0;
  for (const auto& ib : all) {
    if (ib.bars.empty()) continue;
    const auto& t = ib.bars;
    const auto& close = t.col("close");
    const auto& volume = t.col("volume");
    std::vector<std::string> lines{"#### " + ib.name + "（" + ib.code + "）",
                                   "| 日期 | 开盘 | 最高 | 最低 | 收盘 | 成交量 | 涨跌幅 |",
                                   "| :--- | ---: | ---: | ---: | ---: | ---: | ---: |"};
    std::size_t begin = t.size() > static_cast<std::size_t>(days) ? t.size() - days : 0;
    for (std::size_t i = begin; i < t.size(); ++i) {
      lines.push_back("| " + iso_date(t.dates()[i]) + " | " + num(column_at(t, "open", i)) + " | " +
                      num(column_at(t, "high", i)) + " | " + num(column_at(t, "low", i)) + " | " +
                      num(close[i]) + " | " + num(volume[i], 0) + " | " +
                      signed_pct(change_pct(close, i)) + " |");
      ++rows;
    }
    sections.push_back(join_lines(lines));
  }
  auto& a = meta.GetAllocator();
  json_add(meta, "days", days, a);
  json_add(meta, "rows", rows, a);
  add_missing(meta, all);
  std::string text;
  for (std::size_t i = 0; i < sections.size(); ++i) text += (i ? "\n\n" : "") + sections[i];
  return {std::move(text), std::move(meta)};
}

MarketBlock format_market_indicator_block(const std::string& market, int indicator_days,
                                          const std::optional<std::string>& analysis_time) {
  if (indicator_days <= 0) {
    throw std::invalid_argument("indicator_days must be positive: " +
                                std::to_string(indicator_days));
  }
  const Day as_of = resolve_day(analysis_time);
  auto all = load_bars(market, as_of, kIndicatorHistoryDays);
  auto meta = base_meta(market, as_of);
  if (!newest_bar(all)) return skipped(std::move(meta), "no_data");

  std::vector<std::string> sections;
  for (auto& ib : all) {
    if (ib.bars.empty()) continue;
    auto& t = ib.bars;
    candlex::technical::set_ema(t);
    candlex::technical::set_macd(t);
    candlex::technical::set_rsi(t, 12);
    candlex::technical::set_boll(t);
    candlex::technical::set_volume(t);
    std::vector<std::string> lines{
        "#### " + ib.name + "（" + ib.code + "）",
        "| 日期 | 收盘 | EMA5 | EMA20 | EMA60 | MACD | MACD信号 | MACD柱 | RSI12 | 布林上轨 | "
        "布林中轨 | 布林下轨 | 量比 |",
        "| :--- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | "
        "---: |"};
    std::size_t begin =
        t.size() > static_cast<std::size_t>(indicator_days) ? t.size() - indicator_days : 0;
    for (std::size_t i = begin; i < t.size(); ++i) {
      lines.push_back(
          "| " + iso_date(t.dates()[i]) + " | " + num(t.col("close")[i]) + " | " +
          num(column_at(t, "EMA_5", i)) + " | " + num(column_at(t, "EMA_20", i)) + " | " +
          num(column_at(t, "EMA_60", i)) + " | " + num(column_at(t, "MACD", i), 3) + " | " +
          num(column_at(t, "MACD_signal", i), 3) + " | " + num(column_at(t, "MACD_hist", i), 3) +
          " | " + num(column_at(t, "RSI", i)) + " | " + num(column_at(t, "upper_band", i)) + " | " +
          num(column_at(t, "middle_band", i)) + " | " + num(column_at(t, "lower_band", i)) + " | " +
          num(column_at(t, "Volume_Ratio", i)) + " |");
    }
    sections.push_back(join_lines(lines));
  }
  auto& a = meta.GetAllocator();
  json_add(meta, "indicator_days", indicator_days, a);
  add_missing(meta, all);
  std::string text;
  for (std::size_t i = 0; i < sections.size(); ++i) text += (i ? "\n\n" : "") + sections[i];
  return {std::move(text), std::move(meta)};
}

}  // namespace zorvane::utils
