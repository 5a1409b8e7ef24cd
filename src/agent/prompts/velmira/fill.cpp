#include "agent/prompts/velmira/fill.hpp"

#include <set>
#include <stdexcept>

namespace velmira {
namespace {

bool is_name(std::string_view text) {
  if (text.empty() || (text.front() >= '0' && text.front() <= '9')) return false;
  for (const char c : text) {
    const bool ok =
        c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!ok) return false;
  }
  return true;
}

[[noreturn]] void fail(const std::string& message) {
  throw std::invalid_argument("[fill] " + message);
}

}  // namespace

std::string fill(std::string_view template_text, const TemplateValues& values) {
  std::string out;
  out.reserve(template_text.size());
  std::set<std::string_view> used;
  std::size_t i = 0;
  while (i < template_text.size()) {
    const char c = template_text[i];
    const bool doubled = i + 1 < template_text.size() && template_text[i + 1] == c;
    if (c == '}') {
      if (!doubled) fail("模板第 " + std::to_string(i) + " 字节处有未配对的 '}'");
      out += '}';
      i += 2;
    } else if (c == '{') {
      if (doubled) {
        out += '{';
        i += 2;
        continue;
      }
      const auto close = template_text.find('}', i + 1);
      if (close == std::string_view::npos) {
        fail("模板第 " + std::to_string(i) + " 字节处的 '{' 没有闭合");
      }
      const auto name = template_text.substr(i + 1, close - i - 1);
      if (!is_name(name)) fail("占位符 {" + std::string(name) + "} 不是合法的名称");
      const auto it = values.find(name);
      if (it == values.end()) fail("占位符 {" + std::string(name) + "} 缺少取值");
      out += it->second;
      used.insert(it->first);
      i = close + 1;
    } else {
      out += c;
      ++i;
    }
  }
  for (const auto& [name, value] : values) {
    if (!used.contains(name)) fail("取值 " + name + " 在模板中没有对应的占位符");
  }
  return out;
}

}  // namespace velmira
