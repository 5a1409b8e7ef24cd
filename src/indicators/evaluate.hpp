#pragma once
// Indicator status of one stock at its last bar.
//
// Each per-indicator function makes sure the columns it reads exist (running the market-data
// package's setter, in place, when its presence-test column is missing) and reads the last
// row. Only the presence-test column decides: a table that already has it is read as is.
//
//   function           presence test   columns read                                   setter
//   get_ma_status      EMA_5           (none)                                         set_ema
//   get_macd_status    MACD            MACD, MACD_signal, MACD_hist                   set_macd
//   get_rsi_status     RSI             RSI                                            set_rsi(12)
//   get_boll_status    upper_band      upper_band, middle_band, lower_band            set_boll
//   get_volume_status  Volume_MA       volume, Volume_MA, Volume_Ratio, ATR, Volatility set_volume
//
// Nothing is logged or caught. An empty table throws std::out_of_range; a missing input column
// throws from the setter or the read. No shared state: safe on any thread, but the
// per-indicator functions modify the table they are given.

#include <string>

#include "candlex/bar_table.hpp"
#include "indicators/ma_type.hpp"
#include "indicators/stock_status.hpp"

namespace indicators {

// Throws std::invalid_argument "不支持的移动平均类型: <code>。支持的类型为 'EMA'" for any type
// other than EMA, before touching the table.
MAStatus get_ma_status(candlex::BarTable& df, MA_Type ma_type = MA_Type::EMA);
MStatus get_macd_status(candlex::BarTable& df);
RStatus get_rsi_status(candlex::BarTable& df);
BollingerBandsStatus get_boll_status(candlex::BarTable& df);
VolumeStatus get_volume_status(candlex::BarTable& df);

// All five statuses (MACD, RSI, Bollinger, volume, moving averages, in that order) computed on
// a private copy, the last close as price and the display name (empty when unknown). The
// caller's table is left unchanged.
StockStatus get_stock_status(const candlex::BarTable& df, const std::string& code);

}  // namespace indicators
