#include "candlex/fetch/tencent.hpp"

#include <chrono>
#include <limits>
#include <map>
#include <stdexcept>

#include "candlex/codes.hpp"
#include "candlex/fetch/wire.hpp"
#include "zorvane/utils/dates.hpp"
#include "zorvane/utils/env.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace candlex::fetch::tencent {

namespace {

using namespace std::chrono;
using zorvane::utils::json_find;

constexpr int kPageBars = 640;  // Tencent's cap per request
constexpr int kFirstYear = 1990;

std::string adjust_param(Adjust a) {
  switch (a) {
    case Adjust::qfq:
      return "qfq";
    case Adjust::hfq:
      return "hfq";
    case Adjust::none:
      return "";
  }
  return "qfq";
}

int year_of(Day d) {
  return static_cast<int>(year_month_day{d}.year());
}

bool is_star(std::string_view code) {
  return code.substr(0, 6) == "sh.688" || code.substr(0, 6) == "sh.689";
}

std::string cell_text(const rapidjson::Value& v) {
  if (v.IsString()) return v.GetString();
  if (v.IsNumber()) return zorvane::utils::float_text(v.GetDouble());
  return "";
}

}  // namespace

Hosts hosts_from_env() {
  Hosts h;
  if (auto base = zorvane::utils::env_text("CANDLEX_TENCENT_URL")) {
    std::string b = *base;
    while (!b.empty() && b.back() == '/') b.pop_back();
    h.mainland = h.web = b;
  }
  return h;
}

std::optional<std::string> param_code(std::string_view code, std::string_view us_prefix) {
  static const std::map<std::string, std::string, std::less<>> kIndices = {
      {"hk.HSI", "hkHSI"},   {"hk.HSTECH", "hkHSTECH"}, {"us.SPX", "usINX"},
      {"us.IXIC", "usIXIC"}, {"us.DJI", "usDJI"},
  };
  if (auto it = kIndices.find(code); it != kIndices.end()) return it->second;
  if (is_fund_code(code)) return std::string(code[0] == '5' ? "sh" : "sz") + std::string(code);
  const auto prefix = code.substr(0, 3);
  const auto rest = std::string(code.size() > 3 ? code.substr(3) : "");
  if ((prefix == "sh." || prefix == "sz." || prefix == "bj.") && rest.size() == 6)
    return std::string(code.substr(0, 2)) + rest;
  if (prefix == "hk." && rest.size() == 5 && rest.find_first_not_of("0123456789") == rest.npos)
    return "hk" + rest;
  if (prefix == "us." && !rest.empty()) {
    if (us_prefix == "105") return "us" + rest + ".OQ";
    if (us_prefix == "106") return "us" + rest + ".N";
    if (us_prefix == "107") return "us" + rest + ".AM";
  }
  return std::nullopt;
}

double volume_factor(std::string_view code) {
  auto market = calendar_market_of(code);
  if (market == "HK" || market == "US" || is_star(code)) return 1.0;
  return 100.0;
}

double amount_factor(std::string_view code) {
  return calendar_market_of(code) == "A" ? 10000.0 : 1.0;
}

std::string kline_url(const Hosts& hosts, std::string_view code, std::string_view param,
                      Adjust adjust, Day from, Day to) {
  const auto market = calendar_market_of(code);
  const std::string adj = adjust_param(adjust);
  const std::string window = std::string(param) + ",day," + zorvane::utils::iso_date(from) + "," +
                             zorvane::utils::iso_date(to) + "," + std::to_string(kPageBars) + "," +
                             adj;
  if (adjust == Adjust::none) return hosts.web + "/appstock/app/kline/kline?param=" + window;
  const std::string var = "&_var=kline_day" + adj + std::to_string(year_of(from));
  if (market == "HK") return hosts.web + "/appstock/app/hkfqkline/get?param=" + window + var;
  if (market == "US") return hosts.web + "/appstock/app/usfqkline/get?param=" + window + var;
  return hosts.mainland + "/appstock/app/newfqkline/get?param=" + window + var;
}

Kline parse_kline(std::string_view body, std::string_view code, std::string_view param,
                  Adjust adjust) {
  rapidjson::Document doc;
  try {
    doc = zorvane::utils::parse_json(unwrap_json(body));
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(std::string("reply is not JSON: ") + e.what());
  }
  if (!doc.IsObject()) throw std::runtime_error("reply is not a JSON object");
  Kline out;
  const auto* data = json_find(doc, "data");
  const auto* msg = json_find(doc, "msg");
  if (msg && msg->IsString() && std::string_view(msg->GetString()) == "param error") {
    out.unknown = true;
    return out;
  }
  if (!data) throw std::runtime_error("reply has no \"data\"");
  const auto* entry = data->IsObject() ? json_find(*data, param) : nullptr;
  if (!entry || !entry->IsObject()) {
    out.unknown = true;
    return out;
  }
  const rapidjson::Value* rows = nullptr;
  const char* preferred = adjust == Adjust::qfq   ? "qfqday"
                          : adjust == Adjust::hfq ? "hfqday"
                                                  : "day";
  for (const char* key : {preferred, "day"}) {
    rows = json_find(*entry, key);
    if (rows) break;
  }
  if (!rows) return out;  // a known code without bars in the window
  if (!rows->IsArray()) throw std::runtime_error("bar rows are not a list");
  const double vf = volume_factor(code), af = amount_factor(code);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const auto& row : rows->GetArray()) {
    if (!row.IsArray() || row.Size() < 6) throw std::runtime_error("malformed bar row");
    const auto date = parse_bar_date(cell_text(row[0]));
    if (!date) throw std::runtime_error("malformed bar date " + cell_text(row[0]));
    auto open = parse_number(cell_text(row[1])), close = parse_number(cell_text(row[2]));
    auto high = parse_number(cell_text(row[3])), low = parse_number(cell_text(row[4]));
    if (!open || !close || !high || !low) continue;
    auto volume = parse_number(cell_text(row[5]));
    std::optional<double> amount;
    if (row.Size() >= 9 && calendar_market_of(code) == "A")
      amount = parse_number(cell_text(row[8]));
    out.bars.push_back({*date, *open, *high, *low, *close, volume ? *volume * vf : nan,
                        amount ? *amount * af : nan});
  }
  sort_unique(out.bars);
  return out;
}

bool Source::serves(std::string_view code) const {
  if (code.substr(0, 3) == "us.") return param_code(code, "105").has_value();
  return param_code(code).has_value();
}

SourceReply Source::page(std::string_view code, const std::string& param, Adjust adjust, Day from,
                         Day to) {
  auto http = http_.get(kline_url(hosts_, code, param, adjust, from, to));
  if (auto failure = reply_for_failure(http)) return *failure;
  SourceReply reply;
  if (zorvane::utils::trim(http.body).empty()) {
    // Tencent throttles heavy users with empty replies.
    reply.kind = SourceReply::Kind::blocked;
    reply.message = "empty reply (throttled)";
    return reply;
  }
  try {
    auto kline = parse_kline(http.body, code, param, adjust);
    if (kline.unknown) {
      reply.kind = SourceReply::Kind::unknown;
      reply.message = "no data for " + param;
    }
    reply.bars = std::move(kline.bars);
  } catch (const std::runtime_error& e) {
    reply.kind = SourceReply::Kind::failed;
    reply.message = std::string("malformed reply: ") + e.what();
  }
  return reply;
}

SourceReply Source::pages(std::string_view code, const std::string& param, const Window& window,
                          Adjust adjust) {
  SourceReply all;
  const int last = year_of(window.to);
  auto year_window = [&](int y) {
    Day from = year{y} / January / 1, to = year{y} / December / 31;
    if (window.from && *window.from > from) from = *window.from;
    if (window.to < to) to = window.to;
    return std::pair{from, to};
  };
  if (window.from) {
    for (int y = year_of(*window.from); y <= last; ++y) {
      auto [from, to] = year_window(y);
      auto got = page(code, param, adjust, from, to);
      if (got.kind != SourceReply::Kind::ok) return got;
      all.bars.insert(all.bars.end(), got.bars.begin(), got.bars.end());
    }
  } else {
    // The whole history: walk back a year at a time until a year before the first bar.
    int empty_run = 0;
    for (int y = last; y >= kFirstYear; --y) {
      auto [from, to] = year_window(y);
      auto got = page(code, param, adjust, from, to);
      if (got.kind != SourceReply::Kind::ok) {
        if (got.kind == SourceReply::Kind::unknown && !all.bars.empty()) break;
        return got;
      }
      if (got.bars.empty()) {
        if (!all.bars.empty() || ++empty_run >= 2) break;
        continue;
      }
      all.bars.insert(all.bars.end(), got.bars.begin(), got.bars.end());
    }
  }
  sort_unique(all.bars);
  return all;
}

SourceReply Source::daily(std::string_view code, const Window& window, Adjust adjust) {
  if (code.substr(0, 3) == "us." && !param_code(code)) {
    const std::string ticker(code.substr(3));
    if (auto known = prefixes_.find(ticker))
      return pages(code, *param_code(code, *known), window, adjust);
    // Unknown exchange: try each suffix on the latest window.
    SourceReply last;
    for (const char* prefix : {"105", "106", "107"}) {
      const auto param = *param_code(code, prefix);
      auto probe = page(code, param, adjust, window.to - days{30}, window.to);
      if (probe.kind == SourceReply::Kind::ok && !probe.bars.empty()) {
        prefixes_.set(ticker, prefix);
        return pages(code, param, window, adjust);
      }
      if (probe.kind == SourceReply::Kind::blocked || probe.kind == SourceReply::Kind::failed)
        return probe;
      last = std::move(probe);
    }
    last.kind = SourceReply::Kind::unknown;
    last.message = "no exchange suffix (.OQ/.N/.AM) has this ticker";
    return last;
  }
  auto param = param_code(code);
  if (!param) {
    SourceReply r;
    r.kind = SourceReply::Kind::unknown;
    r.message = "no Tencent code for " + std::string(code);
    return r;
  }
  return pages(code, *param, window, adjust);
}

}  // namespace candlex::fetch::tencent
