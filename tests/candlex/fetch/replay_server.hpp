#pragma once
// A local stand-in for the public daily-bar sources: serves Eastmoney kline and list replies
// and Tencent kline replies in their wire formats, from series the test puts in, and a
// listener that closes every connection without a response (how a blocking source behaves).

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace replay {

struct Row {
  std::string date;  // YYYY-MM-DD
  double open, close, high, low;
  double volume;  // in the source's unit: lots for mainland codes
  double amount;  // yuan
};

struct Series {
  std::string secid;    // Eastmoney "1.600519"
  std::string tencent;  // Tencent "sh600519"
  std::string name;
  std::vector<Row> rows;
};

// Weekday rows from `first` to `last` (YYYY-MM-DD) with a gentle deterministic walk.
inline std::vector<Row> walk(const std::string& first, const std::string& last, double base,
                             double lots = 20000) {
  using namespace std::chrono;
  auto parse = [](const std::string& s) {
    return sys_days{year{std::stoi(s.substr(0, 4))} / std::stoi(s.substr(5, 2)) /
                    std::stoi(s.substr(8, 2))};
  };
  std::vector<Row> rows;
  double price = base;
  int i = 0;
  for (sys_days d = parse(first); d <= parse(last); d += days{1}) {
    if (weekday{d}.c_encoding() == 0 || weekday{d}.c_encoding() == 6) continue;
    year_month_day ymd{d};
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    const double step = ((i * 7919) % 13 - 6) * 0.002;
    const double open = price, close = price * (1 + step);
    const double high = std::max(open, close) * 1.01, low = std::min(open, close) * 0.99;
    auto r2 = [](double v) {
      return static_cast<double>(static_cast<long long>(v * 100 + 0.5)) / 100;
    };
    Row row{date, r2(open), r2(close), r2(high), r2(low), lots + i % 50 * 100, 0};
    row.amount = r2((row.high + row.low) / 2 * row.volume * 100);
    rows.push_back(row);
    price = close;
    ++i;
  }
  return rows;
}

class Server {
 public:
  enum class Mode { normal, data_null, truncated, param_error, error_503_once };

  Server() {
    svr_.Get("/api/qt/stock/kline/get",
             [this](const httplib::Request& q, httplib::Response& r) { eastmoney(q, r); });
    svr_.Get("/api/qt/clist/get",
             [this](const httplib::Request& q, httplib::Response& r) { list(q, r); });
    for (const char* path : {"/appstock/app/newfqkline/get", "/appstock/app/hkfqkline/get",
                             "/appstock/app/usfqkline/get", "/appstock/app/kline/kline"})
      svr_.Get(path, [this](const httplib::Request& q, httplib::Response& r) { tencent(q, r); });
    port_ = svr_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { svr_.listen_after_bind(); });
    while (!svr_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ~Server() {
    svr_.stop();
    thread_.join();
  }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  void put(Series s) {
    std::lock_guard lock(mutex_);
    series_[s.secid] = s;
  }
  // Every price of the series multiplied by `factor` (a forward-adjusted history restated).
  void restate(const std::string& secid, double factor) {
    std::lock_guard lock(mutex_);
    for (auto& row : series_[secid].rows) {
      row.open *= factor;
      row.close *= factor;
      row.high *= factor;
      row.low *= factor;
    }
  }
  void add_row(const std::string& secid, Row row) {
    std::lock_guard lock(mutex_);
    series_[secid].rows.push_back(row);
  }
  void set_modes(Mode eastmoney, Mode tencent) {
    std::lock_guard lock(mutex_);
    east_mode_ = eastmoney;
    tencent_mode_ = tencent;
  }
  // Listing rows "f12,f13,f14" served by the list endpoint.
  void set_listing(std::vector<std::vector<std::string>> rows) {
    std::lock_guard lock(mutex_);
    listing_ = std::move(rows);
  }
  // Requests seen, as "eastmoney <secid> beg=<beg>[ lmt=<n>]" or "tencent <param>".
  std::vector<std::string> log() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void clear_log() {
    std::lock_guard lock(mutex_);
    log_.clear();
  }
  // Every reply waits this long first (to catch a run mid-way).
  void set_delay(std::chrono::milliseconds d) { delay_ms_ = static_cast<int>(d.count()); }

 private:
  static std::string num(double v, int decimals = 2) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
  }

  void eastmoney(const httplib::Request& q, httplib::Response& r) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_.load()));
    std::lock_guard lock(mutex_);
    const auto secid = q.get_param_value("secid");
    const auto beg = q.get_param_value("beg");
    log_.push_back("eastmoney " + secid + " beg=" + beg +
                   (q.has_param("lmt") ? " lmt=" + q.get_param_value("lmt") : ""));
    if (east_mode_ == Mode::error_503_once) {
      east_mode_ = Mode::normal;
      r.status = 503;
      r.set_content("Service Unavailable", "text/plain");
      return;
    }
    auto it = series_.find(secid);
    if (east_mode_ == Mode::data_null || it == series_.end() || q.get_param_value("ut").empty()) {
      r.set_content(R"({"rc":100,"rt":1,"svr":181669475,"lt":1,"full":1,"dlmkts":"","data":null})",
                    "application/json");
      return;
    }
    const auto& s = it->second;
    const std::string from =
        beg == "0" ? "" : beg.substr(0, 4) + "-" + beg.substr(4, 2) + "-" + beg.substr(6, 2);
    std::vector<std::string> rows;
    for (const auto& row : s.rows) {
      if (row.date < from) continue;
      rows.push_back("\"" + row.date + "," + num(row.open) + "," + num(row.close) + "," +
                     num(row.high) + "," + num(row.low) + "," + num(row.volume, 0) + "," +
                     num(row.amount) + ",1.57,-0.14,-2.00,0.24\"");
    }
    if (q.has_param("lmt")) {
      auto lmt = static_cast<std::size_t>(std::stol(q.get_param_value("lmt")));
      if (rows.size() > lmt) rows.erase(rows.begin(), rows.end() - static_cast<long>(lmt));
    }
    std::string klines;
    for (const auto& row : rows) klines += (klines.empty() ? "" : ",") + row;
    const auto dot = s.secid.find('.');
    std::string body =
        R"({"rc":0,"rt":17,"svr":183641822,"lt":1,"full":0,"dlmkts":"","dsc":"0","data":{"code":")" +
        s.secid.substr(dot + 1) + R"(","market":)" + s.secid.substr(0, dot) + R"(,"name":")" +
        s.name + R"(","decimal":2,"dktotal":)" + std::to_string(s.rows.size()) +
        R"(,"preKPrice":0.0,"klines":[)" + klines + "]}}";
    if (east_mode_ == Mode::truncated) body = body.substr(0, body.size() / 2);
    r.set_content(body, "application/json");
  }

  void list(const httplib::Request& q, httplib::Response& r) {
    std::lock_guard lock(mutex_);
    log_.push_back("list " + q.get_param_value("fs") + " pn=" + q.get_param_value("pn"));
    const auto pn = static_cast<std::size_t>(std::stol(q.get_param_value("pn")));
    const auto pz = static_cast<std::size_t>(std::stol(q.get_param_value("pz")));
    std::string diff;
    for (std::size_t i = (pn - 1) * pz; i < listing_.size() && i < pn * pz; ++i) {
      const auto& f = listing_[i];
      diff += (diff.empty() ? "" : ",") + std::string(R"({"f12":")") + f[0] + R"(","f13":)" + f[1] +
              R"(,"f14":")" + f[2] + "\"}";
    }
    r.set_content(R"({"rc":0,"rt":6,"svr":182995791,"lt":1,"full":1,"dlmkts":"","data":{"total":)" +
                      std::to_string(listing_.size()) + R"(,"diff":[)" + diff + "]}}",
                  "application/json");
  }

  void tencent(const httplib::Request& q, httplib::Response& r) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_.load()));
    std::lock_guard lock(mutex_);
    const auto param = q.get_param_value("param");
    log_.push_back("tencent " + param);
    std::vector<std::string> p;
    for (std::size_t pos = 0;;) {
      auto c = param.find(',', pos);
      p.push_back(param.substr(pos, c == std::string::npos ? std::string::npos : c - pos));
      if (c == std::string::npos) break;
      pos = c + 1;
    }
    const Series* s = nullptr;
    for (const auto& [k, v] : series_)
      if (p.size() == 6 && v.tencent == p[0]) s = &v;
    if (tencent_mode_ == Mode::param_error || !s) {
      r.set_content(R"({"code":0,"msg":"param error","data":[]})", "application/json");
      return;
    }
    const bool index = s->tencent.rfind("sh000", 0) == 0 || s->tencent.rfind("sz399", 0) == 0;
    std::string rows;
    for (const auto& row : s->rows) {
      if (row.date < p[2] || row.date > p[3]) continue;
      rows +=
          (rows.empty() ? "[" : ",[") +
          ("\"" + row.date + "\",\"" + num(row.open, 3) + "\",\"" + num(row.close, 3) + "\",\"" +
           num(row.high, 3) + "\",\"" + num(row.low, 3) + "\",\"" + num(row.volume, 3) + "\"");
      if (!index) rows += ",{},\"0.24\",\"" + num(row.amount / 10000, 4) + "\"";
      rows += "]";
    }
    const std::string key = index || p[5].empty() ? "day" : p[5] + "day";
    std::string json = R"({"code":0,"msg":"","data":{")" + s->tencent + R"(":{")" + key + R"(":[)" +
                       rows + R"(],"qt":{},"prec":"1.000","version":"16"}}})";
    if (tencent_mode_ == Mode::truncated) json = json.substr(0, json.size() / 2);
    const auto var = q.get_param_value("_var");
    r.set_content(var.empty() ? json : var + "=" + json, "text/plain");
  }

  httplib::Server svr_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::map<std::string, Series> series_;
  std::vector<std::vector<std::string>> listing_;
  std::vector<std::string> log_;
  Mode east_mode_ = Mode::normal, tencent_mode_ = Mode::normal;
  std::atomic<int> delay_ms_{0};
};

// Accepts connections and closes them without a byte of response.
class Dropper {
 public:
  Dropper() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    ::listen(fd_, 16);
    thread_ = std::thread([this] {
      for (;;) {
        int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        ++accepted_;
        char buf[4096];
        (void)::recv(c, buf, sizeof buf, 0);
        ::close(c);
      }
    });
  }
  ~Dropper() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int accepted() const { return accepted_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

// The A-share codes of a small market: the six core indices and 600519.
inline std::vector<Series> mainland_market(const std::string& first, const std::string& last) {
  return {
      {"1.000001", "sh000001", "上证指数", walk(first, last, 3000, 3e8)},
      {"0.399001", "sz399001", "深证成指", walk(first, last, 9500, 4e8)},
      {"0.399006", "sz399006", "创业板指", walk(first, last, 1900, 1e8)},
      {"1.000688", "sh000688", "科创50", walk(first, last, 900, 5e7)},
      {"1.000300", "sh000300", "沪深300", walk(first, last, 3600, 1.7e8)},
      {"1.000905", "sh000905", "中证500", walk(first, last, 5500, 1.2e8)},
      {"1.600519", "sh600519", "贵州茅台", walk(first, last, 1500, 30000)},
  };
}

}  // namespace replay
