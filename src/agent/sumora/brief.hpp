#pragma once
// The market brief pipeline: one short Markdown brief per (market, day), written once by the
// model from deterministic facts and served from memory or disk afterwards.
//
// All functions block their caller and are safe to call from many threads at once. Concurrent
// non-forced callers for one (market, day) cost one model call: generation holds the key's
// lock, and a caller that waited for it re-checks memory and disk first.

#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include <rapidjson/document.h>

#include "agent/sumora/core_index_table.hpp"
#include "agent/sumora/meta_record.hpp"
#include "zorvane/agent/client_builder.hpp"
#include "zorvane/report/report_storage.hpp"

namespace sumora {

// A raw data block: Markdown text (empty when there is none) and its meta object.
using BlockResult = std::pair<std::string, rapidjson::Document>;

// The outside services the pipeline calls. default_brief_services() binds the real ones; tests
// replace single members.
struct BriefServices {
  std::function<BlockResult(const std::string& market, const std::string& analysis_time)>
      environment_block;
  std::function<BlockResult(const std::string& market, int days, const std::string& analysis_time)>
      history_block;
  std::function<BlockResult(const std::string& market, int indicator_days,
                            const std::string& analysis_time)>
      indicator_block;
  std::function<CoreIndexTable(const std::string& market_type, const std::string& analysis_date)>
      core_index_table;
  // The sentiment block text ("" when there is none); `refresh` recomputes the snapshots
  // instead of reading them from the library's cache (a forced regeneration).
  std::function<std::string(const std::string& market_type, const std::string& analysis_date,
                            bool refresh)>
      sentiment_block;
  std::function<zorvane::agent::BuiltClient()> build_client;
  std::function<void(const zorvane::report::SumoraReport& report)> save_sumora;
};

const BriefServices& default_brief_services();

struct MarketBlocks {
  std::string env;         // index snapshot (never empty)
  std::string history;     // 60-day OHLCV (never empty)
  std::string indicators;  // 60-day indicators (may be empty)
};

// (brief text, client type, model name).
using GeneratedBrief = std::tuple<std::string, std::string, std::string>;

// The brief of `market_type` ("A", "US", "HK", "ETF", any case; ETF shares A's brief) on
// `analysis_date` ("YYYY-MM-DD" or "YYYY-MM-DD_HHMM"). An absent market type gives "".
// `force_regenerate` skips both cache levels, deletes the day's brief file and calls the model
// again; `ensure_mq` also hands cache hits to report storage (fresh briefs always are).
// Throws std::runtime_error with a "[大盘 AI 简报] " message when the brief cannot be made.
std::string get_market_ai_brief(const std::optional<std::string>& market_type,
                                const std::string& analysis_date, bool force_regenerate = false,
                                bool ensure_mq = false);
std::string get_market_ai_brief(const std::optional<std::string>& market_type,
                                const std::string& analysis_date, bool force_regenerate,
                                bool ensure_mq, const BriefServices& services);

// The three raw blocks, fetched in parallel. Throws when the snapshot or the history is empty.
MarketBlocks _fetch_market_blocks(const std::string& market_type, const std::string& analysis_date);
MarketBlocks _fetch_market_blocks(const std::string& market_type, const std::string& analysis_date,
                                  const BriefServices& services);

// Fills the user prompt and makes the one model call; reasoning blocks are removed from the
// reply. The client is closed afterwards whatever happened. `refresh` (a forced regeneration)
// recomputes the sentiment snapshots rather than reading their cache.
GeneratedBrief _generate_brief_via_llm(const std::string& market_type,
                                       const std::string& analysis_date,
                                       const std::string& env_block, const std::string& hist_block,
                                       const std::string& ind_block);
GeneratedBrief _generate_brief_via_llm(const std::string& market_type,
                                       const std::string& analysis_date,
                                       const std::string& env_block, const std::string& hist_block,
                                       const std::string& ind_block, const BriefServices& services,
                                       bool refresh = false);

// The computed core index table (with its facts and verdict) and the filled user prompt.
struct BriefPrompt {
  CoreIndexTable core;
  std::string user_prompt;
};

// What _generate_brief_via_llm sends, and what it is computed from.
BriefPrompt _prepare_brief_prompt(const std::string& market_type, const std::string& analysis_date,
                                  const std::string& env_block, const std::string& hist_block,
                                  const std::string& ind_block, const BriefServices& services,
                                  bool refresh = false);

// One model call with the brief system message and `prompt`; the reply without reasoning
// blocks. Fails as _generate_brief_via_llm does.
GeneratedBrief _ask_model_for_brief(const std::string& market_type,
                                    const std::string& analysis_date, const std::string& prompt,
                                    const BriefServices& services);

// The user prompt for the given inputs (what _generate_brief_via_llm sends).
std::string _build_user_prompt(const std::string& market_type, const std::string& analysis_date,
                               const CoreIndexTable& core, const std::string& env_block,
                               const std::string& hist_block, const std::string& ind_block,
                               const std::string& sentiment_block);

// `content` with every "<think>...</think>" span removed (shortest spans, across lines) and
// surrounding white space trimmed. An unclosed "<think>" stays.
std::string _strip_reasoning(std::string_view content);

struct BriefGate;

// Hands a brief to report storage for message-queue delivery, with the gate's status and
// results when the brief was just generated (a cached brief carries the status its meta
// record marks, if any). Never throws: a failure is logged as a warning.
void _push_to_mq(const std::string& market_type, const std::string& analysis_date,
                 const std::string& content, const MetaRecord* meta, const BriefServices& services,
                 const BriefGate* gate = nullptr);

}  // namespace sumora
