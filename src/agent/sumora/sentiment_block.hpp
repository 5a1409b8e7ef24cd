#pragma once
// The sentiment thermometer section of the market brief prompt (A shares and ETFs only).
//
// The thermometer itself lives in the pattern and sentiment library (morvik); this module asks
// it for a daily ("D") and a weekly ("W") snapshot, and renders both as a fixed Markdown block
// that the model copies. The block is an enrichment: any failure yields the empty block and
// one warning line, never an error for the brief.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <rapidjson/document.h>

namespace sumora {

// What the brief pipeline learns about the block besides its text.
//   produced:            injected = true,  freqs = {"D", "W"}, no skip_reason
//   unsupported market:  injected = false, skip_reason = "unsupported_market_type"
//   any failure:         injected = false, skip_reason = first 200 characters of the error
struct SentimentMeta {
  bool injected = false;
  std::vector<std::string> freqs;
  std::optional<std::string> skip_reason;

  bool operator==(const SentimentMeta&) const = default;
};

// The three library calls the block depends on, bound when the block is computed so that a
// library that cannot be reached (or fails) only degrades the block.
struct SentimentLibrary {
  // Snapshot of one horizon ("D" or "W") for the ETF universe file at `universe_path`, as of
  // `date` ("YYYY-MM-DD", or nullopt for the latest). Caching is on.
  std::function<rapidjson::Document(const std::string& freq, const std::string& universe_path,
                                    const std::optional<std::string>& date)>
      snapshot;
  // Zone description of a temperature: zone title, tactical guidance, detail.
  std::function<std::vector<std::string>(double temperature)> zone_desc;
};

// Binds the library's SentimentConfig / compute_sentiment_snapshot / get_sentiment_zone_desc.
// `refresh` makes the snapshots recompute (and re-cache) instead of answering from the cache.
SentimentLibrary _load_sentiment_library(bool refresh = false);

namespace detail {

using LabelMap = std::map<std::string, std::string, std::less<>>;

// state code -> zone label (the bounds are text only; the library decides the state)
extern const LabelMap SENTIMENT_STATE_LABELS;
// direction code -> label
extern const LabelMap SENTIMENT_DIRECTION_LABELS;
// factor code -> label
extern const LabelMap SENTIMENT_FACTOR_LABELS;

// Longest skip_reason kept in the metadata, in characters.
inline constexpr std::size_t SKIP_REASON_MAX_CHARS = 200;

}  // namespace detail

// One of five fixed sentences reading a warming/cooling/flat direction in its temperature band:
// warming <= 35 low band, 35 < t < 65 middle band, otherwise (>= 65 or NaN) high band;
// cooling any; anything else (exact, case-sensitive comparison) flat.
std::string _sentiment_direction_meaning(double temperature, std::string_view direction);

// The block for `market_type` ("A", "ETF", any case; others are unsupported) on
// `analysis_date` ("YYYY-MM-DD" or "YYYY-MM-DD_HHMM"), with its metadata. Blocking; never
// throws for a failure of the computation.
std::pair<std::string, SentimentMeta> _format_sentiment_block(const std::string& market_type,
                                                              const std::string& analysis_date);

// Same, with the library supplied by the caller (tests, alternative back-ends). A library
// whose functions are empty counts as missing.
std::pair<std::string, SentimentMeta> _format_sentiment_block(
    const std::string& market_type, const std::string& analysis_date,
    const std::function<SentimentLibrary()>& load_library);

}  // namespace sumora
