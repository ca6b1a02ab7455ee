#include "engine/fingerprint.h"

namespace planora {

std::int32_t Fingerprint(const TBitmap& Bitmap) {
  const std::int32_t w = Bitmap.Width();
  const std::int32_t h = Bitmap.Height();
  // Unsigned arithmetic wraps where the signed product would overflow.
  std::uint32_t f = static_cast<std::uint32_t>(w) * static_cast<std::uint32_t>(h);
  if (w < 1 || h < 1) return static_cast<std::int32_t>(f);
  auto p = [&](std::int64_t x, std::int64_t y) {
    return static_cast<std::uint32_t>(Bitmap.Pixel(static_cast<int>(x), static_cast<int>(y)));
  };
  for (std::int64_t i = 0; i <= 9; ++i) {
    // In 64 bits: w * 9 must not wrap before the division.
    const std::int64_t xi = static_cast<std::int64_t>(w) * i / 10;
    const std::int64_t yi = static_cast<std::int64_t>(h) * i / 10;
    f ^= p(xi, yi);
    if (i > 0) {
      f ^= p(0, yi);
      f ^= p(xi, 0);
    }
  }
  return static_cast<std::int32_t>(f);
}

}  // namespace planora
