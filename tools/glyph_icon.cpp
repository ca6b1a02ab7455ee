// Draws the application icon from the plug-in's glyph: the 19 x 19 palette
// bitmap enlarged, pixel for pixel, to SIZE x SIZE and written as PNG.
//
//   planora-glyph-icon OUTPUT.png [SIZE]     (default 64)
#include <cstdlib>
#include <iostream>
#include <string>

#include "apps/imageio/imageio.h"
#include "plugin/plugin.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: planora-glyph-icon OUTPUT.png [SIZE]\n";
    return 2;
  }
  const int size = argc == 3 ? std::atoi(argv[2]) : 64;
  if (size < 16 || size > 1024) {
    std::cerr << "planora-glyph-icon: SIZE must be 16..1024\n";
    return 2;
  }
  TPluginBitmap* glyph = planora::NewPluginGlyph();
  if (glyph == nullptr) return 1;
  planora::TPhoto icon;
  icon.Width = icon.Height = size;
  icon.Pixels.resize(static_cast<std::size_t>(size) * size * 3);
  for (int y = 0; y < size; ++y) {
    const std::uint8_t* row = glyph->Bits + (y * glyph->Height / size) * glyph->BytesPerRow;
    for (int x = 0; x < size; ++x) {
      const TPluginPaletteEntry& c = glyph->Palette[row[x * glyph->Width / size]];
      std::uint8_t* out = &icon.Pixels[(static_cast<std::size_t>(y) * size + x) * 3];
      out[0] = c.Blue;
      out[1] = c.Green;
      out[2] = c.Red;
    }
  }
  std::free(glyph);
  try {
    planora::WritePhoto(argv[1], icon);
  } catch (const std::exception& e) {
    std::cerr << "planora-glyph-icon: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
