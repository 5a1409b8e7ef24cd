#pragma once
// The codes the market-data source can serve.

#include <string>
#include <vector>

namespace candlex {

// Canonical codes of every daily series: the file stems of <center>/daily/*.csv when
// CANDLEX_CENTER is set, else the sample market's securities; sorted, indices included.
// Throws std::runtime_error naming the directory when the center's daily directory cannot be
// read.
std::vector<std::string> list_codes();

}  // namespace candlex
