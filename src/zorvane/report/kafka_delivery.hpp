#pragma once
// Delivery of outbox messages to Kafka through librdkafka (idempotent producer, acks=all).

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zorvane/report/outbox.hpp"

namespace zorvane::report {

// A kind of outbox message and the topic it goes to: the value of `topic_env` when set, else
// `default_topic`.
struct MessageKind {
  std::string_view kind;
  std::string_view topic_env;
  std::string_view default_topic;
};

// Every kind the outbox carries: "sumora" (KAFKA_TOPIC_SUMORA, zorvane.sumora), "stock_report"
// (KAFKA_TOPIC_REPORT, zorvane.stock_report), "watchlist_summary" (KAFKA_TOPIC_WATCHLIST,
// zorvane.watchlist).
const std::vector<MessageKind>& message_kinds();

struct KafkaSettings {
  KafkaSettings();

  std::string bootstrap_servers;
  // Topic per message kind; a kind without a topic is not sent (its messages wait).
  std::map<std::string, std::string, std::less<>> topics;
  std::optional<std::string> security_protocol;
  std::optional<std::string> sasl_mechanism;
  std::optional<std::string> sasl_username;
  std::optional<std::string> sasl_password;
  // How long one flush waits for the broker before leaving messages for the next flush.
  std::chrono::milliseconds delivery_timeout{15'000};
  // Bound on setting up one broker connection (TCP, TLS, SASL), so an address that never
  // answers counts as down after this long rather than after the operating system's timeout.
  std::chrono::milliseconds connection_setup_timeout{3'000};
  // Further librdkafka properties, applied last.
  std::vector<std::pair<std::string, std::string>> extra;

  // From KAFKA_BOOTSTRAP_SERVERS, the topic variables of message_kinds(),
  // KAFKA_SECURITY_PROTOCOL, KAFKA_SASL_MECHANISM, KAFKA_SASL_USERNAME, KAFKA_SASL_PASSWORD and
  // KAFKA_DELIVERY_TIMEOUT_MS; nullopt when no bootstrap servers are configured. Throws
  // std::invalid_argument for a malformed timeout.
  static std::optional<KafkaSettings> from_env();

  // The topic for a message kind. Throws std::invalid_argument for a kind without one.
  const std::string& topic_for(std::string_view kind) const;

  // The kinds that have a topic.
  std::vector<std::string> kinds() const;
};

// Produces `messages` in order, each with headers "outbox_id", "message_id" and "type", and
// waits up to the delivery timeout; when librdkafka reports every broker down it stops waiting
// at once. A message counts as delivered only when its delivery report says so. Errors that
// sending again cannot mend (a message over the size limit, a topic the credentials may not
// write, an invalid record or topic, a policy violation) make the message `rejected` with the
// error's name and text; everything else leaves it `failed`, for the next flush. Never throws;
// the SASL password is removed from every text.
DeliveryOutcome deliver(const std::vector<OutboxMessage>& messages, const KafkaSettings& settings);

}  // namespace zorvane::report
