#include "zorvane/report/notify/webhook_format.hpp"

#include <rapidjson/document.h>

#include <limits>
#include <stdexcept>

#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::report::notify {

namespace {

using utils::json_add;

std::string text_of(const rapidjson::Value& v, const char* key, std::string fallback = "—") {
  const auto* m = utils::json_find(v, key);
  return m != nullptr && m->IsString() ? std::string(m->GetString(), m->GetStringLength())
                                       : fallback;
}

std::string price_of(const rapidjson::Value& v, const char* key) {
  const auto* m = utils::json_find(v, key);
  return m != nullptr && m->IsNumber() ? utils::fixed_text(m->GetDouble(), 2) : "—";
}

std::string count_of(const rapidjson::Value& v, const char* key) {
  const auto* m = utils::json_find(v, key);
  return m != nullptr && m->IsInt64() ? std::to_string(m->GetInt64()) : "0";
}

std::string summary_markdown(const rapidjson::Value& doc) {
  std::string md = "**自选股分析汇总 · " + text_of(doc, "analysis_time") + "**\n";
  md += "共 " + count_of(doc, "total") + " 只：ok " + count_of(doc, "ok") + "，skipped " +
        count_of(doc, "skipped") + "，no decision " + count_of(doc, "no_decision") + "，failed " +
        count_of(doc, "failed") + "\n";
  const auto* rows = utils::json_find(doc, "rows");
  if (rows == nullptr || !rows->IsArray()) return md;
  for (const auto& r : rows->GetArray()) {
    const std::string name = text_of(r, "name", "");
    md += "- **" + text_of(r, "code") + (name.empty() ? "" : " " + name) + "** " +
          text_of(r, "action") + " · 信心 " + text_of(r, "confidence") + "\n";
    if (utils::json_find(r, "action") != nullptr && r["action"].IsString()) {
      md += "  入场 " + price_of(r, "entry_price_low") + "-" + price_of(r, "entry_price_high") +
            " · 止损 " + price_of(r, "stop_loss") + " · 目标 " + price_of(r, "target_1") + "\n";
    }
    md += "  状态：" + text_of(r, "status") + "\n";
  }
  return md;
}

std::string brief_markdown(const rapidjson::Value& doc) {
  return "**大盘 AI 简报 · " + text_of(doc, "market_type") + " · " + text_of(doc, "analysis_time") +
         "**\n" + text_of(doc, "content", "") + "\n";
}

// Start of the UTF-8 character that holds byte `at`.
std::size_t char_start(std::string_view s, std::size_t at) {
  while (at > 0 && at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80) --at;
  return at;
}

// Bytes of the longest prefix of `s` within `limit` units.
std::size_t prefix_bytes(std::string_view s, std::size_t limit, bool bytes) {
  if (bytes) return s.size() <= limit ? s.size() : char_start(s, limit);
  std::size_t chars = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
    if (chars == limit) return i;
    ++chars;
  }
  return s.size();
}

std::string to_json(const rapidjson::Document& doc) {
  return utils::safe_json_dumps(doc);
}

std::string body_for(WebhookFormat format, const std::string& title, const std::string& text,
                     const std::optional<std::string>& chat_id) {
  rapidjson::Document doc(rapidjson::kObjectType);
  auto& a = doc.GetAllocator();
  switch (format) {
    case WebhookFormat::feishu: {
      json_add(doc, "msg_type", "interactive", a);
      rapidjson::Value card(rapidjson::kObjectType);
      rapidjson::Value header(rapidjson::kObjectType), head_title(rapidjson::kObjectType);
      json_add(head_title, "tag", "plain_text", a);
      json_add(head_title, "content", std::string_view(title), a);
      json_add(header, "title", std::move(head_title), a);
      json_add(card, "header", std::move(header), a);
      rapidjson::Value element(rapidjson::kObjectType), elements(rapidjson::kArrayType);
      json_add(element, "tag", "markdown", a);
      json_add(element, "content", std::string_view(text), a);
      elements.PushBack(element, a);
      json_add(card, "elements", std::move(elements), a);
      json_add(doc, "card", std::move(card), a);
      break;
    }
    case WebhookFormat::dingtalk: {
      json_add(doc, "msgtype", "markdown", a);
      rapidjson::Value md(rapidjson::kObjectType);
      json_add(md, "title", std::string_view(title), a);
      json_add(md, "text", std::string_view("### " + title + "\n" + text), a);
      json_add(doc, "markdown", std::move(md), a);
      break;
    }
    case WebhookFormat::wecom: {
      json_add(doc, "msgtype", "markdown", a);
      rapidjson::Value md(rapidjson::kObjectType);
      json_add(md, "content", std::string_view("**" + title + "**\n" + text), a);
      json_add(doc, "markdown", std::move(md), a);
      break;
    }
    case WebhookFormat::telegram: {
      if (!chat_id || chat_id->empty()) {
        throw std::invalid_argument("NOTIFY_WEBHOOK_FORMAT=telegram 需要 NOTIFY_TELEGRAM_CHAT_ID");
      }
      json_add(doc, "chat_id", std::string_view(*chat_id), a);
      // Plain text: Telegram's Markdown would need every "_", "*" and "[" escaped.
      std::string plain = title + "\n" + text;
      plain = utils::replace_all(utils::replace_all(plain, "**", ""), "\n- ", "\n• ");
      json_add(doc, "text", std::string_view(plain), a);
      break;
    }
    case WebhookFormat::slack: {
      // Slack's mrkdwn marks bold with single asterisks.
      json_add(doc, "text",
               std::string_view("*" + title + "*\n" + utils::replace_all(text, "**", "*")), a);
      json_add(doc, "mrkdwn", true, a);
      break;
    }
    case WebhookFormat::json:
      break;
  }
  return to_json(doc);
}

}  // namespace

WebhookFormat parse_webhook_format(std::string_view text) {
  const auto t = utils::to_lower(utils::trim(text));
  if (t.empty() || t == "json") return WebhookFormat::json;
  if (t == "feishu") return WebhookFormat::feishu;
  if (t == "dingtalk") return WebhookFormat::dingtalk;
  if (t == "wecom") return WebhookFormat::wecom;
  if (t == "telegram") return WebhookFormat::telegram;
  if (t == "slack") return WebhookFormat::slack;
  throw std::invalid_argument("unknown NOTIFY_WEBHOOK_FORMAT " + utils::quoted_text(text) +
                              ", expected json, feishu, dingtalk, wecom, telegram or slack");
}

TextLimit text_limit(WebhookFormat format) {
  switch (format) {
    case WebhookFormat::feishu:
    case WebhookFormat::dingtalk:
      return {18000, true};
    case WebhookFormat::wecom:
      return {3800, true};
    case WebhookFormat::telegram:
    case WebhookFormat::slack:
      return {3800, false};
    case WebhookFormat::json:
      break;
  }
  return {std::numeric_limits<std::size_t>::max(), true};
}

std::string message_markdown(std::string_view kind, std::string_view payload) {
  const auto doc = utils::parse_json(payload);
  if (kind == "watchlist_summary") return summary_markdown(doc);
  if (kind == "sumora") return brief_markdown(doc);
  throw std::invalid_argument("no chat message for outbox kind " + utils::quoted_text(kind));
}

std::vector<std::string> split_text(std::string_view text, std::size_t limit, bool bytes) {
  std::vector<std::string> out;
  while (!text.empty()) {
    std::size_t cut = prefix_bytes(text, limit, bytes);
    if (cut < text.size()) {
      const auto nl = text.rfind('\n', cut == 0 ? 0 : cut - 1);
      if (nl != std::string_view::npos && nl > 0) cut = nl + 1;
    }
    if (cut == 0) cut = std::min(text.size(), prefix_bytes(text, 1, false));
    out.emplace_back(text.substr(0, cut));
    text.remove_prefix(cut);
  }
  return out;
}

std::vector<std::string> webhook_bodies(WebhookFormat format, std::string_view kind,
                                        std::string_view payload,
                                        const std::optional<std::string>& telegram_chat_id) {
  if (format == WebhookFormat::json) return {std::string(payload)};
  const std::string md = message_markdown(kind, payload);
  // The first line is the title; each piece of the rest becomes one message.
  const auto nl = md.find('\n');
  std::string title = utils::replace_all(md.substr(0, nl), "**", "");
  const std::string rest = nl == std::string::npos ? std::string() : md.substr(nl + 1);
  const auto limit = text_limit(format);
  auto pieces = split_text(rest, limit.units, limit.bytes);
  if (pieces.empty()) pieces.emplace_back();
  std::vector<std::string> bodies;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::string t = pieces.size() == 1 ? title
                                             : title + " (" + std::to_string(i + 1) + "/" +
                                                   std::to_string(pieces.size()) + ")";
    bodies.push_back(body_for(format, t, pieces[i], telegram_chat_id));
  }
  return bodies;
}

}  // namespace zorvane::report::notify
