// Plot surface: binding, coordinate windows, pictures, screen copies and the
// plot file.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/forms.h"
#include "platform/headless/headless.h"
#include "platform/sysutils.h"
#include "plot/glib2.h"
#include "tests/support/pane.h"
#include "tests/support/temp_dir.h"

namespace planora {
namespace {

struct Screen : test::TTestPane {
  Screen(int w, int h) : TTestPane(w, h, false) {}
};

// Smallest rectangle (right and bottom exclusive) holding every pixel of colour c.
TRect BoundsOf(const TBitmap& b, TColor c) {
  TRect r{b.Width(), b.Height(), 0, 0};
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (b.Pixel(x, y) == c) r = {std::min(r.Left, x), std::min(r.Top, y), std::max(r.Right, x + 1),
                                   std::max(r.Bottom, y + 1)};
  return r;
}

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PlotSurface, BindingResetsWindowsOptionsAndBitmap) {
  Screen s(490, 385);
  TPlottFlaeche p;
  p.AttachPaintBox(s.pb, "");
  EXPECT_EQ(p.MaxX, 489);
  EXPECT_EQ(p.MaxY, 384);
  for (int n = 1; n <= 20; ++n) {
    EXPECT_EQ(p.Windows[n].Kind, 0);
    EXPECT_EQ(p.Windows[n].XScale, 489);
    EXPECT_EQ(p.Windows[n].YScale, 384);
    EXPECT_EQ(p.WorldToPixelX(n, 1.0), 489);
    EXPECT_EQ(p.WorldToPixelY(n, 1.0), 0);
    EXPECT_EQ(p.WorldToPixelY(n, 0.0), 384);
  }
  for (int n = 1; n <= 10; ++n) EXPECT_FALSE(p.Options[n]);
  EXPECT_EQ(p.CurrentPenStyle, 1);
  EXPECT_FALSE(p.PlotFileOpen);
  // Clear whitens all but the last column and row; the screen got the same.
  EXPECT_EQ(BoundsOf(*p.Bitmap, clWhite), (TRect{0, 0, 489, 384}));
  EXPECT_EQ(p.Bitmap->Pixel(489, 10), clBlack);
  EXPECT_EQ(p.Bitmap->Pixel(10, 384), clBlack);
  EXPECT_TRUE(s.pb->ScreenImage() == *p.Bitmap);
  EXPECT_EQ(p.Bitmap->Canvas().LockCount(), 0);

  // The paint event now copies the bitmap.
  p.Bitmap->SetPixel(5, 5, clBlue);
  s.pb->Paint();
  EXPECT_EQ(s.pb->ScreenImage().Pixel(5, 5), clBlue);

  // Off-screen: only NoScreenUpdate on, no paint box, and Paint is a no-op.
  p.DefineWindow(3, 0, 2, 0, 2, 0, 1, 0, 1);
  p.InitOffscreen(30, 20);
  EXPECT_EQ(p.PaintBox, nullptr);
  EXPECT_EQ(p.MaxX, 29);
  EXPECT_EQ(p.Windows[3].Kind, 0);
  EXPECT_EQ(p.Windows[3].XScale, 29);
  for (int n = 1; n <= 10; ++n) EXPECT_EQ(p.Options[n], n == NoScreenUpdate);
  p.Bitmap->SetPixel(5, 5, clRed);
  s.pb->Paint();
  EXPECT_EQ(s.pb->ScreenImage().Pixel(5, 5), clBlue);
}

TEST(PlotSurface, WindowsAndTransforms) {
  TPlottFlaeche p;
  const int W = 640, H = 480;
  p.InitOffscreen(W, H);
  p.DefineWindow(1, -W / 2.0, W / 2.0, H / 2.0, -H / 2.0, 0, 1, 0, 1);
  EXPECT_EQ(p.Windows[1].Kind, 1);
  EXPECT_EQ(p.WorldToPixelX(1, -W / 2.0), 0);
  EXPECT_EQ(p.WorldToPixelY(1, -H / 2.0), 0);
  EXPECT_EQ(p.WorldToPixelX(1, W / 2.0), W - 1);
  EXPECT_EQ(p.WorldToPixelY(1, H / 2.0), H - 1);
  double x = 0, y = 0;
  p.PixelToWorld(W - 1, H - 1, x, y, 1);
  EXPECT_DOUBLE_EQ(x, W / 2.0);
  EXPECT_DOUBLE_EQ(y, H / 2.0);

  // X1 > X2: range sorted, scale negative.
  p.DefineWindow(2, 5, -3, -1, 4, 0, 1, 0, 1);
  EXPECT_EQ(p.Windows[2].XMin, -3);
  EXPECT_EQ(p.Windows[2].XMax, 5);
  EXPECT_LT(p.Windows[2].XScale, 0);
  EXPECT_EQ(p.Windows[2].YMin, -1);

  // One pixel per unit: halfway values go to the even pixel.
  p.InitOffscreen(11, 11);
  p.DefineWindow(2, 0, 10, 0, 10, 0, 1, 0, 1);
  EXPECT_EQ(p.WorldToPixelX(2, 2.5), 2);
  EXPECT_EQ(p.WorldToPixelX(2, 3.5), 4);
  EXPECT_EQ(p.WorldToPixelX(2, -0.5), 0);
  EXPECT_EQ(p.WorldToPixelY(2, 2.5), 8);
  EXPECT_EQ(p.WorldToPixelY(2, 3.5), 6);
  EXPECT_THROW(p.WorldToPixelX(2, 3e9), ERangeError);
  // Round fits, MaxY - Round does not.
  EXPECT_THROW(p.WorldToPixelY(2, -2147483648.0), ERangeError);

  // Extended intermediates: a double evaluation gives 300.00000000000006 and
  // 0x1.111111111110cp-6.
  p.InitOffscreen(101, 101);
  p.DefineWindow(4, 0, 0.1, 0.1, 0.4, 0, 0.3, 0.2, 0.92);
  EXPECT_EQ(p.Windows[4].XScale, 300.0);
  EXPECT_EQ(p.Windows[4].YOffset, 0x1.1111111111111p-6);

  // Bad numbers raise and change nothing.
  const auto options = p.Options;
  EXPECT_THROW(p.DefineWindow(0, 0, 1, 0, 1, 0, 1, 0, 1), ERangeError);
  EXPECT_THROW(p.DefineWindow(21, 0, 1, 0, 1, 0, 1, 0, 1), ERangeError);
  EXPECT_THROW(p.WorldToPixelX(21, 0), ERangeError);
  EXPECT_THROW(p.WorldToPixelY(0, 0), ERangeError);
  EXPECT_THROW(p.PixelToWorld(0, 0, x, y, 21), ERangeError);
  EXPECT_THROW(p.SetOption(0, true), ERangeError);
  EXPECT_THROW(p.SetOption(11, false), ERangeError);
  EXPECT_EQ(p.Options, options);
  EXPECT_THROW(p.DefineWindow(5, 1, 1, 0, 1, 0, 1, 0, 1), EZeroDivide);
  EXPECT_THROW(p.DefineWindow(5, 0, 1, 2, 2, 0, 1, 0, 1), EZeroDivide);
  EXPECT_THROW(p.DefineWindow(5, 0, 1, 0, 1, 0.5, 0.5, 0, 1), EZeroDivide);
  EXPECT_THROW(p.DefineWindow(5, 0, 1, 0, 1, 0, 1, 1, 1), EZeroDivide);
}

TEST(PlotSurface, DrawPictureFitsCentresAndShows) {
  const TColor ink = RGBColor(10, 200, 30);
  const auto drawn = [&](TPlottFlaeche& p, int gw, int gh) {
    TBitmap g(gw, gh);
    g.Fill(ink);
    p.Clear();
    p.DrawPicture(g);
    return BoundsOf(*p.Bitmap, ink);
  };
  TPlottFlaeche off;
  off.InitOffscreen(512, 384);
  EXPECT_EQ(drawn(off, 1024, 512), (TRect{0, 64, 511, 320}));
  EXPECT_EQ(drawn(off, 512, 1024), (TRect{160, 0, 352, 383}));

  Screen s(490, 385);
  TPlottFlaeche on;
  on.AttachPaintBox(s.pb, "");
  on.SetOption(NoScreenUpdate, true);  // DrawPicture shows its result all the same
  EXPECT_EQ(drawn(on, 1000, 500), (TRect{0, 70, 489, 314}));
  EXPECT_EQ(drawn(on, 500, 1000), (TRect{149, 0, 341, 384}));
  EXPECT_TRUE(s.pb->ScreenImage() == *on.Bitmap);

  // Same size as the bitmap: every row, all columns but the last.
  off.InitOffscreen(40, 30);
  off.Bitmap->SetPixel(39, 7, clBlue);
  EXPECT_EQ(drawn(off, 40, 30), (TRect{0, 0, 39, 30}));
  EXPECT_EQ(off.Bitmap->Pixel(39, 7), clBlue);

  TBitmap empty(0, 10);
  EXPECT_THROW(off.DrawPicture(empty), EZeroDivide);
  EXPECT_THROW(off.DrawPicture(TBitmap(10, 0)), EZeroDivide);
  EXPECT_EQ(off.Bitmap->Canvas().LockCount(), 0);
}

TEST(PlotSurface, ScreenCopiesFollowNoScreenUpdateAndMarker) {
  Screen s(60, 40);
  TPlottFlaeche p;
  p.AttachPaintBox(s.pb, "");
  p.Bitmap->Canvas().Brush.Color = clBlue;
  p.Bitmap->Canvas().FillRect(TRect{0, 0, 60, 40});
  s.pb->Paint();
  p.SetOption(NoScreenUpdate, true);
  p.Clear();
  EXPECT_EQ(p.Bitmap->Pixel(3, 3), clWhite);
  EXPECT_EQ(s.pb->ScreenImage().Pixel(3, 3), clBlue);
  p.SetOption(NoScreenUpdate, false);
  EXPECT_TRUE(s.pb->ScreenImage() == *p.Bitmap);
  p.Bitmap->SetPixel(3, 3, clBlue);
  p.Clear();  // screen updates on: copied at once
  EXPECT_EQ(s.pb->ScreenImage().Pixel(3, 3), clWhite);

  // A shown marker lives on the screen only; Paint puts it back after its copy.
  p.EnterMouseMode(nullptr, nullptr, 5);
  p.SetMarkerCorners(1, 0.8, 0.2, 0.2, 0.2, 0.2, 0.8, 0.8, 0.8);
  s.pb->Paint();
  EXPECT_FALSE(s.pb->ScreenImage() == *p.Bitmap);
  // Clear in mouse mode forgets the marker without drawing it back onto the
  // wiped screen.
  p.Clear();
  EXPECT_EQ(p.MarkerState, MarkerNone);
  EXPECT_FALSE(p.MouseModeActive);
  EXPECT_TRUE(s.pb->ScreenImage() == *p.Bitmap);
  s.pb->Paint();
  EXPECT_TRUE(s.pb->ScreenImage() == *p.Bitmap);
}

TEST(PlotSurface, PlotFile) {
  const test::TTempDir dir("planora-plot");
  const std::filesystem::path file = dir.Path("a.plt");
  Screen s(490, 385);
  TPlottFlaeche p;
  p.AttachPaintBox(s.pb, std::string(file.string()) + std::string(1, '\0'));
  EXPECT_EQ(p.PlotFileName, file.string());
  const std::string header = "\x1b%0B\r\nVS10;PA;\r\nIW0,0,490,385;\r\nSC0,100,0,100;\r\nPW1;LT1;\r\n";
  EXPECT_EQ(ReadFile(file), header);

  p.SetPenStyle(3);
  p.SetPenStyle(3);
  p.SetPenStyle(0);
  p.SetPenStyle(10);
  EXPECT_EQ(p.CurrentPenStyle, 3);
  EXPECT_EQ(p.Bitmap->Canvas().Pen.Style, psDot);
  p.SetPenStyle(8);
  EXPECT_EQ(p.Bitmap->Canvas().Pen.Width, 4);
  p.Clear();
  p.EndPlot();
  EXPECT_FALSE(p.PlotFileOpen);
  p.EndPlot();
  const std::string expected = header + "PW1;LT3;\r\nPW4;LT1;\r\nPG;\r\n\x1b%0A\r\n";
  EXPECT_EQ(ReadFile(file), expected);

  // Names stop at 100 characters; binding again abandons the file unfinished.
  const std::string longName = dir.Path(std::string(200, 'n'));
  p.AttachPaintBox(s.pb, longName);
  EXPECT_EQ(p.PlotFileName, longName.substr(0, 100));
  p.InitOffscreen(5, 5);
  EXPECT_FALSE(p.PlotFileOpen);
  EXPECT_EQ(ReadFile(longName.substr(0, 100)), header);

  try {
    p.AttachPaintBox(s.pb, dir.Path("missing/x.plt"));
    ADD_FAILURE() << "no exception";
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find("missing/x.plt"), std::string::npos);
  }
}

}  // namespace
}  // namespace planora
