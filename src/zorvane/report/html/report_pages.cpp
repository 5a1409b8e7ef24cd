#include "zorvane/report/html/report_pages.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "zorvane/report/html/index_page.hpp"
#include "zorvane/report/html/page.hpp"
#include "zorvane/utils/atomic_file.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::html {

namespace fs = std::filesystem;

namespace {

constexpr const char* kIndexLock = ".index.lock";

// Holds an exclusive lock on <root>/.index.lock while the index is rebuilt.
class IndexLock {
 public:
  explicit IndexLock(const fs::path& root) {
    fs::create_directories(root);
    const fs::path path = root / kIndexLock;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) throw std::runtime_error("无法打开索引锁文件: " + path.string());
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        throw std::runtime_error("无法锁定索引锁文件: " + path.string());
      }
    }
  }
  ~IndexLock() { ::close(fd_); }
  IndexLock(const IndexLock&) = delete;
  IndexLock& operator=(const IndexLock&) = delete;

 private:
  int fd_ = -1;
};

std::string date_part(const std::string& analysis_time) {
  const std::string date = analysis_time.substr(0, 10);
  utils::parse_iso_date(date);  // a date is part of the path
  return date;
}

}  // namespace

fs::path stock_page_path(const fs::path& root, const report::StockReport& report) {
  utils::parse_iso_date(report.analysis_date);
  report::check_file_component(report.code, "股票代码");
  report::check_file_component(report.llm_client_type, "模型类型");
  return root / report.analysis_date /
         (report.code + "_" + utils::to_lower(report.llm_client_type) + ".html");
}

fs::path brief_page_path(const fs::path& root, const report::SumoraReport& brief) {
  report::check_file_component(brief.market_type, "市场类型");
  return root / date_part(brief.analysis_time) /
         ("brief-" + utils::to_upper(brief.market_type) + ".html");
}

fs::path write_stock_page(const fs::path& root, const report::StockReport& report,
                          const candlex::BarTable& daily,
                          const std::optional<DecisionVerdict>& verdict) {
  const fs::path path = stock_page_path(root, report);
  utils::write_file_atomic(
      path, stock_page_html(report, daily, chart_colors(report.market_type), verdict));
  write_index_page(root);
  return path;
}

fs::path write_brief_page(const fs::path& root, const report::SumoraReport& brief,
                          const std::string& core_table, const std::vector<IndexChart>& indices) {
  const fs::path path = brief_page_path(root, brief);
  utils::write_file_atomic(
      path, brief_page_html(brief, core_table, indices, chart_colors(brief.market_type)));
  write_index_page(root);
  return path;
}

bool brief_page_current(const fs::path& root, const report::SumoraReport& brief) {
  const auto meta = read_page_meta_file(brief_page_path(root, brief));
  auto it = meta.find("source");
  return it != meta.end() &&
         it->second == brief_page_source(brief, chart_colors(brief.market_type));
}

fs::path write_index_page(const fs::path& root) {
  IndexLock lock(root);
  const fs::path path = root / "index.html";
  utils::write_file_atomic(path, index_page_html(root));
  return path;
}

void write_page_file(const fs::path& path, const std::string& html) {
  utils::write_file_atomic(path, html);
  const fs::path dir = fs::absolute(path).parent_path();
  std::error_code ec;
  std::optional<fs::path> root;
  if (fs::exists(dir / kIndexLock, ec)) {
    root = dir;
  } else if (const std::string day = dir.filename().string();
             day.size() == 10 && utils::try_parse_date(day) &&
             fs::exists(dir.parent_path() / kIndexLock, ec)) {
    root = dir.parent_path();
  }
  if (!root) return;
  // The page is there either way; an index that could not be rebuilt only misses its link.
  try {
    write_index_page(*root);
  } catch (const std::exception& e) {
    utils::logger.warning("[报告页面] 索引页未更新: %s", e.what());
  }
}

}  // namespace zorvane::html
