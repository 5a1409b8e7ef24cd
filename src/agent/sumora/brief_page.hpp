#pragma once
// The HTML page of a stored brief: the computed core index table and a small chart per core
// index beside the brief's text.

#include <filesystem>

#include "agent/sumora/core_index_table.hpp"
#include "zorvane/report/report_records.hpp"

namespace sumora {

// Writes <root>/<date>/brief-<market>.html and rebuilds the index; returns the page's path.
// A page already made from the same brief (a cached brief handed over again) is kept as is.
// An index whose bars cannot be had is left out of the charts (its table row says why).
// Throws what the page writer throws (bad date or market, file errors).
std::filesystem::path _write_brief_page(
    const std::filesystem::path& root, const zorvane::report::SumoraReport& brief,
    const CoreIndexSource& source = default_core_index_source());

}  // namespace sumora
