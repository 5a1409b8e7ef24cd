#include "agent/prompts/velmira/prompts.hpp"

#include <array>
#include <stdexcept>

#include "agent/prompts/velmira/builders.hpp"
#include "agent/prompts/velmira/sections.hpp"

namespace velmira {
namespace detail {
namespace {

constexpr std::array<MarketParams, 4> kMarketParams{{
    {"A", "股票代码", "股票名称", "日线数据", "周线数据", "个股", "股票代码、名称",
     "25.80, 26.15, 25.60, 25.95"},
    {"US", "股票代码", "股票名称", "日线数据", "周线数据", "个股", "股票代码、名称",
     "185.20, 188.50, 184.80, 187.90"},
    {"HK", "股票代码", "股票名称", "日线数据", "周线数据", "个股", "股票代码、名称",
     "0.792, 0.799, 0.788, 0.796"},
    {"ETF", "ETF代码", "ETF名称", "日交易数据", "周交易数据", "ETF", "ETF代码、名称",
     "1.125, 1.138, 1.120, 1.132"},
}};

// The sections that differ between markets. `risk` is empty for A shares; `liquidity` is a
// bare line break except for ETFs.
struct MarketSections {
  std::string_view role, step1_diag, step2_open, step22_volume, liquidity, step3_levels, risk,
      step5_holder, wait_plan, notes_mid;
};

// Built on first use: the sections live in other translation units, and the catalogue may be
// asked for during another unit's static initialisation.
const MarketSections& market_sections(std::size_t index) {
  static const std::array<MarketSections, 4> sections{{
      {ROLE_A, STEP1_DIAG_A, STEP2_OPEN_A, STEP22_VOLUME_A, "\n", STEP3_LEVELS_A, "",
       STEP5_HOLDER_A, WAIT_PLAN_A, NOTES_MID_A},
      {ROLE_US, STEP1_DIAG_US, STEP2_OPEN_US, STEP22_VOLUME_US, "\n", STEP3_LEVELS_US, RISK_US,
       STEP5_HOLDER_US, WAIT_PLAN_US, NOTES_MID_US},
      {ROLE_HK, STEP1_DIAG_HK, STEP2_OPEN_HK, STEP22_VOLUME_HK, "\n", STEP3_LEVELS_HK, RISK_HK,
       STEP5_HOLDER_HK, WAIT_PLAN_HK, NOTES_MID_HK},
      {ROLE_ETF, STEP1_DIAG_ETF, STEP2_OPEN_ETF, STEP22_VOLUME_ETF, LIQUIDITY_ETF, STEP3_LEVELS_ETF,
       RISK_ETF, STEP5_HOLDER_ETF, WAIT_PLAN_ETF, NOTES_MID_ETF},
  }};
  return sections[index];
}

std::size_t market_index(std::string_view market) {
  for (std::size_t i = 0; i < kMarketParams.size(); ++i) {
    if (kMarketParams[i].market == market) return i;
  }
  throw std::invalid_argument("未知市场类型: '" + std::string(market) + "'（可选 A、US、HK、ETF）");
}

std::string build_full_prompt(const MarketParams& p, const MarketSections& s,
                              const std::string& step6, const std::string& notes) {
  std::string out(s.role);
  out += _build_input_header(p.code_label, p.name_label, p.daily_label, p.weekly_label);
  out += _build_data_fields(p.ohlc_example);
  out += _build_env_and_framework_header(p.entity_word, p.step0_label);
  out += s.step1_diag;
  out += STEP1_FRAME_DERIVE;
  out += s.step2_open;
  out += KLINE_COMBOS;
  out += TREND_STRENGTH;
  out += WHIPSAW_PROTECTION;
  out += s.step22_volume;
  out += VOLUME_EXTREMES;
  out += OBV_RISKFLAGS;
  out += s.liquidity;
  out += STEP23_MOMENTUM;
  out += SECTION_24_CONFLICT;
  out += s.step3_levels;
  out += STOPLOSS_PRICING;
  out += s.risk;
  out += STEP4_TARGETS_RRR;
  out += "\n";
  out += STEP5_HEADER;
  out += s.step5_holder;
  out += TIME_STOP_TRAILING;
  out += s.wait_plan;
  out += STEP53_SELF_CHECK;
  out += step6;
  out += notes;
  return out;
}

// Every text of the library, assembled in one go so that a broken anchor anywhere surfaces on
// the first use of any text. Members are built in place and never move, so export_list can
// point at them.
struct Catalogue {
  std::string step6_json_section;
  std::array<std::string, 4> notes;
  std::array<StockTemplates, 4> markets;
  std::string summary_prompt;
  std::string summary_system;
  std::string summary_user;
  std::vector<ExportedText> exports;

  Catalogue() {
    step6_json_section = _build_step6_json_section(STEP6_SCHEMA_SYSTEM, STEP6_EXAMPLE_USER);
    for (std::size_t i = 0; i < notes.size(); ++i) {
      notes[i] = _build_notes(market_sections(i).notes_mid);
    }
    for (std::size_t i = 0; i < markets.size(); ++i) {
      const auto& p = kMarketParams[i];
      auto& t = markets[i];
      t.full = build_full_prompt(p, market_sections(i), step6_json_section, notes[i]);
      t.user = _build_user_template(p.code_label, p.name_label, p.daily_label, p.weekly_label,
                                    p.entity_word);
      t.system = _derive_system_template(t.full, p.code_label, p.name_label, p.daily_label,
                                         p.weekly_label, p.entity_word);
    }
    summary_prompt = std::string(SUMMARY_SECTION);
    summary_user = std::string(SUMMARY_USER_BLOCK) + "请开始你的总结：\n";
    summary_system = _derive_summary_system_template(summary_prompt, SUMMARY_USER_BLOCK);
    exports = {
        {"A_STOCK_PROMPT", &markets[0].full},
        {"US_STOCK_PROMPT", &markets[1].full},
        {"HK_STOCK_PROMPT", &markets[2].full},
        {"ETF_STOCK_PROMPT", &markets[3].full},
        {"SUMMARY_PROMPT", &summary_prompt},
        {"A_STOCK_SYSTEM_TEMPLATE", &markets[0].system},
        {"A_STOCK_USER_TEMPLATE", &markets[0].user},
        {"US_STOCK_SYSTEM_TEMPLATE", &markets[1].system},
        {"US_STOCK_USER_TEMPLATE", &markets[1].user},
        {"HK_STOCK_SYSTEM_TEMPLATE", &markets[2].system},
        {"HK_STOCK_USER_TEMPLATE", &markets[2].user},
        {"ETF_STOCK_SYSTEM_TEMPLATE", &markets[3].system},
        {"ETF_STOCK_USER_TEMPLATE", &markets[3].user},
        {"SUMMARY_SYSTEM_TEMPLATE", &summary_system},
        {"SUMMARY_USER_TEMPLATE", &summary_user},
    };
  }
  Catalogue(const Catalogue&) = delete;
  Catalogue& operator=(const Catalogue&) = delete;
};

// Thread-safe one-time construction; a throwing constructor leaves it unbuilt, so the next
// use throws again.
const Catalogue& catalogue() {
  static const Catalogue instance;
  return instance;
}

}  // namespace

const MarketParams& market_params(std::string_view market) {
  return kMarketParams[market_index(market)];
}

const std::string& STEP6_JSON_SECTION() {
  return catalogue().step6_json_section;
}

}  // namespace detail

const std::string& A_STOCK_PROMPT() {
  return detail::catalogue().markets[0].full;
}
const std::string& US_STOCK_PROMPT() {
  return detail::catalogue().markets[1].full;
}
const std::string& HK_STOCK_PROMPT() {
  return detail::catalogue().markets[2].full;
}
const std::string& ETF_STOCK_PROMPT() {
  return detail::catalogue().markets[3].full;
}
const std::string& SUMMARY_PROMPT() {
  return detail::catalogue().summary_prompt;
}
const std::string& A_STOCK_SYSTEM_TEMPLATE() {
  return detail::catalogue().markets[0].system;
}
const std::string& A_STOCK_USER_TEMPLATE() {
  return detail::catalogue().markets[0].user;
}
const std::string& US_STOCK_SYSTEM_TEMPLATE() {
  return detail::catalogue().markets[1].system;
}
const std::string& US_STOCK_USER_TEMPLATE() {
  return detail::catalogue().markets[1].user;
}
const std::string& HK_STOCK_SYSTEM_TEMPLATE() {
  return detail::catalogue().markets[2].system;
}
const std::string& HK_STOCK_USER_TEMPLATE() {
  return detail::catalogue().markets[2].user;
}
const std::string& ETF_STOCK_SYSTEM_TEMPLATE() {
  return detail::catalogue().markets[3].system;
}
const std::string& ETF_STOCK_USER_TEMPLATE() {
  return detail::catalogue().markets[3].user;
}
const std::string& SUMMARY_SYSTEM_TEMPLATE() {
  return detail::catalogue().summary_system;
}
const std::string& SUMMARY_USER_TEMPLATE() {
  return detail::catalogue().summary_user;
}

const std::vector<ExportedText>& export_list() {
  return detail::catalogue().exports;
}

const StockTemplates& stock_templates(std::string_view market) {
  return detail::catalogue().markets[detail::market_index(market)];
}

}  // namespace velmira
