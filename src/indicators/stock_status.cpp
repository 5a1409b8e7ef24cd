#include "indicators/stock_status.hpp"

#include <cmath>
#include <sstream>
#include <stdexcept>

#include "zorvane/utils/text.hpp"

namespace indicators {

namespace zu = zorvane::utils;

std::string to_string(TrendEnum value) {
  switch (value) {
    case TrendEnum::UP:
      return "UP";
    case TrendEnum::DOWN:
      return "DOWN";
    case TrendEnum::EQUAL:
      return "EQUAL";
  }
  return std::to_string(static_cast<int>(value));
}

std::string to_string(TradeEnum value) {
  switch (value) {
    case TradeEnum::BUY:
      return "BUY";
    case TradeEnum::SELL:
      return "SELL";
    case TradeEnum::WATCH:
      return "WATCH";
  }
  return std::to_string(static_cast<int>(value));
}

std::ostream& operator<<(std::ostream& os, TrendEnum value) {
  return os << to_string(value);
}
std::ostream& operator<<(std::ostream& os, TradeEnum value) {
  return os << to_string(value);
}

std::string numeric_text(Numeric x) {
  // Integers keep their integer text ("0"); doubles use the shortest round-trip form ("0.0").
  if (x.integral) return zu::fixed_text(x.value, 0);
  return zu::float_text(x.value);
}

std::string r3_text(Numeric x) {
  if (x.integral) return numeric_text(x);
  return zu::float_text(zu::round_to(x.value, 3));
}

std::string r0_text(Numeric x) {
  // A value that cannot become an integer (NaN, infinities) prints as it is rather than
  // failing: these texts end up in logs and prompts and must never throw.
  if (!std::isfinite(x.value)) return zu::float_text(x.value);
  // "+ 0.0" turns -0.0 into 0.0, so -0.4 prints "0" like an integer would.
  return zu::fixed_text(zu::round_to(x.value, 0) + 0.0, 0);
}

StockStatus::StockStatus(const char* code_) {
  if (code_ == nullptr) throw std::invalid_argument("StockStatus: code must be text, got null");
  code = code_;
}

std::string to_string(const MAStatus& s) {
  return "MAStatus(ma_type=" + std::to_string(ma_type_code(s.ma_type)) + ")";
}

std::string to_string(const MStatus& s) {
  return "DIF: " + r3_text(s.dif) + ", DEA:" + r3_text(s.dea) +
         ", MACD_hist: " + r3_text(s.macd_hist);
}

std::string to_string(const RStatus& s) {
  return "rsi: " + r3_text(s.rsi);
}

std::string to_string(const BollingerBandsStatus& s) {
  return "Upper Band: " + r3_text(s.upper_band) + ", Middle Band: " + r3_text(s.middle_band) +
         ", Lower Band: " + r3_text(s.lower_band);
}

namespace {

std::string list_text(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    out += zu::quoted_text(items[i]);
  }
  out += "]";
  return out;
}

template <class T>
std::string optional_text(const std::optional<T>& value) {
  return value ? to_string(*value) : std::string("None");
}

}  // namespace

std::string to_string(const VolumeStatus& s) {
  return "Volume: " + r3_text(s.volume) + ", Volume_MA: " + r3_text(s.volume_ma) +
         ", Volume_Ratio: " + r0_text(s.volume_ratio) + ", ATR: " + r3_text(s.atr) +
         ", Volatility: " + r0_text(s.volatility) + ", msg: " + list_text(s.msg);
}

std::string to_string(const StockStatus& s) {
  return "StockStatus(code=" + s.code + ", name=" + s.name + ", price=" + numeric_text(s.price) +
         ", macd_status=" + optional_text(s.macd_status) +
         ", rsi_status=" + optional_text(s.rsi_status) +
         ", boll_status=" + optional_text(s.boll_status) +
         ", volume_status=" + optional_text(s.volume_status) +
         ", ma_status=" + optional_text(s.ma_status) + ")";
}

std::ostream& operator<<(std::ostream& os, const MAStatus& s) {
  return os << to_string(s);
}
std::ostream& operator<<(std::ostream& os, const MStatus& s) {
  return os << to_string(s);
}
std::ostream& operator<<(std::ostream& os, const RStatus& s) {
  return os << to_string(s);
}
std::ostream& operator<<(std::ostream& os, const BollingerBandsStatus& s) {
  return os << to_string(s);
}
std::ostream& operator<<(std::ostream& os, const VolumeStatus& s) {
  return os << to_string(s);
}
std::ostream& operator<<(std::ostream& os, const StockStatus& s) {
  return os << to_string(s);
}

}  // namespace indicators
