// The correction request and the replacement of a brief's headline, strategy and table.

#include "agent/gate/brief_correction.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "agent/gate/brief_fixture.hpp"

namespace gate {
namespace {

using gate_test::facts;
using gate_test::kBrief;
using gate_test::kTable;
using gate_test::with;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(BriefCorrection, RequestNamesEachCriticalFailure) {
  auto wrong = with(with(kBrief, "偏空 / 中", "偏多 / 中"), "-0.52% | 0.85", "-0.25% | 0.85");
  auto request = correction_request(run_brief_checks(wrong, facts()));
  EXPECT_THAT(request, HasSubstr("<gate_correction>"));
  EXPECT_THAT(request, HasSubstr("- 标题研判：应为「偏空 / 中」，实际「偏多 / 中」\n"));
  EXPECT_THAT(request, HasSubstr("第 3 行（上证指数）第 2 列：应为「-0.52%」，实际「-0.25%」"));
  // Warnings alone ask for nothing.
  EXPECT_EQ(correction_request(run_brief_checks(with(kBrief, "**▋ 情绪温度计**\n", ""), facts())),
            "");
}

TEST(BriefCorrection, ComputedValuesReplaceTheModelsAndTheRestStays) {
  auto wrong = with(with(with(kBrief, "偏空 / 中", "偏多 / 强"), "**空仓等待**", "**趋势跟随**"),
                    "| **科创50** | -0.30%", "| **科创50** | +3.00%");
  auto fixed = apply_computed_verdict(wrong, facts());
  EXPECT_EQ(fixed, kBrief);
}

TEST(BriefCorrection, MissingPartsAreInsertedWhereTheLayoutPutsThem) {
  const std::string bare =
      "市场整体偏弱，建议观望。\n\n---\n\n**▋ 风险提示**\n⚠️ "
      "**风险**：注意回撤。";
  auto fixed = apply_computed_verdict(bare, facts());
  EXPECT_EQ(fixed.rfind("**▋ A 股大盘市场研判 · 偏空 / 中**\n市场整体偏弱，建议观望。\n"
                        "- **策略指引**：**空仓等待**\n\n---\n\n**▋ 核心指数动态**\n" +
                            kTable + "\n\n---\n\n**▋ 风险提示**",
                        0),
            0u)
      << fixed;
  for (const auto& r : run_brief_checks(fixed, facts())) {
    if (r.severity == Severity::critical) {
      EXPECT_TRUE(r.passed) << r.name << ": " << r.detail;
    }
  }
  // A section heading without its table gets the table under it.
  auto no_table = apply_computed_verdict(with(kBrief, kTable + "\n", ""), facts());
  EXPECT_EQ(no_table, kBrief);
  EXPECT_THAT(apply_computed_verdict(kBrief, facts()), Not(HasSubstr("偏多")));
}

}  // namespace
}  // namespace gate
