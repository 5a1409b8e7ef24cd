#include "candlex/listing.hpp"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "candlex/data_center.hpp"
#include "candlex/sample_market.hpp"

namespace candlex {

std::vector<std::string> list_codes() {
  std::vector<std::string> codes;
  if (auto center = center_dir()) {
    const auto daily = *center / "daily";
    std::error_code ec;
    std::filesystem::directory_iterator it(daily, ec), end;
    if (ec) throw std::runtime_error("cannot list " + daily.string() + ": " + ec.message());
    for (; it != end; it.increment(ec)) {
      if (ec) throw std::runtime_error("cannot list " + daily.string() + ": " + ec.message());
      const auto& path = it->path();
      // Anything named like a daily file is listed, so that a directory or FIFO in a file's
      // place is reported when it is read rather than silently left out.
      if (path.extension() == ".csv") codes.push_back(path.stem().string());
    }
  } else {
    for (const auto& s : sample_securities()) codes.push_back(s.code);
  }
  std::sort(codes.begin(), codes.end());
  return codes;
}

}  // namespace candlex
