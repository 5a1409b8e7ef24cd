#pragma once
// Deterministic writers behind the offline model client. Each looks at a prompt and either
// answers it (the prompt is of its kind) or returns nullopt (not its prompt). They copy the
// authoritative values found in the prompt and never touch the network.

#include <optional>
#include <string>
#include <string_view>

namespace zorvane::agent {

// The market brief (defined in offline_brief.cpp).
std::optional<std::string> offline_brief_reply(std::string_view system, std::string_view user);

// The per-stock analysis report (offline_analysis.cpp) and its summary (offline_summary.cpp).
std::optional<std::string> offline_analysis_reply(std::string_view system, std::string_view user);
std::optional<std::string> offline_summary_reply(std::string_view system, std::string_view user);

}  // namespace zorvane::agent
