#include "candlex/fetch/center_update.hpp"
#include "zorvane/utils/worker_threads.hpp"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>

#include "candlex/calendar.hpp"
#include "candlex/codes.hpp"
#include "candlex/csv_reader.hpp"
#include "candlex/data_center.hpp"
#include "candlex/names.hpp"
#include "candlex/sample_market.hpp"
#include "zorvane/utils/atomic_file.hpp"

namespace candlex::fetch {

namespace fs = std::filesystem;

namespace {

bool same_price(double a, double b) {
  return std::fabs(a - b) <= 0.0005 + 1e-9 * std::max(std::fabs(a), std::fabs(b));
}

bool same_bar(const DailyBar& a, const DailyBar& b) {
  return a.date == b.date && same_price(a.open, b.open) && same_price(a.high, b.high) &&
         same_price(a.low, b.low) && same_price(a.close, b.close);
}

std::vector<DailyBar> bars_of(const BarTable& t) {
  std::vector<DailyBar> out(t.size());
  const bool amount = t.has("amount");
  for (std::size_t i = 0; i < t.size(); ++i) {
    out[i] = {t.dates()[i],
              t.col("open")[i],
              t.col("high")[i],
              t.col("low")[i],
              t.col("close")[i],
              t.col("volume")[i],
              amount ? t.col("amount")[i] : std::nan("")};
  }
  return out;
}

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    if (c != '\r' && c != '\n') out += c;
  }
  return out + "\"";
}

}  // namespace

std::string outcome_text(Outcome outcome) {
  switch (outcome) {
    case Outcome::created:
      return "created";
    case Outcome::updated:
      return "updated";
    case Outcome::unchanged:
      return "unchanged";
    case Outcome::restated:
      return "restated";
    case Outcome::failed:
      return "failed";
    case Outcome::not_run:
      return "not fetched";
  }
  return "";
}

std::string daily_csv(const std::vector<DailyBar>& bars) {
  std::vector<Day> dates;
  std::vector<double> open, high, low, close, volume, amount;
  for (const auto& b : bars) {
    dates.push_back(b.date);
    open.push_back(b.open);
    high.push_back(b.high);
    low.push_back(b.low);
    close.push_back(b.close);
    volume.push_back(b.volume);
    amount.push_back(b.amount);
  }
  BarTable table(std::move(dates));
  table.set("open", std::move(open));
  table.set("high", std::move(high));
  table.set("low", std::move(low));
  table.set("close", std::move(close));
  table.set("volume", std::move(volume));
  table.set("amount", std::move(amount));
  return bars_to_csv(table);
}

void merge_names(const fs::path& center, const std::map<std::string, std::string>& names) {
  std::map<std::string, std::string> merged = *load_center_names(center);
  for (const auto& [code, name] : names) {
    auto& slot = merged[code];
    if (!name.empty()) {
      slot = name;
    } else if (slot.empty()) {
      slot = builtin_name(code);
    }
  }
  std::string text = "code,name\n";
  for (const auto& [code, name] : merged)
    if (!name.empty()) text += csv_field(code) + "," + csv_field(name) + "\n";
  zorvane::utils::write_file_atomic(center / "names.csv", text);
}

CenterUpdater::CenterUpdater(UpdateOptions options, std::vector<BarSource*> sources,
                             std::function<void(const std::string&)> warn)
    : options_(std::move(options)), sources_(std::move(sources)), warn_(std::move(warn)) {
  for (std::size_t i = 0; i < sources_.size(); ++i)
    blocked_.push_back(std::make_unique<std::atomic<bool>>(false));
}

std::map<std::string, std::string> CenterUpdater::names() const {
  std::lock_guard lock(mutex_);
  return names_;
}

void CenterUpdater::remember_name(const std::string& code, const std::string& name) {
  std::lock_guard lock(mutex_);
  auto& slot = names_[code];
  if (!name.empty()) slot = name;
}

void CenterUpdater::mark_blocked(std::size_t i, const std::string& why) {
  if (blocked_[i]->exchange(true)) return;
  if (warn_)
    warn_(sources_[i]->name() + " is refusing our requests (" + why +
          "); not asking it again in this run");
}

void CenterUpdater::drop_unfinished(const std::string& code, std::vector<DailyBar>& bars) const {
  const auto market = calendar_market_of(code);
  std::erase_if(bars,
                [&](const DailyBar& b) { return market_close(market, b.date) > options_.now; });
}

CenterUpdater::Fetched CenterUpdater::fetch(const std::string& code, const Window& window) {
  std::string why;
  std::optional<std::size_t> throttled;  // a source that said data:null
  std::size_t serving = 0;
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    auto* source = sources_[i];
    if (!source->serves(code)) continue;
    ++serving;
    if (*blocked_[i]) continue;
    auto reply = source->daily(code, window, options_.adjust);
    using K = SourceReply::Kind;
    if (reply.kind == K::ok) {
      if (throttled)
        mark_blocked(*throttled, "data: null for " + code + ", which " + source->name() + " knows");
      return {std::move(reply), source->name()};
    }
    if (reply.kind == K::blocked) {
      mark_blocked(i, reply.message);
    } else if (reply.kind == K::unknown && reply.maybe_throttled) {
      throttled = i;
    }
    if (!why.empty()) why += "; ";
    why += source->name() + ": " + reply.message;
  }
  if (serving == 0) why = "no source serves this code";
  bool all_blocked = serving > 0;
  for (std::size_t i = 0; i < sources_.size(); ++i)
    if (sources_[i]->serves(code) && !*blocked_[i]) all_blocked = false;
  if (all_blocked)
    throw AllSourcesBlocked("every source is refusing our requests (" + why +
                            "). Wait a few hours before running again, and keep the polite "
                            "defaults (--jobs 1, CANDLEX_FETCH_DELAY_MS of 500 or more)");
  Fetched failed;
  failed.reply.kind = SourceReply::Kind::failed;
  failed.reply.message = why;
  return failed;
}

CodeReport CenterUpdater::update(const std::string& code) {
  CodeReport report;
  report.code = code;
  const auto rel = daily_file_name(code);
  const auto path = options_.center / rel;
  auto fail = [&](std::string reason) {
    report.outcome = Outcome::failed;
    report.reason = std::move(reason);
    return report;
  };

  std::vector<DailyBar> stored;
  std::error_code ec;
  if (fs::exists(path, ec)) {
    try {
      stored = bars_of(read_bar_csv(path, rel));
    } catch (const std::runtime_error& e) {
      return fail(std::string("cannot read the stored file, left as it is: ") + e.what());
    }
  }
  const Day to = std::chrono::floor<std::chrono::days>(options_.now) + std::chrono::days{1};

  auto whole = [&](std::optional<Day> from) -> std::optional<Fetched> {
    auto got = fetch(code, {from, to});
    if (got.reply.kind != SourceReply::Kind::ok) {
      fail(got.reply.message);
      return std::nullopt;
    }
    drop_unfinished(code, got.reply.bars);
    if (got.reply.bars.empty()) {
      fail(got.source + " returned no closed bars" +
           (stored.empty() ? std::string() : "; the stored file is kept"));
      return std::nullopt;
    }
    return got;
  };
  // Replaces the file with the whole fetched history.
  auto replace = [&](Outcome outcome, const Fetched& got) {
    zorvane::utils::write_file_atomic(path, daily_csv(got.reply.bars));
    remember_name(code, got.reply.name);
    report.outcome = outcome;
    report.bars = got.reply.bars.size();
    report.source = got.source;
    return report;
  };

  try {
    if (stored.empty()) {
      auto got = whole(options_.start);
      return got ? replace(Outcome::created, *got) : report;
    }

    const DailyBar last = stored.back();
    auto got = fetch(code, {last.date, to});
    if (got.reply.kind != SourceReply::Kind::ok) return fail(got.reply.message);
    drop_unfinished(code, got.reply.bars);
    auto& bars = got.reply.bars;
    if (!bars.empty() && same_bar(bars.front(), last)) {
      remember_name(code, got.reply.name);
      report.source = got.source;
      std::vector<DailyBar> fresh(bars.begin() + 1, bars.end());
      if (fresh.empty()) {
        report.outcome = Outcome::unchanged;
        return report;
      }
      stored.insert(stored.end(), fresh.begin(), fresh.end());
      zorvane::utils::write_file_atomic(path, daily_csv(stored));
      report.outcome = Outcome::updated;
      report.bars = fresh.size();
      return report;
    }

    // The overlap bar differs or is gone: the history was restated.
    std::optional<Day> from = options_.start;
    if (from && stored.front().date < *from) from = stored.front().date;
    auto full = whole(from);
    return full ? replace(Outcome::restated, *full) : report;
  } catch (const AllSourcesBlocked&) {
    throw;
  } catch (const std::runtime_error& e) {
    return fail(e.what());
  }
}

RunReport CenterUpdater::run(const std::vector<std::string>& codes,
                             const std::function<void(const Progress&)>& progress) {
  RunReport run;
  run.codes.resize(codes.size());
  for (std::size_t i = 0; i < codes.size(); ++i) {
    run.codes[i].code = codes[i];
    run.codes[i].reason = "not fetched: the run stopped first";
  }
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex report_mutex;
  Progress state;
  state.total = codes.size();

  auto work = [&] {
    for (std::size_t i = next.fetch_add(1); i < codes.size() && !stop; i = next.fetch_add(1)) {
      CodeReport one;
      try {
        one = update(codes[i]);
      } catch (const AllSourcesBlocked& e) {
        std::lock_guard lock(report_mutex);
        if (!stop.exchange(true)) run.stopped = e.what();
        break;
      }
      std::lock_guard lock(report_mutex);
      run.codes[i] = std::move(one);
      ++state.done;
      if (run.codes[i].outcome == Outcome::failed) ++state.failed;
      state.code = codes[i];
      if (progress) progress(state);
    }
  };
  const int workers = std::clamp(options_.jobs, 1, 16);
  zorvane::utils::run_workers(static_cast<std::size_t>(workers), work);
  return run;
}

}  // namespace candlex::fetch
