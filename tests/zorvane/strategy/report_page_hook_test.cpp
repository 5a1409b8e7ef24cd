// The analysis writes the report's page once the report is saved, and a page that cannot be
// written costs only a warning.
#include <gtest/gtest.h>

#include <stdexcept>

#include "candlex/market_data.hpp"
#include "indicators/evaluate.hpp"
#include "zorvane/agent/offline_client.hpp"
#include "zorvane/strategy/basic_ai_selector.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace zorvane::strategy {
namespace {

struct Calls {
  int saves = 0;
  std::vector<std::pair<std::string, std::size_t>> pages;  // code, bars handed over
};

AIAnalysisServices services(Calls& calls, bool save_fails, bool page_fails) {
  AIAnalysisServices s;
  s.build_client = []() -> agent::BuiltClient {
    return {std::make_shared<agent::OfflineClient>(), "offline", {}, "offline"};
  };
  s.save_stock_report = [&calls, save_fails](const report::StockReport&) {
    if (save_fails) throw std::runtime_error("disk full");
    ++calls.saves;
  };
  s.write_page = [&calls, page_fails](const report::StockReport& r, const candlex::BarTable& d) {
    if (page_fails) throw std::runtime_error("no room for the page");
    calls.pages.emplace_back(r.code, d.size());
  };
  return s;
}

TEST(ReportPageHook, PageFollowsASuccessfulSaveOnly) {
  const std::string code = "sh.600519", day = "2024-05-10";
  auto bars = candlex::get_any_ohlc(code, "2023-01-01", day);
  auto status = indicators::get_stock_status(bars, code);
  utils::LogCapture log;

  Calls ok;
  BasicAISelector(services(ok, false, false)).check_async(status, bars, "{}", "混合", day, "");
  ASSERT_EQ(ok.pages.size(), 1u);
  EXPECT_EQ(ok.pages[0], std::make_pair(code, bars.size()));

  Calls unsaved;
  BasicAISelector(services(unsaved, true, false)).check_async(status, bars, "{}", "混合", day, "");
  EXPECT_TRUE(unsaved.pages.empty());  // no page for a report that is not stored

  Calls broken;
  auto result = BasicAISelector(services(broken, false, true))
                    .check_async(status, bars, "{}", "混合", day, "");
  EXPECT_EQ(broken.saves, 1);
  EXPECT_FALSE(std::get<4>(result).empty());  // the report still comes back
  EXPECT_EQ(log.matching("报告页面生成失败").size(), 1u);
  EXPECT_NE(log.matching("报告页面生成失败")[0].find("no room for the page"), std::string::npos);
}

}  // namespace
}  // namespace zorvane::strategy
