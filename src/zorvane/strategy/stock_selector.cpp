#include "zorvane/strategy/stock_selector.hpp"

namespace zorvane::strategy {

const rapidjson::Value& no_options() {
  // Built once (thread-safe static init) and never modified afterwards.
  static const rapidjson::Value empty(rapidjson::kObjectType);
  return empty;
}

}  // namespace zorvane::strategy
