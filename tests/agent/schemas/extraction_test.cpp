#include "agent/schemas/extraction.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <regex>
#include <string>

#include "zorvane/utils/json.hpp"
#include "zorvane/utils/log_capture.hpp"
#include "zorvane/utils/text.hpp"

namespace {

using schemas::extract_decision_json;
using schemas::scan_json_block;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using zorvane::utils::LogCapture;

constexpr const char* kDecision =
    R"({"stock_code": "sh.600000", "analysis_time": "2024-05-10", "direction": "看多",
 "action": "建议买入", "entry_price_low": 9.5, "entry_price_high": 9.8, "stop_loss": 9.2,
 "target_1": 10.5, "target_2": 11.2, "key_watch": "放量站稳 10 元"})";

std::string text_of(const rapidjson::Value& doc, const char* key) {
  return doc.HasMember(key) && doc[key].IsString() ? doc[key].GetString() : "<missing>";
}

// ---- locating the candidate ---------------------------------------------------------------

TEST(ExtractLocate, FenceWinsEvenWhenItsContentIsInvalid) {
  LogCapture cap;
  std::string reply =
      "分析如下。\n```json\n{\"action\": \"建议买入\", direction: 看多}\n```\n"
      "备用：" +
      std::string(kDecision);
  EXPECT_FALSE(extract_decision_json(reply).has_value());
  EXPECT_EQ(cap.matching("warning|决策 JSON 解析失败").size(), 1u);
}

TEST(ExtractLocate, FencedDecisionIsFoundAmongProse) {
  std::string reply =
      "## 结论\n先看 {这段} 文字。\n```json  \t\n\n" + std::string(kDecision) + "\n  \n```\n以上。";
  auto got = extract_decision_json(reply);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(text_of(*got, "action"), "建议买入");
  EXPECT_EQ((*got)["stop_loss"].GetDouble(), 9.2);
}

TEST(ExtractLocate, FirstFenceIsUsedAndUpperCaseFenceIsNotAFence) {
  std::string first = R"({"action": "观望等待", "direction": "中性"})";
  std::string reply = "```json\n" + first + "\n```\n```json\n" + kDecision + "\n```";
  auto got = extract_decision_json(reply);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(text_of(*got, "action"), "观望等待");

  // "```JSON" is no fence, so the scanner takes the last qualifying object instead.
  reply = "```JSON\n" + first + "\n```\n" + kDecision;
  got = extract_decision_json(reply);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(text_of(*got, "action"), "建议买入");
}

TEST(ExtractLocate, UnclosedFenceFallsBackToTheScanner) {
  auto got = extract_decision_json("```json\n" + std::string(kDecision));
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(text_of(*got, "stock_code"), "sh.600000");
}

TEST(ExtractLocate, EmptyInputsGiveNone) {
  EXPECT_FALSE(extract_decision_json("").has_value());
  EXPECT_FALSE(extract_decision_json("```json\n```").has_value());
  EXPECT_FALSE(extract_decision_json("```json\n  \n```").has_value());
  EXPECT_FALSE(extract_decision_json("没有任何决策。").has_value());
}

TEST(ScanJsonBlock, LastObjectWithActionWinsAndOthersAreSkipped) {
  std::string a = R"({"action": "观望等待", "direction": "中性"})";
  std::string b = R"({"action": "建议买入", "direction": "看多", "n": {"x": 1}})";
  std::string c = R"({"summary": "无操作字段"})";
  EXPECT_EQ(scan_json_block("前 " + a + " 中 " + b + " 后 " + c + " 完"), b);
  auto got = extract_decision_json(a + "\n" + b + "\n" + c);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(text_of(*got, "action"), "建议买入");
  EXPECT_FALSE(scan_json_block(c).has_value());
  // "action" must be the quoted key text; a bare word does not qualify.
  EXPECT_FALSE(scan_json_block("{action: 1}").has_value());
}

TEST(ScanJsonBlock, BracesAndEscapedQuotesInsideStringsDoNotCount) {
  std::string obj = R"({"action": "建议买入", "direction": "看多",)"
                    R"( "key_watch": "跌破 } 离场，{ 站稳 \"10.5\" }\\"})";
  EXPECT_EQ(scan_json_block("说明 " + obj + " 结束"), obj);
  auto got = extract_decision_json(obj);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(text_of(*got, "key_watch"), "跌破 } 离场，{ 站稳 \"10.5\" }\\");
}

TEST(ScanJsonBlock, StrayClosingBraceDoesNotHideLaterObjects) {
  std::string flat = R"({"action": "观望等待", "direction": "中性"})";
  EXPECT_EQ(scan_json_block("} 模型先输出了多余的括号\n" + flat), flat);
  EXPECT_TRUE(extract_decision_json("}}\n" + flat).has_value());
  // With a nested object, the outer object is still the one found.
  std::string nested = R"({"action": "观望等待", "direction": "中性", "extra": {"a": 1}})";
  EXPECT_EQ(scan_json_block("} " + nested), nested);
}

TEST(ScanJsonBlock, UnbalancedAndUnterminatedInputs) {
  EXPECT_FALSE(scan_json_block(R"({"action": 1)").has_value());
  EXPECT_FALSE(scan_json_block(R"({"action": "1})").has_value());
  EXPECT_FALSE(scan_json_block("\"\\").has_value());
  EXPECT_FALSE(scan_json_block("").has_value());
  // An earlier complete object survives a trailing unclosed one.
  EXPECT_EQ(scan_json_block(R"({"action": 1} {"action": 2)"), R"({"action": 1})");
}

// Straight transcription of the scanning rules, one character at a time, with a closing brace
// at depth 0 ignored. The fast scanner must agree with it.
std::optional<std::string> reference_scan(std::string_view text) {
  std::optional<std::string> matched;
  long depth = 0;
  bool in_string = false, escaped = false;
  long start = -1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (escaped) {
      escaped = false;
      continue;
    }
    if (c == '\\' && in_string) {
      escaped = true;
      continue;
    }
    if (c == '"') {
      in_string = !in_string;
      continue;
    }
    if (in_string) continue;
    if (c == '{') {
      if (depth == 0) start = static_cast<long>(i);
      ++depth;
    } else if (c == '}' && depth > 0) {
      if (--depth == 0 && start >= 0) {
        std::string candidate(text.substr(start, i - start + 1));
        if (candidate.find("\"action\"") != std::string::npos) matched = candidate;
        start = -1;
      }
    }
  }
  return matched;
}

TEST(ScanJsonBlock, AgreesWithCharacterByCharacterRulesOnRandomText) {
  std::mt19937 rng(20240510);
  const std::string pieces[] = {"{", "}", "\"", "\\", "\"action\"", ":", "a", " ", "中", "\n"};
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    int len = static_cast<int>(rng() % 30);
    for (int k = 0; k < len; ++k) text += pieces[rng() % std::size(pieces)];
    ASSERT_EQ(scan_json_block(text), reference_scan(text)) << text;
  }
}

// ---- fence pattern ------------------------------------------------------------------------

TEST(JsonFence, AgreesWithTheBacktrackingRegexOnRandomText) {
  // ASCII white space only, where std::regex's \s and the Unicode set coincide; short inputs so
  // the recursive std::regex engine is safe.
  const std::regex fence("```json\\s*\\n([\\s\\S]*?)\\n?\\s*```");
  std::mt19937 rng(7);
  const std::string pieces[] = {"```json", "```", "`", " ", "\n", "\t", "\r", "x", "{}", "json"};
  int matches = 0;
  for (int round = 0; round < 50000; ++round) {
    std::string text;
    int len = static_cast<int>(rng() % 12);
    for (int k = 0; k < len; ++k) text += pieces[rng() % std::size(pieces)];
    std::smatch m;
    bool found = std::regex_search(text, m, fence);
    auto got = schemas::detail::find_json_fence(text);
    ASSERT_EQ(got.has_value(), found) << zorvane::utils::quoted_text(text);
    if (found) {
      ++matches;
      ASSERT_EQ(std::string(*got), m[1].str()) << zorvane::utils::quoted_text(text);
    }
  }
  EXPECT_GT(matches, 500);  // the generator does exercise the matching paths
}

TEST(JsonFence, UnicodeWhiteSpaceAroundTheContent) {
  // U+3000 after the opening word and U+00A0 before the closing fence are white space.
  auto got = schemas::detail::find_json_fence("```json\xE3\x80\x80\n{\"a\": 1}\xC2\xA0\n```");
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, "{\"a\": 1}");
  // A zero-width space is not white space: no line break follows "```json" directly.
  EXPECT_FALSE(schemas::detail::find_json_fence("```json\xE2\x80\x8B{}\n```").has_value());
}

// ---- cleaning and parsing -----------------------------------------------------------------

TEST(ExtractClean, KeepsPrintableCharactersLineBreaksAndTabs) {
  std::string in =
      "a\xE2\x80\x8B"
      "b\fc\n\t\r d\xE3\x80\x80"
      "e\x7f"
      "f\x01"
      "\xEE\x80\x80"  // U+E000 private use
      "\xCD\xB8"      // U+0378 unassigned
      "\xED\xA0\x80"  // encoded surrogate: ill-formed
      "\xFF\xC3"      // stray bytes
      "中😀\xC2\xA0"
      "g";  // U+00A0 no-break space is a separator
  EXPECT_EQ(schemas::detail::keep_printable(in),
            "abc\n\t\r de"
            "f"
            "中😀g");
}

TEST(ExtractClean, ZeroWidthSpaceAndFormFeedAreRemovedBeforeParsing) {
  std::string reply =
      "```json\n{\"action\":\xE2\x80\x8B \"建议买入\",\f \"direction\": \"看\xE2\x80\x8B多\","
      "\n\t\"key_watch\": \"守\xE2\x80\x8B住\"}\n```";
  auto got = extract_decision_json(reply);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(text_of(*got, "direction"), "看多");
  EXPECT_EQ(text_of(*got, "key_watch"), "守住");
}

TEST(ExtractParse, FailureLogsLengthAndAtMost300Characters) {
  std::string body = "{\"action\": \"建议买入\",\t";
  for (int i = 0; i < 400; ++i) body += "长";
  body += "\xE2\x80\x8B}";
  LogCapture cap;
  EXPECT_FALSE(extract_decision_json("```json\n" + body + "\n```").has_value());
  auto lines = cap.matching("决策 JSON 解析失败");
  ASSERT_EQ(lines.size(), 1u);
  std::string cleaned = body.substr(0, body.size() - 4) + "}";  // zero-width space removed
  std::size_t total = zorvane::utils::char_count(cleaned);
  ASSERT_EQ(total, 420u);
  // 19 characters of brace, key, value, comma and tab, then 281 of the 400 filler characters.
  std::string prefix = "{\"action\": \"建议买入\",\t";
  for (int i = 0; i < 281; ++i) prefix += "长";
  EXPECT_THAT(lines[0], ::testing::StartsWith("warning|决策 JSON 解析失败 | 错误="));
  EXPECT_THAT(lines[0], ::testing::EndsWith(" | 长度=420 | 原始前缀=" + prefix));
}

TEST(ExtractParse, ShortFailureLogsAllOfIt) {
  LogCapture cap;
  EXPECT_FALSE(extract_decision_json("```json\n{\"action\": 建议}\n```").has_value());
  auto lines = cap.matching("决策 JSON 解析失败");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], ::testing::EndsWith(" | 长度=14 | 原始前缀={\"action\": 建议}"));
}

TEST(ExtractParse, NonObjectsAreRejectedSilently) {
  LogCapture cap;
  for (const char* content : {"[1, 2]", "\"action\"", "42", "null"})
    EXPECT_FALSE(extract_decision_json(std::string("```json\n") + content + "\n```").has_value());
  EXPECT_TRUE(cap.matching("决策").empty());
}

TEST(ExtractParse, NanAndInfinityLiteralsAreNumbers) {
  auto got = extract_decision_json(
      R"({"action": "观望等待", "direction": "中性", "rrr": NaN, "rrr_max": -Infinity})");
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(std::isnan((*got)["rrr"].GetDouble()));
  EXPECT_EQ((*got)["rrr_max"].GetDouble(), -std::numeric_limits<double>::infinity());
}

TEST(ExtractParse, LongDigitStringsAreReadExactly) {
  const std::string big = "18446744073709551615" + std::string(100, '5') + "39";
  const std::string numbers[] = {big,
                                 "-" + big.substr(0, 110) + "." + big.substr(110),
                                 "1" + std::string(300, '0'),
                                 "0.1000000000000000055511151231257827021181583404541015625",
                                 "9.870000000000000000000000000000000001",
                                 "123456789012345678901234567890e-40",
                                 "1e-400"};
  for (const auto& n : numbers) {
    auto got = extract_decision_json(R"({"action": "观望等待", "direction": "中性", "x": )" + n +
                                     ", \"rrr\": " + n + "}");
    ASSERT_TRUE(got.has_value()) << n;
    const double want = std::strtod(n.c_str(), nullptr);
    EXPECT_EQ((*got)["x"].GetDouble(), want) << n;
    EXPECT_EQ((*got)["rrr"].GetDouble(), zorvane::utils::round_to(want, 3)) << n;
  }
  auto got = extract_decision_json(
      R"({"action": "观望等待", "direction": "中性", "u": 18446744073709551615,
          "i": -9223372036854775808, "z": -0})");
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE((*got)["u"].IsUint64());
  EXPECT_EQ((*got)["u"].GetUint64(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_TRUE((*got)["i"].IsInt64());
  EXPECT_EQ((*got)["i"].GetInt64(), std::numeric_limits<std::int64_t>::min());
  EXPECT_TRUE((*got)["z"].IsInt());
}

// Valid JSON that the reader would refuse is still a decision: out-of-range numbers are
// infinities, lone surrogate escapes U+FFFD, and the checks then judge the values.
TEST(ExtractParse, OutOfRangeNumbersAndLoneSurrogatesKeepTheDecision) {
  const double inf = std::numeric_limits<double>::infinity();
  auto got = extract_decision_json(
      R"({"action": "观望等待", "direction": "中性", "current_price": 1e400, "x": -)" +
      std::string(400, '9') + R"(, "y": 0.17e309, "key_watch": "\ud83d 关注 \udc00\ud83d\ude00"})");
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ((*got)["current_price"].GetDouble(), inf);
  EXPECT_EQ((*got)["x"].GetDouble(), -inf);
  EXPECT_EQ((*got)["y"].GetDouble(), 1.7e308);
  EXPECT_EQ(text_of(*got, "key_watch"), "\uFFFD 关注 \uFFFD\U0001F600");

  // Full-width digits in a price text convert like ASCII ones.
  got = extract_decision_json(
      R"({"action": "建议买入", "direction": "看多", "entry_price_low": "１３９.５",
          "entry_price_high": "１４０", "stop_loss": "１３５.２５"})");
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ((*got)["entry_price_low"].GetDouble(), 139.5);
  EXPECT_EQ((*got)["stop_loss"].GetDouble(), 135.25);
}

// NaN compares false with everything, so a NaN price used to pass every link of the chain.
TEST(ExtractChecks, BuyWithANonFinitePriceFailsTheChain) {
  LogCapture cap;
  for (const char* price : {"NaN", "Infinity", "-Infinity", "1e999", "\"nan\""}) {
    SCOPED_TRACE(price);
    const std::string reply = std::string(R"({"action": "建议买入", "direction": "看多",
        "entry_price_low": 9.5, "entry_price_high": 9.8, "target_1": 10.5, "stop_loss": )") +
                              price + "}";
    EXPECT_FALSE(extract_decision_json(reply).has_value());
    // Not a buy: the price chain is not tested and the decision stands.
    EXPECT_TRUE(extract_decision_json(
                    std::string(R"({"action": "观望等待", "direction": "中性", "stop_loss": )") +
                    price + "}")
                    .has_value());
  }
  EXPECT_EQ(cap.matching("决策价格链违规 | stop_loss=").size(), 5u);
  EXPECT_EQ(cap.matching("不是有限数字").size(), 5u);
}

TEST(ExtractParse, DuplicateKeysKeepTheLastValueAtTheFirstPlace) {
  auto got = extract_decision_json(
      R"({"action": "强烈买入", "direction": "看多", "stop_loss": 1, "action": "观望等待"})");
  ASSERT_TRUE(got.has_value());
  std::vector<std::string> keys;
  for (const auto& m : got->GetObject()) keys.emplace_back(m.name.GetString());
  EXPECT_THAT(keys, ElementsAre("action", "direction", "stop_loss"));
  EXPECT_EQ(text_of(*got, "action"), "观望等待");

  // The checks see the value that is kept: a bad repeat is rejected.
  EXPECT_FALSE(
      extract_decision_json(R"({"action": "观望等待", "direction": "看多", "action": "梭哈"})")
          .has_value());
}

TEST(ExtractParse, DeepNestingDoesNotExhaustTheStack) {
  std::string deep = std::string(200000, '[') + std::string(200000, ']');
  EXPECT_FALSE(extract_decision_json("```json\n" + deep + "\n```").has_value());
  LogCapture cap;
  EXPECT_FALSE(
      extract_decision_json(R"({"action": "观望等待", "direction": )" + deep + "}").has_value());
  auto lines = cap.matching("决策枚举非法 | 字段=direction");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], HasSubstr("[...]"));
}

// ---- checks inside the extraction ---------------------------------------------------------

TEST(ExtractChecks, MissingCoreKeyIsLoggedAtDebugWithTheKeysPresent) {
  LogCapture cap;
  EXPECT_FALSE(extract_decision_json(R"({"action": "建议买入", "stop_loss": 9})").has_value());
  EXPECT_THAT(
      cap.matching("缺失核心字段"),
      ElementsAre("debug|决策 JSON 缺失核心字段 action/direction: ['action', 'stop_loss']"));
}

TEST(ExtractChecks, NullActionPassesCoreKeysAndEnums) {
  auto got = extract_decision_json(R"({"action": null, "direction": "看多", "stop_loss": 9})");
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE((*got)["action"].IsNull());
}

TEST(ExtractChecks, FailedChecksGiveNoneWithoutThrowing) {
  const char* replies[] = {
      R"({"action": "建议买入", "direction": "上涨"})",
      R"({"action": ["强烈买入"], "direction": "看多"})",
      R"({"action": "强烈买入", "direction": {"v": "看多"}})",
      R"({"action": "强烈买入", "direction": "看多", "stop_loss": "约9元", "entry_price_low": 9.5})",
      R"({"action": "强烈买入", "direction": "看多", "stop_loss": 9.5, "entry_price_low": 9.5})",
  };
  for (const char* reply : replies) {
    LogCapture cap;
    std::optional<rapidjson::Document> got;
    EXPECT_NO_THROW(got = extract_decision_json(reply)) << reply;
    EXPECT_FALSE(got.has_value()) << reply;
    EXPECT_EQ(cap.matching("warning|决策").size(), 1u) << reply;
  }
}

TEST(ExtractChecks, AcceptedDecisionComesBackNormalised) {
  auto got = extract_decision_json(
      R"(```json
{"action": "谨慎买入", "direction": "看多", "entry_price_low": " 9.5004 ",
 "entry_price_high": 9.8125, "stop_loss": 9, "target_1": "10.4", "position_pct": 20}
```)");
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ((*got)["entry_price_low"].GetDouble(), 9.5);
  EXPECT_EQ((*got)["entry_price_high"].GetDouble(), 9.812);
  EXPECT_TRUE((*got)["stop_loss"].IsDouble());
  EXPECT_EQ((*got)["target_1"].GetDouble(), 10.4);
  EXPECT_TRUE((*got)["position_pct"].IsInt());  // not a price: left for the record to coerce
}

}  // namespace
