// zorvane-serve: serves the report root read-only over HTTP, for reading the pages from a
// phone on the local network.
//
//   zorvane-serve [--port 8080] [--bind 127.0.0.1] [--root DIR]
//
// Binds to loopback unless told otherwise. Stops on SIGINT or SIGTERM with status 0; 2 for
// option errors; 1 when the root is missing or the address cannot be bound.

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "apps/common/program.hpp"
#include "zorvane/report/html/file_server.hpp"
#include "zorvane/report/html/report_pages.hpp"
#include "zorvane/report/report_root.hpp"

namespace {

bool is_loopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.starts_with("127.");
}

int run(int argc, char** argv) {
  apps::load_env_quietly();
  CLI::App app{"只读地提供报告目录中的网页（默认仅本机可访问）", "zorvane-serve"};
  int port = 8080;
  std::string bind = "127.0.0.1";
  std::string root = zorvane::report::report_root().string();
  app.add_option("--port", port, "端口（0 表示任选空闲端口）")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  app.add_option("--bind", bind, "监听地址；手机在局域网访问时用 0.0.0.0")->capture_default_str();
  app.add_option("--root", root, "报告目录（默认 REPORT_DIR 等设置所指）")->capture_default_str();
  if (auto status = apps::parse_command_line(app, argc, argv)) return *status;

  // Signals are taken by one waiting thread, which stops the server; handlers stay trivial.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  // An index that reflects what is there, also for a root written before pages existed.
  std::filesystem::create_directories(root);
  zorvane::html::write_index_page(root);
  zorvane::html::FileServer server(root);
  const int bound = server.bind(bind, port);
  std::printf("zorvane-serve: %s 在 http://%s:%d/ 只读提供\n", server.root().c_str(),
              bind.find(':') != std::string::npos ? ("[" + bind + "]").c_str() : bind.c_str(),
              bound);
  if (!is_loopback(bind)) {
    std::printf("zorvane-serve: 注意：%s 不是本机回环地址，局域网内的设备都能读取这些报告\n",
                bind.c_str());
  }
  std::fflush(stdout);

  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stop_signals, &sig);
    server.stop();
  });
  server.listen();
  // listen() also returns when the server fails; make sure the waiter can finish.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return apps::run_program("zorvane-serve", run, argc, argv);
}
