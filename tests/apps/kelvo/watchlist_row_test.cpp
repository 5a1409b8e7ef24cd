// A watchlist row from a finished analysis: a wait's zero levels mean none, in the row, the
// table and the JSON alike.

#include <gtest/gtest.h>

#include "apps/kelvo/watchlist.hpp"
#include "apps/kelvo/watchlist_summary.hpp"
#include "zorvane/utils/json.hpp"

namespace {

TEST(WatchlistRow, ZeroLevelsOfAWaitAreNone) {
  kelvo::StockOutcome outcome;
  outcome.name = "示例酒业";
  outcome.decision_json =
      R"({"action": "观望等待", "confidence": "低", "entry_price_low": 112.83,
          "entry_price_high": 114.09, "stop_loss": 0.0, "target_1": 0.0})";
  const auto row = kelvo::row_from_outcome({"sh.600519", ""}, "2024-05-10", outcome);
  EXPECT_EQ(row.status, "ok");
  EXPECT_EQ(row.entry_price_low, 112.83);
  EXPECT_FALSE(row.stop_loss.has_value());
  EXPECT_FALSE(row.target_1.has_value());

  const auto text = kelvo::summary_text({row}, "2024-05-10");
  EXPECT_EQ(text.find("0.00"), std::string::npos) << text;
  const auto doc = zorvane::utils::parse_json(kelvo::summary_json({row}, "2024-05-10"));
  EXPECT_TRUE(doc["rows"][0]["stop_loss"].IsNull());
  EXPECT_TRUE(doc["rows"][0]["target_1"].IsNull());
  EXPECT_DOUBLE_EQ(doc["rows"][0]["entry_price_high"].GetDouble(), 114.09);
}

}  // namespace
