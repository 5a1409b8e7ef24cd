#pragma once
// The stock command's one operation: the AI analysis of one stock on one day.

#include <string>

namespace kelvo {

// Skips a stock whose report (for this day and the configured model client type) is already
// stored unless `force`; otherwise loads the bars, computes the indicator status and the
// combined pre-screen, obtains the market brief, runs the AI analysis and logs its report and
// summary, then flushes report storage. A stock without bars ends the run early (logged).
// Throws std::runtime_error "大盘 AI 简报生成失败 (<market>)，分析无法继续。" when a known market
// has no brief; errors of the data source, the selectors and the analysis propagate.
void analyze_stock(const std::string& stock_code, const std::string& analysis_time,
                   bool force = false);

}  // namespace kelvo
