#include "strategy/technical/date_str.hpp"

#include "zorvane/utils/dates.hpp"

namespace technical {

std::string _get_date_str(const candlex::BarTable& df, long long idx) {
  if (idx < 0 || static_cast<unsigned long long>(idx) >= df.size()) return "";
  return zorvane::utils::iso_date(df.dates()[static_cast<std::size_t>(idx)]);
}

}  // namespace technical
