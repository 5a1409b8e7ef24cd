#include "apps/tarsen/analyze_market.hpp"

#include <chrono>
#include <filesystem>
#include <iostream>

#include "agent/sumora/brief.hpp"
#include "agent/sumora/cache.hpp"
#include "zorvane/report/notify/webhook_outbox.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/utils/logger.hpp"

namespace tarsen {

namespace {

std::string repeat(std::string_view unit, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += unit;
  return out;
}

double wall_seconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string head_banner() {
  return "\n" + repeat("━", 30) + " [ 大盘 AI 研判 ] " + repeat("━", 30);
}

std::string tail_banner() {
  return repeat("━", 78) + "\n";
}

void analyze_market(const std::string& market_type, const std::string& analysis_time, bool force) {
  using zorvane::utils::logger;
  const double start = wall_seconds();
  logger.info("开始大盘 AI 简报 | market=%s | analysis_time=%s | force=%s", market_type,
              analysis_time, force);

  auto brief = sumora::get_market_ai_brief(market_type, analysis_time, force, true);

  auto path = sumora::sumora_cache_file(market_type, analysis_time);
  std::error_code ec;
  auto resolved = std::filesystem::weakly_canonical(std::filesystem::absolute(path), ec);
  logger.info("缓存文件: %s", (ec ? std::filesystem::absolute(path) : resolved).string());

  std::cout << head_banner() << '\n' << brief << '\n' << tail_banner() << '\n';
  std::cout.flush();

  logger.info("执行时间: %.2f 秒", wall_seconds() - start);
  zorvane::report::default_storage().flush();
  // With NOTIFY_BRIEF=1 the brief goes to the chat webhook, once per market and day.
  const std::string brief_market = market_type == "ETF" ? "A" : market_type;
  zorvane::report::notify::notify_run(zorvane::report::default_storage(), {},
                                      {brief_market + ":" + analysis_time});
}

}  // namespace tarsen
