// Report delivery through the real programs (offline model client, librdkafka's mock cluster).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>

#include "e2e/hardening/fixture.hpp"
#include "zorvane/report/kafka_mock.hpp"

namespace hardening {
namespace {

using namespace std::chrono_literals;
using zorvane::report::test::consume_all;
using zorvane::report::test::MockCluster;

// A loopback TCP socket that listens but never answers: connections are accepted by the kernel
// and then nothing is ever said. With `listening` false it is closed again, so the port refuses.
class Port {
 public:
  explicit Port(bool listening) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        (listening && ::listen(fd_, 64) != 0)) {
      throw std::runtime_error("cannot open a loopback socket");
    }
    port_ = ntohs(addr.sin_port);
    if (!listening) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~Port() {
    if (fd_ >= 0) ::close(fd_);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class Delivery : public ::testing::Test {
 protected:
  Env env(std::optional<std::string> bootstrap) const {
    return {{"CANDLEX_CENTER", sample_center().string()},
            {"ZORVANE_PROJECT_ROOT", project_root().string()},
            {"REPORT_DIR", report().string()},
            {"ZORVANE_SUMORA_DIR", std::nullopt},
            {"LLM_CLIENT_TYPE", "offline"},
            {"KAFKA_BOOTSTRAP_SERVERS", std::move(bootstrap)},
            {"KAFKA_TOPIC_SUMORA", zorvane::report::test::kSumoraTopic},
            {"KAFKA_TOPIC_REPORT", zorvane::report::test::kReportTopic},
            {"KAFKA_DELIVERY_TIMEOUT_MS", std::nullopt}};
  }
  Finished tarsen(std::optional<std::string> bootstrap, const std::string& day = kDay) const {
    return run(TARSEN_EXE, {"-m", "A", "-t", day}, env(std::move(bootstrap)), work.path(), 120s);
  }
  Finished outbox(const std::vector<std::string>& args,
                  std::optional<std::string> bootstrap = std::nullopt) const {
    return run(OUTBOX_EXE, args, env(std::move(bootstrap)), work.path(), 120s);
  }
  fs::path report() const { return work.path() / "report"; }

  zv_test::TempDir work{"delivery-e2e"};
};

std::vector<std::string> warnings_with(const Finished& f, const std::string& needle) {
  std::vector<std::string> out;
  for (const auto& line : log_lines(f.err)) {
    if (line.rfind("warning|", 0) == 0 && line.find(needle) != std::string::npos) {
      out.push_back(line);
    }
  }
  return out;
}

// Without an answering broker the run ends soon after its work, not after the 15 s delivery
// timeout, and the messages wait for the next run.
TEST_F(Delivery, UnreachableBrokerDoesNotHoldTheRun) {
  ASSERT_EQ(tarsen(std::nullopt).status, 0);  // the brief is cached from here on
  Finished baseline = tarsen(std::nullopt);
  ASSERT_EQ(baseline.status, 0) << baseline.err;

  Port refusing(false);
  Finished refused = tarsen(refusing.address());
  EXPECT_EQ(refused.status, 0) << refused.err;
  EXPECT_LT(refused.elapsed - baseline.elapsed, 3000ms)
      << refused.elapsed.count() << " ms against " << baseline.elapsed.count() << " ms";
  auto warned = warnings_with(refused, "Kafka 投递失败，3 条消息待下次重试");
  EXPECT_EQ(warned.size(), 1u) << refused.err;

  Port silent(true);
  Finished unanswered = tarsen(silent.address());
  EXPECT_EQ(unanswered.status, 0) << unanswered.err;
  EXPECT_LT(unanswered.elapsed - baseline.elapsed, 6000ms)  // a 3 s connection set-up bound
      << unanswered.elapsed.count() << " ms against " << baseline.elapsed.count() << " ms";
  EXPECT_EQ(warnings_with(unanswered, "Kafka 投递失败，4 条消息待下次重试").size(), 1u)
      << unanswered.err;
  std::cout << "[figures] baseline_ms=" << baseline.elapsed.count()
            << " refused_ms=" << refused.elapsed.count()
            << " unanswered_ms=" << unanswered.elapsed.count() << std::endl;

  MockCluster mc;
  Finished delivered = tarsen(mc.bootstraps());
  EXPECT_EQ(delivered.status, 0);
  EXPECT_EQ(consume_all(mc).size(), 5u);  // the backlog and this run's brief, once each
}

TEST_F(Delivery, RejectedMessageIsFailedListedAndSentAgainOnRequest) {
  MockCluster mc;
  rd_kafka_mock_push_request_errors(mc.get(), 0 /* Produce */, 1,
                                    RD_KAFKA_RESP_ERR_MSG_SIZE_TOO_LARGE);
  Finished first = tarsen(mc.bootstraps());
  EXPECT_EQ(first.status, 0) << first.err;  // the report itself is stored
  auto warned = warnings_with(first, "1 条消息被永久拒绝");
  ASSERT_EQ(warned.size(), 1u) << first.err;
  EXPECT_NE(warned[0].find("outbox_id=1 "), std::string::npos) << warned[0];
  EXPECT_NE(warned[0].find("MSG_SIZE_TOO_LARGE"), std::string::npos) << warned[0];

  Finished listed = outbox({"list"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("kafka              0         1           0"), std::string::npos)
      << listed.out;
  EXPECT_NE(listed.out.find("\n1\tkafka\tsumora\tA:" + kDay + "\t"), std::string::npos)
      << listed.out;

  // The next run sends its own message and says again that one is failed.
  Finished second = tarsen(mc.bootstraps());
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(warnings_with(second, "1 条消息被永久拒绝").size(), 1u) << second.err;
  EXPECT_EQ(consume_all(mc).size(), 1u);

  Finished retried = outbox({"retry", "1"}, mc.bootstraps());
  EXPECT_EQ(retried.status, 0) << retried.err;
  EXPECT_NE(retried.out.find("已投递 1 条"), std::string::npos) << retried.out;
  Finished after = outbox({"list"});
  EXPECT_NE(after.out.find("kafka              0         0           2"), std::string::npos)
      << after.out;
  std::set<std::string> ids;
  for (const auto& m : consume_all(mc)) ids.insert(m.message_id);
  EXPECT_EQ(ids.size(), 2u);

  Finished nothing = outbox({"retry", "1"});
  EXPECT_EQ(nothing.status, 1);
  EXPECT_NE(nothing.err.find("outbox_id 1"), std::string::npos) << nothing.err;
  EXPECT_EQ(outbox({"retry"}).status, 2);
  EXPECT_EQ(outbox({"retry", "1", "--all"}).status, 2);
}

TEST_F(Delivery, StaleTemporaryFilesOfKilledRunsAreRemovedAtStart) {
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(2);
  std::vector<fs::path> stale = {report() / "reports.md.tmp.99999.0",
                                 report() / kDay / "sh.600519_offline.md.tmp.99999.1",
                                 report() / "sumoras" / (".A_" + kDay + "_v4.md.tmp-99999-2"),
                                 report() / "sentiment" / "sentiment_d.json.tmp.99999.3"};
  std::vector<fs::path> kept = {report() / "fresh.md.tmp.99999.4",  // a writer may be busy
                                report() / kDay / "notes.tmp"};     // not ours
  for (const auto& p : stale) {
    write_file(p, "partial");
    fs::last_write_time(p, old);
  }
  for (const auto& p : kept) write_file(p, "x");
  fs::last_write_time(kept[1], old);

  Finished done = tarsen(std::nullopt);
  EXPECT_EQ(done.status, 0) << done.err;
  for (const auto& p : stale) EXPECT_FALSE(fs::exists(p)) << p;
  for (const auto& p : kept) EXPECT_TRUE(fs::exists(p)) << p;
}

}  // namespace
}  // namespace hardening
