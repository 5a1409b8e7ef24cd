#pragma once
// Display names of securities and indices.

#include <string>
#include <string_view>

namespace candlex {

// The built-in name of a canonical code: a core index, an ETF of the ETF universe, or (in
// the sample market) a sample stock; empty when none.
std::string builtin_name(std::string_view canonical_code);

}  // namespace candlex
