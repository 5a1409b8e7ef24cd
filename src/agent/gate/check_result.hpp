#pragma once
// The record every trust check produces, and what a list of them adds up to: the status of a
// decision, the first failure, the JSON form stored with a report and one log line per
// failed check.
//
//   auto results = gate::run_decision_checks(decision, report_text, facts);
//   auto status = gate::decision_status(&results);  // "valid" or "rejected"
//   gate::log_failures(results, "sh.600519");

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gate {

enum class Severity { critical, warning };

// "critical" / "warning".
std::string_view severity_text(Severity severity);

struct CheckResult {
  std::string name;  // "brief.headline", "decision.current_price", ...
  bool passed = false;
  Severity severity = Severity::critical;
  std::string detail;  // names the expected and the found value

  bool operator==(const CheckResult&) const = default;
};

using CheckResults = std::vector<CheckResult>;

// True when no critical check failed.
bool critical_passed(const CheckResults& results);

// The first failed critical check, or nullptr.
const CheckResult* first_critical_failure(const CheckResults& results);

// Decision status for storage and delivery: "none" without a decision (nullptr), "rejected"
// when a critical check failed, else "valid".
std::string decision_status(const CheckResults* results);

// [{"name", "passed", "severity", "detail"}, ...] as compact JSON text.
std::string results_json(const CheckResults& results);

// One warning line per failed check: "[可信校验] 未通过 | 对象=%s 检查=%s 级别=%s 详情=%s".
void log_failures(const CheckResults& results, std::string_view subject);

}  // namespace gate
