#include "agent/gate/check_result.hpp"

#include <algorithm>

#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"

namespace gate {

std::string_view severity_text(Severity severity) {
  return severity == Severity::critical ? "critical" : "warning";
}

bool critical_passed(const CheckResults& results) {
  return first_critical_failure(results) == nullptr;
}

const CheckResult* first_critical_failure(const CheckResults& results) {
  auto it = std::find_if(results.begin(), results.end(), [](const CheckResult& r) {
    return !r.passed && r.severity == Severity::critical;
  });
  return it == results.end() ? nullptr : &*it;
}

std::string decision_status(const CheckResults* results) {
  if (results == nullptr) return "none";
  return critical_passed(*results) ? "valid" : "rejected";
}

std::string results_json(const CheckResults& results) {
  using zorvane::utils::json_add;
  rapidjson::Document doc(rapidjson::kArrayType);
  auto& a = doc.GetAllocator();
  for (const auto& r : results) {
    rapidjson::Value item(rapidjson::kObjectType);
    json_add(item, "name", std::string_view(r.name), a);
    json_add(item, "passed", r.passed, a);
    json_add(item, "severity", severity_text(r.severity), a);
    json_add(item, "detail", std::string_view(r.detail), a);
    doc.PushBack(std::move(item), a);
  }
  return zorvane::utils::safe_json_dumps(doc);
}

void log_failures(const CheckResults& results, std::string_view subject) {
  for (const auto& r : results) {
    if (r.passed) continue;
    zorvane::utils::logger.warning("[可信校验] 未通过 | 对象=%s 检查=%s 级别=%s 详情=%s",
                                   std::string(subject), r.name,
                                   std::string(severity_text(r.severity)), r.detail);
  }
}

}  // namespace gate
