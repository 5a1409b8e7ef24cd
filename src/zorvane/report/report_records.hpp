#pragma once
// The records report storage keeps, and the message and file forms made from them.

#include <optional>
#include <string>
#include <string_view>

namespace zorvane::report {

// A market brief of one market and day.
struct SumoraReport {
  std::string market_type;
  std::string content;
  std::string analysis_time;
  std::optional<std::string> llm_client_type;
  std::optional<std::string> llm_model;
  // The trust gate's verdict on a freshly generated brief ("valid", "corrected", "failed"),
  // and its check results as a JSON array; none when the brief was served from a cache that
  // holds no such mark.
  std::optional<std::string> brief_status = std::nullopt;
  std::optional<std::string> gate_checks = std::nullopt;
};

// A per-stock analysis.
struct StockReport {
  std::string code;
  std::string name;
  std::optional<std::string> market_type;  // absent when the market is unknown
  std::string analysis_date;               // YYYY-MM-DD
  std::string llm_client_type;
  std::string llm_model;
  std::string report;
  std::string summary;
  std::optional<std::string> decision_json;  // the decision as JSON text, or none
  // "valid", "rejected" (a critical trust check failed) or "none" (no decision), and the
  // check results as a JSON array; none when no gate ran. They sit beside the decision, never
  // inside it.
  std::optional<std::string> decision_status = std::nullopt;
  std::optional<std::string> gate_checks = std::nullopt;
  // YYYY-MM-DD of the last bar analysed, or none.
  std::optional<std::string> last_bar_date = std::nullopt;
};

// Message keys: market-and-date and code-and-date ("A:2024-05-10", "sh.600519:2024-05-10").
std::string message_key(const SumoraReport& report);
std::string message_key(const StockReport& report);

// Message values: {"type": "sumora", "message_id", "market_type", "analysis_time", "content",
// "llm_client_type", "llm_model", "brief_status", "gate_checks", "created_at"} and
// {"type": "stock_report", "message_id", "code", "name", "market_type", "analysis_date",
// "llm_client_type", "llm_model", "report", "summary", "decision", "decision_status",
// "gate_checks", "last_bar_date", "created_at"}, with absent values as null and the decision and
// checks embedded as JSON. The text is strict JSON: a NaN or infinite number is written null.
// Throws std::invalid_argument when decision_json is not a JSON object or gate_checks not a JSON
// array.
std::string message_json(const SumoraReport& report, const std::string& created_at,
                         const std::string& message_id);
std::string message_json(const StockReport& report, const std::string& created_at,
                         const std::string& message_id);

// `payload` with "message_id" set, placed after "type" when it is new. A payload that is not a
// JSON object is returned unchanged.
std::string add_message_id(const std::string& payload, const std::string& message_id);

// The current UTC time as "YYYY-MM-DDTHH:MM:SSZ", the form of every time the storage records.
std::string utc_now_text();

// The decision as the database keeps it: strict JSON (non-finite numbers as null), or none.
// Throws std::invalid_argument when decision_json is not a JSON object.
std::optional<std::string> stored_decision_json(const StockReport& report);

// The Markdown copy of a stock report for people to read.
std::string report_markdown(const StockReport& report, const std::string& created_at);

// Checks what becomes part of a file path: throws std::invalid_argument naming `what` when
// `text` is empty, "." or "..", or holds a path separator or a control character.
void check_file_component(std::string_view text, std::string_view what);

}  // namespace zorvane::report
