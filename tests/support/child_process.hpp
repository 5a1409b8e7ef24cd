#pragma once
// Child processes for the end-to-end tests: started without waiting (so several run at once),
// then collected with a deadline after which the child is killed and reported as hung.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace support {

using Env = std::map<std::string, std::optional<std::string>>;

struct Finished {
  int status = -1;  // exit status, or 128 + signal
  bool hung = false;
  std::chrono::milliseconds elapsed{0};
  std::string out;
  std::string err;
};

class Child {
 public:
  // `env` entries override the parent's environment; a nullopt value removes the variable.
  Child(const std::string& exe, const std::vector<std::string>& args, const Env& env,
        const std::filesystem::path& cwd) {
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string kv(*e);
      auto eq = kv.find('=');
      if (eq != std::string::npos) merged[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : env) {
      if (v) {
        merged[k] = *v;
      } else {
        merged.erase(k);
      }
    }
    std::vector<std::string> env_text;
    for (const auto& [k, v] : merged) env_text.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : env_text) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_text{exe};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argv_text) argv.push_back(s.data());
    argv.push_back(nullptr);

    static std::atomic<int> counter{0};
    auto stem = std::filesystem::temp_directory_path() /
                ("hardening-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    out_path_ = stem.string() + ".out";
    err_path_ = stem.string() + ".err";

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    int rc = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + exe);
    started_ = std::chrono::steady_clock::now();
  }

  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int ignored = 0;
      ::waitpid(pid_, &ignored, 0);
    }
    std::error_code ec;
    std::filesystem::remove(out_path_, ec);
    std::filesystem::remove(err_path_, ec);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool running() {
    if (pid_ <= 0) return false;
    int wstatus = 0;
    pid_t r = ::waitpid(pid_, &wstatus, WNOHANG);
    if (r == pid_) {
      reap(wstatus);
      return false;
    }
    return true;
  }

  // Waits until the child ends or `limit` has passed since it started; a child still running
  // then is killed and reported as hung.
  Finished wait(std::chrono::milliseconds limit) {
    while (running()) {
      if (std::chrono::steady_clock::now() - started_ > limit) {
        ::kill(pid_, SIGKILL);
        int wstatus = 0;
        ::waitpid(pid_, &wstatus, 0);
        reap(wstatus);
        result_.hung = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result_.out = slurp(out_path_);
    result_.err = slurp(err_path_);
    return result_;
  }

 private:
  void reap(int wstatus) {
    result_.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result_.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started_);
    pid_ = -1;
  }

  static std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  pid_t pid_ = -1;
  std::chrono::steady_clock::time_point started_;
  std::string out_path_;
  std::string err_path_;
  Finished result_;
};

// Runs one child to its end (or the deadline).
inline Finished run(const std::string& exe, const std::vector<std::string>& args, const Env& env,
                    const std::filesystem::path& cwd,
                    std::chrono::milliseconds limit = std::chrono::seconds(120)) {
  Child child(exe, args, env, cwd);
  return child.wait(limit);
}

}  // namespace support
