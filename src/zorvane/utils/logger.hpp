#pragma once
// The shared logger: printf-style format texts with separate arguments, over spdlog.
//
//   logger.info("[大盘 AI 简报] 命中磁盘缓存 | market=%s date=%s 字数=%d", mt, date, n);
//
// Supported conversions: %s (text as is; a number in its shortest text, a flag as True/False,
// an absent value as None), %r (texts quoted, see quoted_text), %d / %i (integers; doubles are
// truncated), %f / %.Nf, %g, %e, %x and %%; optional width, '-' and '0' flags. A log call never
// throws: a conversion that does not fit its argument prints the argument as %s would, and a
// missing argument leaves the conversion text in place. Every message is passed through
// printable_external (external_text.hpp) before it reaches a sink.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace spdlog::sinks {
class sink;
}

namespace zorvane::utils {

enum class LogLevel { debug, info, warning, error };

// One argument of a log call, captured by value.
class LogArg {
 public:
  using Value =
      std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string>;

  LogArg() = default;
  LogArg(std::nullopt_t) {}
  LogArg(bool v) : value_(v) {}
  LogArg(double v) : value_(v) {}
  LogArg(float v) : value_(static_cast<double>(v)) {}
  LogArg(const char* v) : value_(std::string(v ? v : "None")) {}
  LogArg(std::string v) : value_(std::move(v)) {}
  LogArg(std::string_view v) : value_(std::string(v)) {}
  LogArg(const std::filesystem::path& v) : value_(v.string()) {}
  template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && std::is_signed_v<T>) LogArg(T v)
      : value_(static_cast<std::int64_t>(v)) {}
  template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && std::is_unsigned_v<T>) LogArg(T v)
      : value_(static_cast<std::uint64_t>(v)) {}
  template <class T>
  LogArg(const std::optional<T>& v) {
    if (v) value_ = LogArg(*v).value_;
  }

  const Value& value() const { return value_; }

 private:
  Value value_;
};

// Formats `format` with `args` by the rules above. Exposed for tests and for callers that
// need the same text outside a log line.
std::string format_printf(std::string_view format, const std::vector<LogArg>& args);

class Logger {
 public:
  template <class... A>
  void debug(std::string_view format, const A&... args) {
    write(LogLevel::debug, format, {LogArg(args)...});
  }
  template <class... A>
  void info(std::string_view format, const A&... args) {
    write(LogLevel::info, format, {LogArg(args)...});
  }
  template <class... A>
  void warning(std::string_view format, const A&... args) {
    write(LogLevel::warning, format, {LogArg(args)...});
  }
  template <class... A>
  void error(std::string_view format, const A&... args) {
    write(LogLevel::error, format, {LogArg(args)...});
  }

  bool enabled(LogLevel level) const;
  void write(LogLevel level, std::string_view format, const std::vector<LogArg>& args);
};

// The process-wide logger.
extern Logger logger;

// Console sink on standard error plus a file sink `<log_dir>/zorvane.log` (directory created
// when missing). `level` is "DEBUG", "INFO", "WARNING" or "ERROR" (any case).
void setup_logging(std::string_view level = "INFO",
                   const std::optional<std::filesystem::path>& log_dir = std::nullopt);

// Adds or removes an extra sink (tests capture log lines this way).
void add_log_sink(const std::shared_ptr<spdlog::sinks::sink>& sink);
void remove_log_sink(const std::shared_ptr<spdlog::sinks::sink>& sink);

// Flushes and releases the sinks; call once at program exit.
void shutdown_logging();

}  // namespace zorvane::utils
