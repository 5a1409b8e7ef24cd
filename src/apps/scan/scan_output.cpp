#include "apps/scan/scan_output.hpp"

#include <cmath>

#include "morvik/radar.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace scan {

namespace {

using zorvane::utils::json_string;

using zorvane::utils::fixed_text;
using zorvane::utils::json_add;

double number_of(const rapidjson::Value& v, const char* key) {
  const auto* m = zorvane::utils::json_find(v, key);
  return m && m->IsNumber() ? m->GetDouble() : 0.0;
}

// One sign, decided on the printed digits: a loss that prints as zero is "+0.00%".
std::string signed_pct(double x) {
  if (!std::isfinite(x)) return fixed_text(x, 2) + "%";
  std::string digits = fixed_text(x, 2);
  const bool negative = !digits.empty() && digits[0] == '-';
  if (negative) digits.erase(0, 1);
  const bool zero = digits.find_first_not_of("0.") == std::string::npos;
  return (negative && !zero ? "-" : "+") + digits + "%";
}

void add_summary(rapidjson::Value& out, const Summary& s, zorvane::utils::JsonAllocator& a) {
  json_add(out, "end_date", s.end_date, a);
  json_add(out, "pool_size", static_cast<long long>(s.pool_size), a);
  json_add(out, "with_data", static_cast<long long>(s.with_data), a);
}

}  // namespace

std::string radar_text(const rapidjson::Value& sections, const std::string& frequency,
                       const Summary& s) {
  std::string out = "机会雷达 (频段: " + frequency + ", 截止: " + s.end_date +
                    ", 股票池: " + std::to_string(s.pool_size) +
                    ", 有数据: " + std::to_string(s.with_data) + ")\n";
  for (const auto name : {morvik::kRadarAbnormal, morvik::kRadarOpportunity, morvik::kRadarRisk}) {
    const auto* list = zorvane::utils::json_find(sections, name);
    const rapidjson::SizeType n = list && list->IsArray() ? list->Size() : 0;
    out += "\n《" + std::string(name) + "》 " + std::to_string(n) + " 只\n";
    if (n == 0) out += "  (无)\n";
    for (rapidjson::SizeType i = 0; i < n; ++i) {
      const auto& rec = (*list)[i];
      out += "  " + json_string(rec, "code") + "  " + json_string(rec, "name") + "  " +
             json_string(rec, "state") + "  评分 " + fixed_text(number_of(rec, "score"), 2) +
             "  量比 " + fixed_text(number_of(rec, "vol_ratio"), 2) + "  涨跌幅 " +
             signed_pct(number_of(rec, "change_pct"));
      std::string reasons;
      if (const auto* r = zorvane::utils::json_find(rec, "reasons"); r && r->IsArray()) {
        for (const auto& x : r->GetArray()) {
          if (!x.IsString()) continue;
          if (!reasons.empty()) reasons += "、";
          reasons += x.GetString();
        }
      }
      if (!reasons.empty()) out += "  " + reasons;
      out += "\n";
    }
  }
  return out;
}

std::string radar_json(const rapidjson::Value& sections, const std::string& frequency,
                       const Summary& s) {
  rapidjson::Document out(rapidjson::kObjectType);
  auto& a = out.GetAllocator();
  json_add(out, "frequency", frequency, a);
  add_summary(out, s, a);
  json_add(out, "sections", rapidjson::Value(sections, a), a);
  return zorvane::utils::safe_json_dumps(out, false, 2) + "\n";
}

std::string selector_text(const std::string& selector, const std::vector<Hit>& passed,
                          const Summary& s) {
  std::string out = "筛选器 " + selector + " (截止: " + s.end_date +
                    ", 股票池: " + std::to_string(s.pool_size) +
                    ", 有数据: " + std::to_string(s.with_data) +
                    ", 通过: " + std::to_string(passed.size()) + ")\n";
  if (passed.empty()) out += "  (无)\n";
  for (const auto& h : passed) {
    out += "  " + h.code + "  " + h.name + "  评分 " + fixed_text(h.score, 2) + "  策略 " +
           h.strategy_type + "\n";
  }
  return out;
}

std::string selector_json(const std::string& selector, const std::vector<Hit>& passed,
                          const Summary& s) {
  rapidjson::Document out(rapidjson::kObjectType);
  auto& a = out.GetAllocator();
  json_add(out, "selector", selector, a);
  add_summary(out, s, a);
  rapidjson::Value list(rapidjson::kArrayType);
  for (const auto& h : passed) {
    rapidjson::Value rec(rapidjson::kObjectType);
    json_add(rec, "code", h.code, a);
    json_add(rec, "name", h.name, a);
    json_add(rec, "score", h.score, a);
    json_add(rec, "strategy_type", h.strategy_type, a);
    list.PushBack(rec, a);
  }
  json_add(out, "passed", std::move(list), a);
  return zorvane::utils::safe_json_dumps(out, false, 2) + "\n";
}

}  // namespace scan
