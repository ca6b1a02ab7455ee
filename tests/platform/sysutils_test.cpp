#include "platform/sysutils.h"

#include <gtest/gtest.h>
#include <cmath>
#include <vector>
#include <random>

#include <cfenv>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <limits>
#include <string>

namespace planora {
namespace {

// Number texts depend on the separator; every test states the one it expects.
struct SeparatorGuard {
  explicit SeparatorGuard(char separator) { SetDecimalSeparator(separator); }
  ~SeparatorGuard() { ResetDecimalSeparator(); }
};

TEST(Round, TiesGoToEvenAndResultsMustFit32Bits) {
  const long double ties[][2] = {{0.5L, 0}, {1.5L, 2}, {2.5L, 2}, {-0.5L, 0}, {-1.5L, -2}, {-2.5L, -2},
                                 {0.49999999999999994L, 0}, {2147483647.4L, INT32_MAX}, {-2147483648.5L, INT32_MIN}};
  for (const auto& [value, expected] : ties) EXPECT_EQ(Round(value), expected) << static_cast<double>(value);
  EXPECT_THROW(Round(2147483647.5L), ERangeError);
  EXPECT_THROW(Round(4294967296.0L), ERangeError);
  EXPECT_THROW(Round(std::numeric_limits<long double>::quiet_NaN()), ERangeError);
  // A rounding mode left behind by other code must not leak into the result.
  std::fesetround(FE_UPWARD);
  const int upward = Round(2.5L);
  std::fesetround(FE_TONEAREST);
  EXPECT_EQ(upward, 2);

  EXPECT_EQ(Trunc(2147483647.9L), INT32_MAX);
  EXPECT_EQ(Floor(-2.2L), -3);
  EXPECT_THROW(Floor(-2147483648.5L), ERangeError);

  EXPECT_THROW(CheckedSub(INT32_MIN, 1), EIntOverflow);
  EXPECT_EQ(CheckedMul(-65536, 32768), INT32_MIN);
  EXPECT_THROW(Divide(1.0, -0.0), EZeroDivide);
}

// The kernels' rounding where the C library has no roundeven (Windows):
// the same as the processor's own round-to-nearest-even for every kind of double.
TEST(Round, HalfEvenWithoutTheLibrarysRoundeven) {
  std::vector<double> values = {0.5, 1.5, 2.5, -0.5, -1.5, -2.5, 0.49999999999999994, 4503599627370495.5,
                                4503599627370497.0, -0.0, 1e300, -1e-300, 255.5, 254.5};
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> wide(-5000.0, 5000.0);
  for (int i = 0; i < 20000; ++i) {
    const double v = wide(random);
    values.push_back(v);
    values.push_back(std::floor(v) + 0.5);  // a tie
    values.push_back(std::nextafter(std::floor(v) + 0.5, 0.0));
  }
  for (double v : values) {
    const double expected = std::nearbyint(v);
    EXPECT_EQ(RoundHalfEvenPortable(v), expected) << std::hexfloat << v;
    EXPECT_EQ(std::signbit(RoundHalfEvenPortable(v)), std::signbit(expected)) << v;
    EXPECT_EQ(RoundHalfEven(v), expected) << v;
  }
  EXPECT_TRUE(std::isnan(RoundHalfEvenPortable(std::nan(""))));
  EXPECT_EQ(RoundHalfEvenPortable(-INFINITY), -INFINITY);
}

#ifndef _WIN32
TEST(SysDecimalSeparator, OverrideThenLocaleWithoutTouchingTheGlobalLocale) {
  const std::string globalBefore = std::setlocale(LC_NUMERIC, nullptr);
  const char* old = std::getenv("LC_ALL");
  const std::string saved = old != nullptr ? old : "";
  SetDecimalSeparator(',');
  EXPECT_EQ(DecimalSeparator(), ',');
  for (const char* locale : {"C", "xx_NOT_A_LOCALE"}) {  // an unknown locale falls back to '.'
    setenv("LC_ALL", locale, 1);
    ResetDecimalSeparator();
    EXPECT_EQ(DecimalSeparator(), '.') << locale;
  }
  old != nullptr ? setenv("LC_ALL", saved.c_str(), 1) : unsetenv("LC_ALL");
  ResetDecimalSeparator();
  EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), globalBefore);
}
#endif

TEST(NumberText, GeneralAndFixedFormats) {
  SeparatorGuard dot('.');
  const std::pair<double, const char*> general[] = {
      {0.0, "0"}, {-0.0, "0"}, {5e-13, "5E-13"}, {0.1, "0.1"}, {-1234.5, "-1234.5"}, {2.0 / 3.0, "0.666666666666667"},
      {123456789012345.0, "123456789012345"}, {1e15, "1E15"},
      {999999999999999.9, "1E15"},  // rounding adds a 16th integer digit
      {1.5e20, "1.5E20"}, {0.00001, "0.00001"}, {0.000001, "1E-6"}, {-2.5e-7, "-2.5E-7"},
      {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"}};
  for (const auto& [value, text] : general) EXPECT_EQ(FloatToStr(value), text);
  // Half away from zero on the exact binary value: 0.125 is a true tie,
  // 2.675 lies just below its tie.
  EXPECT_EQ(FloatToStrGeneral(-0.125, 2), "-0.13");
  EXPECT_EQ(FloatToStrGeneral(2.675, 3), "2.67");

  EXPECT_EQ(FloatToStrFixed(0.69994, 5, 3), "0.700");
  EXPECT_EQ(FloatToStrFixed(1234.5678, 5, 3), "1234.600");  // the precision is the tighter limit
  EXPECT_EQ(FloatToStrFixed(1.2345, 9, 4), "1.2345");
  EXPECT_EQ(FloatToStrFixed(999.9996, 9, 3), "1000.000");
  EXPECT_EQ(FloatToStrFixed(0.0005, 5, 3), "0.001");
  EXPECT_EQ(FloatToStrFixed(-0.0001, 5, 3), "0.000");
  EXPECT_EQ(FloatToStrFixed(2.0, 9, 0), "2");
  EXPECT_EQ(FloatToStrFixed(123456.7, 5, 3), "1.2346E5");
  EXPECT_EQ(FloatToStrFixed(99999.7, 5, 3), "1E5");

  SetDecimalSeparator(',');
  EXPECT_EQ(FloatToStrFixed(0.69994, 5, 3), "0,700");
  EXPECT_EQ(FloatToStrFixed(-50.25, 9, 3), "-50,250");
  EXPECT_EQ(FloatToStr(-2.5e-7), "-2,5E-7");
}

TEST(NumberText, ParseIntegersAndFloats) {
  std::int32_t i = 0;
  const std::pair<const char*, std::int32_t> ints[] = {
      {" \t42 ", 42}, {"+7", 7}, {"-2147483648", INT32_MIN}, {"$1F", 31}, {"0x1f", 31}, {"-$10", -16}};
  for (const auto& [text, value] : ints) {
    EXPECT_TRUE(TryStrToInt(text, i)) << text;
    EXPECT_EQ(i, value);
  }
  for (const char* bad : {"", "-", "2147483648", "99999999999999999999", "$80000000", "$", "0x", "12a", "1 2", "1.0"}) {
    EXPECT_FALSE(TryStrToInt(bad, i)) << bad;
  }
  EXPECT_THROW(StrToInt("x"), EConvertError);
  EXPECT_EQ(StrToIntDef("x", 5), 5);

  double v = 0;
  const std::pair<const char*, double> floats[] = {{"1,5", 1.5}, {"1.25", 1.25},  // '.' is always taken
                                                   {" -2.5e-3\t", -0.0025}, {"+1E+5", 1e5}, {".5", 0.5},
                                                   {"1e-400", 0.0}};  // too small is zero, not an error
  for (const auto& [text, value] : floats) {
    EXPECT_TRUE(TryStrToFloat(text, v, ',')) << text;
    EXPECT_EQ(v, value);
  }
  v = 7;
  for (const char* bad : {"", " ", "1,5", "1e", "e5", "-", ".", "nan", "inf", "1e400", "1.2.3", "1 5", "0x10"}) {
    EXPECT_FALSE(TryStrToFloat(bad, v, '.')) << bad;
  }
  EXPECT_EQ(v, 7);  // failures leave the target alone
}

}  // namespace
}  // namespace planora
