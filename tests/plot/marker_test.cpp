#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/forms.h"
#include "platform/headless/headless.h"
#include "plot/glib2.h"
#include "tests/support/pane.h"

using namespace planora;

namespace {

// A 201 x 151 pane whose window 1 is laid out as the rectification window
// lays out its panes: world (X, Y) sits at pixel (X + 100, Y + 75).
struct Pane : test::TTestPane {
  Pane() : TTestPane(201, 151) { s.DefineWindow(1, -100, 100, 75, -75, 0, 1, 0, 1); }
  // Gives the screen some texture so that inverted pixels cannot pass for untouched ones.
  void Scribble() {
    for (int y = 0; y < 151; ++y)
      for (int x = 0; x < 201; ++x) pb->ScreenImage().SetPixel(x, y, RGBColor(x * 7, y * 13, x * y));
  }
  std::unique_ptr<TBitmap> Screen() const {
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(pb->ScreenImage());
    return copy;
  }
};

std::vector<TPoint> Sorted(std::array<TPoint, 4> corners) {
  TPlottFlaeche s;
  s.Corners = corners;
  s.SortCorners();
  return {s.Corners.begin(), s.Corners.end()};
}

}  // namespace

TEST(Marker, DrawingTwiceRestoresTheScreen) {
  for (bool transparent : {true, false}) {
    Pane p;
    p.s.SetOption(TransparentMarker, transparent);
    const auto white = p.Screen();
    p.s.SetMarkerCorners(1, 50, -45, -50, -45, -50, 25, 50, 25);  // pixels x 50..150, y 30..100
    const auto shot = p.Screen();
    const TBitmap& drawn = *shot;
    // Handle squares are inverted on columns x-3..x+2 and rows y-3..y+2 only.
    EXPECT_EQ(drawn.Pixel(148, 28), clBlack);
    EXPECT_EQ(drawn.Pixel(153, 28), clWhite);
    EXPECT_EQ(drawn.Pixel(148, 103), clWhite);
    // The inside: untouched when transparent, yellow hatch lines otherwise.
    int yellow = 0, plain = 0, strange = 0;
    for (int y = 40; y < 90; ++y) {
      for (int x = 60; x < 140; ++x) {
        const TColor c = drawn.Pixel(x, y);
        ++(c == clYellow ? yellow : c == clWhite ? plain : strange);
      }
    }
    EXPECT_EQ(yellow > 0, !transparent);
    EXPECT_GT(plain, 0);
    EXPECT_EQ(strange, 0);
    p.s.DrawMarker();
    EXPECT_TRUE(p.pb->ScreenImage() == *white) << transparent;

    p.Scribble();
    const auto textured = p.Screen();
    p.s.DrawMarker();
    EXPECT_FALSE(p.pb->ScreenImage() == *textured);
    p.s.DrawMarker();
    EXPECT_TRUE(p.pb->ScreenImage() == *textured) << transparent;
  }
}

TEST(Marker, SortCornersOrder) {
  const std::array<TPoint, 4> rect{TPoint{150, 40}, {50, 40}, {50, 110}, {150, 110}};  // UR UL LL LR
  const std::array<TPoint, 4> quad{TPoint{160, 30}, {40, 50}, {30, 120}, {170, 100}};
  for (const auto& shape : {rect, quad}) {
    for (int start = 0; start < 4; ++start) {
      for (int dir : {1, 3}) {
        std::array<TPoint, 4> given;
        for (int k = 0; k < 4; ++k) given[k] = shape[(start + dir * k) % 4];
        EXPECT_EQ(Sorted(given), std::vector<TPoint>(shape.begin(), shape.end())) << start << " " << dir;
      }
    }
  }
  // A crossing order stays crossing.
  EXPECT_EQ(Sorted({TPoint{150, 40}, {50, 110}, {50, 40}, {150, 110}}),
            (std::vector<TPoint>{{150, 40}, {50, 110}, {50, 40}, {150, 110}}));
  EXPECT_EQ(Sorted({TPoint{7, 9}, {7, 9}, {7, 9}, {7, 9}}), std::vector<TPoint>(4, TPoint{7, 9}));
  // Arrowhead pointing right: tip, upper back, notch, lower back.
  EXPECT_EQ(Sorted({TPoint{150, 75}, {50, 30}, {100, 75}, {50, 120}}),
            (std::vector<TPoint>{{100, 75}, {100, 75}, {150, 75}, {150, 75}}));
  // No two corners right of -20000: left as they are.
  const std::array<TPoint, 4> farLeft{TPoint{-30000, 0}, {-20000, 5}, {-25000, 7}, {10, 3}};
  EXPECT_EQ(Sorted(farLeft), std::vector<TPoint>(farLeft.begin(), farLeft.end()));
}

TEST(Marker, SetGetAndDelete) {
  Pane p;
  p.s.SetOption(TransparentMarker, true);
  const auto bare = p.Screen();
  double x[4], y[4];
  int w = 5;
  std::fill(x, x + 4, 42.0);
  p.s.GetMarkerCorners(x[0], y[0], x[1], y[1], x[2], y[2], x[3], y[3], w);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(x[0], 42.0);

  // Lower left first, the outline running the other way round.
  p.s.SetMarkerCorners(1, -60, 30, -60, -40, 40.5, -40, 40, 30);
  EXPECT_EQ(p.s.MarkerState, MarkerShown);
  EXPECT_EQ(p.s.MarkerWindow, 1);
  EXPECT_EQ(p.s.CurrentWindow, 1);
  EXPECT_EQ(p.s.Corners, (std::array<TPoint, 4>{TPoint{140, 35}, {40, 35}, {40, 105}, {140, 105}}));
  p.s.GetMarkerCorners(x[0], y[0], x[1], y[1], x[2], y[2], x[3], y[3], w);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(std::vector<double>(x, x + 4), (std::vector<double>{40, -60, -60, 40}));
  EXPECT_EQ(std::vector<double>(y, y + 4), (std::vector<double>{-40, -40, 30, 30}));
  // A repaint copies the bitmap and draws the marker again.
  const auto shown = p.Screen();
  p.s.Paint();
  EXPECT_TRUE(p.pb->ScreenImage() == *shown);

  // Moved while shown: the window is kept, the old outline goes.
  p.s.DefineWindow(2, -100, 100, 75, -75, 0, 1, 0, 1);
  p.s.SetMarkerCorners(2, 0, 0, -10, 0, -10, 20, 0, 20);
  EXPECT_EQ(p.s.MarkerWindow, 1);
  EXPECT_EQ(p.s.CurrentWindow, 1);
  EXPECT_EQ(p.s.MouseMode, 5);
  p.s.DrawMarker();
  EXPECT_TRUE(p.pb->ScreenImage() == *bare);
  p.s.DrawMarker();

  // A corner off the window's rectangle: no usable marker, positions still given.
  p.s.SetMarkerCorners(1, 120, -40, -50, -30, -60, 20, 40, 20);
  p.s.GetMarkerCorners(x[0], y[0], x[1], y[1], x[2], y[2], x[3], y[3], w);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(x[0], 120.0);
  EXPECT_EQ(std::vector<double>(x + 1, x + 4), (std::vector<double>{-50, -60, 40}));
  EXPECT_EQ(std::vector<double>(y + 1, y + 4), (std::vector<double>{-30, 20, 20}));

  p.s.DeleteMarker();
  EXPECT_TRUE(p.pb->ScreenImage() == *bare);
  EXPECT_EQ(p.s.MarkerState, MarkerNone);
  EXPECT_EQ(p.s.MarkerWindow, -1);
  EXPECT_EQ(p.pb->Cursor(), crCross);
  EXPECT_EQ(p.s.PickedCorner, 2);
  EXPECT_EQ(p.s.OppositeCorner, 0);

  // Off-screen: nothing is drawn, the corners are still kept and answered.
  TPlottFlaeche off;
  off.InitOffscreen(201, 151);
  off.DefineWindow(1, -100, 100, 75, -75, 0, 1, 0, 1);
  off.SetMarkerCorners(1, 10, 10, -10, 10, -10, -10, 10, -10);
  off.GetMarkerCorners(x[0], y[0], x[1], y[1], x[2], y[2], x[3], y[3], w);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(x[0], 10.0);
  EXPECT_EQ(y[0], -10.0);
  off.DeleteMarker();
  EXPECT_EQ(off.MarkerState, MarkerNone);
}
