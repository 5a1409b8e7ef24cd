#include "zorvane/utils/text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace zu = zorvane::utils;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(FloatText, ShortestRoundTripForms) {
  struct Case {
    double value;
    const char* text;
  };
  for (auto [value, text] : {
           Case{0.0, "0.0"},
           Case{-0.0, "-0.0"},
           Case{2.5, "2.5"},
           Case{-2.5, "-2.5"},
           Case{0.1, "0.1"},
           Case{0.1 + 0.2, "0.30000000000000004"},
           Case{123456789.0, "123456789.0"},
           Case{12345.678, "12345.678"},
           Case{0.0001, "0.0001"},  // last fixed form below 1
           Case{1e-05, "1e-05"},    // first exponent form
           Case{1.5e-07, "1.5e-07"},
           Case{1e15, "1000000000000000.0"},
           Case{9999999999999998.0, "9999999999999998.0"},
           Case{1e16, "1e+16"},
           Case{1e16 + 2, "1.0000000000000002e+16"},
           Case{1.23e100, "1.23e+100"},
           Case{5e-324, "5e-324"},
           Case{1.7976931348623157e308, "1.7976931348623157e+308"},
           Case{kNaN, "nan"},
           Case{kInf, "inf"},
           Case{-kInf, "-inf"},
       }) {
    EXPECT_EQ(zu::float_text(value), text);
  }
}

TEST(FloatText, ReadsBackToTheSameDouble) {
  for (double v : {0.1, 1.0 / 3.0, 2.0 / 3.0 * 1e-7, 6.02214076e23, 1e-300, 97.36000000000001}) {
    std::string t = zu::float_text(v);
    EXPECT_EQ(std::strtod(t.c_str(), nullptr), v) << t;
  }
}

// Rounding works on the exact binary value, ties to even.
TEST(RoundTo, ExactBinaryValueTiesToEven) {
  struct Case {
    double value;
    int ndigits;
    double expected;
  };
  for (auto [value, ndigits, expected] : {
           Case{2.675, 2, 2.67},  // stored just below 2.675
           Case{0.125, 2, 0.12},  // exact tie -> even
           Case{0.375, 2, 0.38},  // exact tie -> even (upwards)
           Case{2.5, 0, 2.0},
           Case{3.5, 0, 4.0},
           Case{-2.5, 0, -2.0},
           Case{0.0625, 3, 0.062},
           Case{1.0005, 3, 1.0},  // stored below the half
           Case{1234.5, -1, 1230.0},
           Case{15.0, -1, 20.0},
           Case{25.0, -1, 20.0},
           Case{1.23456, 4, 1.2346},
           Case{-1.23456, 4, -1.2346},
       }) {
    EXPECT_EQ(zu::round_to(value, ndigits), expected) << value << " to " << ndigits;
  }
  EXPECT_TRUE(std::isnan(zu::round_to(kNaN, 2)));
  EXPECT_EQ(zu::round_to(kInf, 2), kInf);
  EXPECT_EQ(zu::round_to(-kInf, 0), -kInf);
}

TEST(FixedText, PrintfFixedPointOfTheExactValue) {
  EXPECT_EQ(zu::fixed_text(2.675, 2), "2.67");
  EXPECT_EQ(zu::fixed_text(0.125, 2), "0.12");
  EXPECT_EQ(zu::fixed_text(1.005, 2), "1.00");
  EXPECT_EQ(zu::fixed_text(3, 2), "3.00");
  EXPECT_EQ(zu::fixed_text(2.5, 0), "2");
  EXPECT_EQ(zu::fixed_text(-0.0001, 2), "-0.00");
  EXPECT_EQ(zu::fixed_text(1e20, 1), "100000000000000000000.0");
  EXPECT_EQ(zu::fixed_text(kNaN, 2), "nan");
  EXPECT_EQ(zu::fixed_text(-kInf, 2), "-inf");
}

TEST(QuotedText, ReprStyleQuoting) {
  struct Case {
    const char* text;
    const char* quoted;
  };
  for (auto [text, quoted] : {
           Case{"", "''"}, Case{"观望等待", "'观望等待'"},
           Case{"it's", "\"it's\""},            // single quote only -> double quotes
           Case{"say \"hi\"", "'say \"hi\"'"},  // double quote only -> single quotes
           Case{"a'b\"c", "'a\\'b\"c'"},        // both -> single quotes, escaped
           Case{"back\\slash", "'back\\\\slash'"}, Case{"l1\nl2\tx\r", "'l1\\nl2\\tx\\r'"},
           Case{"\x01\x1f\x7f", "'\\x01\\x1f\\x7f'"},
           Case{"\xc2\xa0", "'\\xa0'"},                     // NO-BREAK SPACE (Zs)
           Case{"\xe2\x80\xa8", "'\\u2028'"},               // LINE SEPARATOR (Zl)
           Case{"\xe2\x80\x8b", "'\\u200b'"},               // ZERO WIDTH SPACE (Cf)
           Case{"\xe3\x80\x80", "'\\u3000'"},               // IDEOGRAPHIC SPACE (Zs)
           Case{"\xee\x80\x80", "'\\ue000'"},               // private use (Co)
           Case{"\xf0\x9f\x98\x80", "'\xf0\x9f\x98\x80'"},  // emoji: printable, kept
           Case{"\xf3\xa0\x80\x81", "'\\U000e0001'"},       // LANGUAGE TAG (Cf)
           Case{"ok\xff", "'ok\\xff'"},                     // ill-formed byte
       }) {
    EXPECT_EQ(zu::quoted_text(text), quoted) << text;
  }
}

TEST(TextHelpers, FlagsTrimCaseCountReplace) {
  EXPECT_EQ(zu::bool_text(true), "True");
  EXPECT_EQ(zu::bool_text(false), "False");

  EXPECT_TRUE(zu::is_printable(U' '));
  EXPECT_TRUE(zu::is_printable(U'观'));
  EXPECT_FALSE(zu::is_printable(U'\n'));
  EXPECT_FALSE(zu::is_printable(U'\u3000'));

  EXPECT_EQ(zu::trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(zu::trim(" \t\n"), "");
  EXPECT_EQ(zu::trim(""), "");

  EXPECT_EQ(zu::to_upper("sh.600519 观"), "SH.600519 观");
  EXPECT_EQ(zu::to_lower("ETF Abc"), "etf abc");

  EXPECT_EQ(zu::char_count("观望ab"), 4u);
  EXPECT_EQ(zu::char_count(""), 0u);

  EXPECT_EQ(zu::replace_all("aaa", "a", "aa"), "aaaaaa");  // replacement is not rescanned
  EXPECT_EQ(zu::replace_all("a-b-c", "-", ""), "abc");
  EXPECT_EQ(zu::replace_all("abc", "", "x"), "abc");
}

}  // namespace
