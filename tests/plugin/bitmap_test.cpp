// Bitmaps across the library boundary: conversions both ways with padded
// rows and the depths accepted, and the glyph handles.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin/plgint.h"
#include "plugin/plugin.h"

using namespace planora;

namespace {

// A boundary bitmap over storage of its own; every byte starts as 0xEE, so
// that writes into the row padding show.
struct THostBitmap {
  THostBitmap(int w, int h, int bits, int bytesPerRow) : Store(static_cast<std::size_t>(bytesPerRow) * h, 0xEE) {
    B = TPluginBitmap{w, h, bytesPerRow, bits, 0, 0, Store.data(), nullptr};
  }
  uint8_t* At(int x, int y) { return Store.data() + y * B.BytesPerRow + x * (B.BitsPerPixel / 8); }
  std::vector<uint8_t> Store;
  TPluginBitmap B;
};

}  // namespace

TEST(PluginBitmapTest, RoundTripsThroughPaddedRowsOf24And32BitsKeepEveryPixel) {
  TBitmap source(5, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) source.SetPixel(x, y, RGBColor(10 * x + 1, 20 * y + 2, x + y + 3));
  TBitmap back(1, 1);
  for (int bits : {24, 32}) {
    THostBitmap host(5, 3, bits, 24);  // 15 or 20 bytes of pixels, the rest padding
    ASSERT_TRUE(CopyToPluginBitmap(source, host.B));
    EXPECT_EQ(host.At(4, 2)[0], ColorBlue(source.Pixel(4, 2)));
    EXPECT_EQ(host.At(4, 2)[2], ColorRed(source.Pixel(4, 2)));
    if (bits == 32) {
      EXPECT_EQ(host.At(4, 2)[3], 0);
    }
    EXPECT_EQ(host.Store[2 * 24 + 23], 0xEE) << "padding written at " << bits << " bits";
    host.Store[1 * 24 + 22] = 99;  // padding, and at 32 bits the unused byte, mean nothing
    if (bits == 32) host.At(1, 1)[3] = 99;
    ASSERT_TRUE(CopyFromPluginBitmap(host.B, back));
    EXPECT_TRUE(back == source) << bits;
  }
}

TEST(PluginBitmapTest, PaletteBitmapsReadThroughThePaletteAndOutOfRangeIndexesAsBlack) {
  TPluginPaletteEntry palette[2] = {{1, 2, 3, 0}, {200, 100, 50, 0}};
  THostBitmap host(3, 1, 8, 4);
  host.B.Palette = palette;
  host.B.PaletteSize = 2;
  host.Store = {1, 0, 2, 0};
  TBitmap out;
  ASSERT_TRUE(CopyFromPluginBitmap(host.B, out));
  EXPECT_EQ(out.Pixel(0, 0), RGBColor(50, 100, 200));
  EXPECT_EQ(out.Pixel(1, 0), RGBColor(3, 2, 1));
  EXPECT_EQ(out.Pixel(2, 0), clBlack);
  EXPECT_FALSE(CopyToPluginBitmap(out, host.B));  // palette bitmaps are read, never written
}

TEST(PluginBitmapTest, DescriptionsThatDoNotHoldTogetherAreRefusedAndChangeNothing) {
  TBitmap dest(2, 2);
  dest.Fill(clYellow);
  THostBitmap ok(4, 2, 24, 12);
  for (auto spoil : {+[](TPluginBitmap& b) { b.BytesPerRow = 11; }, +[](TPluginBitmap& b) { b.Bits = nullptr; },
                     +[](TPluginBitmap& b) { b.Width = -1; }, +[](TPluginBitmap& b) { b.BitsPerPixel = 16; },
                     +[](TPluginBitmap& b) { b.BitsPerPixel = 8; }}) {  // the last one: no palette
    TPluginBitmap b = ok.B;
    spoil(b);
    EXPECT_FALSE(CopyFromPluginBitmap(b, dest));
    EXPECT_EQ(dest.Width(), 2);
    EXPECT_EQ(dest.Pixel(1, 1), clYellow);
    if (b.BitsPerPixel != 8) {
      EXPECT_FALSE(CopyToPluginBitmap(TBitmap(4, 2), b));
    }
  }
  EXPECT_FALSE(CopyToPluginBitmap(TBitmap(3, 2), ok.B));  // another size
  EXPECT_TRUE(CopyToPluginBitmap(TBitmap(4, 2), ok.B));
}

TEST(PluginGlyphTest, EveryCallGivesANewIndependentHandleOfTheSameBitmap) {
  TPluginBitmap* first = RegisterPluginGlyph();
  TPluginBitmap* second = RegisterPluginGlyph();
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second);
  for (TPluginBitmap* g : {first, second}) {
    EXPECT_EQ((std::vector<int>{g->Width, g->Height, g->BitsPerPixel, g->BytesPerRow, g->PaletteSize}),
              (std::vector<int>{19, 19, 8, 20, 256}));
  }
  EXPECT_EQ(std::memcmp(first->Bits, second->Bits, 20 * 19), 0);
  EXPECT_EQ(std::memcmp(first->Palette, second->Palette, 256 * 4), 0);
  first->Bits[0] = 200;
  first->Palette[0].Red = 1;
  EXPECT_NE(second->Bits[0], 200);
  EXPECT_EQ(second->Palette[0].Red, 0);

  TBitmap shown;
  ASSERT_TRUE(CopyFromPluginBitmap(*second, shown));
  EXPECT_EQ(shown.Pixel(0, 18), RGBColor(192, 192, 192));  // background in the corner hosts key on
  EXPECT_EQ(shown.Pixel(6, 3), clRed);                      // a corner handle
  EXPECT_EQ(shown.Pixel(9, 9), clWhite);                    // the sheet
  EXPECT_EQ(second->Palette[255].Green, 238);               // end of the grey ramp
  for (int i = 0; i < 256; ++i) EXPECT_EQ(second->Palette[i].Reserved, 0) << i;
  std::free(first);  // one block each: palette and pixels go with it
  std::free(second);
}

// The Windows DLL carries the glyph as resources/glyph.bmp: it must be this
// glyph, and a bitmap file Windows reads as 19 x 19 with 8 bits and 256 colours.
TEST(PluginGlyphTest, TheWindowsResourceIsThisGlyph) {
  std::ifstream in("resources/glyph.bmp", std::ios::binary);
  ASSERT_TRUE(in) << "resources/glyph.bmp is missing: build/tools/planora-glyph-bmp writes it";
  const std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string made = GlyphBitmapFile();
  EXPECT_EQ(stored, made) << "resources/glyph.bmp is out of date: run build/tools/planora-glyph-bmp resources/glyph.bmp";
  const auto field = [&made](std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(made[at + i]);
    return v;
  };
  ASSERT_EQ(made.size(), 14u + 40 + 1024 + 20 * 19);
  EXPECT_EQ(made.substr(0, 2), "BM");
  EXPECT_EQ(field(2, 4), made.size());
  EXPECT_EQ(field(10, 4), 14u + 40 + 1024);
  EXPECT_EQ((std::vector<std::uint32_t>{field(18, 4), field(22, 4), field(28, 2), field(46, 4)}),
            (std::vector<std::uint32_t>{19, 19, 8, 256}));
  // Bottom row first: the file's first pixel row is the glyph's last.
  TPluginBitmap* glyph = NewPluginGlyph();
  ASSERT_NE(glyph, nullptr);
  EXPECT_EQ(made.compare(14 + 40 + 1024, 19, reinterpret_cast<const char*>(glyph->Bits) + 18 * 20, 19), 0);
  EXPECT_EQ(made.compare(14 + 40 + 4 * 9, 3, "\x00\x00\xFF", 3), 0);  // palette entry 9 is red, as blue-green-red
  std::free(glyph);
}
