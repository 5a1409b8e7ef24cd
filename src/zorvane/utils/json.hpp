#pragma once
// JSON helpers over RapidJSON. Objects keep their members in insertion order.

#include <rapidjson/document.h>

#include <optional>
#include <string>
#include <string_view>

namespace zorvane::utils {

using JsonAllocator = rapidjson::Document::AllocatorType;

// Serialises `value`. Separators are ", " and ": " (or newlines and `indent` spaces when
// indent >= 0). Doubles use the shortest round-trip text (2.0, 0.1, 1e-05); NaN and the
// infinities are written NaN, Infinity, -Infinity instead of failing. With ensure_ascii
// non-ASCII characters are escaped as \uXXXX, otherwise written as they are.
std::string safe_json_dumps(const rapidjson::Value& value, bool ensure_ascii = false,
                            int indent = -1);

// Parses JSON text, accepting NaN/Infinity literals and reading numbers at full precision,
// without recursion (nesting depth is bounded only by memory). Valid JSON that the parser
// would refuse is read as relax_json_text describes.
// Throws std::invalid_argument naming the error offset when the text is not JSON.
rapidjson::Document parse_json(std::string_view text);

// Rewrites the parts of valid JSON that RapidJSON refuses, or returns nullopt when there are
// none: a number beyond the double range (1e400, a 400-digit integer) becomes Infinity or
// -Infinity (a tiny one 0.0), another very long number its shortest equivalent, and a lone
// UTF-16 surrogate escape (\ud83d without its partner) \ufffd. Strings are otherwise untouched.
std::optional<std::string> relax_json_text(std::string_view text);

// Serialises `value` as strict JSON: as safe_json_dumps, but NaN and the infinities become
// null, so that any JSON consumer can read the text.
std::string strict_json_dumps(const rapidjson::Value& value, int indent = -1);

// Value builders. The allocator is the owning document's.
rapidjson::Value json_string(std::string_view text, JsonAllocator& alloc);

// Appends a member (no check for an existing key: callers build fresh objects).
void json_add(rapidjson::Value& object, std::string_view key, rapidjson::Value value,
              JsonAllocator& alloc);
void json_add(rapidjson::Value& object, std::string_view key, std::string_view text,
              JsonAllocator& alloc);
void json_add(rapidjson::Value& object, std::string_view key, const char* text,
              JsonAllocator& alloc);
void json_add(rapidjson::Value& object, std::string_view key, double number, JsonAllocator& alloc);
void json_add(rapidjson::Value& object, std::string_view key, int number, JsonAllocator& alloc);
void json_add(rapidjson::Value& object, std::string_view key, long long number,
              JsonAllocator& alloc);
void json_add(rapidjson::Value& object, std::string_view key, bool flag, JsonAllocator& alloc);

// Sets `key` (replacing the first member of that name, else appending).
void json_set(rapidjson::Value& object, std::string_view key, rapidjson::Value value,
              JsonAllocator& alloc);

// Member lookup that tolerates non-objects: nullptr when absent.
const rapidjson::Value* json_find(const rapidjson::Value& object, std::string_view key);

// The text of a string member; empty when the member is absent or not a string.
std::string json_string(const rapidjson::Value& object, std::string_view key);

}  // namespace zorvane::utils
