#include "zorvane/report/report_records.hpp"

#include <ctime>
#include <stdexcept>

#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::report {

namespace {

using utils::json_add;

void add_optional(rapidjson::Value& object, std::string_view key,
                  const std::optional<std::string>& text, utils::JsonAllocator& a) {
  if (text) {
    json_add(object, key, std::string_view(*text), a);
  } else {
    json_add(object, key, rapidjson::Value(rapidjson::kNullType), a);
  }
}

rapidjson::Document parse_decision(const std::string& text) {
  rapidjson::Document decision;
  try {
    decision = utils::parse_json(text);
  } catch (const std::exception& e) {
    throw std::invalid_argument(std::string("decision 不是有效的 JSON: ") + e.what());
  }
  if (!decision.IsObject()) throw std::invalid_argument("decision 必须是 JSON 对象");
  return decision;
}

// The gate's check results (a JSON array as text) as a member, null when absent.
void add_checks(rapidjson::Value& object, const std::optional<std::string>& checks,
                utils::JsonAllocator& a) {
  if (!checks) {
    json_add(object, "gate_checks", rapidjson::Value(rapidjson::kNullType), a);
    return;
  }
  rapidjson::Document parsed;
  try {
    parsed = utils::parse_json(*checks);
  } catch (const std::exception& e) {
    throw std::invalid_argument(std::string("gate_checks 不是有效的 JSON: ") + e.what());
  }
  if (!parsed.IsArray()) throw std::invalid_argument("gate_checks 必须是 JSON 数组");
  json_add(object, "gate_checks", rapidjson::Value(parsed, a), a);
}

}  // namespace

std::string message_key(const SumoraReport& report) {
  return report.market_type + ":" + report.analysis_time;
}

std::string message_key(const StockReport& report) {
  return report.code + ":" + report.analysis_date;
}

std::string message_json(const SumoraReport& report, const std::string& created_at,
                         const std::string& message_id) {
  rapidjson::Document doc(rapidjson::kObjectType);
  auto& a = doc.GetAllocator();
  json_add(doc, "type", "sumora", a);
  json_add(doc, "message_id", std::string_view(message_id), a);
  json_add(doc, "market_type", std::string_view(report.market_type), a);
  json_add(doc, "analysis_time", std::string_view(report.analysis_time), a);
  json_add(doc, "content", std::string_view(report.content), a);
  add_optional(doc, "llm_client_type", report.llm_client_type, a);
  add_optional(doc, "llm_model", report.llm_model, a);
  add_optional(doc, "brief_status", report.brief_status, a);
  add_checks(doc, report.gate_checks, a);
  json_add(doc, "created_at", std::string_view(created_at), a);
  return utils::strict_json_dumps(doc);
}

std::string message_json(const StockReport& report, const std::string& created_at,
                         const std::string& message_id) {
  rapidjson::Document doc(rapidjson::kObjectType);
  auto& a = doc.GetAllocator();
  json_add(doc, "type", "stock_report", a);
  json_add(doc, "message_id", std::string_view(message_id), a);
  json_add(doc, "code", std::string_view(report.code), a);
  json_add(doc, "name", std::string_view(report.name), a);
  add_optional(doc, "market_type", report.market_type, a);
  json_add(doc, "analysis_date", std::string_view(report.analysis_date), a);
  json_add(doc, "llm_client_type", std::string_view(report.llm_client_type), a);
  json_add(doc, "llm_model", std::string_view(report.llm_model), a);
  json_add(doc, "report", std::string_view(report.report), a);
  json_add(doc, "summary", std::string_view(report.summary), a);
  if (report.decision_json) {
    rapidjson::Document decision = parse_decision(*report.decision_json);
    rapidjson::Value copy(decision, a);
    json_add(doc, "decision", std::move(copy), a);
  } else {
    json_add(doc, "decision", rapidjson::Value(rapidjson::kNullType), a);
  }
  add_optional(doc, "last_bar_date", report.last_bar_date, a);
  add_optional(doc, "decision_status", report.decision_status, a);
  add_checks(doc, report.gate_checks, a);
  json_add(doc, "created_at", std::string_view(created_at), a);
  return utils::strict_json_dumps(doc);
}

std::optional<std::string> stored_decision_json(const StockReport& report) {
  if (!report.decision_json) return std::nullopt;
  return utils::strict_json_dumps(parse_decision(*report.decision_json));
}

std::string add_message_id(const std::string& payload, const std::string& message_id) {
  rapidjson::Document doc;
  try {
    doc = utils::parse_json(payload);
  } catch (const std::exception&) {
    return payload;
  }
  if (!doc.IsObject()) return payload;
  auto& a = doc.GetAllocator();
  if (auto it = doc.FindMember("message_id"); it != doc.MemberEnd()) {
    it->value.SetString(message_id.data(), static_cast<rapidjson::SizeType>(message_id.size()), a);
    return utils::safe_json_dumps(doc);
  }
  rapidjson::Value out(rapidjson::kObjectType);
  bool placed = false;
  auto place = [&] {
    json_add(out, "message_id", std::string_view(message_id), a);
    placed = true;
  };
  for (auto& m : doc.GetObject()) {
    const bool is_type = std::string_view(m.name.GetString(), m.name.GetStringLength()) == "type";
    out.AddMember(m.name, m.value, a);  // moves
    if (is_type) place();
  }
  if (!placed) place();
  return utils::safe_json_dumps(out);
}

std::string utc_now_text() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string report_markdown(const StockReport& report, const std::string& created_at) {
  std::string title = report.name.empty() ? report.code : report.name + "（" + report.code + "）";
  std::string md = "# " + title + " AI 分析报告 · " + report.analysis_date + "\n\n";
  md += "- 市场：" + report.market_type.value_or("未知") + "\n";
  md += "- 模型：" + report.llm_client_type + " / " + report.llm_model + "\n";
  if (report.last_bar_date) md += "- 最后K线日期：" + *report.last_bar_date + "\n";
  md += "- 生成时间：" + created_at + "\n\n";
  md += "## 分析报告\n\n" + std::string(utils::trim(report.report)) + "\n\n";
  md += "## 投资建议总结\n\n" + std::string(utils::trim(report.summary)) + "\n";
  if (report.decision_json) {
    rapidjson::Document decision = parse_decision(*report.decision_json);
    md += "\n## 交易决策\n\n";
    if (report.decision_status == "rejected") {
      md += "> 决策未通过可信校验（rejected），不应据此操作。\n\n";
    }
    md += "```json\n" + utils::strict_json_dumps(decision, 2) + "\n```\n";
  }
  return md;
}

void check_file_component(std::string_view text, std::string_view what) {
  bool bad = text.empty() || text == "." || text == "..";
  for (unsigned char c : text) {
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7f) bad = true;
  }
  if (bad) {
    throw std::invalid_argument("不能用作文件名的" + std::string(what) + ": " +
                                utils::quoted_text(text));
  }
}

}  // namespace zorvane::report
