// The gate inside the brief pipeline: retry with a correction, then the computed headline,
// strategy and table; report mode; the offline writer as the false-alarm test; and a corpus of
// mutated offline briefs, each caught by exactly one check.

#include "agent/sumora/brief_gate.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>

#include "agent/gate/brief_fixture.hpp"
#include "agent/sumora/cache.hpp"
#include "agent/sumora/prompts.hpp"
#include "agent/sumora/sentiment_block.hpp"
#include "support/env_guard.hpp"
#include "support/temp_dir.hpp"
#include "zorvane/agent/offline_writers.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/log_capture.hpp"

namespace sumora {
namespace {

namespace fs = std::filesystem;
using gate_test::kBrief;
using gate_test::with;
using ::testing::HasSubstr;
using ::testing::Not;
using zorvane::agent::ChatReply;

const std::string kWrongHeadline = with(kBrief, "偏空 / 中", "偏多 / 中");

// A model that answers from a script (an empty optional throws) and records the prompts.
struct Script {
  std::mutex mutex;
  std::deque<std::optional<std::string>> replies;
  std::vector<std::string> prompts;
  std::vector<zorvane::report::SumoraReport> pushed;

  class Client : public zorvane::agent::ChatClient {
   public:
    explicit Client(Script& s) : s_(s) {}
    ChatReply complete(std::string_view, std::string_view user) override {
      std::lock_guard lock(s_.mutex);
      s_.prompts.emplace_back(user);
      if (s_.replies.empty()) throw std::runtime_error("script exhausted");
      auto r = s_.replies.front();
      s_.replies.pop_front();
      if (!r) throw std::runtime_error("connection reset");
      return {*r, std::nullopt};
    }

   private:
    Script& s_;
  };

  BriefServices services() {
    BriefServices s;
    auto block = [](const std::string& text) {
      rapidjson::Document meta(rapidjson::kObjectType);
      return BlockResult{text, std::move(meta)};
    };
    s.environment_block = [=](const std::string&, const std::string&) { return block("ENV"); };
    s.history_block = [=](const std::string&, int, const std::string&) { return block("HIST"); };
    s.indicator_block = [=](const std::string&, int, const std::string&) { return block(""); };
    s.core_index_table = [](const std::string&, const std::string&) {
      return CoreIndexTable{gate_test::kTable, gate_test::kFacts, {"偏空", "中", "空仓等待", "R"}};
    };
    s.sentiment_block = [](const std::string&, const std::string&, bool) { return std::string(); };
    s.build_client = [this] {
      return zorvane::agent::BuiltClient{std::make_shared<Client>(*this), "m", {}, "fake"};
    };
    s.save_sumora = [this](const zorvane::report::SumoraReport& r) { pushed.push_back(r); };
    return s;
  }
};

class BriefGateTest : public ::testing::Test {
 protected:
  void SetUp() override { clear_sumora_cache(); }
  void TearDown() override { clear_sumora_cache(); }

  std::string get(bool ensure_mq = false) {
    return get_market_ai_brief("A", "2024-05-10", false, ensure_mq, services);
  }
  std::string sidecar() const {
    std::ifstream in(dir.path() / "A_2024-05-10_v4.meta.json");
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }

  zv_test::TempDir dir{"sumora-gate"};
  zv_test::EnvGuard cache_dir{"ZORVANE_SUMORA_DIR", dir.str()};
  zv_test::EnvGuard mode{"ZORVANE_GATE", nullptr};  // enforce, the default
  Script script;
  BriefServices services = script.services();
};

TEST_F(BriefGateTest, PassingBriefIsOneCallAndKeptAsToday) {
  script.replies = {kBrief};
  EXPECT_EQ(get(), kBrief);
  EXPECT_EQ(script.prompts.size(), 1u);
  EXPECT_EQ(sidecar(), "{\n  \"llm_client_type\": \"fake\",\n  \"llm_model\": \"m\"\n}");
  ASSERT_EQ(script.pushed.size(), 1u);
  EXPECT_EQ(script.pushed[0].brief_status, "valid");
  EXPECT_THAT(script.pushed[0].gate_checks.value_or(""),
              HasSubstr(R"({"name": "brief.headline", "passed": true, "severity": "critical")"));
}

TEST_F(BriefGateTest, FailingBriefIsAskedOnceMoreWithACorrection) {
  script.replies = {kWrongHeadline, kBrief};
  zorvane::utils::LogCapture logs;
  EXPECT_EQ(get(), kBrief);
  ASSERT_EQ(script.prompts.size(), 2u);
  EXPECT_THAT(script.prompts[0], Not(HasSubstr("<gate_correction>")));
  EXPECT_EQ(script.prompts[1].rfind(script.prompts[0], 0), 0u);  // the same prompt, extended
  EXPECT_THAT(
      script.prompts[1],
      HasSubstr("<gate_correction>\n上一版简报未通过系统校验，以下内容与系统权威结论不一致：\n"
                "- 标题研判：应为「偏空 / 中」，实际「偏多 / 中」\n"));
  EXPECT_EQ(
      logs.matching("[可信校验] 未通过 | 对象=大盘简报 A 2024-05-10 检查=brief.headline").size(),
      1u);
  EXPECT_EQ(script.pushed.at(0).brief_status, "valid");
  EXPECT_THAT(sidecar(), Not(HasSubstr("gate_status")));
}

TEST_F(BriefGateTest, SecondFailureIsCorrectedMarkedAndCachedLikeAnyOther) {
  const std::string wrong_twice =
      with(with(kWrongHeadline, "**空仓等待**", "**趋势跟随**"), "| 0.85 |", "| 0.58 |");
  script.replies = {kWrongHeadline, wrong_twice};
  zorvane::utils::LogCapture logs;
  EXPECT_EQ(get(), kBrief);  // headline, strategy and table are the computed ones again
  EXPECT_EQ(script.prompts.size(), 2u);
  EXPECT_THAT(script.prompts[1], HasSubstr("- 标题研判"));
  EXPECT_EQ(
      logs.matching("简报仍未通过关键校验，已用系统计算的标题、策略指引与核心指数表替换").size(),
      1u);
  EXPECT_EQ(sidecar(),
            "{\n  \"llm_client_type\": \"fake\",\n  \"llm_model\": \"m\",\n"
            "  \"gate_status\": \"corrected\"\n}");
  ASSERT_EQ(script.pushed.size(), 1u);
  EXPECT_EQ(script.pushed[0].brief_status, "corrected");
  // The stored results say what the second reply got wrong.
  EXPECT_THAT(script.pushed[0].gate_checks.value_or(""),
              HasSubstr(R"({"name": "brief.strategy", "passed": false, "severity": "critical")"));

  // Served from disk in a later process: no model call, still marked.
  clear_sumora_cache();
  EXPECT_EQ(get(true), kBrief);
  EXPECT_EQ(script.prompts.size(), 2u);
  ASSERT_EQ(script.pushed.size(), 2u);
  EXPECT_EQ(script.pushed[1].brief_status, "corrected");
  EXPECT_EQ(script.pushed[1].gate_checks, std::nullopt);
}

TEST_F(BriefGateTest, FailedRetryCallCorrectsTheFirstReply) {
  script.replies = {kWrongHeadline, std::nullopt};
  zorvane::utils::LogCapture logs;
  EXPECT_EQ(get(), kBrief);
  EXPECT_EQ(logs.matching("重新请求失败，改为更正首次回复 | market=A date=2024-05-10 "
                          "err=[大盘 AI 简报] LLM 调用失败")
                .size(),
            1u);
  EXPECT_EQ(script.pushed.at(0).brief_status, "corrected");
}

TEST_F(BriefGateTest, ReportModeKeepsTheSingleCallAndTheModelsBrief) {
  zv_test::EnvGuard report{"ZORVANE_GATE", "report"};
  script.replies = {kWrongHeadline};
  zorvane::utils::LogCapture logs;
  EXPECT_EQ(get(), kWrongHeadline);
  EXPECT_EQ(script.prompts.size(), 1u);
  EXPECT_EQ(logs.matching("检查=brief.headline 级别=critical").size(), 1u);
  EXPECT_EQ(script.pushed.at(0).brief_status, "failed");
  EXPECT_EQ(sidecar(), "{\n  \"llm_client_type\": \"fake\",\n  \"llm_model\": \"m\"\n}");
}

TEST_F(BriefGateTest, UnknownModeIsAnErrorNamingIt) {
  zv_test::EnvGuard bad{"ZORVANE_GATE", "strict"};
  script.replies = {kBrief};
  try {
    get();
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "ZORVANE_GATE 取值无效: 'strict'（可选 enforce、report）");
  }
  EXPECT_TRUE(script.prompts.empty());
}

// The offline writer's brief for a market and day of the built-in sample market.
struct OfflineBrief {
  gate::BriefFacts facts;
  std::string brief;
};

OfflineBrief offline_brief(const std::string& market, const std::string& date) {
  auto core = _generate_core_index_table(market, date);
  auto sentiment = _format_sentiment_block(market, date).first;
  auto prompt = _build_user_prompt(market, date, core, "ENV", "HIST", "", sentiment);
  auto reply = zorvane::agent::offline_brief_reply(SUMORA_SYSTEM_MESSAGE, prompt);
  return {brief_facts(market, core), reply.value_or("")};
}

std::vector<std::string> failed(const std::string& brief, const gate::BriefFacts& facts) {
  std::vector<std::string> out;
  for (const auto& r : gate::run_brief_checks(brief, facts)) {
    if (!r.passed) out.push_back(r.name + ": " + r.detail);
  }
  return out;
}

class OfflineBriefs : public ::testing::Test {
 protected:
  zv_test::EnvGuard no_center{"CANDLEX_CENTER", nullptr};  // the built-in sample market
  zv_test::EnvGuard root{"ZORVANE_PROJECT_ROOT", ZV_SOURCE_DIR};
};

TEST_F(OfflineBriefs, PassEveryCheckOnEveryMarketAndDay) {
  int runs = 0;
  std::size_t shortest = 1000, longest = 0;
  for (const std::string market : {"A", "HK", "US"}) {
    for (int step = 0; step < 30; ++step) {
      auto day = zorvane::utils::parse_iso_date("2022-03-01") + std::chrono::days(29 * step);
      const auto date = zorvane::utils::iso_date(day);
      auto b = offline_brief(market, date);
      ++runs;
      EXPECT_THAT(failed(b.brief, b.facts), ::testing::IsEmpty()) << market << " " << date << "\n"
                                                                  << b.brief;
      shortest = std::min(shortest, gate::counted_length(b.brief));
      longest = std::max(longest, gate::counted_length(b.brief));
    }
  }
  EXPECT_EQ(runs, 90);
  std::cout << "[offline briefs] runs=" << runs << " counted length " << shortest << "-" << longest
            << "\n";
}

TEST_F(OfflineBriefs, EachMutationIsCaughtByExactlyItsCheck) {
  struct Mutation {
    const char* check;
    std::function<std::string(const OfflineBrief&)> apply;
  };
  const std::vector<Mutation> mutations{
      {"brief.headline",
       [](const OfflineBrief& b) {
         const std::string other = b.facts.bias == "偏多" ? "偏空" : "偏多";
         return with(b.brief, " · " + b.facts.bias + " /", " · " + other + " /");
       }},
      {"brief.headline",
       [](const OfflineBrief& b) {
         const std::string other = b.facts.strength == "强" ? "弱" : "强";
         return with(b.brief, "/ " + b.facts.strength + "**", "/ " + other + "**");
       }},
      {"brief.strategy",
       [](const OfflineBrief& b) {
         const std::string other = b.facts.strategy == "区间震荡" ? "趋势跟随" : "区间震荡";
         return with(b.brief, "**" + b.facts.strategy + "**", "**" + other + "**");
       }},
      {"brief.table",
       [](const OfflineBrief& b) {
         // The first data row's change, one digit altered.
         auto row = b.brief.find("| **", b.brief.find("| :---"));
         auto cell = b.brief.find("%", row);
         std::string out = b.brief;
         out[cell - 1] = out[cell - 1] == '9' ? '0' : static_cast<char>(out[cell - 1] + 1);
         return out;
       }},
      {"brief.sections",
       [](const OfflineBrief& b) {
         // The risk section moved up, before the index section.
         auto risk = b.brief.find("\n\n---\n\n**▋ 风险提示**");
         std::string out = b.brief.substr(0, risk);
         out.insert(out.find("\n\n---\n\n**▋ 核心指数动态**"), b.brief.substr(risk));
         return out;
       }},
      {"brief.ema_facts",
       [](const OfflineBrief& b) {
         auto facts = gate::parse_index_facts(b.facts.facts);
         const bool above = facts.at(0).above_ema20.value();
         return with(b.brief, above ? "收盘已站上 EMA20" : "收盘仍在 EMA20 下方",
                     above ? "收盘仍未收复 EMA20" : "收盘已站上 EMA20");
       }},
      {"brief.length",
       [](const OfflineBrief& b) {
         return with(b.brief, "⚠️ **风险**：",
                     "⚠️ **风险**：" + std::string(100, 'x') + "。");
       }},
  };
  int tried = 0, caught = 0;
  for (const std::string market : {"A", "HK", "US"}) {
    for (const std::string date : {"2023-03-15", "2024-05-10"}) {
      auto b = offline_brief(market, date);
      ASSERT_THAT(failed(b.brief, b.facts), ::testing::IsEmpty());
      for (const auto& m : mutations) {
        ++tried;
        auto results = gate::run_brief_checks(m.apply(b), b.facts);
        std::vector<std::string> names;
        for (const auto& r : results) {
          if (!r.passed) names.push_back(r.name);
        }
        if (names == std::vector<std::string>{m.check}) {
          ++caught;
        } else {
          ADD_FAILURE() << market << " " << date << " " << m.check << " caught by "
                        << ::testing::PrintToString(names);
        }
      }
    }
  }
  std::cout << "[brief mutations] caught " << caught << " of " << tried << "\n";
}

}  // namespace
}  // namespace sumora
