// Bitmap memory: new pixels are black whether the bitmap lives on the heap
// or in pages of its own, resizing, copying and swapping keep what they
// should, and a stretch at the source's own width copies whole rows exactly
// as the pixel-by-pixel rule places them.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/graphics.h"

namespace planora {
namespace {

TColor Inverted(TColor c) { return c ^ 0xFFFFFF; }

void FillRandom(TBitmap& bmp, std::uint32_t seed) {
  std::mt19937 rng(seed);
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) bmp.SetPixel(x, y, static_cast<TColor>(rng() & 0xFFFFFF));
}

// True when every byte of the rows (padding included) from row `from` on,
// and the trailing bytes after the last row, are zero.
bool BlackFrom(const TBitmap& bmp, int from) {
  for (int y = from; y < bmp.Height(); ++y)
    for (int i = 0; i < bmp.BytesPerRow(); ++i)
      if (bmp.ScanLine(y)[i] != 0) return false;
  const std::uint8_t* end = bmp.Height() > 0 ? bmp.ScanLine(bmp.Height() - 1) + bmp.BytesPerRow() : bmp.ScanLine(0);
  for (int i = 0; i < TBitmap::kTrailingBytes; ++i)
    if (end[i] != 0) return false;
  return true;
}

TEST(BitmapMemory, NewPixelsAreBlackOnTheHeapAndInPagesOfTheirOwn) {
  // 3 x 2 comes from the heap; 1001 x 700 (2.1 MB) and 5472 x 200 are mapped.
  for (const auto& [w, h] : {std::pair{3, 2}, std::pair{1001, 700}, std::pair{5472, 200}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    TBitmap bmp(w, h);
    EXPECT_TRUE(BlackFrom(bmp, 0));
    // Written in full, then grown: the old pixels stay top-left, the new ones are black.
    FillRandom(bmp, 7);
    TBitmap before;
    before.Assign(bmp);
    bmp.SetSize(w + 5, h + 3);
    for (int y = 0; y < h; ++y) {
      EXPECT_EQ(std::memcmp(bmp.ScanLine(y), before.ScanLine(y), static_cast<std::size_t>(w) * 3), 0) << y;
      for (int x = w; x < w + 5; ++x) ASSERT_EQ(bmp.Pixel(x, y), clBlack);
    }
    EXPECT_TRUE(BlackFrom(bmp, h));
    // Shrunk and grown again: what was cut off does not come back.
    bmp.SetSize(1, 1);
    bmp.SetSize(w, h);
    EXPECT_EQ(bmp.Pixel(0, 0), before.Pixel(0, 0));
    EXPECT_TRUE(BlackFrom(bmp, 1));
    EXPECT_EQ(bmp.Pixel(w - 1, 0), clBlack);
  }
}

TEST(BitmapMemory, AssignCopiesAndSwapExchangesPixelsAndSizes) {
  TBitmap big(1200, 500), small(4, 3);
  FillRandom(big, 1);
  FillRandom(small, 2);
  TBitmap copy;
  copy.Assign(big);
  EXPECT_TRUE(copy == big);
  copy.SetPixel(0, 0, Inverted(copy.Pixel(0, 0)));
  EXPECT_FALSE(copy == big);  // a copy, not shared pixels

  TBitmap a, b;
  a.Assign(big);
  b.Assign(small);
  const std::uint8_t* bigRows = a.ScanLine(0);
  a.Swap(b);
  EXPECT_TRUE(a == small);
  EXPECT_TRUE(b == big);
  EXPECT_EQ(b.ScanLine(0), bigRows);  // exchanged, not copied
  EXPECT_EQ(&b.Canvas().Target(), &b);
  EXPECT_EQ(b.BytesPerRow(), big.BytesPerRow());
}

TEST(BitmapMemory, StretchAtTheSourceWidthPlacesEveryPixelByTheRule) {
  TBitmap source(37, 5);
  FillRandom(source, 3);
  const auto nearest = [](long d, long s, long size) { return (2 * d + 1) * s / (2 * size); };
  // Same size; taller (rows repeated); shorter (rows dropped); cut off on
  // the left, the top and the right.
  for (const TRect& dest : {Rect(0, 0, 37, 5), Rect(2, 1, 39, 12), Rect(0, 0, 37, 3), Rect(-3, -2, 34, 9),
                            Rect(8, 0, 45, 5)}) {
    SCOPED_TRACE(std::to_string(dest.Left) + "," + std::to_string(dest.Top));
    TBitmap target(40, 12);
    target.Fill(clLime);
    target.Canvas().StretchDraw(dest, source);
    for (int y = 0; y < target.Height(); ++y) {
      for (int x = 0; x < target.Width(); ++x) {
        const bool inside = x >= dest.Left && x < dest.Right && y >= dest.Top && y < dest.Bottom;
        const TColor want =
            inside ? source.Pixel(static_cast<int>(nearest(x - dest.Left, 37, 37)),
                                  static_cast<int>(nearest(y - dest.Top, 5, dest.Bottom - dest.Top)))
                   : clLime;
        ASSERT_EQ(target.Pixel(x, y), want) << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace planora
