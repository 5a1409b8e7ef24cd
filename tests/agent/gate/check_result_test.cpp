// Statuses, the stored JSON form, log lines and the ZORVANE_GATE setting.

#include "agent/gate/check_result.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "agent/gate/gate_mode.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace gate {
namespace {

using ::testing::ElementsAre;

const CheckResults kMixed{
    {"decision.stock_code", false, Severity::warning, "stock_code：应为「a」，实际「b」"},
    {"decision.current_price", true, Severity::critical, "current_price：1.000"},
    {"decision.min_rrr", false, Severity::critical, "rrr \"低\""},
};

TEST(CheckResults, StatusFollowsCriticalFailuresOnly) {
  EXPECT_EQ(decision_status(nullptr), "none");
  EXPECT_EQ(decision_status(&kMixed), "rejected");
  EXPECT_EQ(first_critical_failure(kMixed)->name, "decision.min_rrr");
  CheckResults warnings_only(kMixed.begin(), kMixed.begin() + 2);
  EXPECT_EQ(decision_status(&warnings_only), "valid");
  EXPECT_EQ(first_critical_failure(warnings_only), nullptr);
}

TEST(CheckResults, JsonAndOneLogLinePerFailure) {
  EXPECT_EQ(results_json(kMixed),
            R"([{"name": "decision.stock_code", "passed": false, "severity": "warning", )"
            R"("detail": "stock_code：应为「a」，实际「b」"}, {"name": "decision.current_price", )"
            R"("passed": true, "severity": "critical", "detail": "current_price：1.000"}, )"
            R"({"name": "decision.min_rrr", "passed": false, "severity": "critical", )"
            R"("detail": "rrr \"低\""}])");
  zorvane::utils::LogCapture logs;
  log_failures(kMixed, "sh.600519");
  EXPECT_THAT(logs.lines(),
              ElementsAre("warning|[可信校验] 未通过 | 对象=sh.600519 检查=decision.stock_code "
                          "级别=warning 详情=stock_code：应为「a」，实际「b」",
                          "warning|[可信校验] 未通过 | 对象=sh.600519 检查=decision.min_rrr "
                          "级别=critical 详情=rrr \"低\""));
}

TEST(GateMode, EnforceByDefaultReportOnRequestAnythingElseNamed) {
  EXPECT_EQ(parse_gate_mode(""), GateMode::enforce);
  EXPECT_EQ(parse_gate_mode(" Enforce "), GateMode::enforce);
  EXPECT_EQ(parse_gate_mode("REPORT"), GateMode::report);
  try {
    parse_gate_mode("off");
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "ZORVANE_GATE 取值无效: 'off'（可选 enforce、report）");
  }
}

}  // namespace
}  // namespace gate
