#include "agent/schemas/stock_decision.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "agent/schemas/decision.hpp"
#include "zorvane/utils/json.hpp"

namespace {

using schemas::StockDecision;
using schemas::ValidationError;
using zorvane::utils::parse_json;
using zorvane::utils::safe_json_dumps;

constexpr const char* kRequired =
    R"("stock_code": "sh.600000", "analysis_time": "2024-05-10", "direction": "看多",
       "action": "建议买入")";

rapidjson::Document with_required(const std::string& extra = "") {
  return parse_json("{" + std::string(kRequired) + (extra.empty() ? "" : ", " + extra) + "}");
}

// Field named by the ValidationError that building from `doc` raises ("<none>" if none).
std::string failing_field(const rapidjson::Value& doc) {
  try {
    StockDecision::from_json(doc);
  } catch (const ValidationError& e) {
    return e.field();
  }
  return "<none>";
}

TEST(PositionPct, NumbersAndFlagsBecomeTruncatedPercentTexts) {
  const std::pair<const char*, const char*> cases[] = {
      {"25", "25%"},
      {"12.9", "12%"},
      {"35", "35%"},
      {"35.9", "35%"},
      {"0", "0%"},
      {"true", "1%"},
      {"false", "0%"},
      {"-3.7", "-3%"},
      {"-0.5", "0%"},
      {"1e20", "100000000000000000000%"},
      {"18446744073709551615", "18446744073709551615%"},
  };
  for (const auto& [json, want] : cases) {
    auto doc = parse_json(std::string("[") + json + "]");
    auto got = StockDecision::_coerce_position_pct(doc[0], doc.GetAllocator());
    ASSERT_TRUE(got.IsString()) << json;
    EXPECT_STREQ(got.GetString(), want) << json;
  }
}

TEST(PositionPct, OtherValuesPassUnchanged) {
  for (const char* json : {R"("30%")", R"("30")", "null", "[25]", R"({"pct": 25})"}) {
    auto doc = parse_json(std::string("[") + json + "]");
    auto got = StockDecision::_coerce_position_pct(doc[0], doc.GetAllocator());
    EXPECT_EQ(got, doc[0]) << json;
  }
}

TEST(PositionPct, NonFiniteNumbersAreValidationErrors) {
  for (const char* json : {"NaN", "Infinity", "-Infinity"}) {
    auto doc = with_required(std::string(R"("position_pct": )") + json);
    EXPECT_EQ(failing_field(doc), "position_pct") << json;
  }
}

TEST(StockDecisionBuild, RequiredFieldsOnlyGiveTheDocumentedDefaults) {
  auto record = StockDecision::from_json(with_required());
  EXPECT_EQ(record.stock_code, "sh.600000");
  EXPECT_EQ(record.action, "建议买入");
  // The struct's initialisers and the field table (which feeds the schema) must agree.
  auto dumped = record.to_json();
  for (const auto& f : schemas::stock_decision_fields()) {
    if (f.required) continue;
    const auto& v = dumped[std::string(f.name).c_str()];
    if (f.kind == schemas::StockDecisionField::Kind::text)
      EXPECT_EQ(std::string_view(v.GetString()), f.default_text) << f.name;
    else
      EXPECT_EQ(v.GetDouble(), f.default_number) << f.name;
  }
  EXPECT_EQ(record.holder_action, "继续持有");
  EXPECT_EQ(record.holding_period, "1-3日");
  EXPECT_EQ(record.position_pct, "0%");
}

TEST(StockDecisionBuild, EachMissingRequiredFieldIsNamed) {
  for (const char* field : {"stock_code", "analysis_time", "direction", "action"}) {
    auto doc = with_required();
    doc.RemoveMember(field);
    EXPECT_EQ(failing_field(doc), field);
  }
  try {
    StockDecision::from_json(parse_json("{}"));
    FAIL() << "expected ValidationError";
  } catch (const ValidationError& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("stock_code"));
    EXPECT_THAT(e.what(), ::testing::HasSubstr("required"));
  }
}

TEST(StockDecisionBuild, WrongTypesAreNamedAndLaxNumbersAccepted) {
  const std::pair<const char*, const char*> bad[] = {
      {R"("stock_name": 5)", "stock_name"},        {R"("holder_action": null)", "holder_action"},
      {R"("key_watch": ["a"])", "key_watch"},      {R"("current_price": "abc")", "current_price"},
      {R"("stop_loss": null)", "stop_loss"},       {R"("target_1": [1])", "target_1"},
      {R"("position_pct": [25])", "position_pct"},
  };
  for (const auto& [extra, field] : bad) EXPECT_EQ(failing_field(with_required(extra)), field);
  auto doc = parse_json(R"({"stock_code": 600000, "analysis_time": "2024-05-10",
      "direction": "看多", "action": "建议买入"})");
  EXPECT_EQ(failing_field(doc), "stock_code");

  auto record = StockDecision::from_json(with_required(
      R"("current_price": " 10.5 ", "rrr": true, "target_1": 11, "position_pct": 35.9,
         "unknown_key": {"x": 1}, "direction": "not checked here")"));
  EXPECT_EQ(record.current_price, 10.5);
  EXPECT_EQ(record.rrr, 1.0);
  EXPECT_EQ(record.target_1, 11.0);
  EXPECT_EQ(record.position_pct, "35%");
  EXPECT_EQ(record.direction, "not checked here");  // duplicate key: the last one wins

  EXPECT_EQ(failing_field(parse_json("[1]")), "");
}

TEST(StockDecisionJson, RoundTripsInRecordOrder) {
  auto record = StockDecision::from_json(with_required(
      R"("stock_name": "浦发银行", "current_price": 9.87, "entry_price_low": 9.5,
         "entry_price_high": 9.8, "stop_loss": 9.2, "target_1": 10.5, "target_2": 11.2,
         "rrr": 2.1, "rrr_max": 4.6, "support_price": 9.4, "resistance_price": 10.6,
         "position_pct": "30%", "holding_period": "5-10日", "confidence": "高",
         "risk_level": "低", "market_sentiment": "看多", "key_watch": "放量突破 \"10.6\"")"));
  auto dumped = record.to_json();
  ASSERT_EQ(dumped.MemberCount(), schemas::DECISION_JSON_FIELDS.size());
  std::size_t i = 0;
  for (const auto& m : dumped.GetObject())
    EXPECT_EQ(std::string_view(m.name.GetString()), schemas::DECISION_JSON_FIELDS[i++]);
  auto reparsed = parse_json(safe_json_dumps(dumped));
  EXPECT_EQ(StockDecision::from_json(reparsed), record);
}

TEST(StockDecisionSchema, DescribesEveryFieldWithTypeDefaultAndDescription) {
  auto schema = schemas::stock_decision_json_schema();
  EXPECT_STREQ(schema["type"].GetString(), "object");
  EXPECT_STREQ(schema["title"].GetString(), "StockDecision");
  EXPECT_STREQ(schema["description"].GetString(),
               "股票决策强类型模型，与 Kafka 消息体中的 decision 字段完全对应。");
  std::vector<std::string> required;
  for (const auto& r : schema["required"].GetArray()) required.emplace_back(r.GetString());
  EXPECT_THAT(required,
              ::testing::ElementsAre("stock_code", "analysis_time", "direction", "action"));

  // Defaults in the schema are what a record built from the required fields holds.
  auto defaults = StockDecision::from_json(with_required()).to_json();
  const auto& props = schema["properties"];
  ASSERT_EQ(props.MemberCount(), 23u);
  std::size_t i = 0;
  for (const auto& p : props.GetObject()) {
    std::string name = p.name.GetString();
    EXPECT_EQ(name, schemas::DECISION_JSON_FIELDS[i++]);
    const auto& d = defaults[name.c_str()];
    EXPECT_STREQ(p.value["type"].GetString(), d.IsString() ? "string" : "number") << name;
    bool is_required = std::find(required.begin(), required.end(), name) != required.end();
    EXPECT_EQ(p.value.HasMember("default"), !is_required) << name;
    if (!is_required) {
      EXPECT_EQ(p.value["default"], d) << name;
    }
    EXPECT_TRUE(p.value["description"].IsString()) << name;
  }
  EXPECT_STREQ(props["stock_code"]["description"].GetString(),
               "股票代码，如 sh.600000 或 000001.SZ");
  EXPECT_STREQ(props["key_watch"]["description"].GetString(), "核心观察点与失效触发条件");
  EXPECT_STREQ(props["target_1"]["title"].GetString(), "Target 1");
}

}  // namespace
