// Compares the pixels of two photos (any format imageio reads; alpha is
// composited over white on reading): exit 0 when size and every byte agree,
// 1 with the first difference on standard error, 2 when one cannot be read.
// The GIMP tests put a layer saved by GIMP beside planora-rectify's file,
// whose headers and encoders differ while the pixels must not.
//   same_pixels [--red-is-white] PHOTO REFERENCE
// --red-is-white: where REFERENCE is pure red (a pixel without a source),
// PHOTO must be white (a transparent pixel read back).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>

#include "apps/imageio/imageio.h"

int main(int argc, char** argv) {
  const bool redIsWhite = argc == 4 && std::strcmp(argv[1], "--red-is-white") == 0;
  if (argc != 3 + redIsWhite) {
    std::fprintf(stderr, "usage: %s [--red-is-white] PHOTO REFERENCE\n", argv[0]);
    return 2;
  }
  planora::TPhoto a, b;
  try {
    a = planora::ReadPhoto(argv[1 + redIsWhite]);
    b = planora::ReadPhoto(argv[2 + redIsWhite]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  if (a.Width != b.Width || a.Height != b.Height) {
    std::fprintf(stderr, "sizes differ: %d x %d and %d x %d\n", a.Width, a.Height, b.Width, b.Height);
    return 1;
  }
  std::size_t differing = 0, first = 0, red = 0;
  for (std::size_t i = 0; i < a.Pixels.size(); i += 3) {
    const std::uint8_t* p = &b.Pixels[i];
    const bool white = redIsWhite && p[0] == 0 && p[1] == 0 && p[2] == 255;
    red += white;
    for (std::size_t c = 0; c < 3; ++c) {
      const std::uint8_t expected = white ? 255 : p[c];
      if (a.Pixels[i + c] != expected && differing++ == 0) first = i + c;
    }
  }
  // A reference without red pixels would let the transparency go unchecked.
  if (redIsWhite && red == 0) {
    std::fprintf(stderr, "the reference has no pixel without a source\n");
    return 1;
  }
  if (differing != 0) {
    const std::size_t pixel = first / 3;
    std::fprintf(stderr, "%zu bytes differ; the first at pixel (%zu, %zu): %d against %d\n", differing,
                 pixel % static_cast<std::size_t>(a.Width), pixel / static_cast<std::size_t>(a.Width), a.Pixels[first],
                 b.Pixels[first]);
    return 1;
  }
  return 0;
}
