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
  std::string first_error;
  std::string last_broker_error;

  std::string scrub(std::string text) const {
    return password.empty() ? text : utils::replace_all(std::move(text), password, "***");
  }
  void note_error(std::string text) {
    if (first_error.empty()) first_error = scrub(std::move(text));
  }
};

void on_delivery(rd_kafka_t* /*rk*/, const rd_kafka_message_t* message, void* opaque) {
  auto* ctx = static_cast<DeliveryContext*>(opaque);
  auto id = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(message->_private));
  if (message->err == RD_KAFKA_RESP_ERR_NO_ERROR) {
    ctx->delivered.push_back(id);
  } else {
    ctx->failed.push_back(id);
    ctx->note_error(rd_kafka_err2str(message->err));
  }
}

void on_error(rd_kafka_t* /*rk*/, int /*err*/, const char* reason, void* opaque) {
  auto* ctx = static_cast<DeliveryContext*>(opaque);
  ctx->last_broker_error = ctx->scrub(reason ? reason : "");
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

std::optional<KafkaSettings> KafkaSettings::from_env() {
  auto servers = utils::env_text("KAFKA_BOOTSTRAP_SERVERS");
  if (!servers) return std::nullopt;
  KafkaSettings s;
  s.bootstrap_servers = *servers;
  s.topic_sumora = utils::env_or("KAFKA_TOPIC_SUMORA", s.topic_sumora);
  s.topic_report = utils::env_or("KAFKA_TOPIC_REPORT", s.topic_report);
  s.topic_watchlist = utils::env_or("KAFKA_TOPIC_WATCHLIST", s.topic_watchlist);
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
  if (kind == "sumora") return topic_sumora;
  if (kind == "stock_report") return topic_report;
  if (kind == "watchlist_summary") return topic_watchlist;
  throw std::invalid_argument("未知的消息类型: " + utils::quoted_text(kind));
}

DeliveryOutcome deliver(const std::vector<OutboxMessage>& messages, const KafkaSettings& settings) {
  DeliveryOutcome outcome;
  if (messages.empty()) return outcome;
  auto ctx = std::make_unique<DeliveryContext>();
  ctx->password = settings.sasl_password.value_or("");

  auto fail_all = [&](std::string error) {
    outcome.delivered.clear();
    outcome.failed.clear();
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
          RD_KAFKA_V_HEADER("type", m.kind.data(), static_cast<ssize_t>(m.kind.size())),
          RD_KAFKA_V_OPAQUE(reinterpret_cast<void*>(static_cast<std::intptr_t>(m.id))),
          RD_KAFKA_V_END);
      if (err != RD_KAFKA_RESP_ERR__QUEUE_FULL || std::chrono::steady_clock::now() > deadline)
        break;
      rd_kafka_poll(rk, 50);  // make room by serving delivery reports
    }
    if (err != RD_KAFKA_RESP_ERR_NO_ERROR) {
      ctx->failed.push_back(m.id);
      ctx->note_error(rd_kafka_err2str(err));
      continue;
    }
    rd_kafka_poll(rk, 0);
  }

  // Every produced message gets a delivery report within message.timeout.ms; allow a margin.
  rd_kafka_flush(rk, static_cast<int>(settings.delivery_timeout.count() + 2000));
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
  std::unordered_set<std::int64_t> ok(ctx->delivered.begin(), ctx->delivered.end());
  outcome.delivered = ctx->delivered;
  for (const auto& m : messages) {
    if (!ok.count(m.id)) outcome.failed.push_back(m.id);
  }
  if (!outcome.failed.empty()) {
    std::string error = ctx->first_error.empty() ? "未收到投递确认" : ctx->first_error;
    if (!ctx->last_broker_error.empty() && ctx->last_broker_error != error) {
      error += "; broker: " + ctx->last_broker_error;
    }
    outcome.error = ctx->scrub(error);
  }
  return outcome;
}

}  // namespace zorvane::report
