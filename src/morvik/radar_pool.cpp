// Pool side of the radar: parallel evaluation, then placement into the three sections.

#include <algorithm>
#include <atomic>
#include <exception>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "candlex/codes.hpp"
#include "morvik/radar.hpp"
#include "morvik/radar_rules.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"
#include "zorvane/utils/worker_threads.hpp"

namespace morvik {

namespace {

namespace rd = radar_detail;
using zorvane::utils::json_add;
using zorvane::utils::round_to;

struct Task {
  const std::string* code;
  const std::string* name;
  const candlex::BarTable* bars;
};

std::string canonical(const std::string& code) {
  try {
    return candlex::normalize_code(code);
  } catch (const std::invalid_argument&) {
    return std::string(zorvane::utils::trim(code));
  }
}

// Runs fn(i) for i in [0, n) on `threads` workers; each index is run exactly once. Work is
// handed out one index at a time so a slow entry does not hold up a whole chunk.
template <class Fn>
void parallel_for(std::size_t n, unsigned threads, Fn fn) {
  if (n == 0) return;
  unsigned workers = threads ? threads : std::max(1u, std::thread::hardware_concurrency());
  workers = static_cast<unsigned>(std::min<std::size_t>(workers, n));
  std::atomic<std::size_t> next{0};
  auto run = [&] {
    for (std::size_t i = next.fetch_add(1); i < n; i = next.fetch_add(1)) fn(i);
  };
  zorvane::utils::run_workers(workers, run);
}

enum Section { kAbnormal = 0, kOpportunity = 1, kRisk = 2, kNone = 3 };

Section section_of(const rd::Findings& f) {
  if (f.is_vol_abnormal && f.change_pct > 0 && !f.is_risk) return kAbnormal;
  if (f.is_opportunity) return kOpportunity;
  if (f.is_risk || f.has_sell_signal) return kRisk;
  return kNone;
}

struct Placed {
  std::size_t task;
  double score;  // rounded, as printed, so equal printed scores tie on the code
};

}  // namespace

rapidjson::Document analyze_opportunity_radar(const RadarPool& etf_pool, std::string_view frequency,
                                              std::optional<double> min_amount_ea,
                                              double min_vol_ratio, double min_pct_change,
                                              const std::optional<std::string>& weekly_mode,
                                              unsigned threads) {
  const auto freq = rd::parse_frequency(frequency);
  const auto mode = rd::parse_weekly_mode(weekly_mode);
  const rd::Thresholds th{min_amount_ea, min_vol_ratio, min_pct_change};

  std::vector<Task> tasks;
  std::set<std::string> seen;
  for (const auto& [code, entry] : etf_pool) {
    const auto& bars = entry.second;
    if (!bars || bars->empty()) continue;
    if (!seen.insert(canonical(code)).second) continue;
    tasks.push_back({&code, &entry.first, &*bars});
  }

  std::vector<rd::Findings> findings(tasks.size());
  std::vector<std::exception_ptr> errors(tasks.size());
  parallel_for(tasks.size(), threads, [&](std::size_t i) {
    try {
      const auto series = rd::evaluated_series(*tasks[i].bars, *tasks[i].code, freq, mode);
      findings[i] = rd::find(series.bars, th);
    } catch (...) {
      errors[i] = std::current_exception();
    }
  });
  for (const auto& e : errors)
    if (e) std::rethrow_exception(e);

  std::vector<Placed> sections[3];
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const Section s = section_of(findings[i]);
    if (s != kNone) sections[s].push_back({i, round_to(findings[i].tech_score, 2)});
  }
  for (int s = 0; s < 3; ++s) {
    const bool ascending = s == kRisk;
    std::sort(sections[s].begin(), sections[s].end(), [&](const Placed& x, const Placed& y) {
      if (x.score != y.score) return ascending ? x.score < y.score : x.score > y.score;
      return *tasks[x.task].code < *tasks[y.task].code;
    });
  }

  rapidjson::Document out(rapidjson::kObjectType);
  auto& a = out.GetAllocator();
  const std::string_view names[3] = {kRadarAbnormal, kRadarOpportunity, kRadarRisk};
  for (int s = 0; s < 3; ++s) {
    rapidjson::Value list(rapidjson::kArrayType);
    for (const auto& p : sections[s]) {
      const auto& f = findings[p.task];
      rapidjson::Value rec(rapidjson::kObjectType);
      json_add(rec, "code", *tasks[p.task].code, a);
      json_add(rec, "name", *tasks[p.task].name, a);
      json_add(rec, "state", f.curr_state, a);
      json_add(rec, "prev_state", f.prev_state, a);
      json_add(rec, "score", p.score, a);
      json_add(rec, "vol_ratio", round_to(f.vol_ratio, 2), a);
      json_add(rec, "change_pct", round_to(f.change_pct, 2), a);
      json_add(rec, "amount_ea", round_to(f.amount_ea, 2), a);
      rapidjson::Value reasons(rapidjson::kArrayType);
      for (const auto* group : {&f.signals, &f.risk_reasons})
        for (const auto& r : *group) reasons.PushBack(zorvane::utils::json_string(r, a), a);
      json_add(rec, "reasons", std::move(reasons), a);
      list.PushBack(rec, a);
    }
    json_add(out, names[s], std::move(list), a);
  }
  return out;
}

}  // namespace morvik
