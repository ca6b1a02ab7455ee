#include "engine/rectify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/forms.h"
#include "platform/headless/headless.h"
#include "tests/support/pane.h"
#include "tests/support/picture.h"
#include "tests/support/test_ui.h"

namespace planora {
namespace {

// Picture 4000 x 3000; its corners a, b, c, d (upper right, upper left, lower left, lower right).
constexpr double kDefault[8] = {1600, -1200, -1600, -1200, -1600, 1200, 1600, 1200};
constexpr double kWhole[8] = {2000, -1500, -2000, -1500, -2000, 1500, 2000, 1500};
constexpr double kWide[8] = {1800, -300, -1800, -300, -1800, 300, 1800, 300};
// Trapezoids whose short edge lies far away: at low crop, half the output shows the plane beyond
// the camera (below the middle for the first, above it for the second, where the scan starts).
constexpr double kSteep[8] = {300, -100, -300, -100, -1600, 1200, 1600, 1200};
constexpr double kSteepDown[8] = {1600, -1200, -1600, -1200, -300, 100, 300, 100};

using test::InitPictureSurface;
using test::TTestUi;

std::unique_ptr<TCameraSolver> Solved(const double (&q)[8]) {
  auto cam = std::make_unique<TCameraSolver>();
  test::SetUpCorners(*cam, q, 4000, 3000);
  return cam;
}

// Surfaces of any pixel size over the 4000 x 3000 picture's world window.
void PictureWindow(TPlottFlaeche& s) { DefinePictureWindow(s, 4000, 3000); }

// Never pure red, and every neighbour differs, so a blend is told from a nearest sample.
TColor Pattern(int x, int y) { return RGBColor(10 + 6 * x, 20 + 7 * y, 30 + (x * y) % 200); }

struct Surfaces {
  TPlottFlaeche source, target;
  explicit Surfaces(int w = 40, int h = 30) {
    InitPictureSurface(source, w, h, 4000, 3000);
    InitPictureSurface(target, w, h, 4000, 3000);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) source.Bitmap->SetPixel(x, y, Pattern(x, y));
  }
  TColor Out(int x, int y) const { return target.Bitmap->Pixel(x, y); }
};

// Pixels of colour c, in one row or (row -1) in the whole bitmap.
int Count(const TPlottFlaeche& s, TColor c, int row = -1) {
  int n = 0;
  for (int y = 0; y <= s.MaxY; ++y)
    for (int x = 0; x <= s.MaxX; ++x) n += (row < 0 || y == row) && s.Bitmap->Pixel(x, y) == c;
  return n;
}

// The per-pixel pass, unless asked for the row-wise one.
TRectifyResult RunOn(Surfaces& s, TCameraSolver& cam, bool preview, int crop, TTestUi& ui,
                     TPlottFlaeche* marker = nullptr, bool rows = false) {
  return Rectify({&cam, &s.source, &s.target, preview, crop, 4000, 3000, marker, !rows, 0}, ui);
}

void ExpectFrame(const TRectifyResult& r, double scale, double x, double y) {
  EXPECT_NEAR(r.OutputScale, scale, 1e-12 * scale);
  const double sign[4][2] = {{1, -1}, {-1, -1}, {-1, 1}, {1, 1}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(r.OutputCorners[k][0], sign[k][0] * x, 1e-9) << k;
    EXPECT_NEAR(r.OutputCorners[k][1], sign[k][1] * y, 1e-9) << k;
    EXPECT_EQ(r.RoundedCorners[k][0], std::lround(sign[k][0] * x)) << k;
    EXPECT_EQ(r.RoundedCorners[k][1], std::lround(sign[k][1] * y)) << k;
  }
}

TEST(RectifyFrame, CropAndMarkerShapeSetTheScale) {
  const auto cam = Solved(kDefault);
  ASSERT_TRUE(cam->FrameValid());
  const TRectifyResult r90 = ComputeOutputFrame(*cam, 90, 4000, 3000);
  ExpectFrame(r90, 1.125, 1800, 1350);
  EXPECT_NEAR(r90.SMax - r90.SMin, 3200, 1e-9);
  EXPECT_NEAR(r90.SMid, 0, 1e-9);
  ExpectFrame(ComputeOutputFrame(*cam, 100, 4000, 3000), 1.25, 2000, 1500);
  ExpectFrame(ComputeOutputFrame(*cam, 1, 4000, 3000), 0.0125, 20, 15);
  // Typed-in values outside the spin field's range are held to it.
  ExpectFrame(ComputeOutputFrame(*cam, 0, 4000, 3000), 0.0125, 20, 15);
  ExpectFrame(ComputeOutputFrame(*cam, -7, 4000, 3000), 0.0125, 20, 15);
  ExpectFrame(ComputeOutputFrame(*cam, 250, 4000, 3000), 1.25, 2000, 1500);
  // Much wider than high: the width reaches 90 % first and decides.
  ExpectFrame(ComputeOutputFrame(*Solved(kWide), 90, 4000, 3000), 1.0, 1800, 300);
  // Fractional output corners go to the marker rounded to the nearest integer, not cut.
  const TRectifyResult steep = ComputeOutputFrame(*Solved(kSteep), 37, 4000, 3000);
  int cut = 0;
  for (int k = 0; k < 8; ++k) {
    const double c = steep.OutputCorners[k / 2][k % 2];
    EXPECT_EQ(steep.RoundedCorners[k / 2][k % 2], std::nearbyint(c)) << k;
    cut += std::trunc(c) != std::nearbyint(c);
  }
  EXPECT_GT(cut, 0);
}

TEST(RectifyFrame, RefusedRunsLeaveNoTrace) {
  Surfaces s;
  s.target.Bitmap->Fill(clBlue);
  TTestUi ui;
  const double line[8] = {1000, 0, 0, 0, -1000, 0, 500, 500};  // a, b, c on one line: no frame
  auto cam = Solved(line);
  ASSERT_FALSE(cam->FrameValid());
  EXPECT_THROW(RunOn(s, *cam, false, 90, ui), ERectifyError);
  EXPECT_THROW(RunOn(s, *cam, true, 90, ui), ERectifyError);
  // A valid frame but a marker collapsed onto one point: no extent to scale up.
  cam = Solved(kDefault);
  cam->SetCorners(5, 5, 5, 5, 5, 5, 5, 5);
  EXPECT_THROW(RunOn(s, *cam, false, 90, ui), ERectifyError);
  cam = Solved(kDefault);
  EXPECT_THROW(ComputeOutputFrame(*cam, 90, 0, 3000), ERectifyError);
  EXPECT_THROW(Rectify({cam.get(), &s.source, &s.source, false, 90, 4000, 3000, nullptr}, ui), ERectifyError);
  EXPECT_THROW(Rectify({cam.get(), nullptr, &s.target, false, 90, 4000, 3000, nullptr}, ui), ERectifyError);
  EXPECT_EQ(Count(s.target, clBlue), 40 * 30);
  EXPECT_TRUE(ui.log.empty());
  EXPECT_TRUE(ui.progress.empty());
}

TEST(RectifyRun, FullPassSamplesNearestOrInterpolated) {
  // The whole picture marked, crop 100: every output pixel maps onto itself.
  auto whole = Solved(kWhole);
  Surfaces s;
  TTestUi nearest;
  ExpectFrame(RunOn(s, *whole, false, 100, nearest), 1.0, 2000, 1500);
  EXPECT_TRUE(*s.target.Bitmap == *s.source.Bitmap);

  TTestUi blend;
  blend.nearest = [](int) { return false; };
  RunOn(s, *whole, false, 100, blend);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      // The blend needs a right and an upper neighbour: the last column and the top row have none.
      const TColor want = (x == 39 || y == 0) ? NoSourceColor : Pattern(x, y);
      ASSERT_EQ(s.Out(x, y), want) << x << "," << y;
    }
  }

  // Default marker, crop 100: the marked 80 % is enlarged by 1.25 onto the whole output.
  auto cam = Solved(kDefault);
  RunOn(s, *cam, false, 100, nearest);
  EXPECT_EQ(s.Out(0, 0), Pattern(4, 3));      // world (-2000, -1500) <- (-1600, -1200)
  EXPECT_EQ(s.Out(39, 29), Pattern(35, 26));  // (2000, 1500) <- (1600, 1200)
  EXPECT_EQ(s.Out(20, 15), Pattern(20, 15));  // the centre stays
  // The same marker moved by (300, 200): the output is centred on it instead.
  const double moved[8] = {1900, -1000, -1300, -1000, -1300, 1400, 1900, 1400};
  RunOn(s, *Solved(moved), false, 100, nearest);
  EXPECT_EQ(s.Out(0, 0), Pattern(7, 5));  // (-2000, -1500) <- (-1300, -1000)

  // Crop 50: the picture covers the middle 62.5 % of the output, red all round it, with either
  // sampling. Source column of output column x: 1.6 x - 11.7.
  for (bool interpolate : {false, true}) {
    TTestUi ui;
    ui.nearest = [&](int) { return !interpolate; };
    RunOn(s, *cam, false, 50, ui);
    EXPECT_EQ(s.Out(6, 15), NoSourceColor);
    EXPECT_EQ(s.Out(33, 15), NoSourceColor);
    EXPECT_EQ(s.Out(20, 0), NoSourceColor);
    EXPECT_NE(s.Out(31, 15), NoSourceColor);
    EXPECT_NE(s.Out(8, 15), NoSourceColor);
    if (!interpolate) {
      EXPECT_EQ(s.Out(8, 15), Pattern(1, 15));
    }
  }
}

TEST(RectifyRun, PreviewFillsThePaneAndPlacesTheMarker) {
  test::TTestPane pane(40, 30, false, "PaintBox2");
  TPaintBox* pb = pane.pb;
  Surfaces s;
  s.target.AttachPaintBox(pb, "");
  PictureWindow(s.target);
  s.target.SetOption(TransparentMarker, true);
  auto cam = Solved(kDefault);

  TTestUi ui;
  ui.nearest = [](int) -> bool { throw std::logic_error("the preview never asks"); };
  std::vector<bool> screenOff;
  ui.onMessages = [&] { screenOff.push_back(s.target.Options[NoScreenUpdate]); };
  const TRectifyResult r = RunOn(s, *cam, true, 90, ui, &s.target);

  EXPECT_EQ(ui.Events(), (std::vector<std::string>{"corners", "begin", "shown", "end"}));
  for (int k = 0; k < 8; ++k) EXPECT_EQ(ui.corners[k / 2][k % 2], kDefault[k]) << k;
  // 1200 source pixels: a step of 24 pixels, 50 steps of 2 between the initial 0 and the final 100.
  EXPECT_EQ(ui.messages, 1 + 1 + 50 + 1);
  ASSERT_EQ(ui.progress.size(), 52u);
  EXPECT_EQ(ui.progress.front(), 0);
  EXPECT_EQ(ui.progress[1], 2);
  EXPECT_TRUE(std::is_sorted(ui.progress.begin(), ui.progress.end()));
  EXPECT_EQ(ui.progress.back(), 100);
  // Screen updates are off for the whole pass and on again at the end.
  EXPECT_EQ(std::count(screenOff.begin(), screenOff.end(), true), 50);
  EXPECT_FALSE(s.target.Options[NoScreenUpdate]);
  // Crop 90: the border shows the surroundings, as far as the picture reaches, without red.
  EXPECT_EQ(Count(s.target, NoSourceColor), 0);
  EXPECT_EQ(s.Out(20, 15), Pattern(20, 15));

  // The marker sits at the rounded output corners; taking it off shows the bitmap on screen.
  EXPECT_EQ(s.target.MarkerState, MarkerShown);
  for (int k = 0; k < 4; ++k) {
    const TPoint want{s.target.WorldToPixelX(1, r.RoundedCorners[k][0]),
                      s.target.WorldToPixelY(1, r.RoundedCorners[k][1])};
    EXPECT_TRUE(std::find(s.target.Corners.begin(), s.target.Corners.end(), want) != s.target.Corners.end());
  }
  s.target.DrawMarker();
  EXPECT_TRUE(pb->ScreenImage() == *s.target.Bitmap);
}

TEST(RectifyRun, FullPassProgressAndFailures) {
  Surfaces s;
  auto cam = Solved(kDefault);
  TPlottFlaeche pane;  // an off-screen stand-in for the preview pane
  InitPictureSurface(pane, 40, 30, 4000, 3000);
  TTestUi ui;
  RunOn(s, *cam, false, 90, ui, &pane);
  EXPECT_EQ(ui.Events(), (std::vector<std::string>{"corners", "begin", "not shown", "end"}));
  EXPECT_EQ(ui.nearestAsked, 40 * 30);
  EXPECT_EQ(ui.messages, 1 + 100 + 1);
  ASSERT_EQ(ui.progress.size(), 103u);
  EXPECT_EQ((std::vector<int>(ui.progress.begin(), ui.progress.begin() + 3)), (std::vector<int>{0, 1, 1}));
  EXPECT_TRUE(std::is_sorted(ui.progress.begin(), ui.progress.end()));
  EXPECT_EQ(ui.progress.back(), 100);
  EXPECT_EQ(pane.MarkerState, MarkerShown);

  // Sources too small for a progress step: no intermediate positions, nothing divided by 0.
  for (bool preview : {false, true}) {
    Surfaces tiny(7, 5);
    TTestUi t;
    RunOn(tiny, *cam, preview, 90, t);
    EXPECT_EQ(t.progress, preview ? (std::vector<int>{0, 100}) : (std::vector<int>{0, 1, 100}));
    EXPECT_EQ(tiny.Out(3, 2), Pattern(3, 2));
  }

  // A failure half-way still ends the run and gives the pane its screen updates back.
  TTestUi failing;
  failing.onMessages = [&] { if (failing.messages == 10) throw std::runtime_error("closed"); };
  EXPECT_THROW(Rectify({cam.get(), &s.source, &pane, true, 90, 4000, 3000, nullptr}, failing),
               std::runtime_error);
  EXPECT_EQ(failing.Events().back(), "end");
  EXPECT_FALSE(pane.Options[NoScreenUpdate]);
}

TEST(RectifyRun, SamplingChoiceIsReadForEveryPixel) {
  auto cam = Solved(kDefault);  // crop 100 puts sample points between pixels: blends differ
  Surfaces a, b, mixed;
  TTestUi nearest, blend, flip;
  blend.nearest = [](int) { return false; };
  flip.nearest = [](int i) { return i < 40 * 15; };  // the user unticks the option after 15 rows
  RunOn(a, *cam, false, 100, nearest);
  RunOn(b, *cam, false, 100, blend);
  RunOn(mixed, *cam, false, 100, flip);
  int differ[2] = {0, 0};
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      differ[y >= 15] += a.Out(x, y) != b.Out(x, y);
      ASSERT_EQ(mixed.Out(x, y), (y < 15 ? a : b).Out(x, y)) << x << "," << y;
    }
  }
  EXPECT_GT(differ[0], 100);
  EXPECT_GT(differ[1], 100);
}

TEST(RectifyRun, PointsWithoutAPicturePixelAreRed) {
  // Steep tilt, crop 1: half the output shows the plane behind the camera. Projected regardless,
  // those points would come out reflected through the centre, many of them inside the picture.
  for (int mode = 0; mode < 6; ++mode) {
    const bool down = mode >= 3;
    auto cam = Solved(down ? kSteepDown : kSteep);
    Surfaces s;
    TTestUi ui;
    ui.nearest = [&](int) { return mode % 3 == 1; };
    ASSERT_NO_THROW(RunOn(s, *cam, mode % 3 == 0, 1, ui));
    for (int y = 0; y < 30; ++y) {
      const int red = Count(s.target, NoSourceColor, y);
      // Beyond the camera all red; the opposite edge shows the plane near its horizon.
      if ((y >= 15) != down) {
        EXPECT_EQ(red, 40) << "row " << y << " mode " << mode;
      } else if (y == (down ? 29 : 0)) {
        EXPECT_LT(red, 40) << "mode " << mode;
      }
    }
  }

  // A source window so fine that picture points beyond a few hundred pixels have no 32-bit pixel
  // position: the conversions raise range errors, which only mean "outside".
  auto whole = Solved(kWhole);
  for (bool nearest : {true, false}) {
    Surfaces s;
    s.source.DefineWindow(1, -2e-6, 2e-6, 1.5e-6, -1.5e-6, 0, 1, 0, 1);
    ASSERT_THROW(s.source.WorldToPixelX(1, 2000), ERangeError);
    ASSERT_THROW(s.source.GetPixelInterpolated(1, 2000, 1500), ERangeError);
    TTestUi ui;
    ui.nearest = [&](int) { return nearest; };
    ASSERT_NO_THROW(RunOn(s, *whole, false, 100, ui));
    EXPECT_EQ(Count(s.target, NoSourceColor), 40 * 30);
  }
}

}  // namespace
}  // namespace planora
