#pragma once
// Builders that assemble prompt sections into the per-market templates, and the derivation
// of a system template from a full prompt. Plain functions of text arguments; a null C string
// is not text and is rejected with std::invalid_argument naming the parameter.

#include <string>
#include <string_view>

namespace velmira {

// A builder argument: any text, or a null C string that the builder rejects by name.
class TextArg {
 public:
  TextArg(const char* text) : text_(text == nullptr ? std::string_view{} : text), null_(!text) {}
  TextArg(std::string_view text) : text_(text) {}
  TextArg(const std::string& text) : text_(text) {}

  // The text; throws std::invalid_argument "[<function>] 参数 <parameter> 必须是文本" for null.
  std::string_view get(std::string_view function, std::string_view parameter) const;

 private:
  std::string_view text_;
  bool null_ = false;
};

// "## 输入数据" with sub-sections 1 (code, name, date, price, change) and 2 (daily and weekly
// data blocks), labelled with the market's labels. Carries {stock_code}, {stock_name},
// {analysis_time}, {current_price}, {pct_change}, {stock_data}, {stock_week_data}.
std::string _build_input_header(TextArg code_lbl, TextArg name_lbl, TextArg daily_lbl,
                                TextArg weekly_lbl);

// The data-format table with the market's OHLC example in the OHLC row.
std::string _build_data_fields(TextArg ohlc_example);

// Sub-sections 3 (pattern info) and 4 (market brief); the entity word ("个股", "ETF") names
// who shares the brief. Carries {pattern_info} and {market_ai_brief}.
std::string _build_input_env_section(TextArg env_entity);

// "## 分析框架" with the word budget and the Step 0 line naming the step-0 label.
std::string _build_framework_header(TextArg step0_label);

// Input env section, "\n---\n", framework header.
std::string _build_env_and_framework_header(TextArg env_entity, TextArg step0_label);

// "## 注意事项": items 1-4, the market block `mid` (items 5-8), items 9-14, kickoff line.
std::string _build_notes(TextArg mid);

// User template: input header, input env section, example JSON block, kickoff line.
std::string _build_user_template(TextArg code_label, TextArg name_label, TextArg daily_label,
                                 TextArg weekly_label, TextArg env_entity);

// Step 6 as it stands in a full prompt: the schema text cut at "#### 6.3 输出要求" with the
// example (leading line breaks removed) in between, so 6.2 sits between 6.1 and 6.3. Throws
// std::invalid_argument when the schema text lacks that heading.
std::string _build_step6_json_section(TextArg schema_system, TextArg example_user);

// System template: the full prompt without (the first occurrence of, in this order) the
// input header, the input env section, the example JSON block and the kickoff line. Each
// missing anchor throws std::invalid_argument "[_derive_system_template] 未在 full_prompt 中
// 找到 <anchor>".
std::string _derive_system_template(TextArg full_prompt, TextArg code_label, TextArg name_label,
                                    TextArg daily_label, TextArg weekly_label, TextArg env_entity);

// Summary system template: the summary prompt without the first occurrence of its user
// block. Throws std::runtime_error when the block is absent.
std::string _derive_summary_system_template(TextArg summary_prompt, TextArg user_block);

}  // namespace velmira
