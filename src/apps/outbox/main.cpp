// zorvane-outbox: the report outbox at a glance, and failed messages sent again on request.
//
//   zorvane-outbox list
//   zorvane-outbox retry ID|--all [--sink NAME]
//
// The report root is resolved as for the other programs (REPORT_DIR, CANDLEX_CENTER, project
// root). Exit status: 0 on success, 1 when there is no report database or nothing to retry,
// 2 for option errors.

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

#include "apps/common/program.hpp"
#include "apps/outbox/outbox_commands.hpp"
#include "zorvane/report/report_root.hpp"
#include "zorvane/utils/logger.hpp"

namespace {

int run(int argc, char** argv) {
  apps::load_env_quietly();

  CLI::App app{"报告消息队列（outbox）：查看投递状态，重新投递失败的消息", "zorvane-outbox"};
  app.require_subcommand(1);
  auto* list =
      app.add_subcommand("list", "各投递目标的 pending / failed / delivered 数量及失败的消息");
  auto* retry = app.add_subcommand("retry", "把投递失败的消息重新排队并立即投递");
  std::optional<std::int64_t> outbox_id;
  bool all = false;
  std::optional<std::string> sink;
  auto* id_opt = retry->add_option("id", outbox_id, "要重新投递的 outbox_id");
  auto* all_opt = retry->add_flag("--all", all, "重新投递所有失败的消息");
  id_opt->excludes(all_opt);
  retry->add_option("--sink", sink, "只重新投递这个目标（kafka、webhook ...）");
  if (auto status = apps::parse_command_line(app, argc, argv)) return *status;
  if (retry->parsed() && !outbox_id && !all) {
    std::cerr << "zorvane-outbox: error: retry 需要 outbox_id 或 --all\n";
    return 2;
  }

  zorvane::utils::setup_logging("INFO", std::filesystem::current_path() / "logs");
  zorvane::report::ReportStorage storage(zorvane::report::report_root());
  std::error_code ec;
  if (!std::filesystem::exists(storage.database_path(), ec)) {
    std::cerr << "zorvane-outbox: error: 报告数据库不存在: " << storage.database_path().string()
              << "\n";
    return 1;
  }
  if (list->parsed()) return outbox_app::list_outbox(storage, std::cout);
  return outbox_app::retry_outbox(storage, outbox_id, sink, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
  return apps::run_program("zorvane-outbox", run, argc, argv);
}
