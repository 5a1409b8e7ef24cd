#include "zorvane/report/kafka_delivery.hpp"

#include <librdkafka/rdkafka.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <stdexcept>
#include <unordered_set>

#include "zorvane/utils/env.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::report {

namespace {

using utils::logger;

// State shared with librdkafka's callbacks. The delivery-report and error callbacks run on the
// thread that polls (ours); the log callback may run on librdkafka's threads and only reads.
struct DeliveryContext {
  std::string password;  // scrubbed from every text we keep or log
  std::vector<std::int64_t> delivered;
  std::vector<std::int64_t> failed;
  std::vector<Rejection> rejected;
  std::string first_error;
  std::string last_broker_error;
  bool all_brokers_down = false;

  std::string scrub(std::string text) const {
    return password.empty() ? text : utils::replace_all(std::move(text), password, "***");
  }
  void note_error(std::string text) {
    if (first_error.empty()) first_error = scrub(std::move(text));
  }
};

// Errors that the same message meets again however often it is sent. librdkafka has already
// retried what it considers retriable before it reports a message as failed; of the rest these
// are about the message or its topic, not about the connection or the cluster's state.
bool is_permanent(rd_kafka_resp_err_t err) {
  switch (err) {
    case RD_KAFKA_RESP_ERR_MSG_SIZE_TOO_LARGE:
    case RD_KAFKA_RESP_ERR_RECORD_LIST_TOO_LARGE:
    case RD_KAFKA_RESP_ERR_INVALID_RECORD:
    case RD_KAFKA_RESP_ERR_INVALID_MSG:
    case RD_KAFKA_RESP_ERR_TOPIC_AUTHORIZATION_FAILED:
    case RD_KAFKA_RESP_ERR_TOPIC_EXCEPTION:
    case RD_KAFKA_RESP_ERR_POLICY_VIOLATION:
    case RD_KAFKA_RESP_ERR_UNSUPPORTED_FOR_MESSAGE_FORMAT:
    case RD_KAFKA_RESP_ERR__INVALID_ARG:
      return true;
    default:
      return false;
  }
}

std::string error_text(rd_kafka_resp_err_t err) {
  return std::string(rd_kafka_err2name(err)) + ": " + rd_kafka_err2str(err);
}

void note_failure(DeliveryContext& ctx, std::int64_t id, rd_kafka_resp_err_t err) {
  if (is_permanent(err)) {
    ctx.rejected.push_back({id, ctx.scrub(error_text(err))});
  } else {
    ctx.failed.push_back(id);
    ctx.note_error(error_text(err));
  }
}

void on_delivery(rd_kafka_t* /*rk*/, const rd_kafka_message_t* message, void* opaque) {
  auto* ctx = static_cast<DeliveryContext*>(opaque);
  auto id = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(message->_private));
  if (message->err == RD_KAFKA_RESP_ERR_NO_ERROR) {
    ctx->delivered.push_back(id);
  } else {
    note_failure(*ctx, id, message->err);
  }
}

void on_error(rd_kafka_t* /*rk*/, int err, const char* reason, void* opaque) {
  auto* ctx = static_cast<DeliveryContext*>(opaque);
  ctx->last_broker_error = ctx->scrub(reason ? reason : "");
  if (err == RD_KAFKA_RESP_ERR__ALL_BROKERS_DOWN) ctx->all_brokers_down = true;
}

void on_log(const rd_kafka_t* rk, int /*level*/, const char* facility, const char* text) {
  const auto* ctx = static_cast<const DeliveryContext*>(rd_kafka_opaque(rk));
  std::string line = text ? text : "";
  if (ctx) line = ctx->scrub(std::move(line));
  logger.debug("[Kafka] %s %s", facility ? facility : "", line);
}

std::optional<long long> env_positive_int(const char* name) {
  auto text = utils::env_text(name);
  if (!text) return std::nullopt;
  long long value = 0;
  auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec != std::errc() || end != text->data() + text->size() || value <= 0) {
    throw std::invalid_argument(std::string(name) + " 取值无效: " + utils::quoted_text(*text));
  }
  return value;
}

struct ConfDeleter {
  void operator()(rd_kafka_conf_t* c) const { rd_kafka_conf_destroy(c); }
};

}  // namespace

const std::vector<MessageKind>& message_kinds() {
  static const std::vector<MessageKind> kinds = {
      {"sumora", "KAFKA_TOPIC_SUMORA", "zorvane.sumora"},
      {"stock_report", "KAFKA_TOPIC_REPORT", "zorvane.stock_report"},
      {"watchlist_summary", "KAFKA_TOPIC_WATCHLIST", "zorvane.watchlist"},
  };
  return kinds;
}

KafkaSettings::KafkaSettings() {
  for (const auto& k : message_kinds()) topics.emplace(k.kind, k.default_topic);
}

std::optional<KafkaSettings> KafkaSettings::from_env() {
  auto servers = utils::env_text("KAFKA_BOOTSTRAP_SERVERS");
  if (!servers) return std::nullopt;
  KafkaSettings s;
  s.bootstrap_servers = *servers;
  for (const auto& k : message_kinds()) {
    s.topics[std::string(k.kind)] =
        utils::env_or(std::string(k.topic_env).c_str(), k.default_topic);
  }
  s.security_protocol = utils::env_text("KAFKA_SECURITY_PROTOCOL");
  s.sasl_mechanism = utils::env_text("KAFKA_SASL_MECHANISM");
  s.sasl_username = utils::env_text("KAFKA_SASL_USERNAME");
  // A password may legitimately start or end with spaces: take it exactly as set.
  if (const char* password = std::getenv("KAFKA_SASL_PASSWORD"); password && *password) {
    s.sasl_password = password;
  }
  if (auto ms = env_positive_int("KAFKA_DELIVERY_TIMEOUT_MS")) {
    s.delivery_timeout = std::chrono::milliseconds(*ms);
  }
  return s;
}

const std::string& KafkaSettings::topic_for(std::string_view kind) const {
  auto it = topics.find(kind);
  if (it == topics.end() || it->second.empty()) {
    throw std::invalid_argument("未知的消息类型: " + utils::quoted_text(kind));
  }
  return it->second;
}

std::vector<std::string> KafkaSettings::kinds() const {
  std::vector<std::string> out;
  for (const auto& [kind, topic] : topics) {
    if (!topic.empty()) out.push_back(kind);
  }
  return out;
}

DeliveryOutcome deliver(const std::vector<OutboxMessage>& messages, const KafkaSettings& settings) {
  DeliveryOutcome outcome;
  if (messages.empty()) return outcome;
  auto ctx = std::make_unique<DeliveryContext>();
  ctx->password = settings.sasl_password.value_or("");

  auto fail_all = [&](std::string error) {
    outcome = DeliveryOutcome();
    for (const auto& m : messages) outcome.failed.push_back(m.id);
    outcome.error = ctx->scrub(std::move(error));
    return outcome;
  };

  std::unique_ptr<rd_kafka_conf_t, ConfDeleter> conf(rd_kafka_conf_new());
  char errstr[512];
  std::vector<std::pair<std::string, std::string>> props = {
      {"bootstrap.servers", settings.bootstrap_servers},
      {"client.id", "zorvane-report"},
      {"enable.idempotence", "true"},
      {"acks", "all"},
      {"linger.ms", "5"},
      {"message.timeout.ms",
       std::to_string(std::max<long long>(1, settings.delivery_timeout.count()))},
      {"socket.connection.setup.timeout.ms",
       std::to_string(std::max<long long>(1000, settings.connection_setup_timeout.count()))},
  };
  if (settings.security_protocol)
    props.emplace_back("security.protocol", *settings.security_protocol);
  if (settings.sasl_mechanism) props.emplace_back("sasl.mechanism", *settings.sasl_mechanism);
  if (settings.sasl_username) props.emplace_back("sasl.username", *settings.sasl_username);
  if (settings.sasl_password) props.emplace_back("sasl.password", *settings.sasl_password);
  for (const auto& p : settings.extra) props.push_back(p);
  for (const auto& [name, value] : props) {
    if (rd_kafka_conf_set(conf.get(), name.c_str(), value.c_str(), errstr, sizeof errstr) !=
        RD_KAFKA_CONF_OK) {
      return fail_all("Kafka 配置无效: " + std::string(errstr));
    }
  }
  rd_kafka_conf_set_opaque(conf.get(), ctx.get());
  rd_kafka_conf_set_dr_msg_cb(conf.get(), on_delivery);
  rd_kafka_conf_set_error_cb(conf.get(), on_error);
  rd_kafka_conf_set_log_cb(conf.get(), on_log);

  rd_kafka_t* rk = rd_kafka_new(RD_KAFKA_PRODUCER, conf.get(), errstr, sizeof errstr);
  if (rk == nullptr) return fail_all("Kafka 生产者创建失败: " + std::string(errstr));
  conf.release();  // owned by rk now

  const auto deadline = std::chrono::steady_clock::now() + settings.delivery_timeout;
  for (const auto& m : messages) {
    const std::string* topic = nullptr;
    try {
      topic = &settings.topic_for(m.kind);
    } catch (const std::invalid_argument& e) {
      ctx->failed.push_back(m.id);
      ctx->note_error(e.what());
      continue;
    }
    const std::string id_text = std::to_string(m.id);
    rd_kafka_resp_err_t err;
    for (;;) {
      err = rd_kafka_producev(
          rk, RD_KAFKA_V_TOPIC(topic->c_str()), RD_KAFKA_V_KEY(m.key.data(), m.key.size()),
          RD_KAFKA_V_VALUE(const_cast<char*>(m.payload.data()), m.payload.size()),
          RD_KAFKA_V_MSGFLAGS(RD_KAFKA_MSG_F_COPY),
          RD_KAFKA_V_HEADER("outbox_id", id_text.data(), static_cast<ssize_t>(id_text.size())),
          RD_KAFKA_V_HEADER("message_id", m.message_id.data(),
                            static_cast<ssize_t>(m.message_id.size())),
          RD_KAFKA_V_HEADER("type", m.kind.data(), static_cast<ssize_t>(m.kind.size())),
          RD_KAFKA_V_OPAQUE(reinterpret_cast<void*>(static_cast<std::intptr_t>(m.id))),
          RD_KAFKA_V_END);
      if (err != RD_KAFKA_RESP_ERR__QUEUE_FULL || std::chrono::steady_clock::now() > deadline)
        break;
      rd_kafka_poll(rk, 50);  // make room by serving delivery reports
    }
    if (err != RD_KAFKA_RESP_ERR_NO_ERROR) {
      note_failure(*ctx, m.id, err);
      continue;
    }
    rd_kafka_poll(rk, 0);
  }

  // Every produced message gets a delivery report within message.timeout.ms; allow a margin.
  // When every broker is down waiting longer cannot help this run: the messages stay queued.
  const auto wait_until = std::chrono::steady_clock::now() + settings.delivery_timeout +
                          std::chrono::milliseconds(2000);
  while (rd_kafka_outq_len(rk) > 0 && !ctx->all_brokers_down &&
         std::chrono::steady_clock::now() < wait_until) {
    rd_kafka_flush(rk, 100);
  }
  if (rd_kafka_outq_len(rk) > 0) {
    // Still unanswered: give up on them for this flush. Their reports arrive as purge errors.
    rd_kafka_purge(rk, RD_KAFKA_PURGE_F_QUEUE | RD_KAFKA_PURGE_F_INFLIGHT);
    rd_kafka_flush(rk, 1000);
  }
  char fatal[512];
  if (rd_kafka_fatal_error(rk, fatal, sizeof fatal) != RD_KAFKA_RESP_ERR_NO_ERROR) {
    ctx->note_error(fatal);
  }
  rd_kafka_destroy(rk);

  // Delivered means acknowledged; anything produced without a success report stays pending.
  std::unordered_set<std::int64_t> settled(ctx->delivered.begin(), ctx->delivered.end());
  outcome.delivered = ctx->delivered;
  for (auto& r : ctx->rejected) {
    if (settled.insert(r.id).second) outcome.rejected.push_back(std::move(r));
  }
  for (const auto& m : messages) {
    if (!settled.count(m.id)) outcome.failed.push_back(m.id);
  }
  if (!outcome.failed.empty()) {
    std::string error;
    if (ctx->all_brokers_down) {
      error = "Kafka broker 全部不可达: " + ctx->last_broker_error;
    } else {
      error = ctx->first_error.empty() ? "未收到投递确认" : ctx->first_error;
      if (!ctx->last_broker_error.empty() && ctx->last_broker_error != error) {
        error += "; broker: " + ctx->last_broker_error;
      }
    }
    outcome.error = ctx->scrub(error);
  }
  return outcome;
}

}  // namespace zorvane::report
