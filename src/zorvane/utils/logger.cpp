#include "zorvane/utils/logger.hpp"

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "zorvane/utils/external_text.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::utils {

Logger logger;

namespace {

struct Spec {
  bool left = false;
  bool zero = false;
  int width = -1;
  int precision = -1;
  char conv = 0;
};

std::string as_text(const LogArg::Value& v) {
  struct V {
    std::string operator()(std::monostate) const { return "None"; }
    std::string operator()(bool b) const { return bool_text(b); }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(std::uint64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const { return float_text(d); }
    std::string operator()(const std::string& s) const { return s; }
  };
  return std::visit(V{}, v);
}

std::string as_repr(const LogArg::Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) return quoted_text(*s);
  return as_text(v);
}

std::optional<double> as_number(const LogArg::Value& v) {
  if (auto* b = std::get_if<bool>(&v)) return *b ? 1.0 : 0.0;
  if (auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
  if (auto* u = std::get_if<std::uint64_t>(&v)) return static_cast<double>(*u);
  if (auto* d = std::get_if<double>(&v)) return *d;
  return std::nullopt;
}

std::string as_integer(const LogArg::Value& v, bool hex) {
  std::string out;
  if (auto* b = std::get_if<bool>(&v)) return *b ? "1" : "0";
  if (auto* i = std::get_if<std::int64_t>(&v)) {
    if (!hex) return std::to_string(*i);
    char buf[32];
    // Magnitude in unsigned arithmetic: negating INT64_MIN as a signed value overflows.
    auto magnitude = static_cast<unsigned long long>(*i);
    if (*i < 0) magnitude = 0ULL - magnitude;
    std::snprintf(buf, sizeof buf, *i < 0 ? "-%llx" : "%llx", magnitude);
    return buf;
  }
  if (auto* u = std::get_if<std::uint64_t>(&v)) {
    if (!hex) return std::to_string(*u);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(*u));
    return buf;
  }
  if (auto* d = std::get_if<double>(&v)) {
    if (!std::isfinite(*d)) return float_text(*d);
    double t = std::trunc(*d);
    if (std::fabs(t) < 9.2e18) return std::to_string(static_cast<long long>(t));
    return fixed_text(t, 0);
  }
  return as_text(v);
}

std::string as_float(const LogArg::Value& v, const Spec& spec) {
  auto num = as_number(v);
  if (!num) return as_text(v);
  double d = *num;
  int prec = spec.precision < 0 ? 6 : spec.precision;
  if (spec.conv == 'f' || spec.conv == 'F') return fixed_text(d, prec);
  if (!std::isfinite(d)) return float_text(d);
  char fmt[8] = {'%', '.', '*', spec.conv, 0};
  int n = std::snprintf(nullptr, 0, fmt, prec, d);
  std::string out(static_cast<std::size_t>(n), '\0');
  std::snprintf(out.data(), out.size() + 1, fmt, prec, d);
  return out;
}

// The first `n` code points of UTF-8 text (a precision counts characters, not bytes, and
// must not cut a character in two).
std::string first_chars(const std::string& text, std::size_t n) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (count++ == n) return text.substr(0, i);
  }
  return text;
}

std::string pad(std::string text, const Spec& spec) {
  if (spec.width < 0) return text;
  auto len = char_count(text);
  auto width = static_cast<std::size_t>(spec.width);
  if (len >= width) return text;
  std::size_t fill = width - len;
  if (spec.left) return text + std::string(fill, ' ');
  if (spec.zero && spec.conv != 's' && spec.conv != 'r') {
    std::size_t sign = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    return text.substr(0, sign) + std::string(fill, '0') + text.substr(sign);
  }
  return std::string(fill, ' ') + text;
}

}  // namespace

std::string format_printf(std::string_view format, const std::vector<LogArg>& args) {
  std::string out;
  out.reserve(format.size() + 16 * args.size());
  std::size_t next = 0;
  std::size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    std::size_t start = i++;
    if (i < format.size() && format[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    Spec spec;
    while (i < format.size() && (format[i] == '-' || format[i] == '0' || format[i] == '+' ||
                                 format[i] == ' ' || format[i] == '#')) {
      if (format[i] == '-') spec.left = true;
      if (format[i] == '0') spec.zero = true;
      ++i;
    }
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
      spec.width = (spec.width < 0 ? 0 : spec.width * 10) + (format[i] - '0');
      ++i;
    }
    if (i < format.size() && format[i] == '.') {
      ++i;
      spec.precision = 0;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        spec.precision = spec.precision * 10 + (format[i] - '0');
        ++i;
      }
    }
    if (i >= format.size()) {
      out.append(format.substr(start));
      break;
    }
    spec.conv = format[i++];
    std::string_view raw = format.substr(start, i - start);
    if (std::string_view("sdirfFgGeExX").find(spec.conv) == std::string_view::npos) {
      out.append(raw);
      continue;
    }
    if (next >= args.size()) {
      out.append(raw);
      continue;
    }
    const auto& v = args[next++].value();
    std::string piece;
    switch (spec.conv) {
      case 's':
        piece = as_text(v);
        if (spec.precision >= 0 && std::holds_alternative<std::string>(v))
          piece = first_chars(piece, static_cast<std::size_t>(spec.precision));
        break;
      case 'r':
        piece = as_repr(v);
        break;
      case 'd':
      case 'i':
        piece = as_integer(v, false);
        break;
      case 'x':
      case 'X':
        piece = as_integer(v, true);
        if (spec.conv == 'X') piece = to_upper(piece);
        break;
      default:
        piece = as_float(v, spec);
        break;
    }
    out += pad(std::move(piece), spec);
  }
  return out;
}

namespace {

struct State {
  std::shared_ptr<spdlog::sinks::dist_sink_mt> dist =
      std::make_shared<spdlog::sinks::dist_sink_mt>();
  std::shared_ptr<spdlog::sinks::sink> console;
  std::shared_ptr<spdlog::sinks::sink> file;
  std::shared_ptr<spdlog::logger> log;
  std::mutex mu;  // guards set-up, not logging (the sinks are thread-safe)

  State() {
    console = std::make_shared<spdlog::sinks::stderr_sink_mt>();
    console->set_level(spdlog::level::info);
    dist->add_sink(console);
    log = std::make_shared<spdlog::logger>("zorvane", dist);
    log->set_pattern("%Y-%m-%d %H:%M:%S.%e | %l | %v");
    log->set_level(spdlog::level::debug);
    log->flush_on(spdlog::level::info);
  }
};

State& state() {
  static State s;
  return s;
}

spdlog::level::level_enum to_spd(LogLevel level) {
  switch (level) {
    case LogLevel::debug:
      return spdlog::level::debug;
    case LogLevel::info:
      return spdlog::level::info;
    case LogLevel::warning:
      return spdlog::level::warn;
    case LogLevel::error:
      return spdlog::level::err;
  }
  return spdlog::level::info;
}

spdlog::level::level_enum parse_level(std::string_view level) {
  auto l = to_upper(trim(level));
  if (l == "DEBUG") return spdlog::level::debug;
  if (l == "WARNING" || l == "WARN") return spdlog::level::warn;
  if (l == "ERROR") return spdlog::level::err;
  return spdlog::level::info;
}

}  // namespace

bool Logger::enabled(LogLevel level) const {
  return state().log->should_log(to_spd(level));
}

void Logger::write(LogLevel level, std::string_view format, const std::vector<LogArg>& args) {
  try {
    auto& s = state();
    auto lvl = to_spd(level);
    if (!s.log->should_log(lvl)) return;
    // Arguments carry outside text (server bodies, broker errors): no secret and no terminal
    // control sequence reaches the console or the log file.
    std::string msg = printable_external(format_printf(format, args));
    s.log->log(lvl, spdlog::string_view_t(msg.data(), msg.size()));
  } catch (...) {
    // A log call must never take its caller down.
  }
}

void setup_logging(std::string_view level, const std::optional<std::filesystem::path>& log_dir) {
  auto& s = state();
  std::lock_guard lock(s.mu);
  auto lvl = parse_level(level);
  s.console->set_level(lvl);
  if (log_dir) {
    std::error_code ec;
    std::filesystem::create_directories(*log_dir, ec);
    try {
      auto file = std::make_shared<spdlog::sinks::basic_file_sink_mt>(
          (*log_dir / "zorvane.log").string(), false);
      file->set_level(lvl);
      if (s.file) s.dist->remove_sink(s.file);
      s.file = file;
      s.dist->add_sink(file);
    } catch (const std::exception& e) {
      s.log->warn("cannot open log file in {}: {}", log_dir->string(), e.what());
    }
  }
  s.log->set_pattern("%Y-%m-%d %H:%M:%S.%e | %l | %v");
}

void add_log_sink(const std::shared_ptr<spdlog::sinks::sink>& sink) {
  state().dist->add_sink(sink);
}

void remove_log_sink(const std::shared_ptr<spdlog::sinks::sink>& sink) {
  state().dist->remove_sink(sink);
}

void shutdown_logging() {
  auto& s = state();
  s.log->flush();
}

}  // namespace zorvane::utils
