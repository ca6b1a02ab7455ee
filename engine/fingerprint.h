// The picture fingerprint that decides whether the last marker of a
// settings file belongs to the picture at hand. It is cheap on purpose:
// the size and 28 pixels (the first, nine on the diagonal, nine in the left
// column and nine in the top row), so that it costs nothing even for a
// large picture; it tells pictures apart, it does not prove them equal.
#pragma once

#include <cstdint>

#include "platform/graphics.h"

namespace planora {

// w x h and the pixels combined with exclusive or, in 32-bit arithmetic
// that wraps. Pixels as colours: red in the low byte, the top byte zero.
std::int32_t Fingerprint(const TBitmap& Bitmap);

}  // namespace planora
