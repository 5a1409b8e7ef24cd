#pragma once
// Who holds a claim on outbox rows, written so that a flush on the same machine can tell
// whether the holder still runs.

#include <string>
#include <string_view>

namespace zorvane::report {

// A fresh holder name for one flush: "<host>/<boot id>/<pid namespace>/<pid>/<random>". The
// random part keeps two flushes of one process apart.
std::string new_claim_owner();

// True when `owner` is a holder of this host that cannot be running any more: one from an
// earlier boot, or a process of this boot and pid namespace that no longer exists. Holders of
// other hosts or namespaces, and names we cannot read, are not judged: their claims end with
// their lease.
bool claim_owner_is_dead(std::string_view owner);

}  // namespace zorvane::report
