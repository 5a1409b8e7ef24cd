#pragma once
// Date of one bar as "YYYY-MM-DD".

#include <string>

#include "candlex/bar_table.hpp"

namespace technical {

// The date of the bar at position `idx`, or "" when idx is outside [0, size): negative
// positions are not counted from the end. Bar tables label every row with its date, so the
// row label is always the answer (there is no separate date column to fall back on).
std::string _get_date_str(const candlex::BarTable& df, long long idx);

}  // namespace technical
