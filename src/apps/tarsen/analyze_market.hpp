#pragma once
// The market command's one operation: produce the brief of one market and day and print it.

#include <string>

namespace tarsen {

// Head and tail banner lines around the printed brief.
std::string head_banner();
std::string tail_banner();

// Asks the brief pipeline for the brief (ensure_mq on), logs where its cache file lies,
// prints it between the banners on standard output, logs the run time and flushes report
// storage. Pipeline errors propagate.
void analyze_market(const std::string& market_type, const std::string& analysis_time, bool force);

}  // namespace tarsen
