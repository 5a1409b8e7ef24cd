#include "backtest/decision_source.hpp"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <tuple>

#include "candlex/codes.hpp"
#include "zorvane/market/market_type.hpp"
#include "zorvane/report/sqlite_db.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace backtest {

namespace {

using zorvane::utils::json_string;

using zorvane::report::SqliteDb;
using zorvane::report::SqliteStatement;

double number_of(const rapidjson::Value& obj, const char* key) {
  auto it = obj.FindMember(key);
  return it != obj.MemberEnd() && it->value.IsNumber() ? it->value.GetDouble() : 0.0;
}

bool has_column(SqliteDb& db, std::string_view table, std::string_view column) {
  SqliteStatement info(db, "PRAGMA table_info(" + std::string(table) + ")");
  while (info.step()) {
    if (info.column_text(1).value_or("") == column) return true;
  }
  return false;
}

std::string canonical(const std::string& code) {
  try {
    return candlex::normalize_code(code);
  } catch (const std::invalid_argument&) {
    return code;  // kept as stored; it simply matches no bars
  }
}

void check_selection(const Selection& s) {
  for (const auto* date : {&s.from, &s.to}) {
    if (*date) zorvane::utils::parse_iso_date(**date);
  }
  if (s.market) {
    const auto m = zorvane::utils::to_upper(zorvane::utils::trim(*s.market));
    if (m != "A" && m != "ETF" && m != "HK" && m != "US") {
      throw std::invalid_argument("未知市场: " + *s.market + " (可选 A, ETF, HK, US)");
    }
  }
}

}  // namespace

bool read_decision_json(std::string_view json, StoredDecision& into) {
  rapidjson::Document doc;
  try {
    doc = zorvane::utils::parse_json(json);
  } catch (const std::invalid_argument&) {
    return false;
  }
  if (!doc.IsObject()) return false;
  into.direction = json_string(doc, "direction");
  into.holder_action = json_string(doc, "holder_action");
  into.confidence = json_string(doc, "confidence");
  into.plan.action = json_string(doc, "action");
  into.plan.holding_period = json_string(doc, "holding_period");
  into.plan.current_price = number_of(doc, "current_price");
  into.plan.entry_low = number_of(doc, "entry_price_low");
  into.plan.entry_high = number_of(doc, "entry_price_high");
  into.plan.stop = number_of(doc, "stop_loss");
  into.plan.target_1 = number_of(doc, "target_1");
  into.plan.target_2 = number_of(doc, "target_2");
  return true;
}

LoadedDecisions load_decisions(const std::filesystem::path& report_root,
                               const Selection& selection) {
  check_selection(selection);
  const auto path = report_root / "reports.db";
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    throw std::runtime_error("报告数据库不存在: " + path.string());
  }
  SqliteDb db(path);
  if (!has_column(db, "stock_reports", "decision")) {
    throw std::runtime_error("报告数据库中没有个股报告表: " + path.string());
  }
  const bool has_status = has_column(db, "stock_reports", "decision_status");

  std::string sql =
      "SELECT id, code, name, market_type, analysis_date, llm_client_type, llm_model, decision, " +
      std::string(has_status ? "decision_status" : "NULL") +
      " FROM stock_reports WHERE analysis_date >= ? AND analysis_date <= ?";
  if (selection.model) sql += " AND llm_client_type = ?";
  sql += " ORDER BY id";
  SqliteStatement select(db, sql);
  select.bind(1, selection.from.value_or("0000-00-00"))
      .bind(2, selection.to.value_or("9999-99-99"));
  if (selection.model)
    select.bind(3, zorvane::utils::to_lower(zorvane::utils::trim(*selection.model)));

  const auto want_code =
      selection.code ? std::optional(candlex::normalize_code(*selection.code)) : std::nullopt;
  const auto want_market =
      selection.market
          ? std::optional(zorvane::utils::to_upper(zorvane::utils::trim(*selection.market)))
          : std::nullopt;

  LoadedDecisions out;
  // Newest row per (code, date, client): later ids replace earlier ones.
  std::map<std::tuple<std::string, std::string, std::string>, std::size_t> latest;
  std::vector<std::optional<StoredDecision>> rows;
  while (select.step()) {
    StoredDecision d;
    d.id = select.column_int(0);
    d.code = canonical(select.column_text(1).value_or(""));
    if (want_code && d.code != *want_code) continue;
    d.name = select.column_text(2).value_or("");
    d.market = select.column_text(3).value_or("");
    if (d.market.empty()) d.market = zorvane::utils::get_market_type(d.code, d.name).value_or("");
    if (want_market && d.market != *want_market) continue;
    d.analysis_date = select.column_text(4).value_or("");
    d.client_type = select.column_text(5).value_or("");
    d.model = select.column_text(6).value_or("");
    auto decision = select.column_text(7);
    d.decision_status = select.column_text(8).value_or("");

    auto key = std::make_tuple(d.code, d.analysis_date, d.client_type);
    if (auto it = latest.find(key); it != latest.end()) {
      ++out.superseded;
      it->second = rows.size();
    } else {
      latest.emplace(key, rows.size());
    }
    if (!decision) {
      rows.emplace_back();  // keeps the slot so a newer row can supersede it
      continue;
    }
    if (!read_decision_json(*decision, d)) d.id = -d.id;  // marks it unreadable
    rows.push_back(std::move(d));
  }

  for (const auto& [key, index] : latest) {
    auto& row = rows[index];
    if (!row) {
      ++out.without_decision;
    } else if (row->id < 0) {
      ++out.unreadable;
    } else if (row->decision_status == "rejected" && !selection.include_rejected) {
      ++out.rejected;
    } else if (row->decision_status == "none") {
      ++out.without_decision;
    } else {
      out.decisions.push_back(std::move(*row));
    }
  }
  std::sort(out.decisions.begin(), out.decisions.end(), [](const auto& x, const auto& y) {
    return std::tie(x.analysis_date, x.code, x.client_type) <
           std::tie(y.analysis_date, y.code, y.client_type);
  });
  return out;
}

}  // namespace backtest
