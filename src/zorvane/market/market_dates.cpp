#include "zorvane/market/market_dates.hpp"

#include "candlex/market_data.hpp"

namespace zorvane::utils {

std::string normalize_us_market_end_date(std::string_view date) {
  return normalize_us_market_end_date(date, std::chrono::system_clock::now());
}

std::string normalize_us_market_end_date(std::string_view date,
                                         std::chrono::system_clock::time_point now) {
  return candlex::normalize_market_end_date(date, "US", now);
}

}  // namespace zorvane::utils
