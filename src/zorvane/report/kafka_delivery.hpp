#pragma once
// Delivery of outbox messages to Kafka through librdkafka (idempotent producer, acks=all).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorvane::report {

// One queued message. `kind` is "sumora", "stock_report" or "watchlist_summary" and picks the
// topic.
struct OutboxMessage {
  std::int64_t id = 0;
  std::string kind;
  std::string key;
  std::string payload;
};

struct KafkaSettings {
  std::string bootstrap_servers;
  std::string topic_sumora = "zorvane.sumora";
  std::string topic_report = "zorvane.stock_report";
  std::string topic_watchlist = "zorvane.watchlist";
  std::optional<std::string> security_protocol;
  std::optional<std::string> sasl_mechanism;
  std::optional<std::string> sasl_username;
  std::optional<std::string> sasl_password;
  // How long one flush waits for the broker before leaving messages for the next flush.
  std::chrono::milliseconds delivery_timeout{15'000};
  // Further librdkafka properties, applied last.
  std::vector<std::pair<std::string, std::string>> extra;

  // From KAFKA_BOOTSTRAP_SERVERS, KAFKA_TOPIC_SUMORA, KAFKA_TOPIC_REPORT, KAFKA_TOPIC_WATCHLIST,
  // KAFKA_SECURITY_PROTOCOL, KAFKA_SASL_MECHANISM, KAFKA_SASL_USERNAME, KAFKA_SASL_PASSWORD and
  // KAFKA_DELIVERY_TIMEOUT_MS; nullopt when no bootstrap servers are configured.
  static std::optional<KafkaSettings> from_env();

  // The topic for a message kind. Throws std::invalid_argument for an unknown kind.
  const std::string& topic_for(std::string_view kind) const;
};

struct DeliveryOutcome {
  std::vector<std::int64_t> delivered;  // acknowledged by the broker, in acknowledgement order
  std::vector<std::int64_t> failed;     // everything else
  std::string error;                    // the broker's error for the failures (first seen)
};

// Produces `messages` in order, each with its outbox id in the header "outbox_id" and as the
// delivery opaque, and waits up to the delivery timeout. A message counts as delivered only
// when its delivery report says so. Never throws; problems land in `failed` and `error`, with
// the SASL password removed from any text.
DeliveryOutcome deliver(const std::vector<OutboxMessage>& messages, const KafkaSettings& settings);

}  // namespace zorvane::report
