#include "morvik/pattern_scan.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#include "morvik/pattern_features.hpp"
#include "morvik/pattern_series.hpp"
#include "morvik/pre_screen.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace morvik {

namespace zu = zorvane::utils;
using rapidjson::Value;
using zu::json_add;

namespace {

struct ScanOptions {
  std::optional<std::string> market_bias;
  pattern::FeatureInputs inputs;
};

double option_number(const Value& v, const char* key) {
  if (!v.IsNumber()) {
    throw std::invalid_argument(std::string("pre_screen_and_scan: option '") + key +
                                "' must be a number");
  }
  double x = v.GetDouble();
  if (!std::isfinite(x)) {
    throw std::invalid_argument(std::string("pre_screen_and_scan: option '") + key +
                                "' must be finite");
  }
  return x;
}

ScanOptions parse_options(const Value* options) {
  ScanOptions out;
  if (options == nullptr || options->IsNull()) return out;
  if (!options->IsObject()) {
    throw std::invalid_argument("pre_screen_and_scan: options must be a JSON object");
  }
  for (const auto& m : options->GetObject()) {
    std::string key(m.name.GetString(), m.name.GetStringLength());
    if (key == "market_bias") {
      if (!m.value.IsString()) {
        throw std::invalid_argument("pre_screen_and_scan: option 'market_bias' must be text");
      }
      out.market_bias = std::string(m.value.GetString(), m.value.GetStringLength());
    } else if (key == "benchmark_return_20d") {
      out.inputs.benchmark_return_20d = option_number(m.value, "benchmark_return_20d");
    } else if (key == "index_atr_ratio") {
      out.inputs.index_atr_ratio = option_number(m.value, "index_atr_ratio");
    } else {
      throw std::invalid_argument("pre_screen_and_scan: unknown option " + zu::quoted_text(key));
    }
  }
  return out;
}

// Rounded number, or null when it cannot be computed.
Value num(double x, int decimals) {
  if (!std::isfinite(x)) return Value(rapidjson::kNullType);
  return Value(zu::round_to(x, decimals) + 0.0);
}

Value num(const std::optional<double>& x, int decimals) {
  return x ? num(*x, decimals) : Value(rapidjson::kNullType);
}

Value text_or_null(const std::string& text, zu::JsonAllocator& a) {
  return text.empty() ? Value(rapidjson::kNullType) : zu::json_string(text, a);
}

Value string_list(const std::vector<std::string>& items, zu::JsonAllocator& a) {
  Value list(rapidjson::kArrayType);
  for (const auto& s : items) list.PushBack(zu::json_string(s, a), a);
  return list;
}

Value pivots_json(const std::optional<pattern::Pivots>& p, zu::JsonAllocator& a) {
  if (!p) return Value(rapidjson::kNullType);
  Value o(rapidjson::kObjectType);
  json_add(o, "P", num(p->p, 3), a);
  json_add(o, "R1", num(p->r1, 3), a);
  json_add(o, "R2", num(p->r2, 3), a);
  json_add(o, "R3", num(p->r3, 3), a);
  json_add(o, "S1", num(p->s1, 3), a);
  json_add(o, "S2", num(p->s2, 3), a);
  json_add(o, "S3", num(p->s3, 3), a);
  return o;
}

Value pre_screen_json(const pattern::PreScreen& ps, double min_score, zu::JsonAllocator& a) {
  Value o(rapidjson::kObjectType);
  json_add(o, "strategy_hint", ps.strategy_type, a);
  json_add(o, "passed", ps.passed, a);
  json_add(o, "min_score", num(min_score, 2), a);
  json_add(o, "reasons", string_list(ps.reasons, a), a);
  Value checks(rapidjson::kObjectType);
  for (const auto& c : ps.checks) {
    Value entry(rapidjson::kObjectType);
    json_add(entry, "matched", c.matched, a);
    Value conditions(rapidjson::kObjectType);
    for (const auto& [name, ok] : c.conditions) json_add(conditions, name, ok, a);
    json_add(entry, "conditions", std::move(conditions), a);
    json_add(checks, c.key, std::move(entry), a);
  }
  json_add(o, "checks", std::move(checks), a);
  return o;
}

Value trend_json(const pattern::Features& f, zu::JsonAllocator& a) {
  Value o(rapidjson::kObjectType);
  json_add(o, "ema_order", text_or_null(f.n ? f.ema_order : "", a), a);
  Value ema(rapidjson::kObjectType);
  json_add(ema, "EMA_5", num(f.ema5, 3), a);
  json_add(ema, "EMA_10", num(f.ema10, 3), a);
  json_add(ema, "EMA_20", num(f.ema20, 3), a);
  json_add(ema, "EMA_60", num(f.ema60, 3), a);
  json_add(o, "ema", std::move(ema), a);
  json_add(o, "adx", num(f.adx, 2), a);
  json_add(o, "adx_slope", num(f.adx_slope, 2), a);
  json_add(o, "adx_direction", text_or_null(f.adx_direction, a), a);
  json_add(o, "vwma", num(f.vwma, 3), a);
  json_add(o, "vwma_slope", text_or_null(f.vwma_slope, a), a);
  json_add(o, "vwma_slope_pct", num(f.vwma_slope_pct, 3), a);
  json_add(o, "dist_ema20_atr", num(f.dist_ema20_atr, 2), a);
  json_add(o, "close_pct_60d", num(f.pct60, 3), a);
  json_add(o, "close_pct_120d", num(f.pct120, 3), a);
  json_add(o, "weekly_trend", text_or_null(f.weekly_trend.value_or(""), a), a);
  return o;
}

}  // namespace

rapidjson::Document pre_screen_and_scan(const candlex::BarTable& df, std::string_view symbol,
                                        std::string_view mode, double min_score,
                                        const rapidjson::Value* options) {
  if (mode != "all" && mode != "trend") {
    throw std::invalid_argument("pre_screen_and_scan: mode must be 'all' or 'trend', got " +
                                zu::quoted_text(mode));
  }
  if (!std::isfinite(min_score)) {
    throw std::invalid_argument("pre_screen_and_scan: min_score must be a finite number");
  }
  ScanOptions opts = parse_options(options);
  pattern::Tier tier = pattern::tier_for(opts.market_bias);

  auto series = pattern::prepare_series(df);
  pattern::Features f = pattern::compute_features(*series, opts.inputs);
  pattern::PreScreen ps = pattern::run_pre_screen(f, tier, std::string(mode), min_score);

  rapidjson::Document doc(rapidjson::kObjectType);
  auto& a = doc.GetAllocator();
  json_add(doc, "symbol", symbol, a);
  json_add(doc, "mode", mode, a);
  json_add(doc, "as_of", text_or_null(df.empty() ? "" : zu::iso_date(df.last_date()), a), a);
  json_add(doc, "bars", static_cast<long long>(df.size()), a);
  json_add(doc, "pre_screen_passed", ps.passed, a);
  json_add(doc, "total_score", num(ps.total_score, 2), a);
  json_add(doc, "strategy_type", ps.strategy_type, a);
  json_add(doc, "urgency", ps.urgency, a);
  json_add(doc, "pre_screen", pre_screen_json(ps, min_score, a), a);

  Value breakdown(rapidjson::kObjectType);
  json_add(breakdown, "pattern", num(ps.breakdown.pattern, 2), a);
  json_add(breakdown, "confluence", num(ps.breakdown.confluence, 2), a);
  json_add(breakdown, "volume", num(ps.breakdown.volume, 2), a);
  json_add(breakdown, "environment", num(ps.breakdown.environment, 2), a);
  json_add(breakdown, "regime", num(ps.breakdown.regime, 2), a);
  json_add(breakdown, "risk", num(ps.breakdown.risk, 2), a);
  json_add(doc, "score_breakdown", std::move(breakdown), a);

  const bool any = f.n > 0;
  Value price(rapidjson::kObjectType);
  json_add(price, "close", any ? num(f.close, 3) : Value(), a);
  json_add(price, "support", any ? num(f.support, 3) : Value(), a);
  json_add(price, "resistance", any ? num(f.resistance, 3) : Value(), a);
  json_add(price, "low_5d", any ? num(f.low5, 3) : Value(), a);
  json_add(price, "low_20d", any ? num(f.low20, 3) : Value(), a);
  json_add(price, "high_20d", any ? num(f.high20, 3) : Value(), a);
  json_add(price, "ema20", any ? num(f.ema20, 3) : Value(), a);
  json_add(price, "upper_band", any ? num(f.upper, 3) : Value(), a);
  json_add(price, "vwma", any ? num(f.vwma, 3) : Value(), a);
  json_add(price, "atr", any ? num(f.atr, 3) : Value(), a);
  json_add(doc, "price_context", std::move(price), a);
  json_add(doc, "classic_pivot_points", pivots_json(f.classic, a), a);
  json_add(doc, "fibonacci_pivot_points", pivots_json(f.fibonacci, a), a);
  json_add(doc, "trend_structure", any ? trend_json(f, a) : Value(), a);

  Value constraints(rapidjson::kObjectType);
  json_add(constraints, "base_confidence_score", num(ps.confidence.total, 2), a);
  Value conf(rapidjson::kObjectType);
  json_add(conf, "trend_resonance", num(ps.confidence.trend_resonance, 2), a);
  json_add(conf, "volume", num(ps.confidence.volume, 2), a);
  json_add(conf, "market_environment", num(ps.confidence.market_environment, 2), a);
  json_add(conf, "signal_confluence", num(ps.confidence.signal_confluence, 2), a);
  json_add(conf, "risk_penalty", num(ps.confidence.risk_penalty, 2), a);
  json_add(constraints, "confidence_breakdown", std::move(conf), a);
  json_add(constraints, "min_rrr", num(ps.min_rrr, 2), a);
  json_add(constraints, "max_stop_dist_atr", num(ps.max_stop_dist_atr, 2), a);
  json_add(constraints, "max_position_pct", ps.max_position_pct, a);
  json_add(constraints, "tier", tier.name, a);
  json_add(doc, "calculated_constraints", std::move(constraints), a);

  json_add(doc, "risk_flags", string_list(f.risk_flags, a), a);
  Value metrics(rapidjson::kObjectType);
  json_add(metrics, "pullback_depth_pct", num(f.pullback_depth_pct, 2), a);
  json_add(metrics, "pullback_days",
           f.pullback_days ? Value(static_cast<int64_t>(*f.pullback_days)) : Value(), a);
  json_add(metrics, "pullback_avg_vr", num(f.pullback_avg_vr, 2), a);
  json_add(metrics, "rs_20d", num(f.rs_20d, 2), a);
  json_add(doc, "risk_metrics", std::move(metrics), a);

  Value market(rapidjson::kObjectType);
  json_add(market, "vol_regime", any ? f.vol_regime : std::string("normal_vol"), a);
  json_add(market, "atr_ratio_60d", any ? num(f.atr_ratio, 3) : Value(), a);
  json_add(market, "atr_source", text_or_null(f.atr_source, a), a);
  json_add(market, "market_bias", text_or_null(opts.market_bias.value_or(""), a), a);
  json_add(market, "tier", tier.name, a);
  json_add(doc, "market_context", std::move(market), a);

  Value confluence(rapidjson::kObjectType);
  json_add(confluence, "score", static_cast<int>(f.signals.size()), a);
  json_add(confluence, "signals", string_list(f.signals, a), a);
  json_add(doc, "signal_confluence", std::move(confluence), a);

  Value patterns(rapidjson::kObjectType);
  bool has_reversal = f.reversal != pattern::Reversal::none;
  json_add(patterns, "reversal_candle",
           has_reversal ? zu::json_string(pattern::reversal_name(f.reversal), a) : Value(), a);
  json_add(patterns, "reversal_bar",
           has_reversal ? zu::json_string(zu::iso_date(df.dates()[f.reversal_bar]), a) : Value(),
           a);
  json_add(patterns, "evening_star", f.evening_star, a);
  json_add(doc, "patterns", std::move(patterns), a);
  return doc;
}

}  // namespace morvik
