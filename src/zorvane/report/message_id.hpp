#pragma once
// Identifiers that stay unique across report roots and machines.

#include <string>

namespace zorvane::report {

// A random (version 4) UUID in its 36-character lower-case form, from the kernel's random
// source. Every outbox message gets one: outbox ids count per database, so they collide
// between report roots, while consumers deduplicate across all of them.
std::string new_message_id();

}  // namespace zorvane::report
