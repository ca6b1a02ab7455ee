#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "engine/camera.h"
#include "engine/setup.h"
#include "platform/sysutils.h"

namespace planora {
namespace {

// Marker corners a, b, c, d in picture pixels from the centre, y downwards.
struct Quad {
  double x[4], y[4];
};
// 80 % of a 4000 x 3000 picture: a upper right, b upper left, c lower left, d lower right.
constexpr Quad kDefault{{1600, -1600, -1600, 1600}, {-1200, -1200, 1200, 1200}};
// A 10 : 7 rectangle turned about two axes, photographed with focal length 3500.
constexpr Quad kTilted{{1032.7, -667.6, -614.9, 933.5}, {-530.3, -609.0, 470.4, 775.1}};
// Turned about the horizontal axis only: a-b stays parallel to the picture.
constexpr Quad kLevelTilt{{917, -917, -837, 837}, {-620, -620, 566, 566}};
// The default marker in the opposite rotational order.
constexpr Quad kMirrored{{-1600, 1600, 1600, -1600}, {-1200, -1200, 1200, 1200}};

TCameraSolver Picture(int w = 4000, int h = 3000) {
  TCameraSolver cam;
  cam.ImageWidth = w;
  cam.ImageHeight = h;
  cam.Diagonal = PictureDiagonal(w, h);
  return cam;
}

void Set(TCameraSolver& cam, const Quad& q) {
  cam.SetCorners(q.x[0], q.y[0], q.x[1], q.y[1], q.x[2], q.y[2], q.x[3], q.y[3]);
}

// What the window's Preview does: the estimate starts from ratio 1 every time.
bool Preview(TCameraSolver& cam, const Quad& q) {
  Set(cam, q);
  return SetUpCamera(cam, cam.ImageWidth, cam.ImageHeight).Plausible;
}

// Maps the corners onto the plane, checks that they form a rectangle with
// a-b along s and b-c along t (within tol of its size), and returns
// s extent / t extent.
double PlaneAspect(const TCameraSolver& cam, const Quad& q, double tol) {
  double s[4], t[4];
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(cam.ImageToPlane(q.x[i], q.y[i], s[i], t[i])) << i;
  const double width = s[0] - s[1];
  const double height = t[2] - t[1];
  EXPECT_NEAR(t[0], t[1], tol * height);
  EXPECT_NEAR(t[3], t[2], tol * height);
  EXPECT_NEAR(s[1], s[2], tol * width);
  EXPECT_NEAR(s[0], s[3], tol * width);
  return width / height;
}

// The plane frame U, V, normal, origin, within rounding.
void ExpectFrame(const TCameraSolver& cam, const TVector& expected) {
  const TVector got[4] = {cam.AxisU, cam.AxisV, cam.PlaneNormal, cam.PlaneOrigin};
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(got[i / 3][i % 3], expected[i], 1e-9) << i;
}

TEST(CameraSolverTest, StartsZeroSizedWithoutFrame) {
  TCameraSolver cam;
  EXPECT_EQ(cam.EdgeCD, TVector(3, 0.0));
  EXPECT_EQ(cam.InverseMatrix, TMatrix(3, TVector(3, 0.0)));
  EXPECT_FALSE(cam.FrameValid());
  double a = 7, b = 7;
  EXPECT_FALSE(cam.ImageToPlane(1, 1, a, b));
  EXPECT_FALSE(cam.PlaneToImage(1, 1, a, b));
  EXPECT_EQ(a, 7);
  // In the program's character set: UTF-8 on Linux, code page 1252 on Windows.
  EXPECT_STREQ(PlausibilityMessage, "Die Anwahl scheint kein ursprüngliches rechteck zu markieren.");
}

TEST(CameraSolverTest, SquareOnMarkerKeepsPictureAxesOrMirrorsThem) {
  TCameraSolver cam = Picture();
  EXPECT_TRUE(Preview(cam, kDefault));
  EXPECT_EQ(cam.FocalRatio, 1.0);
  for (double lambda : cam.DepthFactors) EXPECT_NEAR(lambda, 1.0, 1e-12);
  ExpectFrame(cam, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 5000});
  EXPECT_NEAR(PlaneAspect(cam, kDefault, 1e-12), 4.0 / 3.0, 1e-12);
  EXPECT_TRUE(Preview(cam, kMirrored));
  ExpectFrame(cam, {-1, 0, 0, 0, 1, 0, 0, 0, -1, 0, 0, 5000});
}

TEST(CameraSolverTest, TiltedRectangleGivesFocalRatioSideRatioAndProjections) {
  TCameraSolver cam = Picture();
  EXPECT_TRUE(Preview(cam, kTilted));
  EXPECT_NEAR(cam.FocalRatio, 0.700, 0.0005);
  SetDecimalSeparator(',');
  EXPECT_EQ(FormatFocalRatio(cam.FocalRatio), "0,700");
  SetDecimalSeparator('.');
  EXPECT_EQ(FormatFocalRatio(cam.FocalRatio), "0.700");
  ResetDecimalSeparator();
  EXPECT_NEAR(PlaneAspect(cam, kTilted, 1e-9), 1.4285, 0.00005);
  for (double x = -2000; x <= 2000; x += 500) {
    for (double y = -1500; y <= 1500; y += 500) {
      double s, t, x2, y2;
      ASSERT_TRUE(cam.ImageToPlane(x, y, s, t));
      ASSERT_TRUE(cam.PlaneToImage(s, t, x2, y2));
      EXPECT_NEAR(x2, x, 1e-8);
      EXPECT_NEAR(y2, y, 1e-8);
    }
  }
  // From the origin against the plane's depth gradient: depth 0.2 * O[2] is
  // still seen, depth -O[2] is behind the camera.
  const double u2 = cam.AxisU[2], v2 = cam.AxisV[2];
  const double k = 2 * cam.PlaneOrigin[2] / (u2 * u2 + v2 * v2);
  double x = 7, y = 7;
  EXPECT_TRUE(cam.PlaneToImage(-0.4 * k * u2, -0.4 * k * v2, x, y));
  x = y = 7;
  EXPECT_FALSE(cam.PlaneToImage(-k * u2, -k * v2, x, y));
  EXPECT_EQ(x, 7);
}

TEST(CameraSolverTest, ImpossibleAngleWarnsAndStillRectifies) {
  TCameraSolver cam = Picture();
  EXPECT_FALSE(Preview(cam, kLevelTilt));
  EXPECT_EQ(cam.FocalRatio, 1.0);
  EXPECT_TRUE(cam.FrameValid());
  PlaneAspect(cam, kLevelTilt, 1e-9);
}

TEST(CameraSolverTest, EstimateDoesNotCarryOverFromEarlierRuns) {
  TCameraSolver cam = Picture(), fresh = Picture();
  Preview(cam, kTilted);
  Preview(cam, kLevelTilt);
  Preview(cam, kTilted);
  Preview(fresh, kTilted);
  EXPECT_EQ(cam.FocalRatio, fresh.FocalRatio);
  EXPECT_EQ(cam.PlaneOrigin, fresh.PlaneOrigin);
}

TEST(CameraSolverTest, DegenerateCornersLeaveNoFrame) {
  TCameraSolver cam = Picture();
  Preview(cam, kTilted);
  const TVector u = cam.AxisU, v = cam.AxisV, n = cam.PlaneNormal, o = cam.PlaneOrigin;
  auto expectNoNewFrame = [&] {
    EXPECT_FALSE(cam.SolveCamera());
    EXPECT_FALSE(cam.FrameValid());
    EXPECT_TRUE(cam.AxisU == u && cam.AxisV == v && cam.PlaneNormal == n && cam.PlaneOrigin == o);
    double s = 0, t = 0;
    EXPECT_FALSE(cam.ImageToPlane(10, 10, s, t));
    EXPECT_FALSE(cam.PlaneToImage(10, 10, s, t));
  };
  cam.FocalRatio = 1.0;
  cam.SetCorners(1000, 0, 0, 0, -1000, 0, 500, 800);  // a, b, c on one line
  expectNoNewFrame();
  EXPECT_EQ(cam.CornerA[2], 5000.0);                   // the rays were still set up
  cam.SetCorners(1600, -1200, 1600, -1200, -1600, 1200, 1600, 1200);  // a = b
  expectNoNewFrame();
  // Not singular, but a-b is half a pixel long: no direction to build on.
  cam.SetCorners(1600, -1200, 1599.5, -1200, 1599.5, 1200, 1600, 1200);
  expectNoNewFrame();
  EXPECT_NEAR(cam.EdgeAB[0], -0.5, 1e-9);
  Set(cam, kDefault);
  cam.FocalRatio = std::numeric_limits<double>::infinity();
  expectNoNewFrame();
  cam.FocalRatio = 1.0;
  EXPECT_TRUE(cam.SolveCamera());
  EXPECT_TRUE(cam.FrameValid());
}

TEST(CameraSolverTest, NonFiniteCornersRaise) {
  TCameraSolver cam = Picture();
  Preview(cam, kDefault);
  try {
    cam.SetCorners(1, 1, 2, std::nan(""), 3, 3, 4, 4);
    ADD_FAILURE() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "corner b is not a finite number");
  }
  EXPECT_EQ(cam.CornerA[0], 1600);  // nothing written
  cam.CornerD[0] = std::numeric_limits<double>::infinity();
  EXPECT_THROW(cam.SolveCamera(), EConvertError);
  EXPECT_FALSE(cam.FrameValid());
}

// A rectangle of known side ratio in a random pose, seen through a random
// focal length: the solver must get both back.
TEST(CameraSolverTest, RandomPosesRecoverFocalRatioAndSideRatio) {
  std::mt19937 rng(1234567);
  auto uni = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  // Tilted about both picture axes: with a side parallel to the picture the
  // focal length cannot be told.
  auto tilt = [&] { return (rng() % 2 ? 1 : -1) * uni(0.25, 0.8); };
  for (int n = 0; n < 500; ++n) {
    SCOPED_TRACE(n);
    TCameraSolver cam = Picture(static_cast<int>(uni(800, 6000)), static_cast<int>(uni(600, 4500)));
    const double ratio = uni(0.4, 2.5), f = ratio * cam.Diagonal, aspect = uni(0.3, 3.0);
    const double al = tilt(), be = tilt(), ga = uni(-0.3, 0.3), size = std::max(aspect, 1.0);
    const double cx = uni(-0.4, 0.4) * size, cy = uni(-0.4, 0.4) * size, cz = uni(1.5, 3.5) * size;
    const double lx[4] = {aspect / 2, -aspect / 2, -aspect / 2, aspect / 2}, ly[4] = {-.5, -.5, .5, .5};
    Quad q;
    for (int i = 0; i < 4; ++i) {  // Rz(ga) * Rx(al) * Ry(be) * (lx, ly, 0) + (cx, cy, cz)
      const double x1 = std::cos(be) * lx[i], z1 = -std::sin(be) * lx[i];
      const double y2 = std::cos(al) * ly[i] - std::sin(al) * z1;
      const double z = std::sin(al) * ly[i] + std::cos(al) * z1 + cz;
      q.x[i] = f * (std::cos(ga) * x1 - std::sin(ga) * y2 + cx) / z;
      q.y[i] = f * (std::sin(ga) * x1 + std::cos(ga) * y2 + cy) / z;
    }
    ASSERT_TRUE(Preview(cam, q));
    ASSERT_TRUE(cam.FrameValid());
    EXPECT_NEAR(cam.FocalRatio, ratio, 1e-6 * ratio);
    EXPECT_NEAR(PlaneAspect(cam, q, 1e-7), aspect, 1e-6 * aspect);
  }
}

}  // namespace
}  // namespace planora

// ---- known focal length, known proportions

namespace planora {
namespace {

// The four corners a, b, c, d (upper right, upper left, lower left, lower
// right) of a w x h rectangle turned by `pitch` about the horizontal axis and
// `yaw` about the vertical one, its centre `distance` in front of a camera
// of focal length f (pixels), shifted by (dx, dy) on the picture.
Quad Photograph(double w, double h, double pitch, double yaw, double distance, double f, double dx = 0,
                double dy = 0) {
  const double local[4][2] = {{w / 2, -h / 2}, {-w / 2, -h / 2}, {-w / 2, h / 2}, {w / 2, h / 2}};
  Quad q{};
  for (int k = 0; k < 4; ++k) {
    double x = local[k][0], y = local[k][1], z = 0;
    // About the vertical axis, then about the horizontal one.
    const double x1 = x * std::cos(yaw) + z * std::sin(yaw), z1 = -x * std::sin(yaw) + z * std::cos(yaw);
    const double y2 = y * std::cos(pitch) - z1 * std::sin(pitch), z2 = y * std::sin(pitch) + z1 * std::cos(pitch);
    x = x1 + dx * distance / f;
    y = y2 + dy * distance / f;
    z = z2 + distance;
    q.x[k] = f * x / z;
    q.y[k] = f * y / z;
  }
  return q;
}

void Corners(const Quad& q, double c[4][2]) {
  for (int k = 0; k < 4; ++k) {
    c[k][0] = q.x[k];
    c[k][1] = q.y[k];
  }
}

TEST(CameraKnownFocal, EstimateAndItsUncertaintyFollowHowWellTheCornersTellIt) {
  const double f = 3500, diagonal = 5000;
  double c[4][2];
  // Turned about both axes: found, the truth, and firm.
  Corners(Photograph(2000, 1400, 0.5, 0.6, 5000, f), c);
  const TFocalEstimate firm = EstimateFocalFromCorners(c, diagonal);
  ASSERT_TRUE(firm.Found);
  EXPECT_NEAR(firm.Ratio, f / diagonal, 1e-9);
  EXPECT_GT(firm.Uncertainty, 0.0);
  EXPECT_TRUE(firm.WellDetermined());

  // A little yaw only: still a solution, but half a pixel moves it a lot.
  Corners(Photograph(2000, 1400, 0.5, 0.004, 5000, f), c);
  const TFocalEstimate loose = EstimateFocalFromCorners(c, diagonal);
  EXPECT_GT(loose.Uncertainty, 10 * firm.Uncertainty);
  EXPECT_FALSE(loose.WellDetermined());

  // About one axis only, and square-on: no estimate at all.
  Corners(Photograph(2000, 1400, 0.5, 0.0, 5000, f), c);
  EXPECT_FALSE(EstimateFocalFromCorners(c, diagonal).Found);
  EXPECT_FALSE(EstimateFocalFromCorners(c, diagonal).WellDetermined());
  Corners(Photograph(2000, 1400, 0.0, 0.0, 5000, f, 300, -200), c);
  const TFocalEstimate squareOn = EstimateFocalFromCorners(c, diagonal);
  EXPECT_FALSE(squareOn.Found);
  EXPECT_EQ(squareOn.Ratio, 1.0);

  EXPECT_NEAR(FocalRatioFrom35mm(43.2666), 1.0, 1e-5);
}

TEST(CameraKnownFocal, TheTrueFocalGivesTheTrueProportionsWhereTheCornersCannot) {
  const double f = 2800;
  TCameraSolver cam = Picture();
  const Quad q = Photograph(2970, 2100, 0.7, 0.0, 6000, f, 0, 150);
  Set(cam, q);
  cam.FocalRatio = 1.0;
  ASSERT_TRUE(cam.SolveCamera());
  EXPECT_FALSE(cam.EstimateFocalRatio());  // the fallback, ratio 1
  const double fallback = cam.MarkedAspectRatio();
  EXPECT_GT(std::abs(fallback / (2970.0 / 2100) - 1), 0.05);
  cam.FocalRatio = f / cam.Diagonal;
  ASSERT_TRUE(cam.SolveCamera());
  EXPECT_NEAR(cam.MarkedAspectRatio(), 2970.0 / 2100, 1e-9);
}

TEST(CameraKnownProportions, TheFocalSolvedFromTheProportionsIsTheTrueOne) {
  TCameraSolver cam = Picture();
  const struct {
    double pitch, yaw, f, dx, dy;
  } poses[] = {{0.7, 0.0, 2800, 0, 150}, {0.0, -0.6, 4200, -300, 0}, {0.45, 0.5, 3500, 100, 80}, {-0.3, 0.2, 6000, 0, 0}};
  for (const auto& p : poses) {
    SCOPED_TRACE(p.f);
    Set(cam, Photograph(2100, 2970, p.pitch, p.yaw, 7000, p.f, p.dx, p.dy));
    cam.FocalRatio = 1.0;
    ASSERT_TRUE(cam.SolveCamera());
    double ratio = 0;
    ASSERT_TRUE(cam.FocalRatioForAspect(2100.0 / 2970, ratio));
    EXPECT_NEAR(ratio * cam.Diagonal, p.f, p.f * 1e-9);
  }
  // Square-on every focal length gives the same proportions: none is solved,
  // and proportions no focal length can give are refused as well.
  Set(cam, kDefault);
  cam.FocalRatio = 1.0;
  ASSERT_TRUE(cam.SolveCamera());
  double ratio = 7;
  EXPECT_FALSE(cam.FocalRatioForAspect(1.0, ratio));
  Set(cam, Photograph(2100, 2970, 0.7, 0, 7000, 2800));
  ASSERT_TRUE(cam.SolveCamera());
  EXPECT_FALSE(cam.FocalRatioForAspect(5.0, ratio));  // wider than even f = 0 makes it
  EXPECT_FALSE(cam.FocalRatioForAspect(0.0, ratio));
  EXPECT_EQ(ratio, 7);
}

TEST(CameraKnownProportions, ImposedProportionsAreExactAndTheProjectionsStayInverse) {
  TCameraSolver cam = Picture();
  Set(cam, kTilted);
  cam.FocalRatio = 0.9;  // not the true 0.7: the measured proportions are off
  ASSERT_TRUE(cam.SolveCamera());
  ASSERT_GT(std::abs(cam.MarkedAspectRatio() - 10.0 / 7), 0.01);
  ASSERT_TRUE(cam.ImposeAspectRatio(10.0 / 7));
  EXPECT_NEAR(cam.MarkedAspectRatio(), 10.0 / 7, 1e-12);
  double s = 0, t = 0, x = 0, y = 0;
  ASSERT_TRUE(cam.ImageToPlane(-300.5, 211.25, s, t));
  ASSERT_TRUE(cam.PlaneToImage(s, t, x, y));
  EXPECT_NEAR(x, -300.5, 1e-9);
  EXPECT_NEAR(y, 211.25, 1e-9);
  EXPECT_FALSE(cam.ImposeAspectRatio(-1));
  TCameraSolver unsolved = Picture();
  EXPECT_FALSE(unsolved.ImposeAspectRatio(1.0));
}

}  // namespace
}  // namespace planora
