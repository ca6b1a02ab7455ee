// One channel of the bilinear blend, the one definition that the surface's
// per-pixel access and the resampling kernels share: their bytes must agree.
#pragma once

#include <cstdint>

#include "platform/sysutils.h"

namespace planora {

// The partial sums are rounded to double one by one, in the order of the
// four neighbours, so that the result does not depend on how a compiler
// might regroup them; the sum is rounded to nearest, ties to even, and
// capped at 255 (the weights sum to one within rounding).
inline std::uint8_t BlendChannel(int c1, int c2, int c3, int c4, double w1, double w2, double w3, double w4) {
  double s = 0;
  s = s + c1 * w1;
  s = s + c2 * w2;
  s = s + c3 * w3;
  s = s + c4 * w4;
  const double v = RoundHalfEven(s);
  return static_cast<std::uint8_t>(v > 255.0 ? 255.0 : v);
}

}  // namespace planora
