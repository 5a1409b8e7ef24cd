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

std::string normalize_end_date_for_market(std::string_view date, std::string_view market_type) {
  return normalize_end_date_for_market(date, market_type, std::chrono::system_clock::now());
}

std::string normalize_end_date_for_market(std::string_view date, std::string_view market_type,
                                          std::chrono::system_clock::time_point now) {
  if (market_type == "US") return normalize_us_market_end_date(date, now);
  return candlex::normalize_market_end_date(date, market_type == "HK" ? "HK" : "A", now);
}

}  // namespace zorvane::utils
