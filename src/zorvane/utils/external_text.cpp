#include "zorvane/utils/external_text.hpp"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "zorvane/utils/text.hpp"

namespace zorvane::utils {

namespace {

struct SecretRegistry {
  std::shared_mutex mutex;
  std::vector<std::string> secrets;  // longest first, so a secret inside another goes last
};

SecretRegistry& registry() {
  static SecretRegistry r;
  return r;
}

std::string replace_secret(std::string text, std::string_view secret) {
  if (secret.empty() || text.find(secret) == std::string::npos) return text;
  return replace_all(std::move(text), secret, "***");
}

}  // namespace

void register_secret(std::string_view secret) {
  if (secret.size() < kMinRegisteredSecretLength) return;
  auto& r = registry();
  std::unique_lock lock(r.mutex);
  if (std::find(r.secrets.begin(), r.secrets.end(), secret) != r.secrets.end()) return;
  r.secrets.emplace_back(secret);
  std::stable_sort(r.secrets.begin(), r.secrets.end(),
                   [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

std::string redact_secrets(std::string text, std::string_view extra) {
  text = replace_secret(std::move(text), extra);
  auto& r = registry();
  std::shared_lock lock(r.mutex);
  for (const auto& secret : r.secrets) text = replace_secret(std::move(text), secret);
  return text;
}

std::string escape_controls(std::string_view text) {
  const std::string valid = valid_utf8(text);
  std::string out;
  out.reserve(valid.size());
  char buf[8];
  for (std::size_t i = 0; i < valid.size();) {
    const auto b = static_cast<unsigned char>(valid[i]);
    if (b < 0x20 || b == 0x7F) {
      if (b == '\n' || b == '\t') {
        out += static_cast<char>(b);
      } else {
        std::snprintf(buf, sizeof buf, "\\x%02x", b);
        out += buf;
      }
      ++i;
      continue;
    }
    // C1 controls U+0080..U+009F are C2 80..C2 9F in UTF-8; some terminals act on them.
    if (b == 0xC2 && i + 1 < valid.size() && static_cast<unsigned char>(valid[i + 1]) < 0xA0) {
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(valid[i + 1]));
      out += buf;
      i += 2;
      continue;
    }
    out += valid[i++];
  }
  return out;
}

std::string printable_external(std::string_view text, std::string_view extra_secret) {
  return escape_controls(redact_secrets(std::string(text), extra_secret));
}

}  // namespace zorvane::utils
