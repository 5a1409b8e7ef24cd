#pragma once
// Text that comes from outside the process (model-server bodies, transport and broker errors,
// exception texts built from them) made safe to print: secrets removed first, then control
// characters shown as visible escapes. Every path that prints or logs such text goes through
// here: the logger applies it to every line and the programs to every error they print.
//
// Order matters: secrets are replaced before anything is shortened, so a secret that an echo
// places across a cut can never leave a fragment behind.

#include <string>
#include <string_view>

namespace zorvane::utils {

// Secrets shorter than this are placeholders ("none", "ollama"), not credentials; redacting
// them in every log line would garble the logs. Their own client still removes them from its
// error texts.
inline constexpr std::size_t kMinRegisteredSecretLength = 8;

// Remembers `secret` (an API key, a password) for the rest of the process. Thread-safe.
void register_secret(std::string_view secret);

// `text` with every registered secret, and `extra` when it is not empty, replaced by "***".
std::string redact_secrets(std::string text, std::string_view extra = {});

// `text` with every control character other than line feed and tab written as a visible
// escape: C0 controls and DEL as \x1b, C1 controls as \u009b, ill-formed UTF-8 bytes as \xff.
// Printable text (Chinese included) is unchanged; the result is valid UTF-8.
std::string escape_controls(std::string_view text);

// redact_secrets, then escape_controls: the printable form of any external text.
std::string printable_external(std::string_view text, std::string_view extra_secret = {});

}  // namespace zorvane::utils
