// The photo readers on any bytes: every failure must be an EInOutError,
// and a photo that reads must survive being written and read again, in a
// lossless format exactly (pixels, EXIF and ICC as kept).
#include <cstdint>
#include <cstdlib>

#include "apps/imageio/imageio.h"
#include "fuzz/fuzz_support.h"
#include "platform/sysutils.h"

using namespace planora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::PutFile("input", data, size);
  // Small pictures only: the fuzzer is after the parsing, and a big one
  // would only make each run slow.
  TReadLimits limits;
  limits.MaxPixels = 4'000'000;
  TPhoto photo;
  try {
    photo = ReadPhoto(path, limits);
  } catch (const EInOutError&) {
    return 0;
  }
  if (photo.Width <= 0 || photo.Height <= 0 ||
      photo.Pixels.size() != static_cast<std::size_t>(photo.Width) * static_cast<std::size_t>(photo.Height) * 3)
    std::abort();
  for (const char* name : {"again.png", "again.bmp", "again.ppm", "again.tif"}) {
    const std::string out = fuzz::Folder() + "/" + name;
    WritePhoto(out, photo);
    const TPhoto again = ReadPhoto(out, limits);
    if (again.Width != photo.Width || again.Height != photo.Height || again.Pixels != photo.Pixels) std::abort();
  }
  // JPEG is lossy: it must read back at the same size.
  const std::string jpeg = fuzz::Folder() + "/again.jpg";
  WritePhoto(jpeg, photo);
  const TPhoto again = ReadPhoto(jpeg, limits);
  if (again.Width != photo.Width || again.Height != photo.Height) std::abort();
  return 0;
}
