#include "strategy/radar/opportunity_radar_selector.hpp"

#include <stdexcept>
#include <utility>

#include "candlex/market_data.hpp"
#include "indicators/evaluate.hpp"
#include "strategy/radar/frequency.hpp"
#include "strategy/radar/radar_verdict.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace radar {

namespace {

using zorvane::strategy::CheckResult;
using zorvane::utils::bool_text;
using zorvane::utils::json_find;
using zorvane::utils::logger;

const char* const kAutoFrequency = "auto(周五周频/平日日频)";

std::string kind_error(std::string_view what, std::string_view name, std::string_view expected,
                       const rapidjson::Value& got) {
  return std::string(what) + " '" + std::string(name) + "' must be " + std::string(expected) +
         ", got " + zorvane::utils::safe_json_dumps(got);
}

// Typed readers of one named value; `what` is "argument" or "option" for the message.
struct NamedValues {
  const rapidjson::Value& obj;
  const char* what;

  const rapidjson::Value* find(const char* name) const { return json_find(obj, name); }

  std::optional<std::optional<std::string>> text_or_null(const char* name) const {
    const auto* v = find(name);
    if (v == nullptr) return std::nullopt;
    if (v->IsNull()) return std::optional<std::string>();
    if (!v->IsString()) throw std::invalid_argument(kind_error(what, name, "text or null", *v));
    return std::optional<std::string>(std::string(v->GetString(), v->GetStringLength()));
  }
  std::optional<double> number(const char* name) const {
    const auto* v = find(name);
    if (v == nullptr) return std::nullopt;
    if (!v->IsNumber()) throw std::invalid_argument(kind_error(what, name, "a number", *v));
    return v->GetDouble();
  }
  std::optional<std::optional<double>> number_or_null(const char* name) const {
    const auto* v = find(name);
    if (v == nullptr) return std::nullopt;
    if (v->IsNull()) return std::optional<double>();
    if (!v->IsNumber()) throw std::invalid_argument(kind_error(what, name, "a number or null", *v));
    return std::optional<double>(v->GetDouble());
  }
  std::optional<bool> flag(const char* name) const {
    const auto* v = find(name);
    if (v == nullptr) return std::nullopt;
    if (!v->IsBool()) throw std::invalid_argument(kind_error(what, name, "true or false", *v));
    return v->GetBool();
  }
};

void require_object(const rapidjson::Value& v, const char* what) {
  if (!v.IsObject())
    throw std::invalid_argument(std::string(what) + " must be a JSON object, got " +
                                zorvane::utils::safe_json_dumps(v));
}

bool blank(const std::optional<std::string>& s) {
  return !s || s->empty();
}

std::optional<std::string> text_or_default(const std::string& s) {
  if (s.empty()) return std::nullopt;
  return s;
}

}  // namespace

RadarConfig radar_config_from_json(const rapidjson::Value& args) {
  require_object(args, "radar selector arguments");
  static const char* const known[] = {
      "frequency",   "min_score",         "min_amount_ea",  "min_vol_ratio", "min_pct_change",
      "weekly_mode", "allow_opportunity", "allow_abnormal", "reject_risk",   "reject_bearish"};
  for (const auto& m : args.GetObject()) {
    const std::string_view name(m.name.GetString(), m.name.GetStringLength());
    bool found = false;
    for (const char* k : known) found = found || name == k;
    if (!found)
      throw std::invalid_argument("unknown radar selector argument '" + std::string(name) + "'");
  }
  const NamedValues in{args, "argument"};
  RadarConfig c;
  if (auto v = in.text_or_null("frequency")) c.frequency = *v;
  if (auto v = in.number("min_score")) c.min_score = *v;
  if (auto v = in.number_or_null("min_amount_ea")) c.min_amount_ea = *v;
  if (auto v = in.number("min_vol_ratio")) c.min_vol_ratio = *v;
  if (auto v = in.number("min_pct_change")) c.min_pct_change = *v;
  if (auto v = in.text_or_null("weekly_mode")) c.weekly_mode = *v;
  if (auto v = in.flag("allow_opportunity")) c.allow_opportunity = *v;
  if (auto v = in.flag("allow_abnormal")) c.allow_abnormal = *v;
  if (auto v = in.flag("reject_risk")) c.reject_risk = *v;
  if (auto v = in.flag("reject_bearish")) c.reject_bearish = *v;
  return c;
}

OpportunityRadarSelector::OpportunityRadarSelector(RadarConfig config, RadarHooks hooks)
    : config_(std::move(config)), hooks_(std::move(hooks)) {
  if (!hooks_.load_bars) hooks_.load_bars = candlex::get_any_ohlc;
  if (!hooks_.evaluate) hooks_.evaluate = morvik::evaluate_opportunity_radar_item;
  logger.info("OpportunityRadarSelector 初始化完成 (frequency=%s, min_score=%s, reject_bearish=%s)",
              blank(config_.frequency) ? std::string(kAutoFrequency) : *config_.frequency,
              zorvane::utils::float_text(config_.min_score), bool_text(config_.reject_bearish));
}

OpportunityRadarSelector OpportunityRadarSelector::from_json(const rapidjson::Value& args,
                                                             RadarHooks hooks) {
  return OpportunityRadarSelector(radar_config_from_json(args), std::move(hooks));
}

CheckResult OpportunityRadarSelector::check(const std::string& code, const std::string& start_date,
                                            const std::string& end_date,
                                            const rapidjson::Value& options) {
  require_object(options, "radar check options");
  // Options are read before any data is loaded, so a wrong kind fails fast.
  const NamedValues opt{options, "option"};
  std::optional<std::string> freq = config_.frequency;
  if (auto v = opt.text_or_null("frequency")) freq = *v;
  std::optional<double> min_amount_ea = config_.min_amount_ea;
  if (auto v = opt.number_or_null("min_amount_ea")) min_amount_ea = *v;
  const double min_vol_ratio = opt.number("min_vol_ratio").value_or(config_.min_vol_ratio);
  const double min_pct_change = opt.number("min_pct_change").value_or(config_.min_pct_change);
  std::optional<std::string> weekly_mode = config_.weekly_mode;
  if (auto v = opt.text_or_null("weekly_mode")) weekly_mode = *v;
  const double min_score = opt.number("min_score").value_or(config_.min_score);
  const std::string name = opt.text_or_null("name").value_or(std::nullopt).value_or("");

  candlex::BarTable df =
      hooks_.load_bars(code, text_or_default(start_date), text_or_default(end_date));
  if (df.empty()) {
    logger.warning("股票 %s 没有数据", code);
    return {false, std::nullopt, std::move(df), "", 0.0, kTypeNoData};
  }
  auto stock_status = indicators::get_stock_status(df, code);

  if (blank(freq)) {
    freq =
        end_date.empty() ? get_default_frequency(df.last_date()) : get_default_frequency(end_date);
  }

  const rapidjson::Document item = hooks_.evaluate(df, code, name, *freq, min_amount_ea,
                                                   min_vol_ratio, min_pct_change, weekly_mode);
  const RadarItemFields f = read_radar_item(item);
  const double last_open = df.has("open") ? df.last("open") : 0.0;
  const double last_close = df.has("close") ? df.last("close") : 0.0;
  const RadarSwitches switches{config_.allow_opportunity, config_.allow_abnormal,
                               config_.reject_risk, config_.reject_bearish};
  const RadarVerdict verdict = judge_radar_item(f, last_open, last_close, switches, min_score);
  const std::string strategy_type = radar_strategy_type(f, radar_strategy_hint(item));
  std::string pattern_info_str = radar_pattern_info(item, f, *freq);

  if (!verdict.is_eligible) {
    logger.debug(
        "%s 未通过机会雷达初筛 (频段: %s, tech_score=%.1f, is_opp=%s, is_vol=%s, is_risk=%s, "
        "is_bearish=%s)",
        code, *freq, f.tech_score, bool_text(f.is_opportunity), bool_text(f.is_vol_abnormal),
        bool_text(f.is_risk), bool_text(verdict.is_bearish));
  } else {
    logger.info(
        "%s 通过机会雷达初筛 (频段: %s, 状态: %s, 策略: %s, 评分: %.1f, 放量: %.2fx, 涨跌幅: "
        "%.2f%%)",
        code, *freq, f.curr_state_cn, strategy_type, f.tech_score, f.vol_ratio, f.change_pct);
  }
  return {verdict.is_eligible, std::move(stock_status),
          std::move(df),       std::move(pattern_info_str),
          f.tech_score,        strategy_type};
}

std::string pool_reference_frequency(const morvik::RadarPool& pool,
                                     const std::optional<std::string>& frequency,
                                     const std::optional<std::string>& target_date) {
  if (!blank(frequency)) return *frequency;
  if (!blank(target_date)) return get_default_frequency(*target_date);
  std::optional<candlex::Day> latest;
  for (const auto& [code, entry] : pool) {
    const auto& bars = entry.second;
    if (!bars || bars->empty()) continue;
    const candlex::Day last = bars->last_date();
    if (!latest || last > *latest) latest = last;
  }
  return latest ? get_default_frequency(*latest) : get_default_frequency();
}

rapidjson::Document OpportunityRadarSelector::analyze_pool(
    const morvik::RadarPool& pool, const std::optional<std::string>& frequency,
    std::optional<double> min_amount_ea, double min_vol_ratio, double min_pct_change,
    const std::optional<std::string>& weekly_mode, const std::optional<std::string>& target_date) {
  const std::string freq = pool_reference_frequency(pool, frequency, target_date);
  return morvik::analyze_opportunity_radar(pool, freq, min_amount_ea, min_vol_ratio, min_pct_change,
                                           weekly_mode);
}

}  // namespace radar
