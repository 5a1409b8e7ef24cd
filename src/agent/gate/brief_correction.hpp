#pragma once
// What the gate does with a brief that failed a critical check: the short correction request
// sent with the second model call, and the replacement of the model's headline, strategy line
// and table by the computed ones when the second reply fails too.

#include <string>
#include <string_view>

#include "agent/gate/brief_checks.hpp"

namespace gate {

// A tagged block to append to the brief prompt, naming each failed critical check's expected
// and found value ("" when none failed).
std::string correction_request(const CheckResults& results);

// `brief` with the computed headline ("**▋ <market>市场研判 · <bias> / <strength>**"), strategy
// line ("- **策略指引**：**<strategy>**") and core index table in place of the model's; each
// is inserted where the layout puts it when the brief lacks it. The rest is kept as written.
// The result passes every critical brief check.
std::string apply_computed_verdict(std::string_view brief, const BriefFacts& facts);

}  // namespace gate
