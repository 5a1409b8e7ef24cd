// The source parsers on bodies captured from the live endpoints by public projects (quoted
// verbatim where marked), the code mappings, and the request URLs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "candlex/fetch/eastmoney.hpp"
#include "candlex/fetch/tencent.hpp"
#include "zorvane/utils/dates.hpp"

namespace {

using namespace candlex::fetch;
using ::testing::HasSubstr;
using ::testing::Not;
using zorvane::utils::iso_date;

// Eastmoney, 600519: envelope keys from captured bodies, bar values from a printed capture of
// 2025-06-18..20 (dktotal and preKPrice are illustrative).
const char* kEastmoneyA =
    R"({"rc":0,"rt":17,"svr":183641822,"lt":1,"full":0,"dlmkts":"","dsc":"0",
 "data":{"code":"600519","market":1,"name":"贵州茅台","decimal":2,"dktotal":5700,"preKPrice":1425.00,
  "klines":[
   "2025-06-18,1440.00,1425.00,1443.44,1421.01,30761,4404131000.00,1.57,-0.14,-2.00,0.24",
   "2025-06-19,1426.00,1426.00,1433.67,1417.18,24501,3490269000.00,1.16,0.07,1.00,0.20",
   "2025-06-20,1423.58,1428.66,1441.14,1420.20,34816,4990683000.00,1.47,0.19,2.66,0.28"]}})";

// Eastmoney, CSI 300 index: captured verbatim.
const char* kEastmoneyIndex =
    R"({"rc":0,"rt":17,"svr":183642696,"lt":1,"full":0,"dlmkts":"","dsc":"0","data":{"code":"000300","market":1,"name":"沪深300","decimal":2,"dktotal":5282,"preKPrice":4439.14,"klines":["2026-09-28,4423.82,4340.76,4423.82,4323.57,171277373,428620471197.90,2.26","2026-09-29,4335.81,4345.21,4359.30,4324.53,148129466,334950785525.60,0.80","2026-09-30,4356.80,4357.62,4368.61,4341.88,162949626,356491548621.40,0.62"]}})";

// Tencent, CSI 300 via fqkline with qfq (an index answers "day"): captured verbatim with curl.
const char* kTencentIndex =
    R"({"code":0,"msg":"","data":{"sh000300":{"day":[["2026-09-28","4423.820","4340.760","4423.820","4323.570","171277373.000"],["2026-09-29","4335.810","4345.210","4359.300","4324.530","148129466.000"],["2026-09-30","4356.800","4357.620","4368.610","4341.880","162949626.000"]],"qt":{"sh000300":["1"]},"prec":"4544.590","version":"16"}}})";

// Tencent, 600519 qfq: a public test fixture, verbatim.
const char* kTencentStock =
    R"({"code":0,"msg":"","data":{"sh600519":{"qfqday":[["2026-06-03","1304.000","1281.910","1304.000","1276.000","52477.000"],["2026-06-04","1278.990","1277.750","1288.990","1276.000","13632.000"]]}}})";

TEST(EastmoneyParse, MainlandStockRowsInLotsBecomeShares) {
  auto k = eastmoney::parse_kline(kEastmoneyA, eastmoney::volume_factor("sh.600519"));
  EXPECT_FALSE(k.data_null);
  EXPECT_EQ(k.name, "贵州茅台");
  ASSERT_EQ(k.bars.size(), 3u);
  const auto& b = k.bars[0];
  EXPECT_EQ(iso_date(b.date), "2025-06-18");
  // Row order is open, close, high, low.
  EXPECT_DOUBLE_EQ(b.open, 1440.00);
  EXPECT_DOUBLE_EQ(b.close, 1425.00);
  EXPECT_DOUBLE_EQ(b.high, 1443.44);
  EXPECT_DOUBLE_EQ(b.low, 1421.01);
  EXPECT_DOUBLE_EQ(b.volume, 3076100);
  EXPECT_DOUBLE_EQ(b.amount, 4404131000.00);
  // The unit check: amount / shares is a price inside the day's range on every bar.
  for (const auto& bar : k.bars) {
    const double vwap = bar.amount / bar.volume;
    EXPECT_GT(vwap, bar.low) << iso_date(bar.date);
    EXPECT_LT(vwap, bar.high) << iso_date(bar.date);
  }
}

TEST(EastmoneyParse, IndexLotsAgreeWithTencentsCaptureOfTheSameDays) {
  auto east = eastmoney::parse_kline(kEastmoneyIndex, eastmoney::volume_factor("sh.000300"));
  auto tx = tencent::parse_kline(kTencentIndex, "sh.000300", "sh000300", Adjust::qfq);
  ASSERT_EQ(east.bars.size(), 3u);
  ASSERT_EQ(tx.bars.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(east.bars[i].date, tx.bars[i].date);
    EXPECT_DOUBLE_EQ(east.bars[i].close, tx.bars[i].close);
    EXPECT_DOUBLE_EQ(east.bars[i].high, tx.bars[i].high);
    EXPECT_DOUBLE_EQ(east.bars[i].volume, tx.bars[i].volume);
    EXPECT_TRUE(std::isnan(tx.bars[i].amount));  // index rows carry no amount
  }
  EXPECT_DOUBLE_EQ(east.bars[0].volume, 17127737300.0);
  // Both counts are lots: amount / shares lies inside the index's price range.
  const auto& b = east.bars[0];
  EXPECT_GT(b.amount / b.volume, 10);
  EXPECT_LT(b.amount / b.volume, 50);
}

TEST(EastmoneyParse, HongKongAndUsRowsAreAlreadyShares) {
  // A 116.00700 row from a public fixture (longer fields2 list) and a 105.APP row.
  const std::string hk =
      R"({"rc":0,"data":{"code":"00700","market":116,"name":"腾讯控股","klines":["2026-03-16,551.000,562.500,564.000,543.500,13754474,7635420416.000,3.74,2.74,15.000,0.15,0,0,0,0.000"]}})";
  const std::string us =
      R"({"rc":0,"data":{"code":"APP","market":105,"name":"AppLovin","klines":["2021-04-16,70.000,61.000,71.510,58.650,15643711,1034038718.000,16.08,-23.75,-19.000,4.37"]}})";
  for (const auto& [body, code] : {std::pair{hk, "hk.00700"}, std::pair{us, "us.APP"}}) {
    auto k = eastmoney::parse_kline(body, eastmoney::volume_factor(code));
    ASSERT_EQ(k.bars.size(), 1u) << code;
    const auto& b = k.bars[0];
    EXPECT_GT(b.amount / b.volume, b.low) << code;
    EXPECT_LT(b.amount / b.volume, b.high) << code;
  }
}

TEST(EastmoneyParse, NullEmptyDashAndBrokenBodies) {
  auto null = eastmoney::parse_kline(
      R"({"rc":100,"rt":1,"svr":181669475,"lt":1,"full":1,"dlmkts":"","data":null})", 100);
  EXPECT_TRUE(null.data_null);
  auto empty = eastmoney::parse_kline(
      R"({"rc":0,"rt":17,"svr":1,"lt":1,"full":0,"dlmkts":"","data":{"code":"000300","market":1,"name":"沪深300","decimal":2,"dktotal":4044,"preKPrice":0.0,"klines":[]}})",
      100);
  EXPECT_FALSE(empty.data_null);
  EXPECT_TRUE(empty.bars.empty());
  auto dash = eastmoney::parse_kline(
      R"({"data":{"klines":["2025-06-18,-,-,-,-,-,-","2025-06-19,1.0,1.1,1.2,0.9,-,-"]}})", 100);
  ASSERT_EQ(dash.bars.size(), 1u);
  EXPECT_TRUE(std::isnan(dash.bars[0].volume));
  const std::string body = kEastmoneyA;
  EXPECT_THROW(eastmoney::parse_kline(body.substr(0, body.size() / 2), 100), std::runtime_error);
  EXPECT_THROW(eastmoney::parse_kline("<html>502 Bad Gateway</html>", 100), std::runtime_error);
  EXPECT_THROW(eastmoney::parse_kline(R"({"data":{"klines":["yesterday,1,2,3,4,5"]}})", 100),
               std::runtime_error);
}

TEST(TencentParse, VolumeAndAmountUnitsByBoard) {
  // Main board: lots.
  auto main = tencent::parse_kline(std::string("kline_dayqfq2026=") + kTencentStock, "sh.600519",
                                   "sh600519", Adjust::qfq);
  ASSERT_EQ(main.bars.size(), 2u);
  EXPECT_DOUBLE_EQ(main.bars[0].open, 1304.0);
  EXPECT_DOUBLE_EQ(main.bars[0].close, 1281.91);
  EXPECT_DOUBLE_EQ(main.bars[0].volume, 5247700);
  // Constructed rows in the newfqkline layout (no verbatim capture with columns 6-8 is
  // known): amount in 10,000 yuan at position 8. STAR Market volumes come in shares, the
  // others in lots. Check both units once against a live reply.
  const std::string star =
      R"({"code":0,"msg":"","data":{"sh688981":{"qfqday":[["2026-06-03","90.000","91.000","92.000","89.000","31295787.000",{},"1.20","284790.6617"]]}}})";
  auto s = tencent::parse_kline(star, "sh.688981", "sh688981", Adjust::qfq);
  ASSERT_EQ(s.bars.size(), 1u);
  EXPECT_DOUBLE_EQ(s.bars[0].volume, 31295787);
  EXPECT_DOUBLE_EQ(s.bars[0].amount, 2847906617);
  const std::string chinext =
      R"({"code":0,"msg":"","data":{"sz300750":{"qfqday":[["2026-06-03","250.000","252.000","255.000","248.000","312958.000",{},"0.80","789000.5"]]}}})";
  auto c = tencent::parse_kline(chinext, "sz.300750", "sz300750", Adjust::qfq);
  ASSERT_EQ(c.bars.size(), 1u);
  EXPECT_DOUBLE_EQ(c.bars[0].volume, 31295800);
  EXPECT_DOUBLE_EQ(c.bars[0].amount, 7890005000);
  EXPECT_GT(c.bars[0].amount / c.bars[0].volume, c.bars[0].low);
}

TEST(SourceUnits, FundAndBeijingVolumesAreTakenAsLots) {
  // Constructed rows: no public source states these units. ETF volumes are taken as lots like
  // A shares on both sources, and Beijing shares as lots like the other mainland boards;
  // check each once against a live reply (amount / shares must lie within the day's range).
  const char* east =
      R"({"data":{"klines":["2026-06-03,3.000,3.050,3.080,2.990,1000000,302000000.00"]}})";
  for (const char* code : {"510050", "159915", "bj.430047"}) {
    auto k = eastmoney::parse_kline(east, eastmoney::volume_factor(code));
    ASSERT_EQ(k.bars.size(), 1u);
    EXPECT_DOUBLE_EQ(k.bars[0].volume, 1e8) << code;
  }
  const std::string tx =
      R"({"code":0,"msg":"","data":{"sh510050":{"qfqday":[["2026-06-03","3.000","3.050","3.080","2.990","1000000.000"]]}}})";
  auto t = tencent::parse_kline(tx, "510050", "sh510050", Adjust::qfq);
  ASSERT_EQ(t.bars.size(), 1u);
  EXPECT_DOUBLE_EQ(t.bars[0].volume, 1e8);
  EXPECT_DOUBLE_EQ(tencent::volume_factor("bj.430047"), 100);
  EXPECT_DOUBLE_EQ(tencent::volume_factor("hk.00700"), 1);
}

TEST(TencentParse, ParamErrorMissingCodeAndBrokenBodies) {
  EXPECT_TRUE(tencent::parse_kline(R"({"code":0,"msg":"param error","data":[]})", "sh.600519",
                                   "sh600519", Adjust::qfq)
                  .unknown);
  EXPECT_TRUE(tencent::parse_kline(R"({"code":0,"msg":"","data":{"sh600000":{}}})", "sh.600519",
                                   "sh600519", Adjust::qfq)
                  .unknown);
  const std::string body = kTencentStock;
  EXPECT_THROW(tencent::parse_kline(body.substr(0, 60), "sh.600519", "sh600519", Adjust::qfq),
               std::runtime_error);
}

TEST(SourceCodes, EveryCodeOfTheMappingTable) {
  struct Row {
    const char* code;
    const char* secid;
    const char* tencent;
  };
  // us.IXIC -> 100.NDX: most public lists name 100.NDX the Composite, one the Nasdaq 100.
  // Check its level against the Composite once with a live reply.
  const Row rows[] = {
      {"sh.600519", "1.600519", "sh600519"}, {"sz.000001", "0.000001", "sz000001"},
      {"bj.430047", "0.430047", "bj430047"}, {"510050", "1.510050", "sh510050"},
      {"159915", "0.159915", "sz159915"},    {"hk.00700", "116.00700", "hk00700"},
      {"sh.000001", "1.000001", "sh000001"}, {"sz.399001", "0.399001", "sz399001"},
      {"sz.399006", "0.399006", "sz399006"}, {"sh.000688", "1.000688", "sh000688"},
      {"sh.000300", "1.000300", "sh000300"}, {"sh.000905", "1.000905", "sh000905"},
      {"hk.HSI", "100.HSI", "hkHSI"},        {"hk.HSTECH", "124.HSTECH", "hkHSTECH"},
      {"us.SPX", "100.SPX", "usINX"},        {"us.IXIC", "100.NDX", "usIXIC"},
      {"us.DJI", "100.DJIA", "usDJI"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(eastmoney::secid_of(r.code).value_or("-"), r.secid) << r.code;
    EXPECT_EQ(tencent::param_code(r.code).value_or("-"), r.tencent) << r.code;
  }
  EXPECT_FALSE(eastmoney::secid_of("us.AAPL"));  // needs its exchange number
  EXPECT_EQ(eastmoney::secid_of("us.AAPL", "105").value_or("-"), "105.AAPL");
  EXPECT_EQ(tencent::param_code("us.AAPL", "105").value_or("-"), "usAAPL.OQ");
  EXPECT_EQ(tencent::param_code("us.IBM", "106").value_or("-"), "usIBM.N");
  EXPECT_FALSE(eastmoney::secid_of("hk.XYZ"));
}

TEST(SourceUrls, RequestsCarryTokenFieldsAndRawCommas) {
  eastmoney::Hosts east;
  auto a = eastmoney::kline_url(east, "sh.600519", "1.600519", Adjust::qfq,
                                zorvane::utils::parse_iso_date("2024-01-02"));
  EXPECT_EQ(a,
            "https://push2his.eastmoney.com/api/qt/stock/kline/get?fields1=f1,f2,f3,f4,f5,f6"
            "&fields2=f51,f52,f53,f54,f55,f56,f57,f58,f59,f60,f61"
            "&ut=7eea3edcaed734bea9cbfc24409ed989&klt=101&fqt=1&secid=1.600519&beg=20240102"
            "&end=20500101");
  auto hk = eastmoney::kline_url(east, "hk.00700", "116.00700", Adjust::none, std::nullopt);
  EXPECT_THAT(hk, HasSubstr("https://33.push2his.eastmoney.com/"));
  EXPECT_THAT(hk, HasSubstr("&fqt=0&secid=116.00700&beg=0&end=20500101&lmt=1000000"));
  tencent::Hosts tx;
  auto t = tencent::kline_url(tx, "sh.600519", "sh600519", Adjust::qfq,
                              zorvane::utils::parse_iso_date("2024-01-01"),
                              zorvane::utils::parse_iso_date("2024-12-31"));
  EXPECT_EQ(t,
            "https://proxy.finance.qq.com/ifzqgtimg/appstock/app/newfqkline/get?param=sh600519,"
            "day,2024-01-01,2024-12-31,640,qfq&_var=kline_dayqfq2024");
  EXPECT_THAT(tencent::kline_url(tx, "hk.00700", "hk00700", Adjust::none,
                                 zorvane::utils::parse_iso_date("2024-01-01"),
                                 zorvane::utils::parse_iso_date("2024-12-31")),
              HasSubstr("web.ifzq.gtimg.cn/appstock/app/kline/kline?param=hk00700,day,2024-01-01,"
                        "2024-12-31,640,"));
  EXPECT_THAT(eastmoney::list_url(east, "A", 2, 100),
              HasSubstr("pn=2&pz=100&po=1&np=1&fltt=2&invt=2&fid=f12"));
  EXPECT_THAT(eastmoney::list_url(east, "A", 1, 100), Not(HasSubstr(" ")));
}

TEST(EastmoneyList, RowsBecomeCodesOfTheMarket) {
  const char* body =
      R"({"rc":0,"data":{"total":4,"diff":[{"f12":"600519","f13":1,"f14":"贵州茅台"},{"f12":"000001","f13":0,"f14":"平安银行"},{"f12":"920001","f13":0,"f14":"北交所股"},{"f12":"510050","f13":1,"f14":"ETF"}]}})";
  auto page = eastmoney::parse_list(body, "A");
  EXPECT_EQ(page.total, 4);
  ASSERT_EQ(page.rows.size(), 3u);  // the fund is not an A share
  EXPECT_EQ(page.rows[0].code, "sh.600519");
  EXPECT_EQ(page.rows[1].code, "sz.000001");
  EXPECT_EQ(page.rows[2].code, "bj.920001");
  auto us = eastmoney::parse_list(
      R"({"data":{"total":1,"diff":[{"f12":"IBM","f13":106,"f14":"IBM"}]}})", "US");
  ASSERT_EQ(us.rows.size(), 1u);
  EXPECT_EQ(us.rows[0].code, "us.IBM");
  EXPECT_EQ(us.rows[0].prefix, "106");
  EXPECT_THROW(eastmoney::parse_list(R"({"data":null})", "A"), std::runtime_error);
}

}  // namespace
