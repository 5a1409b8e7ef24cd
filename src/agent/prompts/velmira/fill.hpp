#pragma once
// Filling of prompt templates. A name in single braces ("{stock_code}") is a placeholder; a
// doubled brace ("{{", "}}") stands for one literal brace. Values are inserted as they are:
// braces inside a value are not interpreted.

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace velmira {

using TemplateValues = std::map<std::string, std::string, std::less<>>;

// Replaces every placeholder by its value and every doubled brace by a single one. Throws
// std::invalid_argument, naming the offender, when a placeholder has no value, when a value
// names no placeholder of the template, or when the template holds a lone "}", an unclosed
// "{" or a placeholder that is not a name (letters, digits, underscores; not starting with a
// digit).
std::string fill(std::string_view template_text, const TemplateValues& values);

}  // namespace velmira
