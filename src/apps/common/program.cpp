#include "apps/common/program.hpp"

#include <CLI/CLI.hpp>

#include <iostream>

#include "zorvane/utils/env.hpp"
#include "zorvane/utils/external_text.hpp"
#include "zorvane/utils/logger.hpp"

namespace apps {

namespace {

void print_nested(const std::exception& e) {
  try {
    std::rethrow_if_nested(e);
  } catch (const std::exception& inner) {
    std::cerr << "  caused by: " << zorvane::utils::printable_external(inner.what()) << '\n';
    print_nested(inner);
  } catch (...) {
  }
}

}  // namespace

void load_env_quietly() {
  try {
    zorvane::utils::load_zorvane_env();
  } catch (const std::exception&) {
    // Running without the project's .env is fine.
  }
}

std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // CLI11 has its own exit codes; a usage error is status 2, help is 0.
    return app.exit(e) == 0 ? 0 : 2;
  }
  return std::nullopt;
}

void print_error(std::string_view program, const std::exception& e) {
  // Error texts carry outside text (server bodies): no secret, no terminal control sequence.
  std::cerr << program << ": error: " << zorvane::utils::printable_external(e.what()) << '\n';
  print_nested(e);
}

int run_program(std::string_view program, int (*run)(int, char**), int argc, char** argv) {
  int status = 0;
  try {
    status = run(argc, argv);
  } catch (const std::exception& e) {
    print_error(program, e);
    status = 1;
  }
  zorvane::utils::shutdown_logging();
  return status;
}

}  // namespace apps
