// The set-up every caller shares: the picture's window and diagonal, the
// camera's solve sequence, the fingerprint and the settings file's layout.
#include "engine/setup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/fingerprint.h"
#include "engine/settings.h"
#include "tests/support/temp_dir.h"

namespace planora {
namespace {

// On a 4000 x 3000 picture: a 10 : 7 rectangle turned about two axes,
// photographed with focal ratio 0.7; the same turned about the horizontal
// axis only (no focal length makes its angle at b right); three corners on
// one line.
constexpr double kTilted[8] = {1032.7, -530.3, -667.6, -609.0, -614.9, 470.4, 933.5, 775.1};
constexpr double kLevelTilt[8] = {917, -620, -917, -620, -837, 566, 837, 566};
constexpr double kLine[8] = {1000, 0, 0, 0, -1000, 0, 500, 500};

void Set(TCameraSolver& cam, const double (&q)[8]) { cam.SetCorners(q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7]); }

TEST(PictureSetUp, WindowAndDiagonalOfAPicture) {
  // A pane of its own size shows the whole picture: its edge pixels are the
  // picture's edges, y downwards.
  TPlottFlaeche pane;
  pane.InitOffscreen(300, 200);
  DefinePictureWindow(pane, 1001, 667);
  const PlotWindow& w = pane.Windows[PictureWindowNumber];
  EXPECT_EQ(w.XMin, -500.5);
  EXPECT_EQ(w.XMax, 500.5);
  EXPECT_EQ(w.YMin, -333.5);
  EXPECT_EQ(w.YMax, 333.5);
  EXPECT_EQ(pane.WorldToPixelY(PictureWindowNumber, -333.5), 0);
  EXPECT_EQ(pane.WorldToPixelY(PictureWindowNumber, 333.5), 199);

  EXPECT_EQ(PictureDiagonal(4000, 3000), 5000.0);
  // Sides whose squares overflow 32 bits.
  EXPECT_EQ(PictureDiagonal(60000, 80000), 100000.0);
}

TEST(CameraSetUp, ASolvableMarkerIsReadyWithTheEstimatedRatio) {
  TCameraSolver cam, fresh;
  cam.FocalRatio = 3.0;  // an earlier run's estimate must not steer this one
  Set(cam, kTilted);
  Set(fresh, kTilted);
  const TCameraSetUp r = SetUpCamera(cam, 4000, 3000);
  EXPECT_TRUE(r.Solved);
  EXPECT_TRUE(r.Plausible);
  EXPECT_TRUE(r.FrameValid);
  EXPECT_TRUE(r.Ready());
  EXPECT_EQ(cam.Diagonal, 5000.0);
  EXPECT_EQ(cam.ImageWidth, 4000);
  EXPECT_EQ(cam.ImageHeight, 3000);
  EXPECT_NEAR(cam.FocalRatio, 0.700, 0.0005);
  SetUpCamera(fresh, 4000, 3000);
  EXPECT_EQ(cam.FocalRatio, fresh.FocalRatio);
}

TEST(CameraSetUp, WhatTheCallerMustTellTheUser) {
  // Unsolvable: nothing after the first solve runs, not even the caller's step.
  TCameraSolver line;
  Set(line, kLine);
  bool chosen = false;
  TCameraSetUp r = SetUpCamera(line, 4000, 3000, [&](TCameraSolver&) { chosen = true; });
  EXPECT_FALSE(r.Solved);
  EXPECT_FALSE(r.Ready());
  EXPECT_FALSE(chosen);

  // Implausible: the doubt is reported, the ratio falls back to 1 and the
  // work goes on.
  TCameraSolver level;
  Set(level, kLevelTilt);
  r = SetUpCamera(level, 4000, 3000);
  EXPECT_TRUE(r.Solved);
  EXPECT_FALSE(r.Plausible);
  EXPECT_TRUE(r.Ready());
  EXPECT_EQ(level.FocalRatio, 1.0);
}

TEST(CameraSetUp, TheCallersFocalChoiceComesBeforeTheFrameIsJudged) {
  TCameraSolver cam;
  Set(cam, kLevelTilt);
  double seen = 0;
  TCameraSetUp r = SetUpCamera(cam, 4000, 3000, [&](TCameraSolver& c) {
    seen = c.FocalRatio;  // after the estimate
    c.FocalRatio = 0.6;
    c.SolveCamera();
  });
  EXPECT_EQ(seen, 1.0);
  EXPECT_TRUE(r.Ready());
  EXPECT_EQ(cam.FocalRatio, 0.6);
  EXPECT_EQ(cam.FocalLength, 0.6 * 5000);
  // A choice that leaves no frame makes the set-up unusable.
  r = SetUpCamera(cam, 4000, 3000, [&](TCameraSolver& c) {
    Set(c, kLine);
    c.SolveCamera();
  });
  EXPECT_TRUE(r.Solved);
  EXPECT_FALSE(r.FrameValid);
  EXPECT_FALSE(r.Ready());
}

TEST(CameraSetUp, KnownFocalLengthOrProportionsDecideWhereTheCornersCannot) {
  // kLevelTilt: the corners fix no focal length. Each piece of knowledge in
  // its order of precedence.
  auto run = [](const double (&q)[8], const TFocalKnowledge& known, TCameraSolver& cam) {
    const double corners[4][2] = {{q[0], q[1]}, {q[2], q[3]}, {q[4], q[5]}, {q[6], q[7]}};
    TFocalChoice choice;
    EXPECT_TRUE(SetUpCamera(cam, 4000, 3000, corners, known, choice).Ready());
    return choice;
  };
  TCameraSolver cam;
  TFocalKnowledge known;
  EXPECT_EQ(run(kLevelTilt, known, cam).Source, "diagonal");
  EXPECT_EQ(cam.FocalRatio, 1.0);
  known.ExifRatio = 0.9;
  EXPECT_EQ(run(kLevelTilt, known, cam).Source, "exif");
  EXPECT_EQ(cam.FocalRatio, 0.9);
  known.FocalRatio = 0.8;  // given: wins over the photo's
  EXPECT_EQ(run(kLevelTilt, known, cam).Source, "given");
  EXPECT_EQ(cam.FocalRatio, 0.8);
  EXPECT_EQ(cam.FocalLength, 0.8 * 5000);

  // Corners that tell the focal length well keep it against the photo's.
  known.FocalRatio.reset();
  const TFocalChoice tilted = run(kTilted, known, cam);
  EXPECT_EQ(tilted.Source, "corners");
  EXPECT_TRUE(tilted.Estimate.WellDetermined());
  EXPECT_NEAR(cam.FocalRatio, 0.700, 0.0005);

  // Known proportions, named: taken in the orientation measured and imposed.
  known = {};
  known.Aspect = 7.0 / 10;
  known.AspectNamed = true;
  const TFocalChoice sheet = run(kTilted, known, cam);
  EXPECT_NEAR(sheet.AspectMeasured, 10.0 / 7, 0.01);
  EXPECT_EQ(sheet.AspectUsed, 10.0 / 7);
  EXPECT_TRUE(sheet.AspectImposed);
  EXPECT_NEAR(cam.MarkedAspectRatio(), 10.0 / 7, 1e-12);
  EXPECT_EQ(OrientedAspect(2.0, 0.4), 0.5);
  EXPECT_EQ(OrientedAspect(2.0, std::nan("")), 2.0);
}

TEST(Fingerprint, ReadsTheSizeAndTwentyEightPixelsOnly) {
  // One pixel is read 28 times: an even number of exclusive ors leaves w x h.
  TBitmap one(1, 1);
  one.SetPixel(0, 0, RGBColor(10, 20, 30));
  EXPECT_EQ(Fingerprint(one), 1);

  TBitmap b(50, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 50; ++x) b.SetPixel(x, y, RGBColor(x * 5, y * 6, (x * y) % 256));
  const std::int32_t f = Fingerprint(b);
  b.SetPixel(7, 9, clRed);  // on none of the sampled lines
  EXPECT_EQ(Fingerprint(b), f);
  b.SetPixel(15, 12, RGBColor(1, 2, 3));  // (3 x 50 / 10, 3 x 40 / 10) on the diagonal
  EXPECT_NE(Fingerprint(b), f);
  // 10 x 10: the diagonal point (3, 3) is read exactly once, as a colour with red in the low byte.
  TBitmap c(10, 10);
  c.Fill(clBlack);
  c.SetPixel(3, 3, RGBColor(0x12, 0x34, 0x56));
  EXPECT_EQ(Fingerprint(c), 100 ^ 0x563412);
}

TEST(MarkerSettings, LayoutDefaultsAndRoundTrip) {
  test::TTempDir dir("planora-settings");
  const std::string path = dir.Path("planora.ini");
  // Nothing stored: the defaults.
  TMarkerSettings s = ReadMarkerSettings(TIniFile(path));
  EXPECT_EQ(s.PictureHash, 0);
  EXPECT_EQ(s.Corners[3][1], 0.0);
  EXPECT_EQ(s.CropPercent, 90);

  TMarkerSettings w;
  w.PictureHash = -123456;
  for (int k = 0; k < 8; ++k) w.Corners[k / 2][k % 2] = k * 10.5 - 30;
  w.CropPercent = 250;  // stored as it is; whoever reads it holds it to its range
  {
    TIniFile ini(path);
    WriteMarkerSettings(ini, w);
    ini.UpdateFile();
  }
  // The file the window has always written: one section, keys in this order.
  const std::string text = test::ReadBytes(path);
  std::size_t at = text.find("[Planroa]");
  ASSERT_NE(at, std::string::npos);
  for (const char* key : {"Inhash=-123456", "Selection_a0=", "Selection_a1=", "Selection_b0=", "Selection_b1=",
                          "Selection_c0=", "Selection_c1=", "Selection_d0=", "Selection_d1=", "Original_Groesse=250"}) {
    const std::size_t next = text.find(key, at);
    ASSERT_NE(next, std::string::npos) << key;
    at = next;
  }
  s = ReadMarkerSettings(TIniFile(path));
  EXPECT_EQ(s.PictureHash, w.PictureHash);
  EXPECT_EQ(s.CropPercent, 250);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(s.Corners[k / 2][k % 2], w.Corners[k / 2][k % 2]) << k;
}

}  // namespace
}  // namespace planora
