#include "agent/sumora/brief_page.hpp"

#include "agent/sumora/cache.hpp"
#include "zorvane/report/html/report_pages.hpp"
#include "zorvane/utils/logger.hpp"

namespace sumora {

std::filesystem::path _write_brief_page(const std::filesystem::path& root,
                                        const zorvane::report::SumoraReport& brief,
                                        const CoreIndexSource& source) {
  const auto path = zorvane::html::brief_page_path(root, brief);
  if (zorvane::html::brief_page_current(root, brief)) return path;
  const auto core = _generate_core_index_table(brief.market_type, brief.analysis_time, source);
  std::vector<zorvane::html::IndexChart> charts;
  const auto catalogue = source.catalogue(brief.market_type);
  if (!catalogue.empty()) {
    const auto as_of = _normalize_date(brief.analysis_time);
    for (auto pos : core_index_positions(brief.market_type, catalogue.size())) {
      try {
        charts.push_back({catalogue[pos].name, source.bars(catalogue[pos].code, as_of)});
      } catch (const std::exception& e) {
        zorvane::utils::logger.debug("[大盘 AI 简报] 页面略去 %s 的K线: %s", catalogue[pos].name,
                                     e.what());
      }
    }
  }
  return zorvane::html::write_brief_page(root, brief, core.table, charts);
}

}  // namespace sumora
