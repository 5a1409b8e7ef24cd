// Decision extraction on arbitrary replies: no crash, no sanitizer report, and the invariants
// that callers rely on hold for whatever comes back.
// fuzz-deps: schemas
// fuzz-runs: 10000000

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agent/schemas/decision.hpp"
#include "agent/schemas/extraction.hpp"
#include "agent/schemas/stock_decision.hpp"
#include "agent/schemas/values.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

void check_decision(const rapidjson::Document& decision) {
  check(decision.IsObject(), "decision is an object");
  check(schemas::detail::find_field(decision, "action") != nullptr, "decision has action");
  check(schemas::detail::find_field(decision, "direction") != nullptr, "decision has direction");
  check(schemas::validate_decision_enums(decision), "accepted decision passes the enum check");
  check(schemas::validate_decision_price_chain(decision), "accepted decision passes the chain");
  for (std::string_view key : schemas::DECISION_PRICE_KEYS) {
    const rapidjson::Value* v = schemas::detail::find_field(decision, key);
    if (!v || !v->IsNumber()) continue;
    check(v->IsDouble(), "numeric price is a floating number");
    double d = v->GetDouble();
    check(std::isnan(d) || zorvane::utils::round_to(d, 3) == d, "price is rounded");
  }
  // Keys are unique after extraction.
  for (auto a = decision.MemberBegin(); a != decision.MemberEnd(); ++a)
    for (auto b = a + 1; b != decision.MemberEnd(); ++b)
      check(!(a->name == b->name), "keys are unique");

  // The record either builds or fails with its own error; a built record survives a round trip.
  try {
    auto record = schemas::StockDecision::from_json(decision);
    auto first = zorvane::utils::safe_json_dumps(record.to_json());
    auto again = schemas::StockDecision::from_json(record.to_json());
    check(zorvane::utils::safe_json_dumps(again.to_json()) == first, "record round trip");
  } catch (const schemas::ValidationError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Lines are still formatted (the logger runs at debug); only the console is kept quiet.
  zorvane::utils::setup_logging("ERROR");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  if (auto block = schemas::scan_json_block(text)) {
    check(block->size() >= 2 && block->front() == '{' && block->back() == '}', "block is braced");
    check(block->find("\"action\"") != std::string::npos, "block mentions action");
    check(text.find(*block) != std::string_view::npos, "block comes from the text");
  }
  if (auto fence = schemas::detail::find_json_fence(text)) {
    check(fence->data() >= text.data() && fence->data() + fence->size() <= text.data() + size,
          "fence content lies inside the text");
  }
  const std::string cleaned = schemas::detail::keep_printable(text);
  check(schemas::detail::keep_printable(cleaned) == cleaned, "cleaning is idempotent");
  check(cleaned.size() <= size, "cleaning only removes");

  if (auto decision = schemas::extract_decision_json(text)) check_decision(*decision);
  return 0;
}
