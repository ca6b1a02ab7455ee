// Signed 128-bit integers for the exact line and polygon arithmetic of the
// canvas, whose products of two 64-bit coordinates overflow 64 bits.
//
// Where the compiler has a 128-bit integer it is used as it is; elsewhere
// (32-bit targets) TInt128 gives the same values with two 64-bit halves.
// Only what the canvas needs is there: sums, differences and products
// (modulo 2^128, as the built-in type wraps), quotients and remainders
// truncated toward zero, comparisons, and narrowing to 64 bits.
#pragma once

#include <compare>
#include <cstdint>

namespace planora {

class TInt128 {
 public:
  constexpr TInt128() = default;
  constexpr TInt128(std::int64_t v)  // NOLINT: widening, as for built-in integers
      : hi_(v < 0 ? ~std::uint64_t{0} : 0), lo_(static_cast<std::uint64_t>(v)) {}

  constexpr explicit operator std::int64_t() const { return static_cast<std::int64_t>(lo_); }

  friend constexpr TInt128 operator+(TInt128 a, TInt128 b) {
    TInt128 r;
    r.lo_ = a.lo_ + b.lo_;
    r.hi_ = a.hi_ + b.hi_ + (r.lo_ < a.lo_ ? 1 : 0);
    return r;
  }
  friend constexpr TInt128 operator-(TInt128 a) { return TInt128(~a.hi_, ~a.lo_) + TInt128(1); }
  friend constexpr TInt128 operator-(TInt128 a, TInt128 b) { return a + -b; }

  friend constexpr TInt128 operator*(TInt128 a, TInt128 b) {
    // The low 128 bits of the product are the same for signed and unsigned
    // operands, so the halves are multiplied as unsigned numbers.
    std::uint64_t carryHi = 0;
    const std::uint64_t lo = MulFull(a.lo_, b.lo_, carryHi);
    return TInt128(carryHi + a.hi_ * b.lo_ + a.lo_ * b.hi_, lo);
  }

  // Truncated toward zero, as the built-in division; the divisor is not zero.
  friend constexpr TInt128 operator/(TInt128 a, TInt128 b) {
    TInt128 q, r;
    DivMod(a, b, q, r);
    return q;
  }
  // Has the sign of the dividend, as the built-in remainder.
  friend constexpr TInt128 operator%(TInt128 a, TInt128 b) {
    TInt128 q, r;
    DivMod(a, b, q, r);
    return r;
  }

  friend constexpr bool operator==(TInt128 a, TInt128 b) = default;
  friend constexpr std::strong_ordering operator<=>(TInt128 a, TInt128 b) {
    const auto ah = static_cast<std::int64_t>(a.hi_), bh = static_cast<std::int64_t>(b.hi_);
    if (ah != bh) return ah <=> bh;
    return a.lo_ <=> b.lo_;
  }

  constexpr bool Negative() const { return static_cast<std::int64_t>(hi_) < 0; }

 private:
  constexpr TInt128(std::uint64_t hi, std::uint64_t lo) : hi_(hi), lo_(lo) {}

  // a * b as 128 bits: the low half returned, the high half in hi.
  static constexpr std::uint64_t MulFull(std::uint64_t a, std::uint64_t b, std::uint64_t& hi) {
    const std::uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    hi = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
    return (middle << 32) | (p00 & 0xFFFFFFFFu);
  }

  // Magnitudes divided bit by bit: the canvas divides once per line or edge,
  // never per pixel, so simplicity wins over speed here.
  static constexpr void DivMod(TInt128 a, TInt128 b, TInt128& q, TInt128& r) {
    const bool negA = a.Negative(), negB = b.Negative();
    const TInt128 n = negA ? -a : a, d = negB ? -b : b;
    TInt128 quotient, rest;
    for (int bit = 127; bit >= 0; --bit) {
      rest = TInt128((rest.hi_ << 1) | (rest.lo_ >> 63), rest.lo_ << 1);
      const std::uint64_t next = bit >= 64 ? (n.hi_ >> (bit - 64)) & 1u : (n.lo_ >> bit) & 1u;
      rest.lo_ |= next;
      if (!LessUnsigned(rest, d)) {
        rest = rest - d;
        if (bit >= 64) quotient.hi_ |= std::uint64_t{1} << (bit - 64);
        else quotient.lo_ |= std::uint64_t{1} << bit;
      }
    }
    q = negA != negB ? -quotient : quotient;
    r = negA ? -rest : rest;
  }
  static constexpr bool LessUnsigned(TInt128 a, TInt128 b) {
    return a.hi_ != b.hi_ ? a.hi_ < b.hi_ : a.lo_ < b.lo_;
  }

  std::uint64_t hi_ = 0;
  std::uint64_t lo_ = 0;
};

#if defined(__SIZEOF_INT128__)
__extension__ typedef __int128 Int128;
#else
using Int128 = TInt128;
#endif

}  // namespace planora
