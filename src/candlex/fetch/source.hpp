#pragma once
// What every public daily-bar source returns, and the interface the center updater drives.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "candlex/bar_table.hpp"

namespace candlex::fetch {

// Price adjustment of a series: forward (qfq), none, backward (hfq).
enum class Adjust { qfq, none, hfq };

// "qfq", "none", "hfq".
std::string adjust_text(Adjust adjust);
// Inverse of adjust_text; throws std::invalid_argument naming the text.
Adjust parse_adjust(std::string_view text);

// One daily bar with volume in shares and amount in the currency unit (NaN when the source
// gives none).
struct DailyBar {
  Day date;
  double open = 0, high = 0, low = 0, close = 0, volume = 0, amount = 0;
};

struct SourceReply {
  enum class Kind {
    ok,       // bars (possibly none) for the asked window
    unknown,  // the source does not know the code (or answers as if it did not)
    blocked,  // the source refuses us: dropped connection, throttled body, unreachable
    failed,   // this request failed (server errors after retries, malformed body)
  };
  Kind kind = Kind::ok;
  std::vector<DailyBar> bars;  // oldest first, unique dates
  std::string name;            // display name when the source gives one
  std::string message;         // why, for anything but ok
  // For `unknown`: the source answered as it does both for unknown codes and when it
  // throttles us (Eastmoney's `data: null`), so another source knowing the code means a block.
  bool maybe_throttled = false;
};

// A window of dates to fetch; no `from` means the whole history.
struct Window {
  std::optional<Day> from;
  Day to;
};

class BarSource {
 public:
  virtual ~BarSource() = default;
  virtual std::string name() const = 0;
  // True when the source has a mapping for the canonical code at all.
  virtual bool serves(std::string_view code) const = 0;
  virtual SourceReply daily(std::string_view code, const Window& window, Adjust adjust) = 0;
};

struct HttpResult;

// The reply for an HTTP request that brought no usable answer, or nullopt for a 200 reply:
// a dropped connection, no connection at all, 403 or 429 mean the source refuses us
// (blocked); timeouts, broken transfers and other statuses fail this request only.
std::optional<SourceReply> reply_for_failure(const HttpResult& http);

// Sorts by date and drops repeated dates (the later row wins).
void sort_unique(std::vector<DailyBar>& bars);

}  // namespace candlex::fetch
