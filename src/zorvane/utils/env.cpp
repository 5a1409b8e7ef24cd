#include "zorvane/utils/env.hpp"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "zorvane/utils/text.hpp"

namespace zorvane::utils {

namespace fs = std::filesystem;

std::optional<std::string> env_text(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  auto t = trim(v);
  if (t.empty()) return std::nullopt;
  return std::string(t);
}

std::string env_or(const char* name, std::string_view fallback) {
  auto v = env_text(name);
  return v ? *v : std::string(fallback);
}

fs::path expand_user(std::string_view path) {
  if (!path.empty() && path[0] == '~' && (path.size() == 1 || path[1] == '/')) {
    const char* home = std::getenv("HOME");
    if (home && *home) {
      // "~" alone is $HOME itself, not "$HOME/" (a trailing separator leaves an empty filename).
      if (path.size() == 1) return fs::path(home);
      return fs::path(home) / std::string(path.substr(2));
    }
  }
  return fs::path(std::string(path));
}

fs::path get_project_root() {
  if (auto root = env_text("ZORVANE_PROJECT_ROOT")) {
    std::error_code ec;
    auto p = fs::absolute(expand_user(*root), ec);
    return ec ? fs::path(*root) : p;
  }
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    for (fs::path dir = exe.parent_path(); !dir.empty(); dir = dir.parent_path()) {
      if (fs::exists(dir / "data" / "etf" / "etf.yaml", ec)) return dir;
      if (dir == dir.root_path()) break;
    }
  }
  return fs::current_path();
}

namespace {

std::string unquote(std::string_view raw) {
  auto v = trim(raw);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'')) {
    char q = v.front();
    auto end = v.find(q, 1);
    if (q == '"') {
      // Find the closing quote that is not escaped.
      std::string out;
      for (std::size_t i = 1; i < v.size(); ++i) {
        char c = v[i];
        if (c == '\\' && i + 1 < v.size()) {
          char n = v[++i];
          out += n == 'n' ? '\n' : n == 't' ? '\t' : n;
          continue;
        }
        if (c == '"') return out;
        out += c;
      }
      return out;
    }
    if (end != std::string_view::npos) return std::string(v.substr(1, end - 1));
  }
  auto hash = v.find(" #");
  if (hash != std::string_view::npos) v = trim(v.substr(0, hash));
  return std::string(v);
}

}  // namespace

int load_zorvane_env(const std::optional<fs::path>& path) {
  fs::path file = path ? *path : get_project_root() / ".env";
  std::ifstream in(file);
  if (!in) return 0;
  int set = 0;
  std::string line;
  while (std::getline(in, line)) {
    auto t = trim(line);
    if (t.empty() || t.front() == '#') continue;
    if (t.substr(0, 7) == "export ") t = trim(t.substr(7));
    auto eq = t.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    std::string key(trim(t.substr(0, eq)));
    bool valid = !key.empty();
    for (char c : key)
      if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) valid = false;
    if (!valid) continue;
    if (std::getenv(key.c_str()) != nullptr) continue;
    std::string value = unquote(t.substr(eq + 1));
    if (::setenv(key.c_str(), value.c_str(), 0) == 0) ++set;
  }
  return set;
}

}  // namespace zorvane::utils
