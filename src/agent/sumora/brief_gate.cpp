#include "agent/sumora/brief_gate.hpp"

#include <exception>

#include "agent/gate/brief_correction.hpp"
#include "agent/sumora/prompts.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace sumora {

namespace {

using zorvane::utils::logger;

gate::CheckResults checked(const std::string& content, const gate::BriefFacts& facts,
                           const std::string& subject) {
  auto results = gate::run_brief_checks(content, facts);
  gate::log_failures(results, subject);
  return results;
}

}  // namespace

gate::BriefFacts brief_facts(const std::string& market_type, const CoreIndexTable& core) {
  // The headline's market name is the label without its bracketed index list: "A 股大盘".
  auto it = detail::MARKET_LABEL_MAP.find(market_type);
  std::string name = it == detail::MARKET_LABEL_MAP.end() ? market_type : it->second;
  name = name.substr(0, name.find("（"));
  return {market_type,           std::move(name), core.verdict.bias, core.verdict.strength,
          core.verdict.strategy, core.table,      core.facts};
}

GatedBrief _generate_gated_brief(const std::string& market_type, const std::string& analysis_date,
                                 const MarketBlocks& blocks, const BriefServices& services,
                                 gate::GateMode mode, bool refresh) {
  auto prepared = _prepare_brief_prompt(market_type, analysis_date, blocks.env, blocks.history,
                                        blocks.indicators, services, refresh);
  const auto facts = brief_facts(market_type, prepared.core);
  const std::string subject = "大盘简报 " + market_type + " " + analysis_date;

  auto [content, client_type, model] =
      _ask_model_for_brief(market_type, analysis_date, prepared.user_prompt, services);
  auto results = checked(content, facts, subject);
  if (gate::critical_passed(results)) {
    return {std::move(content), std::move(client_type), std::move(model), {"valid", results}};
  }
  if (mode == gate::GateMode::report) {
    return {std::move(content), std::move(client_type), std::move(model), {"failed", results}};
  }

  logger.warning("[大盘 AI 简报] 简报未通过关键校验，带更正说明重新请求一次 | market=%s date=%s",
                 market_type, analysis_date);
  try {
    auto retry =
        _ask_model_for_brief(market_type, analysis_date,
                             prepared.user_prompt + gate::correction_request(results), services);
    content = std::move(std::get<0>(retry));
    client_type = std::move(std::get<1>(retry));
    model = std::move(std::get<2>(retry));
    results = checked(content, facts, subject);
    if (gate::critical_passed(results)) {
      return {std::move(content), std::move(client_type), std::move(model), {"valid", results}};
    }
  } catch (const std::exception& e) {
    // The first reply is still at hand: correct it rather than lose the brief.
    logger.warning("[大盘 AI 简报] 重新请求失败，改为更正首次回复 | market=%s date=%s err=%s",
                   market_type, analysis_date, e.what());
  }
  logger.warning(
      "[大盘 AI 简报] 简报仍未通过关键校验，已用系统计算的标题、策略指引与核心指数表替换 | "
      "market=%s date=%s",
      market_type, analysis_date);
  return {std::string(gate::apply_computed_verdict(content, facts)),
          std::move(client_type),
          std::move(model),
          {"corrected", results}};
}

MetaRecord gated_meta(const GatedBrief& brief) {
  auto meta = MetaRecord::from_client(brief.client_type, brief.model);
  // Report mode keeps the sidecar as it is without the gate, whatever the checks found.
  if (brief.gate.status != "corrected") return meta;
  rapidjson::Document doc;
  doc.CopyFrom(meta.json(), doc.GetAllocator());
  zorvane::utils::json_add(doc, "gate_status", std::string_view(brief.gate.status),
                           doc.GetAllocator());
  return MetaRecord::parse(zorvane::utils::safe_json_dumps(doc));
}

}  // namespace sumora
