// The two-halves 128-bit integer must give the built-in type's values, since
// 32-bit builds draw lines and polygons with it and must paint the same pixels.
#include "platform/int128.h"

#include <gtest/gtest.h>

#include <random>

namespace planora {
namespace {

#if defined(__SIZEOF_INT128__)
__extension__ typedef __int128 Native;

// Compares the high and low halves, so a wrong carry anywhere shows.
void ExpectSame(TInt128 mine, Native native, const char* what) {
  const TInt128 high = mine / (TInt128(1) * TInt128(std::int64_t{1} << 32) * TInt128(std::int64_t{1} << 32));
  const Native nativeHigh = native / (Native{1} << 64);
  EXPECT_EQ(static_cast<std::int64_t>(mine), static_cast<std::int64_t>(native)) << what;
  EXPECT_EQ(static_cast<std::int64_t>(high), static_cast<std::int64_t>(nativeHigh)) << what;
}

TEST(Int128, ArithmeticMatchesTheBuiltInType) {
  std::mt19937_64 random(20261208);
  // Coordinates as the canvas sees them: up to 2^40 either way, so that the
  // products of two of them and their sums need more than 64 bits.
  std::uniform_int_distribution<std::int64_t> coordinate(-(std::int64_t{1} << 40), std::int64_t{1} << 40);
  std::uniform_int_distribution<std::int64_t> divisor(1, std::int64_t{1} << 42);
  std::uniform_int_distribution<std::int64_t> small(-3, 3);
  for (int k = 0; k < 20000; ++k) {
    const std::int64_t a = k % 7 == 0 ? small(random) : coordinate(random);
    const std::int64_t b = coordinate(random), c = coordinate(random), d = coordinate(random);
    const std::int64_t den = k % 5 == 0 ? small(random) * 2 + 7 : divisor(random);

    const TInt128 num = TInt128(2) * a * b + TInt128(c) * d - TInt128(k);
    const Native nativeNum = Native{2} * a * b + Native{c} * d - Native{k};
    ExpectSame(num, nativeNum, "sum of products");
    ExpectSame(num / den, nativeNum / den, "quotient");
    ExpectSame(num % den, nativeNum % den, "remainder");
    ExpectSame(num / -den, nativeNum / -den, "quotient by a negative divisor");
    ExpectSame(-num, -nativeNum, "negation");
    EXPECT_EQ(num < TInt128(0), nativeNum < 0);
    EXPECT_EQ(num >= TInt128(den), nativeNum >= den);
  }
}

TEST(Int128, WrapsAtTheTopAsTheBuiltInTypeDoes) {
  const std::int64_t big = INT64_MAX;
  const TInt128 square = TInt128(big) * big * big;  // beyond 128 bits: wraps
  // Unsigned, where wrapping is defined; the bits are those of the signed product.
  __extension__ typedef unsigned __int128 NativeUnsigned;
  const Native nativeSquare = static_cast<Native>(NativeUnsigned(big) * NativeUnsigned(big) * NativeUnsigned(big));
  ExpectSame(square, nativeSquare, "wrapped product");
  ExpectSame(TInt128(INT64_MIN) * INT64_MIN, Native{INT64_MIN} * INT64_MIN, "product of the smallest values");
  ExpectSame(TInt128(INT64_MIN) * INT64_MIN * -1, -(Native{INT64_MIN} * INT64_MIN), "and its negation");
}
#endif

TEST(Int128, ExactWhereDoublesAreNot) {
  // (2^53 + 1) * 3 / 3: a double loses the 1, the integer keeps it.
  const std::int64_t odd = (std::int64_t{1} << 53) + 1;
  EXPECT_EQ(static_cast<std::int64_t>(TInt128(odd) * 3 / 3), odd);
  EXPECT_EQ(static_cast<std::int64_t>(TInt128(-7) / 2), -3);
  EXPECT_EQ(static_cast<std::int64_t>(TInt128(-7) % 2), -1);
  const TInt128 product = TInt128(std::int64_t{1} << 62) * 8;  // 2^65
  EXPECT_GT(product, TInt128(INT64_MAX));
  EXPECT_EQ(static_cast<std::int64_t>(product / (std::int64_t{1} << 60)), 32);
}

}  // namespace
}  // namespace planora
