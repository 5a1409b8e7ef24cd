#include "indicators/stock_status.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <type_traits>

namespace {

using namespace indicators;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(StatusEnums, CodesAndNames) {
  EXPECT_EQ(static_cast<int>(TrendEnum::UP), 0);
  EXPECT_EQ(static_cast<int>(TrendEnum::DOWN), 1);
  EXPECT_EQ(static_cast<int>(TrendEnum::EQUAL), 2);
  EXPECT_EQ(static_cast<int>(TradeEnum::BUY), 0);
  EXPECT_EQ(static_cast<int>(TradeEnum::SELL), 1);
  EXPECT_EQ(static_cast<int>(TradeEnum::WATCH), 2);
  EXPECT_EQ(to_string(TrendEnum::EQUAL), "EQUAL");
  EXPECT_EQ(to_string(TradeEnum::WATCH), "WATCH");
  // TA-Lib's numbering, which printed records rely on.
  EXPECT_EQ(ma_type_code(MA_Type::SMA), 0);
  EXPECT_EQ(ma_type_code(MA_Type::EMA), 1);
  EXPECT_EQ(ma_type_code(MA_Type::KAMA), 6);
  EXPECT_EQ(ma_type_code(MA_Type::T3), 8);
}

TEST(StatusText, DefaultsPrintAsIntegers) {
  EXPECT_EQ(to_string(MStatus{}), "DIF: 0, DEA:0, MACD_hist: 0");
  EXPECT_EQ(to_string(MAStatus{}), "MAStatus(ma_type=1)");
  EXPECT_EQ(to_string(MAStatus(MA_Type::SMA)), "MAStatus(ma_type=0)");
  EXPECT_EQ(to_string(StockStatus("sh.688028")),
            "StockStatus(code=sh.688028, name=, price=0, macd_status=None, rsi_status=None, "
            "boll_status=None, volume_status=None, ma_status=None)");
}

TEST(StatusText, ThreeDecimalRoundingAndShortestForm) {
  // Doubles keep a ".0" when whole; integers do not.
  EXPECT_EQ(to_string(RStatus(55.0)), "rsi: 55.0");
  EXPECT_EQ(to_string(RStatus(3)), "rsi: 3");
  EXPECT_EQ(to_string(RStatus(55.12345)), "rsi: 55.123");
  EXPECT_EQ(to_string(RStatus(2.5)), "rsi: 2.5");
  // Ties go to even on the exact binary value: 0.0625 and 0.1875 are exact halves, 1.0005 is
  // stored just below its half.
  EXPECT_EQ(to_string(MStatus(0.0625, 0.1875, 1.0005)), "DIF: 0.062, DEA:0.188, MACD_hist: 1.0");
  EXPECT_EQ(to_string(MStatus(-0.0001, 1e-05, 123456.7891)),
            "DIF: -0.0, DEA:0.0, MACD_hist: 123456.789");
  EXPECT_EQ(to_string(BollingerBandsStatus(10.98765, 10.5, kNaN)),
            "Upper Band: 10.988, Middle Band: 10.5, Lower Band: nan");
}

TEST(StatusText, VolumeRatioAndVolatilityAreWholeNumbers) {
  VolumeStatus v(3066412.0, 2500000.25, 1.4, 0.12345, 25.6);
  EXPECT_EQ(to_string(v),
            "Volume: 3066412.0, Volume_MA: 2500000.25, Volume_Ratio: 1, ATR: 0.123, "
            "Volatility: 26, msg: []");
  auto ratio_text = [](double r) {
    std::string s = to_string(VolumeStatus(1, 1, r, 1, 1));
    auto from = s.find("Volume_Ratio: ") + 14;
    return s.substr(from, s.find(',', from) - from);
  };
  EXPECT_EQ(ratio_text(2.5), "2");  // ties to even
  EXPECT_EQ(ratio_text(3.5), "4");
  EXPECT_EQ(ratio_text(1.6), "2");
  EXPECT_EQ(ratio_text(-0.4), "0");
}

TEST(StatusText, VolumeStatusOfAYoungStockPrintsNanInsteadOfFailing) {
  // Too few bars for the ratio and the volatility: the text must still print, since it ends
  // up in logs and prompts.
  VolumeStatus v(1200.0, kNaN, kNaN, kNaN, kNaN);
  EXPECT_EQ(
      to_string(v),
      "Volume: 1200.0, Volume_MA: nan, Volume_Ratio: nan, ATR: nan, Volatility: nan, msg: []");
  VolumeStatus inf(1.0, 1.0, std::numeric_limits<double>::infinity(), 1.0, 1.0);
  EXPECT_NE(to_string(inf).find("Volume_Ratio: inf,"), std::string::npos);
}

TEST(StatusText, MessagesPrintAsAQuotedList) {
  VolumeStatus a(1.0, 1.0, 1.0, 1.0, 1.0);
  VolumeStatus b = a;
  a.msg = {"放量", "it's"};
  EXPECT_NE(to_string(a).find("msg: ['放量', \"it's\"]"), std::string::npos) << to_string(a);
  EXPECT_NE(to_string(b).find("msg: []"), std::string::npos);  // lists are not shared
}

TEST(StatusText, FullStockStatus) {
  StockStatus s("sz.000001");
  s.name = "平安银行";
  s.price = 12.5;
  s.macd_status = MStatus(0.1234, -0.05, 0.1734);
  s.rsi_status = RStatus(61.25);
  s.boll_status = BollingerBandsStatus(13.0, 12.0, 11.0);
  s.volume_status = VolumeStatus(1000.0, 900.0, 1.11, 0.3, 30.2);
  s.ma_status = MAStatus(MA_Type::EMA);
  std::ostringstream os;
  os << s;
  EXPECT_EQ(os.str(),
            "StockStatus(code=sz.000001, name=平安银行, price=12.5, "
            "macd_status=DIF: 0.123, DEA:-0.05, MACD_hist: 0.173, rsi_status=rsi: 61.25, "
            "boll_status=Upper Band: 13.0, Middle Band: 12.0, Lower Band: 11.0, "
            "volume_status=Volume: 1000.0, Volume_MA: 900.0, Volume_Ratio: 1, ATR: 0.3, "
            "Volatility: 30, msg: [], ma_status=MAStatus(ma_type=1))");
  EXPECT_EQ(os.str(), to_string(s));
}

TEST(StockStatusCode, MustBeText) {
  static_assert(std::is_constructible_v<StockStatus, std::string>);
  static_assert(std::is_constructible_v<StockStatus, const char*>);
  static_assert(!std::is_constructible_v<StockStatus, int>);
  static_assert(!std::is_constructible_v<StockStatus, double>);
  static_assert(!std::is_constructible_v<StockStatus, std::nullptr_t>);
  const char* null_code = nullptr;
  EXPECT_THROW(StockStatus{null_code}, std::invalid_argument);
  EXPECT_EQ(StockStatus().code, "");
}

}  // namespace
