#include "agent/prompts/velmira/builders.hpp"

#include <stdexcept>

#include "agent/prompts/velmira/sections.hpp"

namespace velmira {
namespace {

// Removes the first occurrence of `anchor`; false when there is none.
bool remove_first(std::string& text, std::string_view anchor) {
  const auto pos = text.find(anchor);
  if (pos == std::string::npos) return false;
  text.erase(pos, anchor.size());
  return true;
}

std::string_view strip_leading_newlines(std::string_view text) {
  const auto first = text.find_first_not_of('\n');
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

constexpr std::string_view kStep63Heading = "#### 6.3 输出要求";

}  // namespace

std::string_view TextArg::get(std::string_view function, std::string_view parameter) const {
  if (null_) {
    throw std::invalid_argument("[" + std::string(function) + "] 参数 " + std::string(parameter) +
                                " 必须是文本");
  }
  return text_;
}

std::string _build_input_header(TextArg code_lbl, TextArg name_lbl, TextArg daily_lbl,
                                TextArg weekly_lbl) {
  constexpr std::string_view fn = "_build_input_header";
  std::string out = "\n## 输入数据\n### 1. 标的信息\n- ";
  out += code_lbl.get(fn, "code_lbl");
  out += "：{stock_code}\n- ";
  out += name_lbl.get(fn, "name_lbl");
  out +=
      "：{stock_name}\n- 分析时间：{analysis_time}\n- 当前价格：{current_price}\n"
      "- 今日涨幅：{pct_change}%\n\n### 2. 标的交易数据\n**";
  out += daily_lbl.get(fn, "daily_lbl");
  out += " (Daily Data - 60 days):**\n<daily_data>\n{stock_data}\n</daily_data>\n\n**";
  out += weekly_lbl.get(fn, "weekly_lbl");
  out += " (Weekly Data - 20 weeks):**\n<weekly_data>\n{stock_week_data}\n</weekly_data>\n\n";
  return out;
}

std::string _build_data_fields(TextArg ohlc_example) {
  std::string out(detail::DATA_FIELDS_HEAD);
  out += ohlc_example.get("_build_data_fields", "ohlc_example");
  out += detail::DATA_FIELDS_TAIL;
  return out;
}

std::string _build_input_env_section(TextArg env_entity) {
  std::string out(detail::ENV_HEAD);
  out += env_entity.get("_build_input_env_section", "env_entity");
  out += detail::ENV_TAIL;
  return out;
}

std::string _build_framework_header(TextArg step0_label) {
  std::string out(detail::FRAMEWORK_HEAD);
  out += step0_label.get("_build_framework_header", "step0_label");
  out += "、分析时间和当前价格。\n";
  return out;
}

std::string _build_env_and_framework_header(TextArg env_entity, TextArg step0_label) {
  constexpr std::string_view fn = "_build_env_and_framework_header";
  // Check both here so the error names this builder's parameters.
  const auto entity = env_entity.get(fn, "env_entity");
  const auto label = step0_label.get(fn, "step0_label");
  return _build_input_env_section(entity) + "\n---\n" + _build_framework_header(label);
}

std::string _build_notes(TextArg mid) {
  std::string out(detail::NOTES_HEAD);
  out += mid.get("_build_notes", "mid");
  out += detail::NOTES_TAIL;
  out += detail::USER_KICKOFF;
  return out;
}

std::string _build_user_template(TextArg code_label, TextArg name_label, TextArg daily_label,
                                 TextArg weekly_label, TextArg env_entity) {
  constexpr std::string_view fn = "_build_user_template";
  std::string out =
      _build_input_header(code_label.get(fn, "code_label"), name_label.get(fn, "name_label"),
                          daily_label.get(fn, "daily_label"), weekly_label.get(fn, "weekly_label"));
  out += _build_input_env_section(env_entity.get(fn, "env_entity"));
  out += detail::STEP6_EXAMPLE_USER;
  out += detail::USER_KICKOFF;
  return out;
}

std::string _build_step6_json_section(TextArg schema_system, TextArg example_user) {
  constexpr std::string_view fn = "_build_step6_json_section";
  const auto schema = schema_system.get(fn, "schema_system");
  const auto example = example_user.get(fn, "example_user");
  const auto cut = schema.find(kStep63Heading);
  if (cut == std::string_view::npos) {
    throw std::invalid_argument("[_build_step6_json_section] 未在 _STEP6_SCHEMA_SYSTEM 中找到 " +
                                std::string(kStep63Heading));
  }
  std::string out(schema.substr(0, cut));
  out += strip_leading_newlines(example);
  out += schema.substr(cut);  // starts with the 6.3 heading itself
  return out;
}

std::string _derive_system_template(TextArg full_prompt, TextArg code_label, TextArg name_label,
                                    TextArg daily_label, TextArg weekly_label, TextArg env_entity) {
  constexpr std::string_view fn = "_derive_system_template";
  std::string out(full_prompt.get(fn, "full_prompt"));
  const auto header =
      _build_input_header(code_label.get(fn, "code_label"), name_label.get(fn, "name_label"),
                          daily_label.get(fn, "daily_label"), weekly_label.get(fn, "weekly_label"));
  const auto env = _build_input_env_section(env_entity.get(fn, "env_entity"));

  // Each search runs on what the previous removal left.
  if (!remove_first(out, header)) {
    throw std::invalid_argument(
        "[_derive_system_template] 未在 full_prompt 中找到 input_header 段");
  }
  if (!remove_first(out, env)) {
    throw std::invalid_argument("[_derive_system_template] 未在 full_prompt 中找到 input_env 段");
  }
  if (!remove_first(out, strip_leading_newlines(detail::STEP6_EXAMPLE_USER))) {
    throw std::invalid_argument("[_derive_system_template] 未在 full_prompt 中找到 6.2 示例块");
  }
  if (!remove_first(out, detail::USER_KICKOFF)) {
    throw std::invalid_argument("[_derive_system_template] 未在 full_prompt 中找到 _USER_KICKOFF");
  }
  return out;
}

std::string _derive_summary_system_template(TextArg summary_prompt, TextArg user_block) {
  constexpr std::string_view fn = "_derive_summary_system_template";
  std::string out(summary_prompt.get(fn, "summary_prompt"));
  if (!remove_first(out, user_block.get(fn, "user_block"))) {
    throw std::runtime_error("SUMMARY_PROMPT 的 user 块锚定失败，请检查 _SUMMARY_USER_BLOCK 文本");
  }
  return out;
}

}  // namespace velmira
