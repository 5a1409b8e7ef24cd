#include "strategy/technical/pattern_selectors.hpp"

#include <stdexcept>

#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace technical {

using zorvane::strategy::CheckResult;
using zorvane::utils::logger;

namespace {

// The arguments the selectors fix themselves; options may not repeat them.
void check_options(const rapidjson::Value& options) {
  if (!options.IsObject()) {
    throw std::invalid_argument("check: extra options must be a JSON object");
  }
  for (const auto& m : options.GetObject()) {
    std::string_view key(m.name.GetString(), m.name.GetStringLength());
    if (key == "symbol" || key == "mode" || key == "min_score") {
      throw std::invalid_argument("check: option " + zorvane::utils::quoted_text(key) +
                                  " is set by the selector and cannot be passed");
    }
  }
}

const rapidjson::Value* member(const rapidjson::Value& result, const char* key) {
  const rapidjson::Value* v = zorvane::utils::json_find(result, key);
  return v == nullptr || v->IsNull() ? nullptr : v;
}

[[noreturn]] void bad_member(const char* key, const char* expected) {
  throw std::invalid_argument(std::string("pattern scan result: '") + key + "' must be " +
                              expected);
}

bool read_passed(const rapidjson::Value& result) {
  const auto* v = member(result, "pre_screen_passed");
  if (v == nullptr) return false;
  if (!v->IsBool()) bad_member("pre_screen_passed", "true or false");
  return v->GetBool();
}

double read_score(const rapidjson::Value& result) {
  const auto* v = member(result, "total_score");
  if (v == nullptr) return 0.0;
  if (!v->IsNumber()) bad_member("total_score", "a number");
  return v->GetDouble();
}

std::string read_type(const rapidjson::Value& result, const std::string& fallback) {
  const auto* v = member(result, "strategy_type");
  if (v == nullptr) return fallback;
  if (!v->IsString()) bad_member("strategy_type", "text");
  return std::string(v->GetString(), v->GetStringLength());
}

double threshold_or(const zorvane::constants::ThresholdMap& map, const std::string& type,
                    double fallback) {
  auto it = map.find(type);
  return it == map.end() ? fallback : it->second;
}

}  // namespace

PatternSelector::PatternSelector(std::string selector_code, std::string mode,
                                 std::string default_type, SelectorDeps deps)
    : selector_code_(std::move(selector_code)),
      mode_(std::move(mode)),
      default_type_(std::move(default_type)),
      deps_(std::move(deps)) {}

CheckResult PatternSelector::check(const std::string& code, const std::string& start_date,
                                   const std::string& end_date, const rapidjson::Value& options) {
  candlex::BarTable df = deps_.load_bars(code, start_date, end_date);
  if (df.empty()) {
    logger.warning("股票 %s 没有数据", code);
    return {false, std::nullopt, std::move(df), "", 0.0, selector_code_};
  }
  indicators::StockStatus status = deps_.stock_status(df, code);

  check_options(options);
  rapidjson::Document result = deps_.scan(df, code, mode_, 3, &options);
  bool eligible = read_passed(result);
  std::string pattern_info = zorvane::utils::safe_json_dumps(result, /*ensure_ascii=*/false);
  double total_score = read_score(result);
  std::string strategy_type = read_type(result, default_type_);

  if (eligible) eligible = judge(code, strategy_type, total_score);
  return {eligible,    std::move(status),       std::move(df), std::move(pattern_info),
          total_score, std::move(strategy_type)};
}

TFSelector::TFSelector(SelectorDeps deps)
    : PatternSelector("TF", "trend", "趋势跟随", std::move(deps)) {}

bool TFSelector::judge(const std::string& code, const std::string& strategy_type,
                       double total_score) const {
  if (strategy_type != "趋势跟随") {
    logger.info("%s 策略类型为 %s, 不符合 TFSelector (仅限趋势跟随)", code, strategy_type);
    return false;
  }
  double threshold = threshold_or(deps().thresholds, "趋势跟随", deps().default_threshold);
  if (total_score < threshold) {
    logger.info("%s 趋势跟随评分 (%.2f) 低于 %s 门槛", code, total_score, threshold);
    return false;
  }
  logger.info("%s 通过趋势跟随筛选 (评分: %.1f)", code, total_score);
  return true;
}

BRPSelector::BRPSelector(SelectorDeps deps)
    : PatternSelector("BRP", "all", "底部反转", std::move(deps)) {}

bool BRPSelector::judge(const std::string& code, const std::string& strategy_type,
                        double total_score) const {
  // 等待突破 is a bottom still waiting for its breakout: judged as a bottom reversal.
  if (strategy_type != "底部反转" && strategy_type != "等待突破") {
    logger.info("%s 策略类型为 %s, 不符合 BRPSelector (仅限底部反转)", code, strategy_type);
    return false;
  }
  double threshold = threshold_or(deps().thresholds, "底部反转", deps().default_threshold);
  if (total_score < threshold) {
    logger.info("%s 底部反转评分 (%.2f) 低于 %s 门槛", code, total_score, threshold);
    return false;
  }
  logger.info("%s 通过底部反转筛选 (评分: %.1f)", code, total_score);
  return true;
}

CombinedSelector::CombinedSelector(SelectorDeps deps)
    : PatternSelector("COMBINED", "all", "混合", std::move(deps)) {}

bool CombinedSelector::judge(const std::string& code, const std::string& strategy_type,
                             double total_score) const {
  auto it = deps().thresholds.find(strategy_type);
  if (it == deps().thresholds.end()) {
    logger.warning("%s 策略类型 %s 不在允许的策略类型范围内", code, strategy_type);
    return false;
  }
  double threshold = it->second;
  if (total_score < threshold) {
    logger.info("%s %s 评分 (%.2f) 低于 %s 门槛", code, strategy_type, total_score, threshold);
    return false;
  }
  logger.info("%s 通过组合筛选 (类型: %s, 评分: %.1f)", code, strategy_type, total_score);
  return true;
}

}  // namespace technical
