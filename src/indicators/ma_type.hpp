#pragma once
// Moving-average type codes, numbered as TA-Lib numbers them so that codes stored or printed
// elsewhere keep their meaning. Only the code is used here; no TA-Lib computation is made.

namespace indicators {

enum class MA_Type : int {
  SMA = 0,
  EMA = 1,
  WMA = 2,
  DEMA = 3,
  TEMA = 4,
  TRIMA = 5,
  KAMA = 6,
  MAMA = 7,
  T3 = 8,
};

// The decimal code of a type ("1" for EMA), as records print it.
inline int ma_type_code(MA_Type type) {
  return static_cast<int>(type);
}

}  // namespace indicators
