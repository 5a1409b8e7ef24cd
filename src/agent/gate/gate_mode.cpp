#include "agent/gate/gate_mode.hpp"

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "zorvane/utils/text.hpp"

namespace gate {

GateMode parse_gate_mode(std::string_view value) {
  const auto v = zorvane::utils::to_lower(zorvane::utils::trim(value));
  if (v.empty() || v == "enforce") return GateMode::enforce;
  if (v == "report") return GateMode::report;
  throw std::invalid_argument(std::string(kGateModeVariable) + " 取值无效: " +
                              zorvane::utils::quoted_text(value) + "（可选 enforce、report）");
}

GateMode gate_mode_from_env() {
  const char* v = std::getenv(std::string(kGateModeVariable).c_str());
  return parse_gate_mode(v == nullptr ? "" : v);
}

std::string_view gate_mode_text(GateMode mode) {
  return mode == GateMode::enforce ? "enforce" : "report";
}

}  // namespace gate
