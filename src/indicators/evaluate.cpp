#include "indicators/evaluate.hpp"

#include <stdexcept>

#include "candlex/market_data.hpp"
#include "candlex/technical.hpp"

namespace indicators {

namespace tech = candlex::technical;

namespace {

// Every evaluation reads the last row; an empty table has none.
void require_rows(const candlex::BarTable& df, const char* what) {
  if (df.empty()) {
    throw std::out_of_range(std::string(what) + ": the bar table is empty, there is no last row");
  }
}

}  // namespace

MAStatus get_ma_status(candlex::BarTable& df, MA_Type ma_type) {
  if (ma_type != MA_Type::EMA) {
    throw std::invalid_argument("不支持的移动平均类型: " + std::to_string(ma_type_code(ma_type)) +
                                "。支持的类型为 'EMA'");
  }
  require_rows(df, "get_ma_status");
  if (!df.has("EMA_5")) tech::set_ema(df);
  return MAStatus(ma_type);
}

MStatus get_macd_status(candlex::BarTable& df) {
  require_rows(df, "get_macd_status");
  if (!df.has("MACD")) tech::set_macd(df);
  return MStatus(df.last("MACD"), df.last("MACD_signal"), df.last("MACD_hist"));
}

RStatus get_rsi_status(candlex::BarTable& df) {
  require_rows(df, "get_rsi_status");
  if (!df.has("RSI")) tech::set_rsi(df, 12);
  return RStatus(df.last("RSI"));
}

BollingerBandsStatus get_boll_status(candlex::BarTable& df) {
  require_rows(df, "get_boll_status");
  if (!df.has("upper_band")) tech::set_boll(df);
  return BollingerBandsStatus(df.last("upper_band"), df.last("middle_band"), df.last("lower_band"));
}

VolumeStatus get_volume_status(candlex::BarTable& df) {
  require_rows(df, "get_volume_status");
  if (!df.has("Volume_MA")) tech::set_volume(df);
  return VolumeStatus(df.last("volume"), df.last("Volume_MA"), df.last("Volume_Ratio"),
                      df.last("ATR"), df.last("Volatility"));
}

StockStatus get_stock_status(const candlex::BarTable& df, const std::string& code) {
  candlex::BarTable copy = df;
  StockStatus ss(code);
  ss.macd_status = get_macd_status(copy);
  ss.rsi_status = get_rsi_status(copy);
  ss.boll_status = get_boll_status(copy);
  ss.volume_status = get_volume_status(copy);
  ss.ma_status = get_ma_status(copy);
  ss.price = copy.last("close");
  ss.name = candlex::get_name_from_code(code);
  return ss;
}

}  // namespace indicators
