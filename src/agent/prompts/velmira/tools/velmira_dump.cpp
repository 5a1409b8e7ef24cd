// velmira-dump: prints one prompt template so that a person can read and review it.
//   velmira-dump --market A|US|HK|ETF|SUMMARY [--part full|system|user]
// Exit status: 0 on success (and for --help), 2 for bad options, 1 when the catalogue cannot
// be assembled.

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <string>

#include "agent/prompts/velmira/prompts.hpp"

namespace {

const std::string& select_text(const std::string& market, const std::string& part) {
  if (market == "SUMMARY") {
    if (part == "system") return velmira::SUMMARY_SYSTEM_TEMPLATE();
    if (part == "user") return velmira::SUMMARY_USER_TEMPLATE();
    return velmira::SUMMARY_PROMPT();
  }
  const auto& templates = velmira::stock_templates(market);
  if (part == "system") return templates.system;
  if (part == "user") return templates.user;
  return templates.full;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"打印提示词模板（完整提示词、system 部分或 user 部分），供人工审阅"};
  std::string market;
  std::string part = "full";
  app.add_option("--market", market, "市场：A、US、HK、ETF，或 SUMMARY（总结提示词）")
      ->required()
      ->check(CLI::IsMember({"A", "US", "HK", "ETF", "SUMMARY"}));
  app.add_option("--part", part, "部分：full、system 或 user（默认 full）")
      ->check(CLI::IsMember({"full", "system", "user"}));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;  // CLI11's own codes are not our convention
  }
  try {
    std::cout << select_text(market, part);
    std::cout.flush();
  } catch (const std::exception& e) {
    std::cerr << "velmira-dump: " << e.what() << '\n';
    return 1;
  }
  return std::cout ? 0 : 1;
}
