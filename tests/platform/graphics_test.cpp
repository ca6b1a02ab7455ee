#include "platform/graphics.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>
#include <vector>

namespace planora {
namespace {

void FillRandom(TBitmap& bmp, std::uint32_t seed) {
  std::mt19937 rng(seed);
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) bmp.SetPixel(x, y, static_cast<TColor>(rng() & 0xFFFFFF));
}

// Pixels of colour c in [x0, x1) x [y0, y1).
int Count(const TBitmap& bmp, TColor c, int x0, int y0, int x1, int y1) {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += bmp.Pixel(x, y) == c;
  return n;
}

TColor Inverted(TColor c) { return c ^ 0xFFFFFF; }

TEST(BitmapTest, LayoutEqualityAndResizing) {
  TBitmap bmp(5, 3);
  EXPECT_EQ(bmp.BytesPerRow(), 16);  // 15 bytes padded to a word
  EXPECT_EQ(bmp.ScanLine(2) - bmp.ScanLine(0), 32);
  bmp.SetPixel(1, 2, RGBColor(10, 20, 30));
  const std::uint8_t* p = bmp.ScanLine(2) + 3;
  EXPECT_EQ((std::vector<int>{p[0], p[1], p[2]}), (std::vector<int>{30, 20, 10}));  // blue first
  EXPECT_EQ(bmp.Pixel(1, 2), 10 + 256 * 20 + 65536 * 30);

  TBitmap copy;
  copy.Assign(bmp);
  copy.ScanLine(1)[15] = 0x55;  // padding is not picture
  EXPECT_TRUE(copy == bmp);
  copy.SetPixel(4, 0, clWhite);
  EXPECT_FALSE(copy == bmp);
  EXPECT_FALSE(TBitmap(5, 2) == bmp);

  // Resizing keeps the top-left overlap and blackens the rest.
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) bmp.SetPixel(x, y, RGBColor(x + 1, y + 1, 200));
  bmp.SetSize(7, 2);
  EXPECT_EQ(bmp.BytesPerRow(), 24);
  EXPECT_EQ(bmp.Pixel(4, 1), RGBColor(5, 2, 200));
  EXPECT_EQ(Count(bmp, clBlack, 5, 0, 7, 2), 4);
  bmp.SetHeight(4);
  EXPECT_EQ(bmp.Pixel(0, 1), RGBColor(1, 2, 200));
  EXPECT_EQ(Count(bmp, clBlack, 0, 2, 7, 4), 14);
  bmp.SetSize(-3, 5);
  EXPECT_EQ(bmp.Width(), 0);
  bmp.SetSize(2, 2);
  EXPECT_EQ(Count(bmp, clBlack, 0, 0, 2, 2), 4);

  // Rows far longer than 32 KB: the last column is reachable both ways.
  TBitmap wide(12000, 2);
  std::uint8_t* last = wide.ScanLine(1) + 3 * 11999;
  last[0] = 1, last[1] = 2, last[2] = 3;
  EXPECT_EQ(wide.Pixel(11999, 1), RGBColor(3, 2, 1));
  wide.SetPixel(11999, 0, RGBColor(7, 8, 9));
  EXPECT_EQ(wide.ScanLine(0)[3 * 11999], 9);
  EXPECT_EQ(wide.Canvas().GetPixel(11999, 0), RGBColor(7, 8, 9));
  EXPECT_EQ(wide.Canvas().GetPixel(12000, 0), -1);
}

TEST(CanvasRectangleTest, EdgesHandlesAndPens) {
  TBitmap bmp(10, 8);
  TCanvas& c = bmp.Canvas();
  std::vector<TRect> changes;
  c.OnChange = [&](const TRect& r) { changes.push_back(r); };

  // White over (0, 0)-(MaxX, MaxY): the last column and row keep their black.
  c.Pen.Color = clWhite;
  c.Rectangle(0, 0, 9, 7);
  EXPECT_EQ(Count(bmp, clWhite, 0, 0, 9, 7), 63);
  EXPECT_EQ(Count(bmp, clBlack, 0, 0, 10, 8), 17);
  EXPECT_EQ(changes.back(), Rect(0, 0, 9, 7));

  // Pen on the border, brush inside, corners in either order.
  c.Pen.Color = clRed;
  c.Brush.Color = clBlue;
  c.Rectangle(6, 5, 2, 2);
  EXPECT_EQ(Count(bmp, clRed, 0, 0, 10, 8), 10);
  EXPECT_EQ(Count(bmp, clBlue, 3, 3, 5, 4), 2);
  EXPECT_EQ(changes.back(), Rect(2, 2, 6, 5));

  // A black not-xor handle of 6 x 6 covers exactly x-3..x+2, y-3..y+2.
  TBitmap pane(30, 30);
  TCanvas& h = pane.Canvas();
  pane.Fill(clWhite);
  h.Pen.Mode = pmNotXor;
  h.Brush.Color = clBlack;
  h.Rectangle(10 - 3, 12 - 3, 10 + 3, 12 + 3);
  EXPECT_EQ(Count(pane, clBlack, 7, 9, 13, 15), 36);
  EXPECT_EQ(Count(pane, clBlack, 0, 0, 30, 30), 36);
  h.Rectangle(7, 9, 13, 15);
  EXPECT_EQ(Count(pane, clWhite, 0, 0, 30, 30), 900);

  // A 3-pixel not-xor pen inverts its whole band once; twice restores.
  FillRandom(pane, 7);
  TBitmap before;
  before.Assign(pane);
  h.Pen.Width = 3;
  h.Brush.Style = bsClear;
  h.Rectangle(5, 5, 15, 15);
  for (TPoint q : {TPoint{4, 4}, TPoint{6, 10}, TPoint{15, 15}}) EXPECT_EQ(pane.Pixel(q.X, q.Y), Inverted(before.Pixel(q.X, q.Y)));
  for (TPoint q : {TPoint{3, 3}, TPoint{7, 7}, TPoint{16, 10}}) EXPECT_EQ(pane.Pixel(q.X, q.Y), before.Pixel(q.X, q.Y));
  h.Rectangle(5, 5, 15, 15);
  EXPECT_TRUE(pane == before);

  // Dots of three, far-outside corners clipped, no pen: brush everywhere.
  pane.Fill(clWhite);
  h.Pen = TPen{clRed, 1, psDot, pmCopy};
  h.Rectangle(0, 0, 20, 10);
  for (int x = 0; x < 12; ++x) EXPECT_EQ(pane.Pixel(x, 0), (x / 3) % 2 == 0 ? clRed : clWhite) << x;
  h.Pen = TPen{clRed, 5, psSolid, pmCopy};
  h.Brush = TBrush{clLime, bsSolid};
  h.Rectangle(-1000000, -1000000, 1000000, 1000000);
  h.Rectangle(-2147483647, -2147483647, 2147483647, 2147483647);
  EXPECT_EQ(Count(pane, clLime, 0, 0, 30, 30), 900);
  h.Pen.Style = psClear;
  h.Brush.Color = clBlue;
  h.Rectangle(-5, -7, 3, 4);
  EXPECT_EQ(Count(pane, clBlue, 0, 0, 30, 30), 12);

  // FillRect: brush only, plain store whatever the pen mode; mirrored is empty.
  const std::size_t reported = changes.size();
  c.Pen.Mode = pmNotXor;
  c.FillRect(Rect(-2000000000, 7, 2000000000, 8));
  c.FillRect(Rect(-2000000000, 7, 2000000000, 8));
  EXPECT_EQ(Count(bmp, clBlue, 0, 7, 10, 8), 10);
  c.FillRect(Rect(9, 9, 2, 2));
  EXPECT_EQ(changes.size(), reported + 2);
  EXPECT_EQ(changes.back(), Rect(0, 7, 10, 8));
}

TEST(CanvasPolygonTest, NotXorDrawnTwiceRestoresTheBitmap) {
  TBitmap bmp(64, 48);
  FillRandom(bmp, 1);
  TBitmap before;
  before.Assign(bmp);
  TCanvas& c = bmp.Canvas();
  c.Pen.Mode = pmNotXor;
  c.Brush.Color = clYellow;

  std::mt19937 rng(42);
  std::uniform_int_distribution<int> near(-10, 74), far(-1000000, 1000000);
  const TPenStyle styles[] = {psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear};
  const TBrushStyle brushes[] = {bsClear, bsDiagCross, bsSolid};
  for (int round = 0; round < 300; ++round) {
    std::vector<TPoint> pts(3 + round % 4);
    for (TPoint& p : pts) p = round % 10 == 9 ? TPoint{far(rng), far(rng)} : TPoint{near(rng), near(rng)};
    if (round % 7 == 3) pts.assign(4, pts[0]);
    if (round % 7 == 4) pts = {{3, 3}, {20, 12}, {37, 21}, {-14, -6}};  // collinear
    c.Pen = TPen{static_cast<TColor>(rng() & 0xFFFFFF), 1 + round % 4, styles[round % 6], pmNotXor};
    c.Brush.Style = brushes[round % 3];
    c.Polygon(pts);
    c.Polygon(pts);
    ASSERT_TRUE(bmp == before) << "round " << round;
  }

  // The marker: not-xor outline with a yellow brush, then four black handles.
  const std::vector<TPoint> corners = {{60, 10}, {15, 12}, {5, 40}, {62, 45}};
  const auto marker = [&](TBrushStyle fill) {
    c.Pen = TPen{clBlack, 1, psSolid, pmNotXor};
    c.Brush = TBrush{clYellow, fill};
    c.Polygon(corners);
    c.Brush = TBrush{clBlack, bsSolid};
    for (const TPoint& p : corners) c.Rectangle(p.X - 3, p.Y - 3, p.X + 3, p.Y + 3);
  };
  for (TBrushStyle fill : {bsClear, bsDiagCross}) {
    marker(fill);
    EXPECT_EQ(bmp.Pixel(62, 7), Inverted(before.Pixel(62, 7)));  // handle, off the outline
    EXPECT_EQ(bmp.Pixel(63, 7), before.Pixel(63, 7));
    marker(fill);
    EXPECT_TRUE(bmp == before);
  }

  // One pass touches each pixel once: an inverting pen and brush blacken the
  // whole shape with no double-inverted holes, the bow tie's crossing too.
  bmp.Fill(clWhite);
  c.Pen = TPen{clBlack, 1, psSolid, pmNotXor};
  c.Brush = TBrush{clBlack, bsSolid};
  c.Polygon({{2, 2}, {12, 2}, {12, 9}, {2, 9}});
  EXPECT_EQ(Count(bmp, clBlack, 2, 2, 13, 10), 88);
  EXPECT_EQ(Count(bmp, clBlack, 0, 0, 64, 48), 88);
  bmp.Fill(clWhite);
  c.Brush.Style = bsClear;
  c.Polygon({{0, 0}, {20, 20}, {20, 0}, {0, 20}});
  EXPECT_EQ(bmp.Pixel(10, 10), clBlack);
  EXPECT_EQ(Count(bmp, clBlack, 0, 0, 64, 48), 4 * 20 - 1);
}

TEST(CanvasPolygonTest, AnOutlineIsTheSameWhicheverWayItIsDrawn) {
  // The marker's outline is erased in whatever order its corners are then:
  // the pixels must not depend on the direction or the starting corner.
  TBitmap a(80, 60), b(80, 60);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> near(-5, 84);
  for (int round = 0; round < 400; ++round) {
    std::vector<TPoint> pts(4);
    for (TPoint& p : pts) p = TPoint{near(rng), near(rng)};
    if (round == 0) pts = {{10, 10}, {50, 30}, {50, 40}, {10, 40}};  // the first edge ties at every odd step
    std::vector<TPoint> back(pts.rbegin(), pts.rend());
    std::rotate(back.begin(), back.begin() + round % 4, back.end());
    for (TBitmap* bmp : {&a, &b}) {
      bmp->Fill(clWhite);
      bmp->Canvas().Pen = TPen{clBlack, 1, round % 3 == 2 ? psDot : psSolid, pmNotXor};
      bmp->Canvas().Brush.Style = bsClear;
    }
    a.Canvas().Polygon(pts);
    b.Canvas().Polygon(back);
    if (round % 3 != 2) {
      ASSERT_TRUE(a == b) << "round " << round;
    }
    // A dotted outline drawn the other way round is another dash pattern,
    // but drawing it twice still restores the bitmap.
    b.Canvas().Polygon(back);
    ASSERT_EQ(Count(b, clBlack, 0, 0, 80, 60), 0) << "round " << round;
  }
}

TEST(CanvasPolygonTest, FillRuleHatchAndClipping) {
  TBitmap bmp(100, 100);
  TCanvas& c = bmp.Canvas();
  std::vector<TRect> changes;
  c.OnChange = [&](const TRect& r) { changes.push_back(r); };
  bmp.Fill(clWhite);
  c.Pen.Style = psClear;
  c.Brush.Color = clBlue;

  // Even-odd: the pentagram's tips are filled, its centre is not.
  c.Polygon({{50, 5}, {76, 86}, {7, 36}, {93, 36}, {24, 86}});
  EXPECT_EQ(bmp.Pixel(50, 55), clWhite);
  EXPECT_EQ(bmp.Pixel(50, 15), clBlue);
  // Pixel centres decide: an axis-parallel polygon fills columns x1..x2-1.
  bmp.Fill(clWhite);
  c.Polygon({{10, 10}, {20, 10}, {20, 15}, {10, 15}});
  EXPECT_EQ(Count(bmp, clBlue, 0, 0, 100, 100), 50);
  EXPECT_EQ(changes.back(), Rect(10, 10, 20, 15));

  // Cross hatch: lines in both diagonals, the pixels between untouched.
  bmp.Fill(clWhite);
  c.Brush = TBrush{clYellow, bsDiagCross};
  c.Polygon({{0, 0}, {100, 0}, {100, 100}, {0, 100}});
  EXPECT_GT(Count(bmp, clYellow, 0, 0, 100, 100), 1500);
  for (int y = 1; y < 99; ++y)
    for (int x = 1; x < 99; ++x)
      if (bmp.Pixel(x, y) == clYellow) {
        ASSERT_EQ(bmp.Pixel(x + 1, y), clWhite) << x << "," << y;
        ASSERT_TRUE(bmp.Pixel(x + 1, y + 1) == clYellow || bmp.Pixel(x + 1, y - 1) == clYellow);
      }

  // Clipping changes no pixel: the same shapes drawn shifted on a bitmap
  // large enough to hold them give the same picture.
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> coord(-300, 400);
  const TPenStyle styles[] = {psSolid, psDashDot, psDot, psDashDotDot};
  TBitmap large(1000, 1000), window(100, 100);
  for (int round = 0; round < 40; ++round) {
    std::vector<TPoint> pts(3 + round % 3), shifted;
    for (TPoint& p : pts) p = {coord(rng), coord(rng)};
    for (const TPoint& p : pts) shifted.push_back({p.X + 300, p.Y + 300});
    for (TCanvas* cv : {&c, &large.Canvas()}) {
      cv->Target().Fill(clWhite);
      cv->Pen = TPen{clRed, 1 + round % 3, styles[round % 4], pmCopy};
      cv->Brush = TBrush{clBlue, round % 2 ? bsDiagCross : bsSolid};
    }
    c.Polygon(pts);
    large.Canvas().Polygon(shifted);
    window.Canvas().CopyRect(Rect(0, 0, 100, 100), large.Canvas(), Rect(300, 300, 400, 400));
    ASSERT_TRUE(window == bmp) << "round " << round;
  }

  // Far outside: one pen pixel per column on a line from (-2e6, -1e6), and
  // a brush covering everything, all in a moment.
  const auto start = std::chrono::steady_clock::now();
  bmp.Fill(clWhite);
  c.Pen = TPen{clRed, 1, psSolid, pmCopy};
  c.Brush.Style = bsClear;
  c.Polygon({{-2000000, -1000000}, {2000000, 1000000}, {2000000, -5000000}});
  for (int x = 0; x < 100; ++x) {
    ASSERT_EQ(Count(bmp, clRed, x, 0, x + 1, 100), 1) << x;
    EXPECT_TRUE(bmp.Pixel(x, x / 2) == clRed || bmp.Pixel(x, x / 2 + 1) == clRed) << x;
  }
  c.Brush = TBrush{clLime, bsSolid};
  c.Pen.Width = 5;
  c.Polygon({{-1000000, -1000000}, {1000000, -1000000}, {1000000, 1000000}, {-1000000, 1000000}});
  c.Polygon({{-2147483647, -2147483647}, {2147483647, -2147483647}, {0, 2147483647}});
  EXPECT_EQ(Count(bmp, clLime, 0, 0, 100, 100), 100 * 100);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(CanvasStretchTest, NearestPixelWithoutSmoothing) {
  TBitmap checker(2, 2);
  checker.SetPixel(0, 0, clRed);
  checker.SetPixel(1, 0, clLime);
  checker.SetPixel(0, 1, clBlue);
  checker.SetPixel(1, 1, RGBColor(1, 2, 3));
  TBitmap big(8, 8);
  std::vector<TRect> changes;
  big.Canvas().OnChange = [&](const TRect& r) { changes.push_back(r); };
  big.Canvas().StretchDraw(Rect(0, 0, 8, 8), checker);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(big.Pixel(x, y), checker.Pixel(x / 4, y / 4)) << x << "," << y;

  // Clipped: only the visible quarter, from the matching source pixel.
  big.Fill(clBlack);
  big.Canvas().StretchDraw(Rect(-4, -4, 4, 4), checker);
  EXPECT_EQ(Count(big, RGBColor(1, 2, 3), 0, 0, 4, 4), 16);
  EXPECT_EQ(Count(big, clBlack, 0, 0, 8, 8), 48);
  EXPECT_EQ(changes.back(), Rect(0, 0, 4, 4));

  // Reduction keeps whole source columns and rows.
  TBitmap strip(6, 4), small(3, 2);
  FillRandom(strip, 3);
  small.Canvas().StretchDraw(Rect(0, 0, 3, 2), strip);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(small.Pixel(x, y), strip.Pixel(2 * x + 1, 2 * y + 1));

  // Empty or mirrored rectangles and empty sources draw and report nothing.
  const std::size_t reported = changes.size();
  big.Canvas().StretchDraw(Rect(0, 0, 8, 8), TBitmap());
  big.Canvas().StretchDraw(Rect(3, 3, 3, 8), checker);
  big.Canvas().StretchDraw(Rect(6, 0, 2, 8), checker);
  EXPECT_EQ(changes.size(), reported);
  EXPECT_EQ(Count(big, clBlack, 0, 0, 8, 8), 48);

  // Enlarged onto itself: every pixel comes from the original picture.
  TBitmap self(4, 4), original;
  FillRandom(self, 5);
  original.Assign(self);
  self.Canvas().StretchDraw(Rect(0, 0, 8, 8), self);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(self.Pixel(x, y), original.Pixel(x / 2, y / 2));

  TBitmap photo(6000, 4000), pane(1000, 700);
  const auto start = std::chrono::steady_clock::now();
  pane.Canvas().StretchDraw(Rect(0, 0, 1000, 700), photo);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST(CanvasCopyTest, PlainCopiesClippedOnBothSides) {
  TBitmap src(10, 10), dst(8, 6);
  FillRandom(src, 11);
  dst.Fill(clWhite);
  TCanvas& c = dst.Canvas();
  std::vector<TRect> changes;
  c.OnChange = [&](const TRect& r) { changes.push_back(r); };

  // The larger rectangle is cut to the smaller; the pen mode plays no part.
  c.Pen.Mode = pmNotXor;
  c.CopyRect(Rect(1, 1, 4, 3), src.Canvas(), Rect(5, 6, 10, 10));
  EXPECT_EQ(dst.Pixel(1, 1), src.Pixel(5, 6));
  EXPECT_EQ(dst.Pixel(3, 2), src.Pixel(7, 7));
  EXPECT_EQ(Count(dst, clWhite, 0, 0, 8, 6), 48 - 6);
  EXPECT_EQ(changes.back(), Rect(1, 1, 4, 3));

  // Source partly off its bitmap, destination partly off the target.
  dst.Fill(clWhite);
  c.CopyRect(Rect(6, -2, 12, 4), src.Canvas(), Rect(-1, 0, 5, 6));
  EXPECT_EQ(dst.Pixel(7, 0), src.Pixel(0, 2));
  EXPECT_EQ(dst.Pixel(7, 3), src.Pixel(0, 5));
  EXPECT_EQ(changes.back(), Rect(7, 0, 8, 4));
  c.Draw(-8, -7, src);
  EXPECT_EQ(dst.Pixel(1, 2), src.Pixel(9, 9));
  EXPECT_EQ(Count(dst, clWhite, 0, 0, 8, 6), 48 - 4 - 6);
  const std::size_t reported = changes.size();
  c.Draw(8, 0, src);
  c.CopyRect(Rect(0, 0, 5, 5), src.Canvas(), Rect(3, 3, 3, 9));
  EXPECT_EQ(changes.size(), reported);

  // Onto the same canvas, overlapping in every direction.
  for (const TPoint shift : {TPoint{1, 1}, TPoint{-2, -1}, TPoint{3, 0}}) {
    TBitmap before;
    before.Assign(src);
    src.Canvas().CopyRect(Rect(2 + shift.X, 2 + shift.Y, 8 + shift.X, 8 + shift.Y), src.Canvas(), Rect(2, 2, 8, 8));
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) {
        const int sx = x - shift.X, sy = y - shift.Y;
        const bool copied = sx >= 2 && sx < 8 && sy >= 2 && sy < 8;
        ASSERT_EQ(src.Pixel(x, y), before.Pixel(copied ? sx : x, copied ? sy : y)) << x << "," << y;
      }
  }
}

TEST(CanvasTest, PixelsAndLocking) {
  TBitmap bmp(4, 3);
  TCanvas& c = bmp.Canvas();
  std::vector<TRect> changes;
  c.OnChange = [&](const TRect& r) { changes.push_back(r); };
  c.Pen.Mode = pmNotXor;
  c.SetPixel(3, 2, clYellow);
  c.SetPixel(3, 2, clYellow);
  EXPECT_EQ(c.GetPixel(3, 2), clYellow);  // a plain store both times
  c.SetPixel(4, 0, clRed);
  c.SetPixel(-1, 0, clRed);
  EXPECT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes.back(), Rect(3, 2, 4, 3));
  EXPECT_EQ(c.GetPixel(-1, 0), -1);
  EXPECT_EQ(c.GetPixel(0, 3), -1);

  c.Lock();
  c.Lock();
  c.Unlock();
  EXPECT_EQ(c.LockCount(), 1);
  // While the lock is held, another thread's drawing waits for it.
  c.OnChange = nullptr;
  c.Pen = TPen{};
  std::thread painter([&] { c.Rectangle(0, 0, 4, 3); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(bmp.Pixel(1, 1), clBlack);
  c.Unlock();
  painter.join();
  EXPECT_EQ(bmp.Pixel(1, 1), clWhite);
  EXPECT_EQ(c.LockCount(), 0);
}

}  // namespace
}  // namespace planora
