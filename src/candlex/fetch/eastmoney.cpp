#include "candlex/fetch/eastmoney.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "candlex/codes.hpp"
#include "candlex/fetch/wire.hpp"
#include "zorvane/utils/env.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/text.hpp"

namespace candlex::fetch::eastmoney {

namespace {

using zorvane::utils::json_find;

// Kline token and field lists as the public clients send them; a request without `ut` gets
// `data: null` even for valid codes.
constexpr const char* kKlineToken = "7eea3edcaed734bea9cbfc24409ed989";
constexpr const char* kListToken = "bd1d9ddb04089700cf9c27f6f7426281";

bool is_ticker(std::string_view t) {
  if (t.empty() || t.size() > 12) return false;
  for (char c : t)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-'))
      return false;
  return true;
}

const std::string& host_for(const Hosts& hosts, std::string_view code) {
  auto market = calendar_market_of(code);
  if (market == "HK") return hosts.hong_kong;
  if (market == "US") return hosts.us;
  return hosts.mainland;
}

std::string fqt_of(Adjust a) {
  switch (a) {
    case Adjust::qfq:
      return "1";
    case Adjust::hfq:
      return "2";
    case Adjust::none:
      return "0";
  }
  return "1";
}

std::string text_of(const rapidjson::Value* v) {
  if (v && v->IsString()) return v->GetString();
  if (v && v->IsNumber()) return std::to_string(v->GetInt64());
  return "";
}

}  // namespace

Hosts hosts_from_env() {
  Hosts h;
  if (auto base = zorvane::utils::env_text("CANDLEX_EASTMONEY_URL")) {
    std::string b = *base;
    while (!b.empty() && b.back() == '/') b.pop_back();
    h.mainland = h.hong_kong = h.us = h.list = b;
  }
  return h;
}

std::optional<std::string> secid_of(std::string_view code, std::string_view us_prefix) {
  static const std::map<std::string, std::string, std::less<>> kIndices = {
      {"hk.HSI", "100.HSI"},
      {"hk.HSTECH", "124.HSTECH"},
      {"us.SPX", "100.SPX"},
      // 100.NDX is the Composite by most public lists; one labels it the Nasdaq 100.
      {"us.IXIC", "100.NDX"},
      {"us.DJI", "100.DJIA"},
  };
  if (auto it = kIndices.find(code); it != kIndices.end()) return it->second;
  if (is_fund_code(code)) return std::string(code[0] == '5' ? "1." : "0.") + std::string(code);
  const auto prefix = code.substr(0, 3);
  const auto rest = std::string(code.size() > 3 ? code.substr(3) : "");
  if ((prefix == "sh." || prefix == "sz." || prefix == "bj.") && rest.size() == 6)
    return (prefix == "sh." ? "1." : "0.") + rest;
  if (prefix == "hk." && rest.size() == 5 && rest.find_first_not_of("0123456789") == rest.npos)
    return "116." + rest;
  if (prefix == "us." && is_ticker(rest) && !us_prefix.empty())
    return std::string(us_prefix) + "." + rest;
  return std::nullopt;
}

double volume_factor(std::string_view code) {
  auto market = calendar_market_of(code);
  return market == "HK" || market == "US" ? 1.0 : 100.0;
}

std::string kline_url(const Hosts& hosts, std::string_view code, std::string_view secid,
                      Adjust adjust, std::optional<Day> beg, std::optional<int> lmt) {
  std::string url = host_for(hosts, code) +
                    "/api/qt/stock/kline/get?fields1=f1,f2,f3,f4,f5,f6"
                    "&fields2=f51,f52,f53,f54,f55,f56,f57,f58,f59,f60,f61&ut=" +
                    kKlineToken + "&klt=101&fqt=" + fqt_of(adjust) +
                    "&secid=" + std::string(secid) + "&beg=" + (beg ? compact_date(*beg) : "0") +
                    "&end=20500101";
  auto market = calendar_market_of(code);
  if (!lmt && (market == "HK" || market == "US")) lmt = 1000000;
  if (lmt) url += "&lmt=" + std::to_string(*lmt);
  return url;
}

Kline parse_kline(std::string_view body, double factor) {
  rapidjson::Document doc;
  try {
    doc = zorvane::utils::parse_json(unwrap_json(body));
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(std::string("reply is not JSON: ") + e.what());
  }
  if (!doc.IsObject()) throw std::runtime_error("reply is not a JSON object");
  const auto* data = json_find(doc, "data");
  if (!data) throw std::runtime_error("reply has no \"data\"");
  Kline out;
  if (data->IsNull()) {
    out.data_null = true;
    return out;
  }
  const auto* klines = json_find(*data, "klines");
  if (!klines || !klines->IsArray()) throw std::runtime_error("reply has no \"klines\" list");
  out.name = text_of(json_find(*data, "name"));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const auto& row : klines->GetArray()) {
    if (!row.IsString()) throw std::runtime_error("a kline row is not text");
    std::string_view text(row.GetString(), row.GetStringLength());
    std::vector<std::string_view> cells;
    for (std::size_t pos = 0;;) {
      auto comma = text.find(',', pos);
      cells.push_back(text.substr(pos, comma == text.npos ? text.npos : comma - pos));
      if (comma == text.npos) break;
      pos = comma + 1;
    }
    auto date = parse_bar_date(cells[0]);
    if (!date || cells.size() < 6)
      throw std::runtime_error("malformed kline row " + zorvane::utils::quoted_text(text));
    auto open = parse_number(cells[1]), close = parse_number(cells[2]);
    auto high = parse_number(cells[3]), low = parse_number(cells[4]);
    if (!open || !close || !high || !low) continue;  // "-" cells: no trading data that day
    auto volume = parse_number(cells[5]);
    auto amount = cells.size() > 6 ? parse_number(cells[6]) : std::nullopt;
    out.bars.push_back({*date, *open, *high, *low, *close, volume ? *volume * factor : nan,
                        amount ? *amount : nan});
  }
  sort_unique(out.bars);
  return out;
}

std::string list_filter(std::string_view market) {
  if (market == "A") return "m:0 t:6,m:0 t:80,m:1 t:2,m:1 t:23,m:0 t:81 s:2048";
  if (market == "ETF") return "b:MK0021,b:MK0022,b:MK0023,b:MK0024";
  if (market == "HK") return "m:128 t:3,m:128 t:4,m:128 t:1,m:128 t:2";
  if (market == "US") return "m:105,m:106,m:107";
  throw std::invalid_argument("no listing for market " + zorvane::utils::quoted_text(market));
}

std::string list_url(const Hosts& hosts, std::string_view market, int page, int page_size) {
  return hosts.list + "/api/qt/clist/get?pn=" + std::to_string(page) +
         "&pz=" + std::to_string(page_size) + "&po=1&np=1&fltt=2&invt=2&fid=f12&ut=" + kListToken +
         "&fs=" + zorvane::utils::replace_all(list_filter(market), " ", "%20") +
         "&fields=f12,f13,f14";
}

ListPage parse_list(std::string_view body, std::string_view market) {
  rapidjson::Document doc;
  try {
    doc = zorvane::utils::parse_json(unwrap_json(body));
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(std::string("list reply is not JSON: ") + e.what());
  }
  const auto* data = doc.IsObject() ? json_find(doc, "data") : nullptr;
  if (!data || !data->IsObject()) throw std::runtime_error("list reply has no data");
  ListPage page;
  if (const auto* total = json_find(*data, "total"); total && total->IsNumber())
    page.total = total->GetInt64();
  const auto* diff = json_find(*data, "diff");
  if (!diff) return page;
  auto add = [&](const rapidjson::Value& item) {
    ++page.seen;
    const auto f12 = text_of(json_find(item, "f12"));
    const auto f13 = text_of(json_find(item, "f13"));
    const auto f14 = text_of(json_find(item, "f14"));
    std::string code;
    try {
      if (market == "A") {
        code = normalize_code(f13 == "1" ? "sh." + f12 : f12);
        if (is_fund_code(code) || calendar_market_of(code) != "A") return;
      } else if (market == "ETF") {
        code = normalize_code(f12);
        if (!is_fund_code(code)) return;
      } else if (market == "HK") {
        code = normalize_code("hk." + f12);
      } else {
        code = normalize_code("us." + f12);
        if (!is_ticker(code.substr(3))) return;
      }
    } catch (const std::invalid_argument&) {
      return;
    }
    page.rows.push_back({code, f13, f14});
  };
  // np=1 gives a list; older replies give an object keyed "0", "1", ...
  if (diff->IsArray()) {
    for (const auto& item : diff->GetArray()) add(item);
  } else if (diff->IsObject()) {
    for (const auto& m : diff->GetObject()) add(m.value);
  }
  return page;
}

bool Source::serves(std::string_view code) const {
  if (code.substr(0, 3) == "us.") return secid_of(code, "105").has_value();
  return secid_of(code).has_value();
}

SourceReply Source::request(const std::string& url, double factor) {
  auto http = http_.get(url);
  if (auto failure = reply_for_failure(http)) return *failure;
  SourceReply reply;
  Kline kline;
  try {
    kline = parse_kline(http.body, factor);
  } catch (const std::runtime_error& e) {
    reply.kind = SourceReply::Kind::failed;
    reply.message = std::string("malformed reply: ") + e.what();
    return reply;
  }
  if (kline.data_null) {
    reply.kind = SourceReply::Kind::unknown;
    reply.message = "data: null (unknown code, or a soft rate limit)";
    reply.maybe_throttled = true;
    return reply;
  }
  reply.name = std::move(kline.name);
  reply.bars = std::move(kline.bars);
  return reply;
}

std::optional<std::string> Source::resolve_us(const std::string& ticker, SourceReply& failure) {
  if (auto known = prefixes_.find(ticker)) return known;
  for (const char* prefix : {"105", "106", "107"}) {
    const std::string secid = std::string(prefix) + "." + ticker;
    auto probe =
        request(kline_url(hosts_, "us." + ticker, secid, Adjust::none, std::nullopt, 1), 1.0);
    if (probe.kind == SourceReply::Kind::ok && !probe.bars.empty()) {
      prefixes_.set(ticker, prefix);
      return std::string(prefix);
    }
    if (probe.kind == SourceReply::Kind::blocked || probe.kind == SourceReply::Kind::failed) {
      failure = std::move(probe);
      return std::nullopt;
    }
  }
  failure.kind = SourceReply::Kind::unknown;
  failure.message = "no exchange (105/106/107) has this ticker";
  return std::nullopt;
}

SourceReply Source::daily(std::string_view code, const Window& window, Adjust adjust) {
  std::optional<std::string> secid;
  if (code.substr(0, 3) == "us." && !secid_of(code)) {
    SourceReply failure;
    auto prefix = resolve_us(std::string(code.substr(3)), failure);
    if (!prefix) return failure;
    secid = secid_of(code, *prefix);
  } else {
    secid = secid_of(code);
  }
  if (!secid) {
    SourceReply r;
    r.kind = SourceReply::Kind::unknown;
    r.message = "no Eastmoney code for " + std::string(code);
    return r;
  }
  auto reply = request(kline_url(hosts_, code, *secid, adjust, window.from), volume_factor(code));
  if (reply.kind == SourceReply::Kind::ok) {
    std::erase_if(reply.bars, [&](const DailyBar& b) {
      return b.date > window.to || (window.from && b.date < *window.from);
    });
  }
  return reply;
}

std::vector<ListRow> Source::list_market(std::string_view market) {
  constexpr int kPageSize = 100;  // larger pages are reported to be cut to 100
  std::vector<ListRow> rows;
  for (int page = 1;; ++page) {
    const auto url = list_url(hosts_, market, page, kPageSize);
    auto http = http_.get(url);
    if (auto failure = reply_for_failure(http))
      throw std::runtime_error("Eastmoney list of market " + std::string(market) + ", page " +
                               std::to_string(page) + ": " + failure->message);
    ListPage got;
    try {
      got = parse_list(http.body, market);
    } catch (const std::runtime_error& e) {
      throw std::runtime_error("Eastmoney list of market " + std::string(market) + ", page " +
                               std::to_string(page) + ": " + e.what());
    }
    for (auto& row : got.rows) {
      if (market == "US") prefixes_.set(row.code.substr(3), row.prefix);
      rows.push_back(std::move(row));
    }
    if (static_cast<long>(page) * kPageSize >= got.total || got.seen == 0) break;
  }
  return rows;
}

}  // namespace candlex::fetch::eastmoney
