#include "zorvane/report/claim_owner.hpp"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <fstream>
#include <vector>

#include "zorvane/report/message_id.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::report {

namespace {

struct Machine {
  std::string host;
  std::string boot_id;
  std::string pid_ns;
};

// Read once: none of these change while the process runs.
const Machine& this_machine() {
  static const Machine machine = [] {
    Machine m;
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) == 0) m.host = host;
    std::ifstream boot("/proc/sys/kernel/random/boot_id");
    std::getline(boot, m.boot_id);
    m.boot_id = std::string(utils::trim(m.boot_id));
    char link[128] = {};
    ssize_t n = ::readlink("/proc/self/ns/pid", link, sizeof link - 1);
    if (n > 0) m.pid_ns.assign(link, static_cast<std::size_t>(n));
    // The separator must not occur inside a part.
    for (auto* part : {&m.host, &m.boot_id, &m.pid_ns}) {
      for (char& c : *part) {
        if (c == '/') c = '_';
      }
    }
    return m;
  }();
  return machine;
}

std::vector<std::string_view> split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  for (;;) {
    auto at = text.find(sep);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

}  // namespace

std::string new_claim_owner() {
  const Machine& m = this_machine();
  return m.host + "/" + m.boot_id + "/" + m.pid_ns + "/" + std::to_string(::getpid()) + "/" +
         new_message_id();
}

bool claim_owner_is_dead(std::string_view owner) {
  const Machine& m = this_machine();
  auto parts = split(owner, '/');
  if (parts.size() != 5 || m.host.empty() || m.boot_id.empty()) return false;
  if (parts[0] != m.host) return false;
  if (parts[1] != m.boot_id) return !parts[1].empty();  // the machine restarted since
  if (m.pid_ns.empty() || parts[2] != m.pid_ns) return false;
  long pid = 0;
  auto [end, ec] = std::from_chars(parts[3].data(), parts[3].data() + parts[3].size(), pid);
  if (ec != std::errc() || end != parts[3].data() + parts[3].size() || pid <= 0) return false;
  if (pid == ::getpid()) return false;
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace zorvane::report
