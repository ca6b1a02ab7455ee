// The glyph the host shows for the plug-in: a sheet seen in perspective with
// the marker's four corner handles on it.
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "platform/sysutils.h"
#include "plugin/plugin.h"

namespace planora {

namespace {

// '.' background (silver), 'k' black, 'w' white, 'r' red.
constexpr const char* GlyphArt[GlyphSize] = {
    "...................",
    "...................",
    ".....rrr...rrr.....",
    ".....rrrkkkrrr.....",
    ".....rrrwwwrrr.....",
    ".....kwwwwwwwk.....",
    ".....kwwwwwwwk.....",
    ".....kwwwwwwwk.....",
    "....kwwwwwwwwwk....",
    "....kwwwwwwwwwk....",
    "....kwwwwwwwwwk....",
    "...kwwwwwwwwwwwk...",
    "...kwwwwwwwwwwwk...",
    "...kwwwwwwwwwwwk...",
    ".rrrwwwwwwwwwwwrrr.",
    ".rrrkkkkkkkkkkkrrr.",
    ".rrr...........rrr.",
    "...................",
    "...................",
};

std::uint8_t GlyphIndex(char c) {
  switch (c) {
    case 'k': return 0;
    case 'r': return 9;
    case 'w': return 15;
    default: return 7;
  }
}

TPluginPaletteEntry Entry(int red, int green, int blue) {
  return TPluginPaletteEntry{static_cast<std::uint8_t>(blue), static_cast<std::uint8_t>(green),
                             static_cast<std::uint8_t>(red), 0};
}

}  // namespace

// The 16 classic colours, a 6 x 6 x 6 colour cube and a 24-step grey ramp:
// the usual 256-colour palette, so the glyph looks the same on any host.
TPluginPaletteEntry GlyphPaletteEntry(int Index) {
  static constexpr int Classic[16][3] = {
      {0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
      {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0}, {255, 255, 0},
      {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  static constexpr int CubeLevel[6] = {0, 95, 135, 175, 215, 255};
  if (Index < 0 || Index > 255) throw ERangeError();
  if (Index < 16) return Entry(Classic[Index][0], Classic[Index][1], Classic[Index][2]);
  if (Index < 232) {
    const int i = Index - 16;
    return Entry(CubeLevel[i / 36], CubeLevel[i / 6 % 6], CubeLevel[i % 6]);
  }
  const int grey = 8 + 10 * (Index - 232);
  return Entry(grey, grey, grey);
}

TPluginBitmap* NewPluginGlyph() {
  constexpr int bytesPerRow = (GlyphSize + 3) / 4 * 4;
  constexpr int paletteSize = 256;
  // One block, so that the host releases the whole handle with one free().
  void* block = std::calloc(1, sizeof(TPluginBitmap) + paletteSize * sizeof(TPluginPaletteEntry) +
                                   std::size_t{bytesPerRow} * GlyphSize);
  if (!block) return nullptr;
  auto* glyph = static_cast<TPluginBitmap*>(block);
  auto* palette = reinterpret_cast<TPluginPaletteEntry*>(glyph + 1);
  auto* bits = reinterpret_cast<std::uint8_t*>(palette + paletteSize);
  for (int i = 0; i < paletteSize; ++i) palette[i] = GlyphPaletteEntry(i);
  for (int y = 0; y < GlyphSize; ++y) {
    for (int x = 0; x < GlyphSize; ++x) bits[y * bytesPerRow + x] = GlyphIndex(GlyphArt[y][x]);
  }
  *glyph = TPluginBitmap{GlyphSize, GlyphSize, bytesPerRow, 8, paletteSize, 0, bits, palette};
  return glyph;
}

namespace {

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string GlyphBitmapFile() {
  const std::unique_ptr<TPluginBitmap, decltype(&std::free)> glyph(NewPluginGlyph(), &std::free);
  if (!glyph) throw std::bad_alloc();
  const std::uint32_t paletteBytes = 4u * static_cast<std::uint32_t>(glyph->PaletteSize);
  const std::uint32_t pixelBytes = static_cast<std::uint32_t>(glyph->BytesPerRow * glyph->Height);
  const std::uint32_t offset = 14 + 40 + paletteBytes;
  std::string out;
  out += "BM";
  PutLittleEndian(out, offset + pixelBytes, 4);
  PutLittleEndian(out, 0, 4);
  PutLittleEndian(out, offset, 4);
  PutLittleEndian(out, 40, 4);  // BITMAPINFOHEADER
  PutLittleEndian(out, static_cast<std::uint32_t>(glyph->Width), 4);
  PutLittleEndian(out, static_cast<std::uint32_t>(glyph->Height), 4);  // positive: bottom row first
  PutLittleEndian(out, 1, 2);
  PutLittleEndian(out, 8, 2);
  PutLittleEndian(out, 0, 4);  // uncompressed
  PutLittleEndian(out, pixelBytes, 4);
  PutLittleEndian(out, 2835, 4);  // 72 dots per inch, as pixels per metre
  PutLittleEndian(out, 2835, 4);
  PutLittleEndian(out, static_cast<std::uint32_t>(glyph->PaletteSize), 4);
  PutLittleEndian(out, 0, 4);
  for (int i = 0; i < glyph->PaletteSize; ++i) {
    const TPluginPaletteEntry& c = glyph->Palette[i];
    out += static_cast<char>(c.Blue);
    out += static_cast<char>(c.Green);
    out += static_cast<char>(c.Red);
    out += '\0';
  }
  for (int y = glyph->Height - 1; y >= 0; --y)
    out.append(reinterpret_cast<const char*>(glyph->Bits) + y * glyph->BytesPerRow,
               static_cast<std::size_t>(glyph->BytesPerRow));
  return out;
}

}  // namespace planora
