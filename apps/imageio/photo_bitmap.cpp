#include "apps/imageio/photo_bitmap.h"

#include <cstring>

namespace planora {

std::unique_ptr<TBitmap> PhotoBitmap(const TPhoto& photo) {
  auto bitmap = std::make_unique<TBitmap>(photo.Width, photo.Height);
  const std::size_t rowBytes = static_cast<std::size_t>(photo.Width) * 3;
  for (int y = 0; y < photo.Height; ++y)
    std::memcpy(bitmap->ScanLine(y), photo.Pixels.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
  return bitmap;
}

void SetPhotoPixels(TPhoto& photo, const TBitmap& bitmap) {
  photo.Width = bitmap.Width();
  photo.Height = bitmap.Height();
  const std::size_t rowBytes = static_cast<std::size_t>(photo.Width) * 3;
  photo.Pixels.resize(rowBytes * static_cast<std::size_t>(photo.Height));
  for (int y = 0; y < photo.Height; ++y)
    std::memcpy(photo.Pixels.data() + static_cast<std::size_t>(y) * rowBytes, bitmap.ScanLine(y), rowBytes);
}

}  // namespace planora
