// A photo's pixels as the 24-bit bitmap the engine, the detector and a
// host's window work on, and back: row by row, the same bytes, so that a
// photo straightened from a file and one handed over by a host give the
// same result.
#pragma once

#include <memory>

#include "apps/imageio/imageio.h"
#include "platform/graphics.h"

namespace planora {

std::unique_ptr<TBitmap> PhotoBitmap(const TPhoto& photo);

// The photo takes the bitmap's size and pixels; its metadata (EXIF, ICC)
// stays as it was.
void SetPhotoPixels(TPhoto& photo, const TBitmap& bitmap);

}  // namespace planora
