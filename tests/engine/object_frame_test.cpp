// The object-only output: the map onto the marked corners, the size that
// keeps the nearest part's resolution, and the averaging that keeps fine
// detail from turning into a false coarse pattern.
#include "engine/object_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

namespace planora {
namespace {

// Upper left, upper right, lower right, lower left, in photo pixels.
constexpr double kTrapezoid[4][2] = {{130.5, 40.25}, {290, 52}, {360.75, 260}, {60, 240.5}};

TEST(ObjectFrame, TheMapPutsTheSquaresCornersOnTheMarkedOnes) {
  const double parallelogram[4][2] = {{10, 20}, {110, 30}, {130, 90}, {30, 80}};
  for (const auto* q : {kTrapezoid, parallelogram}) {
    const TQuadMap m = TQuadMap::FromUnitSquare(q);
    const double unit[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int k = 0; k < 4; ++k) {
      double x = 0, y = 0;
      ASSERT_TRUE(m.Map(unit[k][0], unit[k][1], x, y));
      EXPECT_NEAR(x, q[k][0], 1e-9);
      EXPECT_NEAR(y, q[k][1], 1e-9);
    }
  }
  // Straight lines stay straight: the middle of the square lands where the
  // quadrilateral's diagonals cross.
  const TQuadMap m = TQuadMap::FromUnitSquare(kTrapezoid);
  double x = 0, y = 0;
  ASSERT_TRUE(m.Map(0.5, 0.5, x, y));
  const double (*q)[2] = kTrapezoid;
  const double cross = ((x - q[0][0]) * (q[2][1] - q[0][1]) - (y - q[0][1]) * (q[2][0] - q[0][0]));
  const double cross2 = ((x - q[1][0]) * (q[3][1] - q[1][1]) - (y - q[1][1]) * (q[3][0] - q[1][0]));
  EXPECT_NEAR(cross, 0, 1e-6);
  EXPECT_NEAR(cross2, 0, 1e-6);
}

TEST(ObjectFrame, TheNaturalSizeKeepsTheNearestPartsResolution) {
  std::int64_t w = 0, h = 0;
  // Square-on, 200 x 100 pixels: that size.
  const double flat[4][2] = {{10, 10}, {210, 10}, {210, 110}, {10, 110}};
  NaturalObjectSize(flat, 2.0, w, h);
  EXPECT_EQ(w, 200);
  EXPECT_EQ(h, 100);
  // Given squarer proportions, no direction may lose pixels: the height grows.
  NaturalObjectSize(flat, 1.0, w, h);
  EXPECT_EQ(w, 200);
  EXPECT_EQ(h, 200);
  // Leaning back, seen in perspective: one output pixel step is at most one
  // photo pixel anywhere, and exactly one somewhere (at the near edge).
  const double leaning[4][2] = {{100, 10}, {300, 10}, {400, 200}, {0, 200}};
  NaturalObjectSize(leaning, 2.0, w, h);
  EXPECT_NEAR(double(w), 2.0 * h, 1);
  const TQuadMap m = TQuadMap::FromUnitSquare(leaning);
  double largest = 0;
  for (int i = 0; i <= 50; ++i)
    for (int j = 0; j <= 50; ++j) {
      const double u = i / 50.0 * (1 - 1.0 / w), v = j / 50.0 * (1 - 1.0 / h);
      double x0, y0, x1, y1, x2, y2;
      ASSERT_TRUE(m.Map(u, v, x0, y0) && m.Map(u + 1.0 / w, v, x1, y1) && m.Map(u, v + 1.0 / h, x2, y2));
      largest = std::max({largest, std::hypot(x1 - x0, y1 - y0), std::hypot(x2 - x0, y2 - y0)});
    }
  EXPECT_LE(largest, 1.01);
  EXPECT_GE(largest, 0.98);
}

TEST(ObjectFrame, EachPixelComesFromWhereTheMapSendsItsCentre) {
  // Blue holds the column, green the row: the output tells where it sampled.
  TBitmap picture(256, 256);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      picture.ScanLine(y)[3 * x] = static_cast<std::uint8_t>(x);
      picture.ScanLine(y)[3 * x + 1] = static_cast<std::uint8_t>(y);
      picture.ScanLine(y)[3 * x + 2] = 0;
    }
  const double quad[4][2] = {{40.5, 30}, {200, 50.25}, {230, 220}, {20, 240}};
  TBitmap out(300, 320);  // larger than the object: no averaging
  RectifyObject(picture, quad, out, false, 1);
  const TQuadMap m = TQuadMap::FromUnitSquare(quad);
  for (int row = 0; row < 320; row += 7)
    for (int col = 0; col < 300; col += 11) {
      double x = 0, y = 0;
      ASSERT_TRUE(m.Map((col + 0.5) / 300, (row + 0.5) / 320, x, y));
      EXPECT_NEAR(out.ScanLine(row)[3 * col], x, 0.51) << col << "," << row;
      EXPECT_NEAR(out.ScanLine(row)[3 * col + 1], y, 0.51) << col << "," << row;
    }
}

TEST(ObjectFrame, FineStripesReducedBecomeEvenGreyNotFalseBands) {
  // One-pixel black and white stripes, reduced by a factor that is not whole:
  // one sample per output pixel would pick stripes in a slow beat (bands of
  // black and white); the average over each footprint is grey throughout.
  TBitmap picture(431, 300);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 431; ++x)
      for (int c = 0; c < 3; ++c) picture.ScanLine(y)[3 * x + c] = (x % 2) ? 255 : 0;
  const double whole[4][2] = {{-0.5, -0.5}, {430.5, -0.5}, {430.5, 299.5}, {-0.5, 299.5}};
  for (const bool nearest : {false, true}) {
    TBitmap out(100, 70);
    RectifyObject(picture, whole, out, nearest, 2);
    int low = 255, high = 0;
    for (int y = 0; y < 70; ++y)
      for (int x = 0; x < 100; ++x) {
        low = std::min<int>(low, out.ScanLine(y)[3 * x]);
        high = std::max<int>(high, out.ScanLine(y)[3 * x]);
      }
    EXPECT_GE(low, 127 - 16) << nearest;
    EXPECT_LE(high, 128 + 16) << nearest;
  }
  // Tilted as well: the stripes seen in perspective, reduced.
  TBitmap out(60, 60);
  RectifyObject(picture, kTrapezoid, out, false, 1);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 60; ++x) EXPECT_NEAR(out.ScanLine(y)[3 * x], 127.5, 24) << x << "," << y;
}

TEST(ObjectFrame, TheBytesDoNotDependOnTheThreadCount) {
  std::mt19937 random(14);
  TBitmap picture(320, 240);
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320 * 3; ++x) picture.ScanLine(y)[x] = static_cast<std::uint8_t>(random());
  TBitmap one(77, 131), three(77, 131);
  RectifyObject(picture, kTrapezoid, one, false, 1);
  RectifyObject(picture, kTrapezoid, three, false, 3);
  for (int y = 0; y < 131; ++y) ASSERT_TRUE(std::equal(one.ScanLine(y), one.ScanLine(y) + 77 * 3, three.ScanLine(y))) << y;
}

}  // namespace
}  // namespace planora
