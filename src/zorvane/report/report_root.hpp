#pragma once
// Where reports are kept.

#include <filesystem>

namespace zorvane::report {

// REPORT_DIR, else CANDLEX_CENTER/report, else <project root>/report. Values are trimmed, a
// blank value counts as unset, "~" is expanded, and a relative value is taken under the
// project root. The result is absolute and lexically normal; it need not exist yet.
std::filesystem::path report_root();

}  // namespace zorvane::report
