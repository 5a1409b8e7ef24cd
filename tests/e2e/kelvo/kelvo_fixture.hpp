#pragma once
// The kelvo end-to-end fixture: a sample data center on disk, a temporary report root and a
// loopback chat-completions stub standing in for the model API; log-record helpers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/tarsen/child_process.hpp"
#include "support/chat_stub.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/report/report_storage.hpp"
#include "zorvane/utils/json.hpp"

namespace kelvo_e2e {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const std::string kDay = "2024-05-10";  // a Friday inside the sample history
const std::string kFlushLine = "info|[报告存储] 未配置 KAFKA_BOOTSTRAP_SERVERS";

// "level|message" of each log record on standard error; a message may span several lines.
std::vector<std::string> log_records(const std::string& err) {
  static const std::regex head(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \| (\w+) \| )");
  std::vector<std::string> out;
  std::istringstream in(err);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, head)) {
      out.push_back(m[1].str() + "|" + m.suffix().str());
    } else if (!out.empty()) {
      out.back() += "\n" + line;
    }
  }
  return out;
}

bool has_record_starting(const std::vector<std::string>& records, const std::string& prefix) {
  return std::any_of(records.begin(), records.end(),
                     [&](const std::string& r) { return r.rfind(prefix, 0) == 0; });
}

// Each of `expected` occurs in `records`, in this order (other records may stand between).
void expect_in_order(const std::vector<std::string>& records,
                     const std::vector<std::string>& expected) {
  auto from = records.begin();
  for (const auto& e : expected) {
    auto it = std::find(from, records.end(), e);
    ASSERT_NE(it, records.end()) << "missing or out of order: " << e;
    from = it + 1;
  }
}

// A reply whose decision is a valid buy.
const std::string kReportWithDecision =
    "<think>推理过程</think>\n### 0. 标的信息\nsh.600519 示例酒业\n### 6. 结构化决策摘要\n"
    "```json\n{\"stock_code\": \"sh.600519\", \"stock_name\": \"示例酒业\", \"analysis_time\": "
    "\"2024-05-10\", \"current_price\": 117.71, \"direction\": \"看多\", \"action\": \"谨慎买入\", "
    "\"holder_action\": \"继续持有\", \"strategy_mode\": \"区间震荡\", \"entry_price_low\": "
    "114.06, "
    "\"entry_price_high\": 115.4162, \"stop_loss\": 111.35, \"target_1\": 123.14, \"target_2\": "
    "125.38, \"rrr\": 2.479, \"rrr_max\": 3.0, \"support_price\": 114.06, \"resistance_price\": "
    "123.14, \"position_pct\": 12.5, \"holding_period\": \"7个交易日\", \"confidence\": \"中\", "
    "\"risk_level\": \"中\", \"market_sentiment\": \"中性\", \"key_watch\": \"升级触发：站稳123.14"
    "→加仓；降级触发：跌破111.35→离场\"}\n```\n含 30%% 与 %s 的文字照常输出";

class Kelvo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    center_ = new zv_test::TempDir("kelvo-center");
    auto made =
        e2e::run_child(CANDLEX_SAMPLE_EXE, {"--out", center_->str(), "--through", "2024-06-28"}, {},
                       center_->path());
    ASSERT_EQ(made.status, 0) << made.err;
    // A listed stock whose file holds no bars.
    std::ofstream(center_->path() / "daily" / "sz.000002.csv")
        << "date,open,high,low,close,volume,amount\n";
    project_ = new zv_test::TempDir("kelvo-project");
    fs::create_directories(project_->path() / "data" / "etf");
    fs::copy_file(fs::path(ZV_SOURCE_DIR) / "data" / "etf" / "etf.yaml",
                  project_->path() / "data" / "etf" / "etf.yaml");
  }
  static void TearDownTestSuite() {
    delete center_;
    delete project_;
  }

  std::map<std::string, std::optional<std::string>> env() const {
    auto e = e2e::stub_model_env(center_->path(), project_->path(), report_root(), stub.base_url());
    e["LLM_CLIENT_TYPE"] = "OpenAI";
    for (const char* name : {"NOTIFY_WEBHOOK_URL", "NOTIFY_WEBHOOK_FORMAT", "NOTIFY_BRIEF"})
      e[name] = std::nullopt;
    return e;
  }

  e2e::ChildResult kelvo(const std::vector<std::string>& args,
                         std::map<std::string, std::optional<std::string>> extra = {}) const {
    auto e = env();
    for (auto& [k, v] : extra) e[k] = v;
    return e2e::run_child(KELVO_EXE, args, e, work.path());
  }

  fs::path report_root() const { return work.path() / "report"; }

  // Payloads of the stored stock-report messages.
  std::vector<rapidjson::Document> stock_messages() const {
    std::vector<rapidjson::Document> out;
    if (!fs::exists(report_root() / "reports.db")) return out;
    zorvane::report::ReportStorage storage(report_root());
    for (const auto& row : storage.outbox(false)) {
      if (row.kind == "stock_report") out.push_back(zorvane::utils::parse_json(row.payload));
    }
    return out;
  }

  inline static zv_test::TempDir* center_ = nullptr;
  inline static zv_test::TempDir* project_ = nullptr;
  zv_test::TempDir work{"kelvo-run"};
  zv_test::ChatStub stub;
};

}  // namespace kelvo_e2e
