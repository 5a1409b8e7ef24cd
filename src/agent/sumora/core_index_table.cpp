#include "agent/sumora/core_index_table.hpp"

#include <stdexcept>

#include "agent/sumora/cache.hpp"
#include "candlex/market_data.hpp"
#include "zorvane/market/indices.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace sumora {

namespace {

constexpr const char* kNoCoreData = "（暂无核心指数数据）";

std::string join_lines(const std::vector<std::string>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) out += '\n';
    out += lines[i];
  }
  return out;
}

}  // namespace

CoreIndexSource default_core_index_source() {
  CoreIndexSource source;
  source.catalogue = [](const std::string& market_type) {
    std::vector<CoreIndex> out;
    for (const auto& index : zorvane::utils::_get_indices_for_market(market_type)) {
      out.push_back({index.code, index.name});
    }
    return out;
  };
  source.bars = [](const std::string& code, const std::string& end_date) {
    return candlex::get_any_ohlc(code, std::nullopt, end_date);
  };
  return source;
}

std::vector<std::size_t> core_index_positions(const std::string& market_type,
                                              std::size_t catalogue_size) {
  auto mt = zorvane::utils::to_upper(market_type);
  if (mt == "A" || mt == "ETF") {
    if (catalogue_size < 5) {
      throw std::out_of_range("core index catalogue of " + market_type + " has " +
                              std::to_string(catalogue_size) + " entries, needs 5");
    }
    return {0, 2, 3, 4};
  }
  std::size_t take = mt == "HK" ? 2 : mt == "US" ? 3 : 1;
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < take && i < catalogue_size; ++i) out.push_back(i);
  return out;
}

CoreIndexTable _generate_core_index_table(const std::string& market_type,
                                          const std::string& analysis_date) {
  return _generate_core_index_table(market_type, analysis_date, default_core_index_source());
}

CoreIndexTable _generate_core_index_table(const std::string& market_type,
                                          const std::string& analysis_date,
                                          const CoreIndexSource& source) {
  auto catalogue = source.catalogue(market_type);
  if (catalogue.empty()) return {kNoCoreData, kNoCoreData, _compute_market_verdict({})};

  auto positions = core_index_positions(market_type, catalogue.size());
  auto as_of = _normalize_date(analysis_date);
  std::vector<std::string> rows{"| 指数名称 | 涨跌幅 | 量比 | 趋势状态 |",
                                "| :--- | :--- | :--- | :--- |"};
  std::vector<std::string> facts;
  std::vector<IndexPerformance> records;
  for (auto pos : positions) {
    const auto& index = catalogue[pos];
    try {
      auto bars = source.bars(index.code, as_of);
      if (auto day = zorvane::utils::try_parse_date(as_of)) {
        candlex::warn_if_stale(index.code, bars, *day);
      }
      auto rec = _calculate_index_performance(bars);
      auto row =
          "| **" + index.name + "** | " + rec.pct + " | " + rec.ratio + " | " + rec.trend + " |";
      auto fact = "- **" + index.name + "**：涨跌幅 " + rec.pct + "，量比 " + rec.ratio + "；" +
                  rec.ma_fact;
      rows.push_back(std::move(row));
      facts.push_back(std::move(fact));
      records.push_back(std::move(rec));
    } catch (const std::exception& e) {
      zorvane::utils::logger.warning("[大盘 AI 简报] 计算 %s 性能失败: %s", index.name, e.what());
      rows.push_back("| **" + index.name + "** | — | — | 数据错误 |");
      facts.push_back("- **" + index.name + "**：数据错误");
      records.push_back(IndexPerformance::error());
    }
  }
  return {join_lines(rows), join_lines(facts), _compute_market_verdict(records)};
}

}  // namespace sumora
