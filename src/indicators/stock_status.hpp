#pragma once
// Indicator status records: the technical state of one stock at its last bar.
//
// Records are plain structs with public fields; constructors only store their arguments.
// Each record has a contractual text form (`to_string` and `operator<<`), e.g.
//
//   MStatus{}                      -> "DIF: 0, DEA:0, MACD_hist: 0"
//   RStatus{55.12345}              -> "rsi: 55.123"
//   VolumeStatus{..., 1.4, ...}    -> "... Volume_Ratio: 1, ..."
//   StockStatus{"sh.688028"}       -> "StockStatus(code=sh.688028, name=, price=0,
//   macd_status=None, ...)"
//
// Printing rules: values shown "to 3 decimals" are rounded (ties to even on the exact binary
// value) and printed in the shortest form that reads back (2.5, 3.0); the volume ratio and the
// volatility are rounded to whole numbers (1.6 -> 2, 2.5 -> 2). A not-a-number value prints
// "nan" (also where a whole number is expected, so a young stock's status can always be
// printed), infinities "inf" / "-inf".

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "indicators/ma_type.hpp"

namespace indicators {

enum class TrendEnum : int { UP = 0, DOWN = 1, EQUAL = 2 };
enum class TradeEnum : int { BUY = 0, SELL = 1, WATCH = 2 };

// Member names ("UP", "WATCH").
std::string to_string(TrendEnum value);
std::string to_string(TradeEnum value);
std::ostream& operator<<(std::ostream& os, TrendEnum value);
std::ostream& operator<<(std::ostream& os, TradeEnum value);

// A number that remembers whether it was given as an integer. Defaults such as MStatus's 0
// print as "0", while values read from a bar table (doubles) print as "0.0". Converts to
// double implicitly for arithmetic.
struct Numeric {
  double value = 0.0;
  bool integral = false;

  constexpr Numeric() : value(0.0), integral(true) {}
  template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) constexpr Numeric(T v)
      : value(static_cast<double>(v)), integral(true) {}
  template <class T>
  requires std::is_floating_point_v<T>
  constexpr Numeric(T v) : value(static_cast<double>(v)), integral(false) {}

  constexpr operator double() const { return value; }
};

// Shortest text of the value as given: "0" for an integer 0, "2.5", "3.0", "nan".
std::string numeric_text(Numeric x);
// Rounded to 3 decimals, then as numeric_text ("2.5", "3.0", "0", "nan").
std::string r3_text(Numeric x);
// Rounded to a whole number (ties to even) and printed as an integer ("2"); "nan" when the
// value is not a number.
std::string r0_text(Numeric x);

struct MAStatus {
  MA_Type ma_type = MA_Type::EMA;

  MAStatus() = default;
  explicit MAStatus(MA_Type type) : ma_type(type) {}
};

struct MStatus {
  Numeric dif = 0;
  Numeric dea = 0;
  Numeric macd_hist = 0;

  MStatus() = default;
  explicit MStatus(Numeric dif_, Numeric dea_ = 0, Numeric macd_hist_ = 0)
      : dif(dif_), dea(dea_), macd_hist(macd_hist_) {}
};

struct RStatus {
  Numeric rsi;

  explicit RStatus(Numeric rsi_) : rsi(rsi_) {}
};

struct BollingerBandsStatus {
  Numeric upper_band;
  Numeric middle_band;
  Numeric lower_band;

  BollingerBandsStatus(Numeric upper, Numeric middle, Numeric lower)
      : upper_band(upper), middle_band(middle), lower_band(lower) {}
};

struct VolumeStatus {
  Numeric volume;
  Numeric volume_ma;
  Numeric volume_ratio;
  Numeric atr;
  Numeric volatility;
  // Free slots for callers' annotations; each record owns its own list.
  std::vector<std::string> msg;
  int score = 0;

  VolumeStatus(Numeric volume_, Numeric volume_ma_, Numeric volume_ratio_, Numeric atr_,
               Numeric volatility_)
      : volume(volume_),
        volume_ma(volume_ma_),
        volume_ratio(volume_ratio_),
        atr(atr_),
        volatility(volatility_) {}
};

struct StockStatus {
  std::string code;
  std::string name;
  Numeric price = 0;
  std::optional<MStatus> macd_status;
  std::optional<RStatus> rsi_status;
  std::optional<BollingerBandsStatus> boll_status;
  std::optional<VolumeStatus> volume_status;
  std::optional<MAStatus> ma_status;

  StockStatus() = default;
  explicit StockStatus(std::string code_) : code(std::move(code_)) {}
  // A null pointer is not a code: throws std::invalid_argument.
  explicit StockStatus(const char* code_);
  // The code must be text: numbers and null are rejected at compile time.
  template <class T>
  requires(std::is_arithmetic_v<T>) explicit StockStatus(T) = delete;
  explicit StockStatus(std::nullptr_t) = delete;
};

// Contractual text forms.
std::string to_string(const MAStatus& s);  // "MAStatus(ma_type=1)"
std::string to_string(const MStatus& s);   // "DIF: x, DEA:y, MACD_hist: z"
std::string to_string(const RStatus& s);   // "rsi: x"
std::string to_string(const BollingerBandsStatus& s);
std::string to_string(const VolumeStatus& s);
std::string to_string(const StockStatus& s);

std::ostream& operator<<(std::ostream& os, const MAStatus& s);
std::ostream& operator<<(std::ostream& os, const MStatus& s);
std::ostream& operator<<(std::ostream& os, const RStatus& s);
std::ostream& operator<<(std::ostream& os, const BollingerBandsStatus& s);
std::ostream& operator<<(std::ostream& os, const VolumeStatus& s);
std::ostream& operator<<(std::ostream& os, const StockStatus& s);

}  // namespace indicators
