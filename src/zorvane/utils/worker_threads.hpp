#pragma once
// Runs one worker function on several threads, the caller's among them.

#include <cstddef>
#include <exception>
#include <functional>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace zorvane::utils {

// Runs `worker` on up to `threads` threads (the calling thread is one of them) and returns
// once every run has returned. A thread the system refuses to start (no memory for its stack,
// a process limit) leaves the work to the others, so the worker takes its items from a shared
// counter rather than from a fixed share. The worker must not throw.
template <class Worker>
void run_workers(std::size_t threads, Worker&& worker) {
  std::vector<std::jthread> pool;
  for (std::size_t t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(std::ref(worker));
    } catch (const std::system_error&) {
      break;
    } catch (const std::bad_alloc&) {
      break;
    }
  }
  worker();
}

}  // namespace zorvane::utils
