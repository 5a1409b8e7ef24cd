#include "zorvane/report/report_root.hpp"

#include "zorvane/utils/env.hpp"

namespace zorvane::report {

namespace {

std::filesystem::path under_project(const std::string& text) {
  std::filesystem::path p = utils::expand_user(text);
  if (p.is_relative()) p = utils::get_project_root() / p;
  return p;
}

}  // namespace

std::filesystem::path report_root() {
  std::filesystem::path root;
  if (auto dir = utils::env_text("REPORT_DIR")) {
    root = under_project(*dir);
  } else if (auto center = utils::env_text("CANDLEX_CENTER")) {
    root = under_project(*center) / "report";
  } else {
    root = utils::get_project_root() / "report";
  }
  root = root.lexically_normal();
  if (root.filename().empty() && root.has_parent_path()) root = root.parent_path();
  return root;
}

}  // namespace zorvane::report
