#pragma once
// Texts derived from HTTP exchanges with a model server, made safe to put in errors and logs.

#include <string>
#include <string_view>

namespace zorvane::agent {

// `url` without a "user:password@" part.
std::string redact_url(std::string_view url);

// `text` with every occurrence of `secret` replaced by "***" (unchanged when secret is empty).
std::string redact_secret(std::string text, std::string_view secret);

// At most `max_chars` code points of `text` on one line (line breaks become spaces), with "…"
// appended when cut. Secrets (`secret` and every registered one) are replaced before the text
// is cut, so no part of one survives a cut; other control characters become visible escapes
// (utils::printable_external). Never splits a UTF-8 sequence.
std::string clip_text(std::string_view text, std::size_t max_chars, std::string_view secret = {});

// One-line description of an error body: the "error" object's message with its type and code
// when the body has one, else the body itself, clipped as clip_text does.
std::string error_summary(std::string_view body, std::string_view secret = {});

// True when the body says the account has no quota left ("insufficient_quota"): such a 429
// will not succeed on retry.
bool is_quota_error(std::string_view body);

}  // namespace zorvane::agent
