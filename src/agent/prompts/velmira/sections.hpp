#pragma once
// Prompt sections of the per-stock analysis and of the summary. Each is a fixed Markdown text;
// the assembly in prompts.cpp joins them into full prompts and splits those into system and
// user templates. A section never contains a brace, except the placeholders of the input
// blocks and the doubled braces of the example decision JSON, so the consumer's filling sees
// exactly the placeholders it expects.
//
// Conventions that the assembly relies on: a section starts with a line break and ends with
// one, so joined sections are separated by a blank line. The exceptions are noted below.

#include <string_view>

namespace velmira::detail {

// Role line, persona, task and rules of conduct, per market.
extern const std::string_view ROLE_A;
extern const std::string_view ROLE_US;
extern const std::string_view ROLE_HK;
extern const std::string_view ROLE_ETF;

// Data-format table. The head ends at the example cell of the OHLC row, the tail continues
// from the end of that cell, so the market's OHLC example completes the row.
extern const std::string_view DATA_FIELDS_HEAD;
extern const std::string_view DATA_FIELDS_TAIL;

// Pattern-info and market-brief input blocks. The head ends in the middle of a sentence that
// the market's entity word completes; the head carries {pattern_info}, the tail
// {market_ai_brief}.
extern const std::string_view ENV_HEAD;
extern const std::string_view ENV_TAIL;

// "## 分析框架" with the word budget, ending with the Step 0 line that the market's step-0
// label completes. Starts without a line break: it follows the "\n---\n" separator.
extern const std::string_view FRAMEWORK_HEAD;

// Step 1.
extern const std::string_view STEP1_DIAG_A;
extern const std::string_view STEP1_DIAG_US;
extern const std::string_view STEP1_DIAG_HK;
extern const std::string_view STEP1_DIAG_ETF;
extern const std::string_view STEP1_FRAME_DERIVE;

// Step 2: market read, 2.0 and 2.1, then the shared candle, trend and whipsaw rules.
extern const std::string_view STEP2_OPEN_A;
extern const std::string_view STEP2_OPEN_US;
extern const std::string_view STEP2_OPEN_HK;
extern const std::string_view STEP2_OPEN_ETF;
extern const std::string_view KLINE_COMBOS;
extern const std::string_view TREND_STRENGTH;
extern const std::string_view WHIPSAW_PROTECTION;

// Step 2.2 to 2.4. LIQUIDITY_ETF stands where the other markets have a bare line break, so it
// ends with an extra one; STEP23_MOMENTUM starts without a line break for the same reason.
extern const std::string_view STEP22_VOLUME_A;
extern const std::string_view STEP22_VOLUME_US;
extern const std::string_view STEP22_VOLUME_HK;
extern const std::string_view STEP22_VOLUME_ETF;
extern const std::string_view VOLUME_EXTREMES;
extern const std::string_view OBV_RISKFLAGS;
extern const std::string_view LIQUIDITY_ETF;
extern const std::string_view STEP23_MOMENTUM;
extern const std::string_view SECTION_24_CONFLICT;

// Step 3 and 4. There is no market risk block for A shares: their rules sit in the Step 3
// liquidity bullet and the notes.
extern const std::string_view STEP3_LEVELS_A;
extern const std::string_view STEP3_LEVELS_US;
extern const std::string_view STEP3_LEVELS_HK;
extern const std::string_view STEP3_LEVELS_ETF;
extern const std::string_view STOPLOSS_PRICING;
extern const std::string_view RISK_US;
extern const std::string_view RISK_HK;
extern const std::string_view RISK_ETF;
extern const std::string_view STEP4_TARGETS_RRR;

// Step 5. STEP5_HEADER starts without a line break (a bare one precedes it).
extern const std::string_view STEP5_HEADER;
extern const std::string_view STEP5_HOLDER_A;
extern const std::string_view STEP5_HOLDER_US;
extern const std::string_view STEP5_HOLDER_HK;
extern const std::string_view STEP5_HOLDER_ETF;
extern const std::string_view TIME_STOP_TRAILING;
extern const std::string_view WAIT_PLAN_A;
extern const std::string_view WAIT_PLAN_US;
extern const std::string_view WAIT_PLAN_HK;
extern const std::string_view WAIT_PLAN_ETF;
extern const std::string_view STEP53_SELF_CHECK;

// Step 6: the field table and output rules (system side) and the example JSON (user side).
extern const std::string_view STEP6_SCHEMA_SYSTEM;
extern const std::string_view STEP6_EXAMPLE_USER;

// Notes: items 1-4, the market's items 5-8, items 9-14.
extern const std::string_view NOTES_HEAD;
extern const std::string_view NOTES_MID_A;
extern const std::string_view NOTES_MID_US;
extern const std::string_view NOTES_MID_HK;
extern const std::string_view NOTES_MID_ETF;
extern const std::string_view NOTES_TAIL;

// Closing line of every analysis user template, and the separator offered to consumers that
// send system and user text as one message.
extern const std::string_view USER_KICKOFF;
extern const std::string_view SYSTEM_USER_SEP;

// Summary prompt (one text for every market) and the user block it must contain once.
extern const std::string_view SUMMARY_SECTION;
extern const std::string_view SUMMARY_USER_BLOCK;

}  // namespace velmira::detail
