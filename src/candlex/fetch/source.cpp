#include "candlex/fetch/source.hpp"

#include <algorithm>
#include <stdexcept>

#include "candlex/fetch/http_client.hpp"
#include "zorvane/utils/text.hpp"

namespace candlex::fetch {

std::string adjust_text(Adjust adjust) {
  switch (adjust) {
    case Adjust::qfq:
      return "qfq";
    case Adjust::none:
      return "none";
    case Adjust::hfq:
      return "hfq";
  }
  return "qfq";
}

Adjust parse_adjust(std::string_view text) {
  if (text == "qfq") return Adjust::qfq;
  if (text == "none") return Adjust::none;
  if (text == "hfq") return Adjust::hfq;
  throw std::invalid_argument("unknown adjustment " + zorvane::utils::quoted_text(text) +
                              ", expected qfq, none or hfq");
}

std::optional<SourceReply> reply_for_failure(const HttpResult& http) {
  using F = HttpResult::Failure;
  using K = SourceReply::Kind;
  auto reply = [](K kind, std::string message) {
    SourceReply r;
    r.kind = kind;
    r.message = std::move(message);
    return r;
  };
  switch (http.failure) {
    case F::dropped:
      return reply(K::blocked, "connection closed without a response (" + http.error + ")");
    case F::unreachable:
      return reply(K::blocked, "cannot connect (" + http.error + ")");
    case F::timeout:
      return reply(K::failed, "no reply in time (" + http.error + ")");
    case F::transport:
      return reply(K::failed, "transfer failed (" + http.error + ")");
    case F::none:
      break;
  }
  if (http.status == 200) return std::nullopt;
  if (http.status == 403 || http.status == 429)
    return reply(K::blocked, "HTTP " + std::to_string(http.status) + ": requests refused");
  return reply(K::failed, "HTTP " + std::to_string(http.status));
}

void sort_unique(std::vector<DailyBar>& bars) {
  std::stable_sort(bars.begin(), bars.end(),
                   [](const DailyBar& a, const DailyBar& b) { return a.date < b.date; });
  std::vector<DailyBar> out;
  out.reserve(bars.size());
  for (const auto& b : bars) {
    if (!out.empty() && out.back().date == b.date) {
      out.back() = b;
    } else {
      out.push_back(b);
    }
  }
  bars = std::move(out);
}

}  // namespace candlex::fetch
