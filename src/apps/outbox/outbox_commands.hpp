#pragma once
// The two commands of zorvane-outbox over one report storage.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "zorvane/report/report_storage.hpp"

namespace outbox_app {

// Prints the counts per sink (pending, failed, delivered) and one line per failed delivery.
// Returns the exit status (0).
int list_outbox(zorvane::report::ReportStorage& storage, std::ostream& out);

// Makes the failed deliveries of one message (or all, when `outbox_id` is empty) pending again,
// optionally of one sink only, then flushes to Kafka. Returns 0, or 1 when there was nothing
// failed to retry (the message is named on `err`).
int retry_outbox(zorvane::report::ReportStorage& storage, std::optional<std::int64_t> outbox_id,
                 const std::optional<std::string>& sink, std::ostream& out, std::ostream& err);

}  // namespace outbox_app
