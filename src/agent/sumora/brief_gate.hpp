#pragma once
// The trust gate between the brief model and everyone who reads the brief: the reply is checked
// against the verdict, table and facts computed for the same market and day. In enforce mode a
// reply failing a critical check is asked for once more with a correction naming what
// differed; when the second reply fails too, the computed headline, strategy line and table
// replace the model's and the brief is marked corrected. In report mode there is one call and
// the results are only logged and stored.

#include <string>

#include "agent/gate/brief_checks.hpp"
#include "agent/gate/gate_mode.hpp"
#include "agent/sumora/brief.hpp"
#include "agent/sumora/meta_record.hpp"

namespace sumora {

// What the gate decided for a freshly generated brief.
struct BriefGate {
  std::string status;          // "valid" | "corrected" | "failed" (report mode only)
  gate::CheckResults results;  // of the reply the status is about (the second one after a retry)
};

struct GatedBrief {
  std::string content;
  std::string client_type;
  std::string model;
  BriefGate gate;
};

// The gate's view of the computed inputs of one brief (internal market type A, HK or US).
gate::BriefFacts brief_facts(const std::string& market_type, const CoreIndexTable& core);

// Prompt, model call(s) and checks as described above (`refresh` as for
// _generate_brief_via_llm). A failing retry call is logged and the
// first reply is corrected instead; the first call fails as _generate_brief_via_llm does.
GatedBrief _generate_gated_brief(const std::string& market_type, const std::string& analysis_date,
                                 const MarketBlocks& blocks, const BriefServices& services,
                                 gate::GateMode mode, bool refresh = false);

// The meta record kept with a brief: the client's, plus "gate_status": "corrected" for a
// corrected brief (so that it stays marked as such when served from the cache).
MetaRecord gated_meta(const GatedBrief& brief);

}  // namespace sumora
