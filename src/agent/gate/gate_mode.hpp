#pragma once
// How the gate acts on market briefs, from ZORVANE_GATE.
//
//   enforce (default)  a brief failing a critical check is asked for once more; if the second
//                      reply fails too, the computed headline, strategy line and table
//                      replace the model's and the brief is marked corrected
//   report             one model call; the results are logged and stored, the brief kept
//
// Decisions get their status (valid / rejected / none) in both modes.

#include <string_view>

namespace gate {

enum class GateMode { enforce, report };

inline constexpr std::string_view kGateModeVariable = "ZORVANE_GATE";

// The mode a setting names: "" -> enforce; "enforce" or "report" (surrounding white space and
// case ignored). Throws std::invalid_argument naming ZORVANE_GATE and the value otherwise.
GateMode parse_gate_mode(std::string_view value);

// parse_gate_mode of the environment variable (unset -> enforce).
GateMode gate_mode_from_env();

std::string_view gate_mode_text(GateMode mode);

}  // namespace gate
