#include "agent/schemas/decision.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "agent/schemas/values.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace {

using schemas::normalize_decision_price_fields;
using schemas::validate_decision_enums;
using schemas::validate_decision_price_chain;
using ::testing::ElementsAre;
using zorvane::utils::LogCapture;
using zorvane::utils::parse_json;

std::vector<std::string> warnings(const LogCapture& cap) {
  return cap.matching("warning|决策");
}

// ---- enum check ---------------------------------------------------------------------------

TEST(DecisionEnums, AcceptsEveryMemberAndAbsentOrNullFields) {
  for (const auto& [field, set] : schemas::DECISION_ENUM_VALID_MAP) {
    for (std::string_view member : set) {
      auto doc = parse_json("{}");
      zorvane::utils::json_add(doc, field, member, doc.GetAllocator());
      EXPECT_TRUE(validate_decision_enums(doc)) << field << "=" << member;
    }
  }
  LogCapture cap;
  EXPECT_TRUE(validate_decision_enums(parse_json(R"({"action": null, "stock_code": "x"})")));
  EXPECT_TRUE(warnings(cap).empty());
}

TEST(DecisionEnums, RejectsValueOutsideItsSetAndLogsFieldValueAndSet) {
  LogCapture cap;
  EXPECT_FALSE(
      validate_decision_enums(parse_json(R"({"direction": "上涨", "action": "观望等待"})")));
  EXPECT_THAT(warnings(cap), ElementsAre("warning|决策枚举非法 | 字段=direction, 当前值='上涨', "
                                         "合法集合={'看多', '看空', '中性'}"));
}

TEST(DecisionEnums, StopsAtFirstBadFieldInMapOrderNotDocumentOrder) {
  LogCapture cap;
  // confidence comes first in the document, but action comes first in the map's order.
  EXPECT_FALSE(validate_decision_enums(
      parse_json(R"({"confidence": "很高", "action": "全仓买入", "direction": "看多"})")));
  auto lines = warnings(cap);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], ::testing::HasSubstr("字段=action, 当前值='全仓买入'"));
}

TEST(DecisionEnums, ListObjectNumberAndBoolAreFailedChecksNotErrors) {
  struct Case {
    const char* json;
    const char* shown;
  };
  const Case cases[] = {
      {R"({"holder_action": ["继续持有"]})", "字段=holder_action, 当前值=['继续持有'], 合法集合="},
      {R"({"risk_level": {"level": "高"}})", "字段=risk_level, 当前值={'level': '高'}, 合法集合="},
      {R"({"confidence": 1})", "字段=confidence, 当前值=1, 合法集合="},
      {R"({"market_sentiment": true})", "字段=market_sentiment, 当前值=True, 合法集合="},
      {R"({"strategy_mode": "it's"})", R"(字段=strategy_mode, 当前值="it's", 合法集合=)"},
  };
  for (const auto& c : cases) {
    LogCapture cap;
    bool ok = true;
    EXPECT_NO_THROW(ok = validate_decision_enums(parse_json(c.json))) << c.json;
    EXPECT_FALSE(ok) << c.json;
    auto lines = warnings(cap);
    ASSERT_EQ(lines.size(), 1u) << c.json;
    EXPECT_THAT(lines[0], ::testing::HasSubstr(c.shown));
  }
}

TEST(DecisionChecks, RejectNonObjectInput) {
  auto arr = parse_json("[1]");
  EXPECT_THROW(validate_decision_enums(arr), std::invalid_argument);
  EXPECT_THROW(normalize_decision_price_fields(arr), std::invalid_argument);
  EXPECT_THROW(validate_decision_price_chain(arr), std::invalid_argument);
}

// ---- price normalisation ------------------------------------------------------------------

double number_of(const rapidjson::Value& doc, const char* key) {
  const auto* v = schemas::detail::find_field(doc, key);
  EXPECT_TRUE(v && v->IsDouble()) << key;
  return v && v->IsDouble() ? v->GetDouble() : std::nan("");
}

TEST(DecisionNormalize, RoundsNumbersToThreeDecimalsOfTheExactBinaryValue) {
  auto doc = parse_json(R"({"current_price": 10.12345, "entry_price_low": 0.0625,
      "entry_price_high": 0.1875, "stop_loss": 1.0005, "target_1": 2.675, "target_2": 12,
      "support_price": -3.14159, "rrr": 1e-4})");
  normalize_decision_price_fields(doc);
  EXPECT_EQ(number_of(doc, "current_price"), 10.123);
  EXPECT_EQ(number_of(doc, "entry_price_low"), 0.062);   // exact tie, to even
  EXPECT_EQ(number_of(doc, "entry_price_high"), 0.188);  // exact tie, to even
  EXPECT_EQ(number_of(doc, "stop_loss"), 1.0);           // stored just below the half
  EXPECT_EQ(number_of(doc, "target_1"), 2.675);
  EXPECT_EQ(number_of(doc, "target_2"), 12.0);  // integers become floating numbers
  EXPECT_EQ(number_of(doc, "support_price"), -3.142);
  EXPECT_EQ(number_of(doc, "rrr"), 0.0);
}

TEST(DecisionNormalize, ConvertsNumericTextAndLeavesEverythingElse) {
  auto doc = parse_json(R"({"current_price": " 12.3456 ", "entry_price_low": "约10元",
      "entry_price_high": true, "stop_loss": "  ", "target_1": [1.23456], "target_2": null,
      "rrr": "1_000.5", "rrr_max": NaN, "position_pct": 12.3456})");
  normalize_decision_price_fields(doc);
  EXPECT_EQ(number_of(doc, "current_price"), 12.346);
  EXPECT_STREQ(doc["entry_price_low"].GetString(), "约10元");
  EXPECT_TRUE(doc["entry_price_high"].IsTrue());
  EXPECT_STREQ(doc["stop_loss"].GetString(), "  ");
  EXPECT_TRUE(doc["target_1"].IsArray());
  EXPECT_EQ(doc["target_1"][0].GetDouble(), 1.23456);
  EXPECT_TRUE(doc["target_2"].IsNull());
  EXPECT_EQ(number_of(doc, "rrr"), 1000.5);
  EXPECT_TRUE(std::isnan(number_of(doc, "rrr_max")));
  EXPECT_EQ(doc["position_pct"].GetDouble(), 12.3456);  // not a price field
  EXPECT_FALSE(doc.HasMember("support_price"));         // absent stays absent
}

TEST(DecisionValues, FloatTextConversion) {
  using schemas::detail::parse_float_text;
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<const char*, double> good[] = {
      {" 12.5 ", 12.5},
      {"+3", 3.0},
      {"-2e-3", -0.002},
      {".5", 0.5},
      {"5.", 5.0},
      {"1E2", 100.0},
      {"1_000", 1000.0},
      {"inf", inf},
      {"-Infinity", -inf},
      {"1e999", inf},
      {"-1e999", -inf},
      {"1e-999", 0.0},
      {"\t7\n", 7.0},
      {"\xE3\x80\x80"
       "8\xC2\xA0",
       8.0},  // ideographic and no-break spaces
  };
  for (const auto& [text, value] : good) {
    auto got = parse_float_text(text);
    ASSERT_TRUE(got.has_value()) << text;
    EXPECT_EQ(*got, value) << text;
  }
  EXPECT_TRUE(std::isnan(parse_float_text("NaN").value_or(0.0)));
  for (const char* bad : {"", "  ", "abc", ".", "1e", "e5", "0x10", "1__0", "_1", "1_", "1._5",
                          "1.2.3", "--1", "+-1", "nan(1)", "12元", "1,000"})
    EXPECT_FALSE(parse_float_text(bad).has_value()) << bad;
}

// ---- price chain --------------------------------------------------------------------------

struct ChainCase {
  const char* name;
  const char* json;
  bool ok;
  const char* line;  // expected warning, or "" for none
};

TEST(DecisionPriceChain, OrderAndBoundRules) {
  const ChainCase cases[] = {
      {"not a buy", R"({"action": "观望等待", "stop_loss": 10, "entry_price_low": 9})", true, ""},
      {"no action", R"({"stop_loss": 10, "entry_price_low": 9})", true, ""},
      {"null action", R"({"action": null, "stop_loss": 10, "entry_price_low": 9})", true, ""},
      {"stop equals entry low",
       R"({"action": "强烈买入", "stop_loss": 9.5, "entry_price_low": 9.5})", false,
       "决策价格链违规 | stop_loss=9.500 >= entry_price_low=9.500"},
      {"equal entry bounds, equal targets",
       R"({"action": "建议买入", "stop_loss": 9, "entry_price_low": 9.6,
           "entry_price_high": 9.6, "target_1": 10.0, "target_2": 10.0})",
       false, "决策价格链违规 | target_1=10.000 >= target_2=10.000"},
      {"entry low above high",
       R"({"action": "谨慎买入", "entry_price_low": 10.2, "entry_price_high": 10.1})", false,
       "决策价格链违规 | entry_price_low=10.200 > entry_price_high=10.100"},
      {"entry high equals target 1",
       R"({"action": "谨慎买入", "entry_price_high": 11, "target_1": 11})", false,
       "决策价格链违规 | entry_price_high=11.000 >= target_1=11.000"},
      {"first violation wins",
       R"({"action": "强烈买入", "stop_loss": 12, "entry_price_low": 11, "entry_price_high": 10,
           "target_1": 9, "target_2": 8})",
       false, "决策价格链违规 | stop_loss=12.000 >= entry_price_low=11.000"},
      {"all zero", R"({"action": "强烈买入", "stop_loss": 0, "entry_price_low": 0,
           "entry_price_high": 0, "target_1": 0, "target_2": 0})",
       true, ""},
      {"zero switches off its comparisons",
       R"({"action": "强烈买入", "stop_loss": 20, "entry_price_low": 0, "entry_price_high": 0,
           "target_1": 0, "target_2": 30})",
       true, ""},
      {"falsy values count as zero",
       R"({"action": "强烈买入", "stop_loss": "", "entry_price_low": null,
           "entry_price_high": false, "target_1": [], "target_2": {}})",
       true, ""},
      {"numeric text compares as number",
       R"({"action": "强烈买入", "stop_loss": "9.6", "entry_price_low": " 9.5"})", false,
       "决策价格链违规 | stop_loss=9.600 >= entry_price_low=9.500"},
      {"valid chain",
       R"({"action": "强烈买入", "stop_loss": 9.2, "entry_price_low": 9.5,
           "entry_price_high": 9.8, "target_1": 10.5, "target_2": 11.2})",
       true, ""},
      {"non-numeric text",
       R"({"action": "强烈买入", "stop_loss": "跌破9.2", "entry_price_low": 9.5})", false,
       "决策价格链违规 | stop_loss='跌破9.2' 无法转换为数字"},
      {"blank text", R"({"action": "强烈买入", "target_2": "  "})", false,
       "决策价格链违规 | target_2='  ' 无法转换为数字"},
      {"list", R"({"action": "强烈买入", "entry_price_high": [9.8, 10]})", false,
       "决策价格链违规 | entry_price_high=[9.8, 10] 无法转换为数字"},
      {"object", R"({"action": "强烈买入", "target_1": {"v": 1}})", false,
       "决策价格链违规 | target_1={'v': 1} 无法转换为数字"},
      {"garbage ignored when not a buy", R"({"action": "观望等待", "stop_loss": "n/a"})", true, ""},
  };
  for (const auto& c : cases) {
    LogCapture cap;
    bool ok = !c.ok;
    EXPECT_NO_THROW(ok = validate_decision_price_chain(parse_json(c.json))) << c.name;
    EXPECT_EQ(ok, c.ok) << c.name;
    if (*c.line) {
      EXPECT_THAT(warnings(cap), ElementsAre(std::string("warning|") + c.line)) << c.name;
    } else {
      EXPECT_TRUE(warnings(cap).empty()) << c.name;
    }
  }
}

}  // namespace
