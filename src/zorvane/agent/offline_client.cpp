#include "zorvane/agent/offline_client.hpp"

#include <stdexcept>
#include <utility>

#include "zorvane/agent/http_text.hpp"
#include "zorvane/agent/offline_writers.hpp"

namespace zorvane::agent {

OfflineClient::OfflineClient()
    : OfflineClient({offline_brief_reply, offline_analysis_reply, offline_summary_reply}) {}

OfflineClient::OfflineClient(std::vector<Writer> writers) : writers_(std::move(writers)) {}

ChatReply OfflineClient::complete(std::string_view system, std::string_view user) {
  for (const auto& writer : writers_) {
    if (auto text = writer(system, user)) return ChatReply{std::move(*text), std::nullopt};
  }
  throw std::runtime_error("离线模型客户端无法处理该提示词（没有匹配的离线写作器）| system=" +
                           clip_text(system, 40));
}

}  // namespace zorvane::agent
