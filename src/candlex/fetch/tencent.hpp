#pragma once
// Tencent's kline endpoints (appstock/app/...): newfqkline for mainland codes, hkfqkline and
// usfqkline for Hong Kong and the US, kline/kline for unadjusted bars of any market.
//
// `param` is "<code>,day,<start>,<end>,<count>,<qfq|hfq|>" with raw commas (encoded commas
// get "param error"). A page holds at most 640 bars, so windows are fetched by calendar
// year. The reply is "NAME={json}" or plain JSON; rows sit under data.<code>.qfqday, hfqday
// or day (indices and some Hong Kong replies answer "day" even when qfq was asked). A row is
// [date, open, close, high, low, volume, ...]. Volume comes in lots of 100 for mainland
// codes except STAR Market stocks (688/689, in shares); mainland stock rows carry the
// amount in 10,000 yuan at position 8. Hong Kong and US volumes are taken as shares.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "candlex/fetch/center_config.hpp"
#include "candlex/fetch/http_client.hpp"
#include "candlex/fetch/source.hpp"

namespace candlex::fetch::tencent {

struct Hosts {
  std::string mainland = "https://proxy.finance.qq.com/ifzqgtimg";
  std::string web = "https://web.ifzq.gtimg.cn";
};
// CANDLEX_TENCENT_URL replaces both hosts.
Hosts hosts_from_env();

// Tencent's code for a canonical code ("sh600519", "hk00700", "usAAPL.OQ", "usINX"). A US
// stock needs its Eastmoney exchange number (105 -> .OQ, 106 -> .N, 107 -> .AM); without
// one, or for a code this source does not know, nullopt.
std::optional<std::string> param_code(std::string_view code, std::string_view us_prefix = "");

// Shares per volume unit and yuan per amount unit of the code's rows.
double volume_factor(std::string_view code);
double amount_factor(std::string_view code);

std::string kline_url(const Hosts& hosts, std::string_view code, std::string_view param,
                      Adjust adjust, Day from, Day to);

struct Kline {
  bool unknown = false;  // "param error", or no entry for the code
  std::vector<DailyBar> bars;
};
// Parses a reply for `param`. Throws std::runtime_error for a body that is not the kline
// JSON.
Kline parse_kline(std::string_view body, std::string_view code, std::string_view param,
                  Adjust adjust);

class Source : public BarSource {
 public:
  Source(HttpClient& http, Hosts hosts, UsPrefixes& prefixes)
      : http_(http), hosts_(std::move(hosts)), prefixes_(prefixes) {}
  std::string name() const override { return "tencent"; }
  bool serves(std::string_view code) const override;
  SourceReply daily(std::string_view code, const Window& window, Adjust adjust) override;

 private:
  SourceReply page(std::string_view code, const std::string& param, Adjust adjust, Day from,
                   Day to);
  SourceReply pages(std::string_view code, const std::string& param, const Window& window,
                    Adjust adjust);

  HttpClient& http_;
  Hosts hosts_;
  UsPrefixes& prefixes_;
};

}  // namespace candlex::fetch::tencent
