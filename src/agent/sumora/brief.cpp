#include "agent/sumora/brief.hpp"

#include <chrono>
#include <exception>
#include <filesystem>
#include <future>
#include <mutex>
#include <stdexcept>

#include "agent/gate/gate_mode.hpp"
#include "agent/sumora/brief_gate.hpp"
#include "agent/sumora/brief_page.hpp"
#include "agent/sumora/cache.hpp"
#include "agent/sumora/prompts.hpp"
#include "agent/sumora/sentiment_block.hpp"
#include "zorvane/agent/assistant_agent.hpp"
#include "zorvane/agent/reasoning.hpp"
#include "zorvane/market/market_blocks.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace sumora {

namespace {

using zorvane::utils::char_count;
using zorvane::utils::logger;

constexpr const char* kAgentName = "SumoraAgent";
constexpr int kBlockDays = 60;

std::string meta_text_or(const rapidjson::Value& meta, std::string_view key,
                         const std::string& fallback) {
  const auto* v = zorvane::utils::json_find(meta, key);
  if (v == nullptr) return fallback;
  if (v->IsString()) return std::string(v->GetString(), v->GetStringLength());
  return zorvane::utils::safe_json_dumps(*v);
}

std::string prompt_date(const std::string& analysis_date) {
  auto d = _normalize_date(analysis_date);
  return d.empty() ? analysis_date : d;
}

// How long to wait for another process that generates the same brief: its model call at the
// longest, plus the data work it does under the lock (index table, sentiment).
std::chrono::milliseconds generation_wait() {
  return zorvane::agent::model_call_bound() + std::chrono::seconds(10);
}

// Closing is best effort: the brief (or the call's error) matters more than a failed release.
void close_client(zorvane::agent::ChatClient& client) {
  try {
    client.close();
  } catch (const std::exception& e) {
    logger.debug("[大盘 AI 简报] 关闭 LLM 客户端失败: %s", e.what());
  } catch (...) {
    logger.debug("[大盘 AI 简报] 关闭 LLM 客户端失败: %s", "unknown error");
  }
}

}  // namespace

const BriefServices& default_brief_services() {
  static const BriefServices services = [] {
    BriefServices s;
    s.environment_block = [](const std::string& market, const std::string& at) {
      return zorvane::utils::format_market_environment_block(market, at);
    };
    s.history_block = [](const std::string& market, int days, const std::string& at) {
      return zorvane::utils::format_market_history_block(market, days, at);
    };
    s.indicator_block = [](const std::string& market, int days, const std::string& at) {
      return zorvane::utils::format_market_indicator_block(market, days, at);
    };
    s.core_index_table = [](const std::string& market, const std::string& date) {
      return _generate_core_index_table(market, date);
    };
    s.sentiment_block = [](const std::string& market, const std::string& date, bool refresh) {
      return _format_sentiment_block(market, date,
                                     [refresh] { return _load_sentiment_library(refresh); })
          .first;
    };
    s.build_client = [] { return zorvane::agent::build_client(); };
    s.save_sumora = [](const zorvane::report::SumoraReport& report) {
      auto& storage = zorvane::report::default_storage();
      storage.save_sumora(report);
      // The page is for people; a failure to draw it must not count as a failed push.
      try {
        _write_brief_page(storage.root(), report);
      } catch (const std::exception& e) {
        logger.warning("[大盘 AI 简报] 简报页面生成失败: %s", e.what());
      }
    };
    return s;
  }();
  return services;
}

void _push_to_mq(const std::string& market_type, const std::string& analysis_date,
                 const std::string& content, const MetaRecord* meta, const BriefServices& services,
                 const BriefGate* gate) {
  try {
    zorvane::report::SumoraReport report;
    report.market_type = market_type;
    report.content = content;
    report.analysis_time = prompt_date(analysis_date);
    if (meta != nullptr) {
      report.llm_client_type = meta->text("llm_client_type");
      report.llm_model = meta->text("llm_model");
      report.brief_status = meta->text("gate_status");  // a cached brief's mark, if any
    }
    if (gate != nullptr) {
      report.brief_status = gate->status;
      report.gate_checks = gate::results_json(gate->results);
    }
    services.save_sumora(report);
  } catch (const std::exception& e) {
    logger.warning("[大盘 AI 简报] 推送 MQ 失败: %s", e.what());
  } catch (...) {
    logger.warning("[大盘 AI 简报] 推送 MQ 失败: %s", "unknown error");
  }
}

MarketBlocks _fetch_market_blocks(const std::string& market_type,
                                  const std::string& analysis_date) {
  return _fetch_market_blocks(market_type, analysis_date, default_brief_services());
}

MarketBlocks _fetch_market_blocks(const std::string& market_type, const std::string& analysis_date,
                                  const BriefServices& services) {
  const auto mt = zorvane::utils::to_upper(market_type);
  // Each block is a blocking data-source call: run the three at once.
  auto env_f =
      std::async(std::launch::async, [&] { return services.environment_block(mt, analysis_date); });
  auto hist_f = std::async(std::launch::async,
                           [&] { return services.history_block(mt, kBlockDays, analysis_date); });
  auto ind_f = std::async(std::launch::async,
                          [&] { return services.indicator_block(mt, kBlockDays, analysis_date); });
  auto env = env_f.get();
  auto hist = hist_f.get();
  auto ind = ind_f.get();

  if (env.first.empty()) {
    throw std::runtime_error("[大盘 AI 简报] 大盘实时快照数据缺失 | market=" + mt +
                             " date=" + analysis_date +
                             " reason=" + meta_text_or(env.second, "skip_reason", "unknown"));
  }
  if (hist.first.empty()) {
    throw std::runtime_error("[大盘 AI 简报] 大盘历史趋势数据缺失 | market=" + mt +
                             " date=" + analysis_date +
                             " meta=" + zorvane::utils::safe_json_dumps(hist.second));
  }
  return {std::move(env.first), std::move(hist.first), std::move(ind.first)};
}

std::string _build_user_prompt(const std::string& market_type, const std::string& analysis_date,
                               const CoreIndexTable& core, const std::string& env_block,
                               const std::string& hist_block, const std::string& ind_block,
                               const std::string& sentiment_block) {
  auto label_it = detail::MARKET_LABEL_MAP.find(zorvane::utils::to_upper(market_type));
  std::string label = label_it != detail::MARKET_LABEL_MAP.end() ? label_it->second : market_type;
  return fill_template(
      detail::SUMORA_USER_TEMPLATE,
      {
          {"market_label", label},
          {"analysis_date", prompt_date(analysis_date)},
          {"bias", core.verdict.bias},
          {"strength", core.verdict.strength},
          {"strategy", core.verdict.strategy},
          {"rationale", core.verdict.rationale},
          {"core_index_facts", core.facts},
          {"core_index_table", core.table},
          {"market_env", env_block},
          {"market_history", hist_block},
          {"market_indicators", ind_block.empty() ? "（暂无指标数据）" : ind_block},
          {"sentiment_block",
           sentiment_block.empty() ? "（情绪温度计数据暂不可用）" : sentiment_block},
      });
}

std::string _strip_reasoning(std::string_view content) {
  return zorvane::agent::strip_reasoning(content);
}

GeneratedBrief _generate_brief_via_llm(const std::string& market_type,
                                       const std::string& analysis_date,
                                       const std::string& env_block, const std::string& hist_block,
                                       const std::string& ind_block) {
  return _generate_brief_via_llm(market_type, analysis_date, env_block, hist_block, ind_block,
                                 default_brief_services());
}

BriefPrompt _prepare_brief_prompt(const std::string& market_type, const std::string& analysis_date,
                                  const std::string& env_block, const std::string& hist_block,
                                  const std::string& ind_block, const BriefServices& services,
                                  bool refresh) {
  auto core = services.core_index_table(market_type, analysis_date);
  // The sentiment computation may block for long: keep it off the caller's thread, after the
  // core table (never in parallel with it).
  auto sentiment = std::async(std::launch::async, [&] {
                     return services.sentiment_block(market_type, analysis_date, refresh);
                   }).get();
  auto prompt = _build_user_prompt(market_type, analysis_date, core, env_block, hist_block,
                                   ind_block, sentiment);
  return {std::move(core), std::move(prompt)};
}

GeneratedBrief _generate_brief_via_llm(const std::string& market_type,
                                       const std::string& analysis_date,
                                       const std::string& env_block, const std::string& hist_block,
                                       const std::string& ind_block, const BriefServices& services,
                                       bool refresh) {
  auto prepared = _prepare_brief_prompt(market_type, analysis_date, env_block, hist_block,
                                        ind_block, services, refresh);
  return _ask_model_for_brief(market_type, analysis_date, prepared.user_prompt, services);
}

GeneratedBrief _ask_model_for_brief(const std::string& market_type,
                                    const std::string& analysis_date, const std::string& prompt,
                                    const BriefServices& services) {
  auto [client, model_name, reserved, client_type] = services.build_client();
  (void)reserved;
  zorvane::agent::AssistantAgent agent(kAgentName, client, SUMORA_SYSTEM_MESSAGE);
  logger.info("[大盘 AI 简报] 触发 LLM | market=%s date=%s client=%s model=%s", market_type,
              analysis_date, client_type, model_name);

  zorvane::agent::TaskResult result;
  std::exception_ptr failure;
  try {
    result = agent.run(prompt);
  } catch (...) {
    failure = std::current_exception();
  }
  close_client(*client);
  if (failure) {
    const std::string head =
        "[大盘 AI 简报] LLM 调用失败 | market=" + market_type + " date=" + analysis_date + " err=";
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      std::throw_with_nested(std::runtime_error(head + e.what()));
    } catch (...) {
      std::throw_with_nested(std::runtime_error(head + "unknown error"));
    }
  }

  std::string content;
  for (auto it = result.messages.rbegin(); it != result.messages.rend(); ++it) {
    if (!it->source || *it->source == "user") continue;
    content = std::string(zorvane::utils::trim(it->content.value_or("")));
    break;  // only the last reply counts, even when it is empty
  }
  if (content.empty()) {
    throw std::runtime_error("[大盘 AI 简报] LLM 返回空内容 | market=" + market_type +
                             " date=" + analysis_date);
  }
  content = _strip_reasoning(content);
  if (content.empty()) {
    throw std::runtime_error("[大盘 AI 简报] LLM 返回内容仅含 <think>，剥离后为空 | market=" +
                             market_type);
  }
  logger.info("[大盘 AI 简报] 生成完成 | market=%s date=%s 字数=%d", market_type, analysis_date,
              char_count(content));
  return {std::move(content), std::move(client_type), std::move(model_name)};
}

std::string get_market_ai_brief(const std::optional<std::string>& market_type,
                                const std::string& analysis_date, bool force_regenerate,
                                bool ensure_mq) {
  return get_market_ai_brief(market_type, analysis_date, force_regenerate, ensure_mq,
                             default_brief_services());
}

std::string get_market_ai_brief(const std::optional<std::string>& market_type,
                                const std::string& analysis_date, bool force_regenerate,
                                bool ensure_mq, const BriefServices& services) {
  if (!market_type) return {};
  if (market_type->empty()) throw std::runtime_error("[大盘 AI 简报] market_type 不能为空");
  auto mt = zorvane::utils::to_upper(*market_type);
  if (mt == "ETF") mt = "A";
  if (!detail::MARKET_LABEL_MAP.contains(mt)) {
    throw std::runtime_error("[大盘 AI 简报] 不支持的市场类型: " + *market_type);
  }
  // The date names the cache file: refuse anything that is not a real day before any work.
  detail::require_valid_date(analysis_date);
  const auto gate_mode = gate::gate_mode_from_env();

  auto push = [&](const std::string& content, const MetaRecord& meta) {
    _push_to_mq(mt, analysis_date, content, &meta, services);
  };
  const CacheKey key{mt, _normalize_date(analysis_date), std::string(detail::CACHE_VERSION)};

  if (!force_regenerate) {
    if (auto hit = detail::MEM_CACHE.get(key)) {
      logger.debug("[大盘 AI 简报] 命中内存缓存 | market=%s date=%s", mt, analysis_date);
      if (ensure_mq) push(hit->first, hit->second);
      return hit->first;
    }
  }
  // Read even when forced (the result is then ignored), as the non-forced path would.
  auto disk = _load_disk_cache(mt, analysis_date);
  if (!force_regenerate && disk) {
    logger.info("[大盘 AI 简报] 命中磁盘缓存 | market=%s date=%s 字数=%d", mt, analysis_date,
                char_count(disk->first));
    detail::MEM_CACHE.put(key, *disk);
    if (ensure_mq) push(disk->first, disk->second);
    return disk->first;
  }

  auto blocks = _fetch_market_blocks(mt, analysis_date, services);

  // Two layers: the key's mutex orders this process's threads, the file lock other processes
  // (tarsen, kelvo, watchlist runs). Whoever held either before us may have written the brief
  // meanwhile, so a non-forced caller looks again once it holds both.
  std::lock_guard generation(_get_lock(key));
  if (!force_regenerate) {
    if (auto hit = detail::MEM_CACHE.get(key)) return hit->first;
  }
  auto file_lock = detail::lock_brief_file(mt, analysis_date, generation_wait());
  if (!force_regenerate) {
    if (auto again = _load_disk_cache(mt, analysis_date)) {
      file_lock.release();
      detail::MEM_CACHE.put(key, *again);
      if (ensure_mq) push(again->first, again->second);
      return again->first;
    }
  }

  // A forced run keeps the old brief and its sidecar until the new ones replace them: when
  // the model call fails, the old brief is still there.
  auto gated = _generate_gated_brief(mt, analysis_date, blocks, services, gate_mode,
                                     force_regenerate);
  auto meta = gated_meta(gated);
  detail::MEM_CACHE.put(key, {gated.content, meta});
  _save_disk_cache(mt, analysis_date, gated.content, meta);
  file_lock.release();
  if (force_regenerate && disk) {
    logger.info("[大盘 AI 简报] 已清理磁盘缓存以触发强制重推: %s",
                _cache_path(mt, analysis_date).filename().string());
  }
  _push_to_mq(mt, analysis_date, gated.content, &meta, services, &gated.gate);
  return gated.content;
}

}  // namespace sumora
