#include "zorvane/utils/log_capture.hpp"

#include <spdlog/sinks/base_sink.h>

#include <mutex>

#include "zorvane/utils/logger.hpp"

namespace zorvane::utils {

namespace {

class CaptureSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<std::string> snapshot() {
    std::lock_guard lock(this->mutex_);
    return lines_;
  }
  void reset() {
    std::lock_guard lock(this->mutex_);
    lines_.clear();
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    std::string level;
    switch (msg.level) {
      case spdlog::level::debug:
        level = "debug";
        break;
      case spdlog::level::info:
        level = "info";
        break;
      case spdlog::level::warn:
        level = "warning";
        break;
      case spdlog::level::err:
        level = "error";
        break;
      default:
        level = "other";
    }
    lines_.push_back(level + "|" + std::string(msg.payload.data(), msg.payload.size()));
  }
  void flush_() override {}

 private:
  std::vector<std::string> lines_;
};

}  // namespace

struct LogCapture::Impl {
  std::shared_ptr<CaptureSink> sink = std::make_shared<CaptureSink>();
};

LogCapture::LogCapture() : impl_(std::make_unique<Impl>()) {
  impl_->sink->set_level(spdlog::level::debug);
  add_log_sink(impl_->sink);
}

LogCapture::~LogCapture() { remove_log_sink(impl_->sink); }

std::vector<std::string> LogCapture::lines() const { return impl_->sink->snapshot(); }

std::vector<std::string> LogCapture::matching(const std::string& needle) const {
  std::vector<std::string> out;
  for (auto& l : lines())
    if (l.find(needle) != std::string::npos) out.push_back(l);
  return out;
}

void LogCapture::clear() { impl_->sink->reset(); }

}  // namespace zorvane::utils
