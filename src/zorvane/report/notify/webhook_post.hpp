#pragma once
// One JSON POST to a chat webhook.

#include <chrono>
#include <string>

namespace zorvane::report::notify {

struct PostResult {
  bool ok = false;         // a 2xx answer that the service did not mark as an error
  bool permanent = false;  // a refusal that repeating cannot mend (4xx other than 408 and 429)
  std::string error;       // why not ok, with the URL and its secrets removed
};

// POSTs `body` as application/json to `url` within `timeout`. A 2xx whose JSON body reports an
// error (a non-zero "code" / "errcode", or "ok": false, as the chat services answer) is not ok.
// Never throws; the URL, its path and query never appear in the error text.
PostResult post_json(const std::string& url, const std::string& body,
                     std::chrono::milliseconds timeout);

// `text` with every occurrence of the URL, and of its path and query (where tokens live),
// replaced by "***".
std::string redact_url(std::string text, const std::string& url);

}  // namespace zorvane::report::notify
