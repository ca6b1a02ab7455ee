// Plot surface raster access: scans, the pixel cursor, reads, interpolated
// reads and writes.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/forms.h"
#include "platform/headless/headless.h"
#include "platform/sysutils.h"
#include "plot/glib2.h"
#include "tests/support/pane.h"

namespace planora {
namespace {

using Cell = std::pair<int, int>;

// Left, right, top, bottom, width, height.
std::vector<int> Dirty(const TPlottFlaeche& p) {
  return {p.DirtyLeft, p.DirtyRight, p.DirtyTop, p.DirtyBottom, p.DirtyWidth, p.DirtyHeight};
}

TEST(PlotRaster, ScanOrderAndBlocks) {
  TPlottFlaeche p;
  p.InitOffscreen(3, 2);  // window 1: unit square, XScale 2, YScale 1
  double x = -1, y = -1;
  p.BeginScan(x, y, 1, 1);
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(y, 1.0);
  std::vector<Cell> seen{{p.CursorX, p.CursorY}};
  int calls = 1;
  while (p.NextScan(x, y, 1)) {
    seen.emplace_back(p.CursorX, p.CursorY);
    ++calls;
  }
  EXPECT_EQ(seen, (std::vector<Cell>{{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}}));
  EXPECT_EQ(calls, 6);
  EXPECT_EQ(Cell(p.CursorX, p.CursorY), Cell(0, 0));
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(y, 1.0);

  // Step 3 on 10 x 7: blocks centred at columns 1, 4, 7 and rows 1, 4.
  p.InitOffscreen(10, 7);
  p.Bitmap->Fill(clBlue);
  p.BeginScan(x, y, 1, 3);
  seen.clear();
  do {
    seen.emplace_back(p.CursorX, p.CursorY);
    p.PutPixel(clLime);
  } while (p.NextScan(x, y, 1));
  EXPECT_EQ(seen, (std::vector<Cell>{{1, 1}, {4, 1}, {7, 1}, {1, 4}, {4, 4}, {7, 4}}));
  for (int yy = 0; yy < 7; ++yy)
    for (int xx = 0; xx < 10; ++xx)
      EXPECT_EQ(p.Bitmap->Pixel(xx, yy), xx < 9 && yy < 6 ? clLime : clBlue) << xx << "," << yy;
  EXPECT_EQ(Dirty(p), (std::vector<int>{6, 8, 3, 5, 3, 3}));

  // Step 4: the block reaches one further left than right, and is cut at the edge.
  p.BeginScan(x, y, 1, 4);
  EXPECT_EQ(Cell(p.CursorX, p.CursorY), Cell(1, 1));
  p.NextScan(x, y, 1);
  p.NextScan(x, y, 1);
  p.PutPixel(clRed);
  EXPECT_EQ(Dirty(p), (std::vector<int>{8, 9, 0, 3, 2, 4}));
  EXPECT_EQ(p.Bitmap->Pixel(9, 6), clBlue);
  EXPECT_EQ(p.Bitmap->Pixel(9, 3), clRed);
  EXPECT_THROW(p.BeginScan(x, y, 21, 1), ERangeError);
}

TEST(PlotRaster, CursorReadsWritesAndAndMode) {
  TPlottFlaeche p;
  p.InitOffscreen(4, 3);
  double x, y;
  p.BeginScan(x, y, 1, 3);
  EXPECT_FALSE(p.SelectPixel(-1, 0));
  EXPECT_FALSE(p.SelectPixel(4, 0));
  EXPECT_FALSE(p.SelectPixel(0, -1));
  EXPECT_FALSE(p.SelectPixel(0, 3));
  EXPECT_EQ(Cell(p.CursorX, p.CursorY), Cell(1, 1));
  EXPECT_EQ(p.BlockSize, 3);
  EXPECT_TRUE(p.SelectPixel(0, 0));
  EXPECT_TRUE(p.SelectPixel(3, 2));
  EXPECT_EQ(p.BlockSize, 1);

  p.PutPixel(RGBColor(1, 2, 3));
  const std::uint8_t* px = p.Bitmap->ScanLine(2) + 9;
  EXPECT_EQ((std::vector<int>{px[0], px[1], px[2]}), (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(p.GetPixel(), RGBColor(1, 2, 3));
  EXPECT_EQ(Dirty(p), (std::vector<int>{3, 3, 2, 2, 1, 1}));

  // Alternating rows must not mix up the cached row.
  p.SelectPixel(0, 0);
  p.PutPixel(clBlue);
  p.SelectPixel(0, 1);
  p.PutPixel(clLime);
  p.SelectPixel(0, 0);
  EXPECT_EQ(p.GetPixel(), clBlue);
  p.SelectPixel(0, 1);
  EXPECT_EQ(p.GetPixel(), clLime);

  p.SetOption(AndMode, true);
  p.SelectPixel(1, 1);  // white
  p.PutPixel(255);
  EXPECT_EQ(p.GetPixel(), 255);
  p.SelectPixel(0, 0);  // blue
  p.PutPixel(255);
  EXPECT_EQ(p.GetPixel(), clBlack);
  EXPECT_EQ(p.Bitmap->Canvas().LockCount(), 0);

  // A new binding forgets rows cached from the old bitmap memory.
  p.Bitmap->Fill(clBlue);
  p.SelectPixel(2, 2);
  EXPECT_EQ(p.GetPixel(), clBlue);
  p.InitOffscreen(7, 7);
  EXPECT_EQ(p.RowAIndex, -1);
  EXPECT_EQ(p.RowBIndex, -1);
  p.SelectPixel(2, 2);
  EXPECT_EQ(p.GetPixel(), clWhite);
}

TEST(PlotRaster, InterpolatedRead) {
  TPlottFlaeche p;
  p.InitOffscreen(3, 3);  // window 1: XScale = YScale = 2, offsets 0
  p.Bitmap->Fill(RGBColor(200, 200, 200));
  p.Bitmap->SetPixel(0, 2, RGBColor(1, 1, 2));
  p.Bitmap->SetPixel(0, 1, RGBColor(2, 2, 3));
  p.Bitmap->SetPixel(1, 2, RGBColor(3, 3, 4));
  p.Bitmap->SetPixel(1, 1, RGBColor(4, 6, 5));
  // Means 2.5, 3, 3.5 -> ties to even.
  EXPECT_EQ(p.GetPixelInterpolated(1, 0.25, 0.25), RGBColor(2, 3, 4));
  EXPECT_EQ(p.RowAIndex, 2);
  EXPECT_EQ(p.RowBIndex, 1);
  EXPECT_EQ(p.GetPixelInterpolated(1, 0.5, 0.5), RGBColor(4, 6, 5));  // exactly on (1, 1)
  p.SelectPixel(0, 2);
  EXPECT_EQ(p.GetPixel(), RGBColor(1, 1, 2));

  // wx = 0.5, wy = 0: 10.5 -> 10, 11.5 -> 12, 200.5 -> 200.
  p.Bitmap->SetPixel(0, 2, RGBColor(10, 11, 200));
  p.Bitmap->SetPixel(1, 2, RGBColor(11, 12, 201));
  EXPECT_EQ(p.GetPixelInterpolated(1, 0.25, 0.0), RGBColor(10, 12, 200));

  EXPECT_EQ(p.GetPixelInterpolated(1, -0.25, 0.25), NoSourceColor);
  EXPECT_EQ(p.GetPixelInterpolated(1, 0.25, -0.25), NoSourceColor);
  EXPECT_EQ(p.GetPixelInterpolated(1, 1.0, 0.25), NoSourceColor);
  EXPECT_EQ(p.GetPixelInterpolated(1, 0.25, 1.0), NoSourceColor);
  EXPECT_EQ(p.GetPixelInterpolated(1, 0.999, 0.999), RGBColor(200, 200, 200));
  EXPECT_THROW(p.GetPixelInterpolated(1, 1e10, 0.5), ERangeError);
  EXPECT_THROW(p.GetPixelInterpolated(0, 0.5, 0.5), ERangeError);
}

TEST(PlotRaster, WritesReachTheScreen) {
  test::TTestPane pane(50, 40);
  TPaintBox* pb = pane.pb;
  TPlottFlaeche& p = pane.s;
  const TBitmap& screen = pb->ScreenImage();

  p.Bitmap->SetPixel(30, 30, clBlue);  // not through the surface: stays off screen
  p.SelectPixel(10, 20);
  p.PutPixel(clLime);
  EXPECT_EQ(screen.Pixel(10, 20), clLime);
  EXPECT_EQ(screen.Pixel(30, 30), clWhite);
  double x, y;
  p.BeginScan(x, y, 1, 3);
  p.PutPixel(clRed);
  EXPECT_EQ(screen.Pixel(0, 0), clRed);
  EXPECT_EQ(screen.Pixel(2, 2), clRed);
  EXPECT_EQ(screen.Pixel(3, 3), clWhite);

  p.SetOption(NoScreenUpdate, true);
  p.SelectPixel(5, 5);
  p.PutPixel(clBlue);
  EXPECT_EQ(screen.Pixel(5, 5), clWhite);
  p.SetOption(NoScreenUpdate, false);
  EXPECT_TRUE(screen == *p.Bitmap);
  EXPECT_EQ(p.Bitmap->Canvas().LockCount(), 0);
}

TEST(PlotRaster, EveryColumnOfAWideBitmap) {
  TPlottFlaeche p;
  p.InitOffscreen(12000, 2);
  EXPECT_FALSE(p.SelectPixel(12000, 1));
  ASSERT_TRUE(p.SelectPixel(11999, 1));
  p.PutPixel(RGBColor(7, 8, 9));
  EXPECT_EQ(p.GetPixel(), RGBColor(7, 8, 9));
  EXPECT_EQ(p.Bitmap->ScanLine(1)[3 * 11999], 9);

  p.DefineWindow(1, 0, 11999, 0, 1, 0, 1, 0, 1);
  p.SelectPixel(11998, 1);
  p.PutPixel(RGBColor(10, 10, 10));
  p.SelectPixel(11999, 1);
  p.PutPixel(RGBColor(20, 20, 20));
  EXPECT_EQ(p.GetPixelInterpolated(1, 11998.5, 0.0), RGBColor(15, 15, 15));
}

}  // namespace
}  // namespace planora
