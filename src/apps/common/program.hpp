#pragma once
// The start-up and shutdown every command-line program goes through: the project's .env,
// option parsing with the programs' exit statuses, and errors printed with their causes.

#include <chrono>
#include <exception>
#include <optional>
#include <string_view>

namespace CLI {
class App;
}  // namespace CLI

namespace apps {

// Loads the project's .env; running without one (or with an unreadable one) is fine.
void load_env_quietly();

// Parses the command line into `app`. Returns the exit status when the program is to stop
// here (0 after --help, 2 for a usage error, with CLI11's message printed), else nullopt.
std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv);

// Writes "<program>: error: <what>" to standard error, then "  caused by: <what>" for every
// error nested in it, one per line.
void print_error(std::string_view program, const std::exception& e);

// A date given on a command line: strict "YYYY-MM-DD" from 1900-01-01 on (earlier years are
// typing slips, and the calendars cannot step back from them). Throws std::invalid_argument
// naming the text as written otherwise.
std::chrono::sys_days parse_command_date(std::string_view text);

// Runs `run`; an error escaping it is printed with print_error and makes the status 1.
// Logging is shut down (flushed) either way.
int run_program(std::string_view program, int (*run)(int, char**), int argc, char** argv);

}  // namespace apps
