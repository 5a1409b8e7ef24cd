#include "zorvane/report/notify/notify_format.hpp"

#include <stdexcept>

#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::notify {
namespace {

using utils::json_add;
using utils::json_find;

std::string member_text(const rapidjson::Value& object, std::string_view key) {
  const auto* v = json_find(object, key);
  if (v == nullptr || v->IsNull()) return {};
  if (v->IsString()) return std::string(v->GetString(), v->GetStringLength());
  if (v->IsBool()) return v->GetBool() ? "true" : "false";
  if (v->IsInt64()) return std::to_string(v->GetInt64());
  if (v->IsNumber()) return utils::float_text(v->GetDouble());
  return utils::strict_json_dumps(*v);
}

std::string first_of(const rapidjson::Value& object, std::string_view key, std::string_view other) {
  std::string text = member_text(object, key);
  return text.empty() ? member_text(object, other) : text;
}

// One stock per short block: name line, then decision, then levels, skipping empty fields.
std::string watchlist_lines(const rapidjson::Value& doc) {
  std::string out;
  const auto* rows = json_find(doc, "rows");
  if (rows == nullptr || !rows->IsArray()) return "(无股票)";
  for (const auto& row : rows->GetArray()) {
    std::string head = "**" + member_text(row, "code");
    if (auto name = member_text(row, "name"); !name.empty()) head += " " + name;
    head += "**";
    const std::string status = member_text(row, "status");
    std::string decision;
    auto add = [](std::string& line, std::string_view label, const std::string& value) {
      if (value.empty()) return;
      if (!line.empty()) line += " · ";
      line += label;
      line += value;
    };
    add(decision, "", member_text(row, "action"));
    add(decision, "信心 ", member_text(row, "confidence"));
    if (!status.empty() && status != "ok") add(decision, "状态 ", status);
    std::string levels;
    std::string entry = member_text(row, "entry_range");
    if (entry.empty()) {
      const std::string low = member_text(row, "entry_price_low");
      const std::string high = member_text(row, "entry_price_high");
      entry = low.empty() || high.empty() || low == high ? low + high : low + "-" + high;
    }
    add(levels, "入场 ", entry);
    add(levels, "止损 ", member_text(row, "stop_loss"));
    add(levels, "目标 ", first_of(row, "target_1", "target"));
    out += "- " + head;
    if (!decision.empty()) out += " " + decision;
    out += "\n";
    if (!levels.empty()) out += "  " + levels + "\n";
  }
  return out;
}

// Units one character at `i` takes: UTF-16 counts characters beyond the BMP twice; text that
// the service receives HTML-escaped counts "&" as five and "<", ">" as four.
std::size_t units_at(std::string_view text, std::size_t i, std::size_t len, LengthUnit unit,
                     bool escaped) {
  std::size_t units = unit == LengthUnit::bytes ? len : (len == 4 ? 2 : 1);
  if (escaped && len == 1) {
    if (text[i] == '&') units = 5;
    if (text[i] == '<' || text[i] == '>') units = 4;
  }
  return units;
}

// Length of the prefix of `text` within `limit` units, ending on a UTF-8 boundary (at least
// one character, so splitting always advances); the whole text when it fits.
std::size_t fitting_prefix(std::string_view text, std::size_t limit, LengthUnit unit,
                           bool escaped) {
  std::size_t i = 0;
  std::size_t used = 0;
  while (i < text.size()) {
    const std::size_t len = std::max<std::size_t>(1, utils::utf8_sequence_length(text, i));
    const std::size_t units = units_at(text, i, len, unit, escaped);
    if (used + units > limit && i > 0) break;
    used += units;
    i += len;
  }
  return i;
}

std::vector<std::string> split_pieces(std::string_view text, std::size_t limit, LengthUnit unit,
                                      bool escaped) {
  std::vector<std::string> pieces;
  for (;;) {
    std::size_t cut = fitting_prefix(text, limit, unit, escaped);
    if (cut >= text.size()) break;
    const auto line_end = text.substr(0, cut).rfind('\n');
    if (line_end != std::string_view::npos && line_end > 0) cut = line_end + 1;
    pieces.emplace_back(text.substr(0, cut));
    text.remove_prefix(cut);
  }
  pieces.emplace_back(text);
  return pieces;
}

std::string html_escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out += c;
    }
  }
  return out;
}

// Markdown "**bold**" as the service's bold; text escaped where the service reads markup.
std::string telegram_html(std::string_view markdown) {
  std::string out = html_escape(markdown);
  bool open = false;
  for (std::size_t pos = out.find("**"); pos != std::string::npos; pos = out.find("**", pos)) {
    out.replace(pos, 2, open ? "</b>" : "<b>");
    open = !open;
  }
  if (open) out += "</b>";
  return out;
}

std::string slack_mrkdwn(std::string_view markdown) {
  return utils::replace_all(html_escape(markdown), "**", "*");
}

struct ServiceLimit {
  std::size_t limit;
  LengthUnit unit;
};

// Room kept in each piece for the title and the "(i/n)" marker.
constexpr std::size_t kTitleRoom = 160;

ServiceLimit limit_of(WebhookFormat format) {
  switch (format) {
    case WebhookFormat::wecom:
      return {4096, LengthUnit::bytes};
    case WebhookFormat::telegram:
      // Counted on the escaped text, which is never shorter than what Telegram counts.
      return {4096, LengthUnit::utf16};
    case WebhookFormat::slack:
      return {4000, LengthUnit::utf16};
    case WebhookFormat::feishu:
    case WebhookFormat::dingtalk:
    case WebhookFormat::json:
      break;
  }
  // Feishu and DingTalk refuse requests of about 20 KB; stay well below.
  return {15000, LengthUnit::bytes};
}

std::string body_for(const NotifySettings& settings, const std::string& title,
                     const std::string& text) {
  rapidjson::Document doc(rapidjson::kObjectType);
  auto& a = doc.GetAllocator();
  auto object = [&]() { return rapidjson::Value(rapidjson::kObjectType); };
  switch (settings.format) {
    case WebhookFormat::feishu: {
      json_add(doc, "msg_type", "interactive", a);
      auto title_obj = object();
      json_add(title_obj, "tag", "plain_text", a);
      json_add(title_obj, "content", std::string_view(title), a);
      auto header = object();
      json_add(header, "title", std::move(title_obj), a);
      auto md = object();
      json_add(md, "tag", "lark_md", a);
      json_add(md, "content", std::string_view(text), a);
      auto div = object();
      json_add(div, "tag", "div", a);
      json_add(div, "text", std::move(md), a);
      rapidjson::Value elements(rapidjson::kArrayType);
      elements.PushBack(std::move(div), a);
      auto config = object();
      json_add(config, "wide_screen_mode", true, a);
      auto card = object();
      json_add(card, "config", std::move(config), a);
      json_add(card, "header", std::move(header), a);
      json_add(card, "elements", std::move(elements), a);
      json_add(doc, "card", std::move(card), a);
      break;
    }
    case WebhookFormat::dingtalk: {
      json_add(doc, "msgtype", "markdown", a);
      auto md = object();
      json_add(md, "title", std::string_view(title), a);
      json_add(md, "text", "### " + title + "\n\n" + text, a);
      json_add(doc, "markdown", std::move(md), a);
      break;
    }
    case WebhookFormat::wecom: {
      json_add(doc, "msgtype", "markdown", a);
      auto md = object();
      json_add(md, "content", "**" + title + "**\n" + text, a);
      json_add(doc, "markdown", std::move(md), a);
      break;
    }
    case WebhookFormat::telegram:
      json_add(doc, "chat_id", std::string_view(settings.telegram_chat_id), a);
      json_add(doc, "text", "<b>" + html_escape(title) + "</b>\n" + telegram_html(text), a);
      json_add(doc, "parse_mode", "HTML", a);
      json_add(doc, "disable_web_page_preview", true, a);
      break;
    case WebhookFormat::slack:
      json_add(doc, "text", "*" + slack_mrkdwn(title) + "*\n" + slack_mrkdwn(text), a);
      json_add(doc, "mrkdwn", true, a);
      break;
    case WebhookFormat::json:
      break;
  }
  return utils::strict_json_dumps(doc);
}

}  // namespace

NoticeText notice_text(const report::OutboxMessage& message) {
  const auto doc = utils::parse_json(message.payload);
  if (!doc.IsObject()) {
    throw std::invalid_argument("outbox_id " + std::to_string(message.id) +
                                " 的消息不是 JSON 对象");
  }
  if (message.kind == "sumora") {
    return {"市场简报 " + member_text(doc, "market_type") + " " + member_text(doc, "analysis_time"),
            member_text(doc, "content")};
  }
  if (message.kind == "watchlist_summary") {
    std::string title = "自选股汇总";
    if (auto day = first_of(doc, "analysis_time", "analysis_date"); !day.empty()) {
      title += " " + day;
    }
    return {title, watchlist_lines(doc)};
  }
  // Any other kind: its summary when it has one, else the message itself.
  std::string title = message.kind;
  if (auto code = member_text(doc, "code"); !code.empty()) {
    title = code + " " + member_text(doc, "name") + " " + member_text(doc, "analysis_date");
  }
  auto summary = member_text(doc, "summary");
  return {title, summary.empty() ? message.payload : summary};
}

std::vector<std::string> split_text(std::string_view text, std::size_t limit, LengthUnit unit) {
  return split_pieces(text, limit, unit, false);
}

std::vector<std::string> webhook_bodies(const NotifySettings& settings,
                                        const report::OutboxMessage& message) {
  if (settings.format == WebhookFormat::json) return {message.payload};
  const NoticeText notice = notice_text(message);
  const ServiceLimit limit = limit_of(settings.format);
  // Telegram and Slack receive the text escaped, which only lengthens it: measure that form.
  const bool escaped =
      settings.format == WebhookFormat::telegram || settings.format == WebhookFormat::slack;
  const auto pieces = split_pieces(notice.body, limit.limit - kTitleRoom, limit.unit, escaped);
  std::vector<std::string> bodies;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    std::string title = notice.title;
    if (pieces.size() > 1) {
      title += " (" + std::to_string(i + 1) + "/" + std::to_string(pieces.size()) + ")";
    }
    bodies.push_back(body_for(settings, title, pieces[i]));
  }
  return bodies;
}

}  // namespace zorvane::notify
