#pragma once
// Eastmoney's kline endpoint (push2his .../api/qt/stock/kline/get) and its list endpoint
// (push2 .../api/qt/clist/get).
//
// Codes map to a `secid` "<market>.<code>": 1 Shanghai, 0 Shenzhen and Beijing, 116 Hong
// Kong, 105/106/107 US (Nasdaq/NYSE/NYSE American), 100 global indices, 124 HSTECH. A kline
// row is "date,open,close,high,low,volume,amount,amplitude,pct,change,turnover" (note the
// order open, close, high, low). Volume comes in lots of 100 for mainland shares, funds and
// indices and in shares for Hong Kong and the US; amount is in the currency unit.
//
// Replies: `data: null` for an unknown secid (also what a soft rate limit looks like),
// `klines: []` for a known one without bars in the window.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "candlex/fetch/center_config.hpp"
#include "candlex/fetch/http_client.hpp"
#include "candlex/fetch/source.hpp"

namespace candlex::fetch::eastmoney {

// Hosts; one base URL (CANDLEX_EASTMONEY_URL) replaces all of them.
struct Hosts {
  std::string mainland = "https://push2his.eastmoney.com";
  std::string hong_kong = "https://33.push2his.eastmoney.com";
  std::string us = "https://63.push2his.eastmoney.com";
  std::string list = "https://push2.eastmoney.com";
};
Hosts hosts_from_env();

// The secid of a canonical code. A US stock needs its exchange number (`us_prefix`); without
// one, or for a code this source does not know, nullopt.
std::optional<std::string> secid_of(std::string_view code, std::string_view us_prefix = "");

// Shares per volume unit of the code's rows: 100 for mainland codes, 1 for HK and US.
double volume_factor(std::string_view code);

// Kline request for daily bars from `beg` (whole history when nullopt); `lmt` caps the bar
// count (the last ones). HK and US requests carry lmt=1000000 as the public clients send it.
std::string kline_url(const Hosts& hosts, std::string_view code, std::string_view secid,
                      Adjust adjust, std::optional<Day> beg, std::optional<int> lmt = {});

struct Kline {
  bool data_null = false;
  std::string name;
  std::vector<DailyBar> bars;  // sorted, unique
};
// Parses a kline reply. Rows whose price cells are not numbers ("-") are skipped. Throws
// std::runtime_error for a body that is not the kline JSON (cut short, HTML, wrong shape).
Kline parse_kline(std::string_view body, double volume_factor);

// The list endpoint's filter for a market ("A", "ETF", "HK", "US").
std::string list_filter(std::string_view market);
std::string list_url(const Hosts& hosts, std::string_view market, int page, int page_size);

struct ListRow {
  std::string code;    // canonical code
  std::string prefix;  // f13, the secid market number
  std::string name;    // f14
};
struct ListPage {
  std::vector<ListRow> rows;
  long total = 0;        // rows of all pages
  std::size_t seen = 0;  // rows on this page, kept or not
};
// Parses a list reply for `market`; rows that do not form a code of that market are left
// out. Throws std::runtime_error for a malformed body or `data: null`.
ListPage parse_list(std::string_view body, std::string_view market);

class Source : public BarSource {
 public:
  Source(HttpClient& http, Hosts hosts, UsPrefixes& prefixes)
      : http_(http), hosts_(std::move(hosts)), prefixes_(prefixes) {}
  std::string name() const override { return "eastmoney"; }
  bool serves(std::string_view code) const override;
  SourceReply daily(std::string_view code, const Window& window, Adjust adjust) override;

  // Every listed security of a market, paging through the list endpoint. US exchange numbers
  // are recorded in the shared prefixes. Throws std::runtime_error when a page fails.
  std::vector<ListRow> list_market(std::string_view market);

 private:
  // The US exchange number of a ticker: known, else probed 105, 106, 107 with one bar each.
  // nullopt when every probe misses (not a block); a reply kind for a failed request.
  std::optional<std::string> resolve_us(const std::string& ticker, SourceReply& failure);
  SourceReply request(const std::string& url, double factor);

  HttpClient& http_;
  Hosts hosts_;
  UsPrefixes& prefixes_;
};

}  // namespace candlex::fetch::eastmoney
