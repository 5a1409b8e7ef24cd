#pragma once
// The three raw market data blocks of the market brief, built from the market-data source for
// a market's indices as of an analysis date: an index snapshot, a 60-day OHLCV history and a
// 60-day indicator table. Each returns (Markdown text, meta object); an empty text means the
// block has nothing to show and the meta says why ("skip_reason").
//
// `analysis_time` is "YYYY-MM-DD" or "YYYY-MM-DD_HHMM" (cut at "_"); nullopt means today.
// A text that is not a date throws std::invalid_argument naming it. Errors of the data source
// (a malformed data file) propagate. Safe to call from several threads at once.

#include <optional>
#include <string>
#include <utility>

#include <rapidjson/document.h>

namespace zorvane::utils {

using MarketBlock = std::pair<std::string, rapidjson::Document>;

// A newest bar older than this many calendar days before the analysis date is stale.
inline constexpr int kMaxSnapshotAgeDays = 7;

// Last bar on or before the date of each index: close, change, open, high, low, amplitude,
// volume and volume ratio. Empty with "skip_reason" "no_data" when no index has such a bar,
// "stale_data" when the newest one is more than kMaxSnapshotAgeDays days older than the date.
MarketBlock format_market_environment_block(const std::string& market,
                                            const std::optional<std::string>& analysis_time = {});

// The last `days` daily bars of each index (date, OHLC, volume, change). Empty with
// "skip_reason" "no_data" when no index has bars on or before the date.
MarketBlock format_market_history_block(const std::string& market, int days = 60,
                                        const std::optional<std::string>& analysis_time = {});

// EMA 5/20/60, MACD, RSI 12, Bollinger bands and volume ratio of each index over its last
// `indicator_days` bars, computed over the whole fetched history so the values are warmed up.
// Empty with "skip_reason" "no_data" when no index has bars.
MarketBlock format_market_indicator_block(const std::string& market, int indicator_days = 60,
                                          const std::optional<std::string>& analysis_time = {});

}  // namespace zorvane::utils
