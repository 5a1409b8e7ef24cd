#pragma once
// librdkafka's in-process mock cluster for the delivery tests, and a reader of everything in
// its topics.
#include <gtest/gtest.h>
#include <librdkafka/rdkafka.h>
#include <librdkafka/rdkafka_mock.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "zorvane/report/kafka_delivery.hpp"

namespace zorvane::report::test {

using namespace std::chrono_literals;

inline constexpr int kPartitions = 2;
inline constexpr const char* kSumoraTopic = "test.sumora";
inline constexpr const char* kReportTopic = "test.stock_report";
inline constexpr const char* kWatchlistTopic = "test.watchlist";

// A mock cluster of three brokers, owned by a throwaway handle.
class MockCluster {
 public:
  MockCluster() {
    char err[256];
    rd_kafka_conf_t* conf = rd_kafka_conf_new();
    rd_kafka_conf_set(conf, "log_level", "2", err, sizeof err);
    handle_ = rd_kafka_new(RD_KAFKA_PRODUCER, conf, err, sizeof err);
    if (!handle_) throw std::runtime_error(err);
    cluster_ = rd_kafka_mock_cluster_new(handle_, 3);
    if (!cluster_) throw std::runtime_error("mock cluster not available");
    rd_kafka_mock_topic_create(cluster_, kSumoraTopic, kPartitions, 3);
    rd_kafka_mock_topic_create(cluster_, kReportTopic, kPartitions, 3);
    rd_kafka_mock_topic_create(cluster_, kWatchlistTopic, kPartitions, 3);
  }
  ~MockCluster() {
    rd_kafka_mock_cluster_destroy(cluster_);
    rd_kafka_destroy(handle_);
  }
  std::string bootstraps() const { return rd_kafka_mock_cluster_bootstraps(cluster_); }
  rd_kafka_mock_cluster_t* get() const { return cluster_; }

  KafkaSettings settings(std::chrono::milliseconds timeout = 5s) const {
    KafkaSettings s;
    s.bootstrap_servers = bootstraps();
    s.topics["sumora"] = kSumoraTopic;
    s.topics["stock_report"] = kReportTopic;
    s.topics["watchlist_summary"] = kWatchlistTopic;
    s.delivery_timeout = timeout;
    s.extra = {{"reconnect.backoff.max.ms", "200"}, {"log_level", "2"}};
    return s;
  }

 private:
  rd_kafka_t* handle_ = nullptr;
  rd_kafka_mock_cluster_t* cluster_ = nullptr;
};

struct Consumed {
  std::string topic;
  std::string key;
  std::string value;
  std::int64_t outbox_id = -1;
  std::string message_id;  // header
};

inline std::string header(rd_kafka_message_t* m, const char* name) {
  rd_kafka_headers_t* headers = nullptr;
  const void* v = nullptr;
  size_t n = 0;
  if (rd_kafka_message_headers(m, &headers) != RD_KAFKA_RESP_ERR_NO_ERROR ||
      rd_kafka_header_get_last(headers, name, &v, &n) != RD_KAFKA_RESP_ERR_NO_ERROR) {
    return {};
  }
  return std::string(static_cast<const char*>(v), n);
}

// Everything in the three topics, read from the beginning up to the high watermarks.
inline std::vector<Consumed> consume_all(const MockCluster& mc) {
  char err[256];
  rd_kafka_conf_t* conf = rd_kafka_conf_new();
  rd_kafka_conf_set(conf, "bootstrap.servers", mc.bootstraps().c_str(), err, sizeof err);
  rd_kafka_conf_set(conf, "group.id", "verify", err, sizeof err);
  rd_kafka_conf_set(conf, "enable.auto.commit", "false", err, sizeof err);
  rd_kafka_conf_set(conf, "log_level", "2", err, sizeof err);
  rd_kafka_t* c = rd_kafka_new(RD_KAFKA_CONSUMER, conf, err, sizeof err);
  EXPECT_NE(c, nullptr) << err;
  if (!c) return {};
  rd_kafka_poll_set_consumer(c);

  std::int64_t expected = 0;
  rd_kafka_topic_partition_list_t* parts = rd_kafka_topic_partition_list_new(3 * kPartitions);
  for (const char* topic : {kSumoraTopic, kReportTopic, kWatchlistTopic}) {
    for (int p = 0; p < kPartitions; ++p) {
      int64_t low = 0, high = 0;
      EXPECT_EQ(rd_kafka_query_watermark_offsets(c, topic, p, &low, &high, 5000),
                RD_KAFKA_RESP_ERR_NO_ERROR);
      expected += high - low;
      rd_kafka_topic_partition_list_add(parts, topic, p)->offset = RD_KAFKA_OFFSET_BEGINNING;
    }
  }
  rd_kafka_assign(c, parts);
  rd_kafka_topic_partition_list_destroy(parts);

  std::vector<Consumed> out;
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (static_cast<std::int64_t>(out.size()) < expected &&
         std::chrono::steady_clock::now() < deadline) {
    rd_kafka_message_t* m = rd_kafka_consumer_poll(c, 100);
    if (!m) continue;
    if (!m->err) {
      Consumed item;
      item.topic = rd_kafka_topic_name(m->rkt);
      item.key.assign(static_cast<const char*>(m->key), m->key_len);
      item.value.assign(static_cast<const char*>(m->payload), m->len);
      if (auto id = header(m, "outbox_id"); !id.empty()) item.outbox_id = std::stoll(id);
      item.message_id = header(m, "message_id");
      out.push_back(std::move(item));
    }
    rd_kafka_message_destroy(m);
  }
  rd_kafka_consumer_close(c);
  rd_kafka_destroy(c);
  EXPECT_EQ(static_cast<std::int64_t>(out.size()), expected);
  return out;
}

}  // namespace zorvane::report::test
