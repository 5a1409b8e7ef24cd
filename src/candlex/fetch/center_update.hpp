#pragma once
// Fills and updates the daily files of a data center from the public sources.
//
// For each code: a code without a file gets its whole history (from the start date when one
// is given). A code with a file is fetched from its last stored date, so the first bar
// returned overlaps the last one stored. When that overlap bar matches, the newer bars are
// appended; when it differs or is missing (a forward-adjusted history is restated after
// every ex-dividend day, and a file written by hand may come from another vendor), the whole
// history is fetched again and replaces the file. Bars of a session that has not closed yet
// are never stored. Every file is replaced atomically, so a killed run leaves each file
// either as it was or complete.
//
// Sources are tried in order. A source that drops the connection, cannot be reached,
// refuses with 403/429, or answers `data: null` for a code that a later source knows, is
// taken as blocking us and skipped for the rest of the run. When every source blocks, the
// run stops (AllSourcesBlocked).

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "candlex/fetch/source.hpp"

namespace candlex::fetch {

struct UpdateOptions {
  std::filesystem::path center;
  Adjust adjust = Adjust::qfq;
  std::optional<Day> start;  // first date of a fresh fill; the whole history when unset
  int jobs = 1;              // codes fetched at once
  std::chrono::system_clock::time_point now = std::chrono::system_clock::now();
};

enum class Outcome { created, updated, unchanged, restated, failed, not_run };
std::string outcome_text(Outcome outcome);

struct CodeReport {
  std::string code;
  Outcome outcome = Outcome::not_run;
  std::size_t bars = 0;  // bars written (new ones for an update)
  std::string source;    // which source answered
  std::string reason;    // for failed and not_run
};

struct Progress {
  std::size_t done = 0, total = 0, failed = 0;
  std::string code;  // the code just finished
};

struct RunReport {
  std::vector<CodeReport> codes;  // in the order asked
  std::string stopped;            // why the run stopped early; empty when it did not
};

class AllSourcesBlocked : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CenterUpdater {
 public:
  // `sources` in the order to try them; they must outlive the updater. `warn` receives
  // notices (a source taken as blocking us).
  CenterUpdater(UpdateOptions options, std::vector<BarSource*> sources,
                std::function<void(const std::string&)> warn = {});

  // Updates one canonical code. Thread-safe. Throws AllSourcesBlocked.
  CodeReport update(const std::string& code);

  // Updates every code (options.jobs at once), calling `progress` after each. Stops early
  // when every source blocks; codes not reached are reported as not_run.
  RunReport run(const std::vector<std::string>& codes,
                const std::function<void(const Progress&)>& progress = {});

  // Names the sources gave during the run (code -> name).
  std::map<std::string, std::string> names() const;

 private:
  struct Fetched {
    SourceReply reply;
    std::string source;
  };
  Fetched fetch(const std::string& code, const Window& window);
  void mark_blocked(std::size_t index, const std::string& why);
  void drop_unfinished(const std::string& code, std::vector<DailyBar>& bars) const;
  void remember_name(const std::string& code, const std::string& name);

  UpdateOptions options_;
  std::vector<BarSource*> sources_;
  std::vector<std::unique_ptr<std::atomic<bool>>> blocked_;
  std::function<void(const std::string&)> warn_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> names_;
};

// The bars as a data-center file (date,open,high,low,close,volume,amount).
std::string daily_csv(const std::vector<DailyBar>& bars);

// Merges `names` into the center's names.csv (a non-empty new name wins; existing names are
// kept otherwise; codes without any name get the built-in index or ETF name) and writes it
// atomically. Throws std::runtime_error naming names.csv when the old file is malformed or
// the new one cannot be written.
void merge_names(const std::filesystem::path& center,
                 const std::map<std::string, std::string>& names);

}  // namespace candlex::fetch
