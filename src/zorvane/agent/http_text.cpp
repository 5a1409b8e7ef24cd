#include "zorvane/agent/http_text.hpp"

#include <algorithm>

#include "zorvane/utils/external_text.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::agent {

namespace {

std::string member_text(const rapidjson::Value& object, std::string_view key) {
  const auto* v = utils::json_find(object, key);
  if (v == nullptr || !v->IsString()) return {};
  return std::string(v->GetString(), v->GetStringLength());
}

}  // namespace

std::string redact_url(std::string_view url) {
  auto scheme_end = url.find("://");
  std::size_t host_start = scheme_end == std::string_view::npos ? 0 : scheme_end + 3;
  auto authority_end = url.find_first_of("/?#", host_start);
  std::string_view authority =
      url.substr(host_start, authority_end == std::string_view::npos ? std::string_view::npos
                                                                     : authority_end - host_start);
  auto at = authority.rfind('@');
  if (at == std::string_view::npos) return std::string(url);
  std::string out(url.substr(0, host_start));
  out += url.substr(host_start + at + 1);
  return out;
}

std::string redact_secret(std::string text, std::string_view secret) {
  if (secret.empty()) return text;
  return utils::replace_all(std::move(text), secret, "***");
}

std::string clip_text(std::string_view raw, std::size_t max_chars, std::string_view secret) {
  std::string flat = utils::redact_secrets(std::string(raw), secret);
  std::replace(flat.begin(), flat.end(), '\r', ' ');
  const std::string text = utils::escape_controls(flat);
  std::string out;
  std::size_t chars = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    auto lead = static_cast<unsigned char>(text[i]);
    std::size_t len = lead < 0x80           ? 1
                      : (lead >> 5) == 0x6  ? 2
                      : (lead >> 4) == 0xE  ? 3
                      : (lead >> 3) == 0x1E ? 4
                                            : 1;
    if (i + len > text.size()) len = text.size() - i;
    if (chars == max_chars) {
      out += "…";
      return out;
    }
    if (len == 1 && (text[i] == '\n' || text[i] == '\t')) {
      out += ' ';
    } else {
      out.append(text.substr(i, len));
    }
    ++chars;
    i += len;
  }
  return out;
}

std::string error_summary(std::string_view body, std::string_view secret) {
  try {
    auto doc = utils::parse_json(body);
    const auto* error = utils::json_find(doc, "error");
    if (error != nullptr && error->IsString()) {
      return clip_text(std::string_view(error->GetString(), error->GetStringLength()), 300, secret);
    }
    if (error != nullptr && error->IsObject()) {
      std::string text = member_text(*error, "message");
      std::string type = member_text(*error, "type");
      std::string code = member_text(*error, "code");
      if (!type.empty()) text += " (type=" + type + ")";
      if (!code.empty()) text += " (code=" + code + ")";
      if (!text.empty()) return clip_text(text, 300, secret);
    }
    if (std::string message = member_text(doc, "message"); !message.empty()) {
      return clip_text(message, 300, secret);
    }
  } catch (const std::exception&) {
    // not JSON: describe the raw body below
  }
  if (utils::trim(body).empty()) return "(empty body)";
  return clip_text(utils::trim(body), 200, secret);
}

bool is_quota_error(std::string_view body) {
  try {
    auto doc = utils::parse_json(body);
    const auto* error = utils::json_find(doc, "error");
    if (error == nullptr || !error->IsObject()) return false;
    return member_text(*error, "code") == "insufficient_quota" ||
           member_text(*error, "type") == "insufficient_quota";
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace zorvane::agent
