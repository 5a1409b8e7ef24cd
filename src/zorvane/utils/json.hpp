#pragma once
// JSON helpers over RapidJSON. Objects keep their members in insertion order.

#include <rapidjson/document.h>

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
// without recursion (nesting depth is bounded only by memory).
// Throws std::invalid_argument naming the error offset when the text is not JSON.
rapidjson::Document parse_json(std::string_view text);

// Value builders. The allocator is the owning document's.
rapidjson::Value json_string(std::string_view text, JsonAllocator& alloc);

// Appends a member (no check for an existing key: callers build fresh objects).
void json_add(rapidjson::Value& object, std::string_view key, rapidjson::Value value,
              JsonAllocator& alloc);
void json_add(rapidjson::Value& object, std::string_view key, std::string_view text,
              JsonAllocator& alloc);
void json_add(rapidjson::Value& object, std::string_view key, const char* text,
              JsonAllocator& alloc);
void json_add(rapidjson::Value& object, std::string_view key, double number,
              JsonAllocator& alloc);
void json_add(rapidjson::Value& object, std::string_view key, int number, JsonAllocator& alloc);
void json_add(rapidjson::Value& object, std::string_view key, long long number,
              JsonAllocator& alloc);
void json_add(rapidjson::Value& object, std::string_view key, bool flag, JsonAllocator& alloc);

// Sets `key` (replacing the first member of that name, else appending).
void json_set(rapidjson::Value& object, std::string_view key, rapidjson::Value value,
              JsonAllocator& alloc);

// Member lookup that tolerates non-objects: nullptr when absent.
const rapidjson::Value* json_find(const rapidjson::Value& object, std::string_view key);

}  // namespace zorvane::utils
