#include "zorvane/utils/json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace zu = zorvane::utils;

namespace {

rapidjson::Document object() {
  rapidjson::Document d;
  d.SetObject();
  return d;
}

TEST(SafeJsonDumps, NonFiniteNumbersAreWrittenNotRejected) {
  auto d = object();
  auto& a = d.GetAllocator();
  zu::json_add(d, "nan", std::numeric_limits<double>::quiet_NaN(), a);
  zu::json_add(d, "pos", std::numeric_limits<double>::infinity(), a);
  zu::json_add(d, "neg", -std::numeric_limits<double>::infinity(), a);
  EXPECT_EQ(zu::safe_json_dumps(d), R"({"nan": NaN, "pos": Infinity, "neg": -Infinity})");
}

TEST(SafeJsonDumps, NumbersUseTheShortestFloatText) {
  auto d = object();
  auto& a = d.GetAllocator();
  zu::json_add(d, "two", 2.0, a);
  zu::json_add(d, "tenth", 0.1, a);
  zu::json_add(d, "tiny", 1e-05, a);
  zu::json_add(d, "big", 1e16, a);
  zu::json_add(d, "sum", 0.1 + 0.2, a);
  zu::json_add(d, "int", 3, a);
  zu::json_add(d, "ll", 9007199254740993LL, a);
  zu::json_add(d, "flag", true, a);
  zu::json_add(d, "none", rapidjson::Value(), a);
  EXPECT_EQ(zu::safe_json_dumps(d),
            R"({"two": 2.0, "tenth": 0.1, "tiny": 1e-05, "big": 1e+16, )"
            R"("sum": 0.30000000000000004, "int": 3, "ll": 9007199254740993, "flag": true, )"
            R"("none": null})");
}

TEST(SafeJsonDumps, StringsEscapedAndNonAsciiByChoice) {
  auto d = object();
  auto& a = d.GetAllocator();
  zu::json_add(d, "动作", "观望等待", a);
  zu::json_add(d, "emoji", "\xf0\x9f\x98\x80", a);
  zu::json_add(d, "esc", std::string_view("q\"b\\n\nt\tc\x01", 10), a);
  EXPECT_EQ(zu::safe_json_dumps(d, false),
            "{\"动作\": \"观望等待\", \"emoji\": \"\xf0\x9f\x98\x80\", "
            "\"esc\": \"q\\\"b\\\\n\\nt\\tc\\u0001\"}");
  EXPECT_EQ(zu::safe_json_dumps(d, true),
            "{\"\\u52a8\\u4f5c\": \"\\u89c2\\u671b\\u7b49\\u5f85\", "
            "\"emoji\": \"\\ud83d\\ude00\", \"esc\": \"q\\\"b\\\\n\\nt\\tc\\u0001\"}");
}

TEST(SafeJsonDumps, NestedWithIndentKeepsMemberOrder) {
  auto d = object();
  auto& a = d.GetAllocator();
  zu::json_add(d, "z", 1, a);
  rapidjson::Value list(rapidjson::kArrayType);
  list.PushBack(1, a);
  rapidjson::Value inner(rapidjson::kObjectType);
  zu::json_add(inner, "b", rapidjson::Value(), a);
  list.PushBack(inner, a);
  zu::json_add(d, "a", std::move(list), a);
  zu::json_add(d, "empty_obj", rapidjson::Value(rapidjson::kObjectType), a);
  zu::json_add(d, "empty_list", rapidjson::Value(rapidjson::kArrayType), a);
  EXPECT_EQ(zu::safe_json_dumps(d, false, 2),
            "{\n"
            "  \"z\": 1,\n"
            "  \"a\": [\n"
            "    1,\n"
            "    {\n"
            "      \"b\": null\n"
            "    }\n"
            "  ],\n"
            "  \"empty_obj\": {},\n"
            "  \"empty_list\": []\n"
            "}");
  EXPECT_EQ(zu::safe_json_dumps(d),
            R"({"z": 1, "a": [1, {"b": null}], "empty_obj": {}, "empty_list": []})");
}

TEST(ParseJson, ReadsNonFiniteLiteralsAndFullPrecision) {
  auto d = zu::parse_json(R"({"a": NaN, "b": -Infinity, "c": 0.30000000000000004, "d": [1, "x"]})");
  EXPECT_TRUE(std::isnan(d["a"].GetDouble()));
  EXPECT_EQ(d["b"].GetDouble(), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(d["c"].GetDouble(), 0.1 + 0.2);
  // Round trip through our writer gives the same text.
  EXPECT_EQ(zu::safe_json_dumps(d),
            R"({"a": NaN, "b": -Infinity, "c": 0.30000000000000004, "d": [1, "x"]})");
}

TEST(ParseJson, ErrorsNameTheOffset) {
  for (const char* bad : {"", "{", "[1,]", "{} x", "{\"a\": }", "nan", "{'a': 1}"}) {
    try {
      zu::parse_json(bad);
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("offset"), std::string::npos) << e.what();
    }
  }
  try {
    zu::parse_json("{\"a\": }");
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("offset 6"), std::string::npos) << e.what();
  }
}

TEST(ParseJson, DeepNestingNeitherCrashesNorRecurses) {
  // A million levels would overflow any thread's stack in a recursive parser.
  const std::size_t depth = 1'000'000;
  std::string deep(depth, '[');
  EXPECT_THROW(zu::parse_json(deep), std::invalid_argument);  // unterminated
  deep.append(depth, ']');
  auto doc = zu::parse_json(deep);
  ASSERT_TRUE(doc.IsArray());
  EXPECT_EQ(doc.Size(), 1u);
}

TEST(JsonBuilders, SetReplacesFirstAndFindToleratesNonObjects) {
  auto d = object();
  auto& a = d.GetAllocator();
  zu::json_add(d, "k", 1, a);
  zu::json_add(d, "m", 2, a);
  zu::json_set(d, "k", rapidjson::Value(10), a);
  zu::json_set(d, "n", rapidjson::Value(3), a);
  EXPECT_EQ(zu::safe_json_dumps(d), R"({"k": 10, "m": 2, "n": 3})");
  ASSERT_NE(zu::json_find(d, "m"), nullptr);
  EXPECT_EQ(zu::json_find(d, "m")->GetInt(), 2);
  EXPECT_EQ(zu::json_find(d, "absent"), nullptr);
  rapidjson::Value arr(rapidjson::kArrayType);
  EXPECT_EQ(zu::json_find(arr, "k"), nullptr);
  // Keys and texts are copied: the source buffer may go away.
  {
    std::string key = "temporary";
    std::string text = "value";
    zu::json_add(d, key, std::string_view(text), a);
    key.assign("XXXXXXXXX");
    text.assign("YYYYY");
  }
  EXPECT_STREQ(zu::json_find(d, "temporary")->GetString(), "value");
}

}  // namespace
