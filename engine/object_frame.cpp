#include "engine/object_frame.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace planora {

TQuadMap TQuadMap::FromUnitSquare(const double c[4][2]) {
  TQuadMap m;
  const double x0 = c[0][0], y0 = c[0][1], x1 = c[1][0], y1 = c[1][1];
  const double x2 = c[2][0], y2 = c[2][1], x3 = c[3][0], y3 = c[3][1];
  const double sx = x0 - x1 + x2 - x3, sy = y0 - y1 + y2 - y3;
  if (sx == 0.0 && sy == 0.0) {
    // A parallelogram: the map is affine.
    m.A = x1 - x0, m.B = x3 - x0, m.C = x0;
    m.D = y1 - y0, m.E = y3 - y0, m.F = y0;
    return m;
  }
  const double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
  const double det = dx1 * dy2 - dx2 * dy1;
  m.G = (sx * dy2 - dx2 * sy) / det;
  m.H = (dx1 * sy - sx * dy1) / det;
  m.A = x1 - x0 + m.G * x1, m.B = x3 - x0 + m.H * x3, m.C = x0;
  m.D = y1 - y0 + m.G * y1, m.E = y3 - y0 + m.H * y3, m.F = y0;
  return m;
}

void NaturalObjectSize(const double corners[4][2], double aspect, std::int64_t& width, std::int64_t& height) {
  const TQuadMap m = TQuadMap::FromUnitSquare(corners);
  // Photo pixels per whole width and per whole height, at the worst place.
  // The local scale of a projective map grows towards its nearest part,
  // which for a convex quadrilateral lies on its border; a grid over the
  // square catches it without working out where.
  constexpr int kSteps = 16;
  constexpr double kDelta = 1e-4;
  double across = 0, down = 0;
  for (int i = 0; i <= kSteps; ++i) {
    for (int j = 0; j <= kSteps; ++j) {
      const double u = std::clamp(double(i) / kSteps, kDelta, 1 - kDelta);
      const double v = std::clamp(double(j) / kSteps, kDelta, 1 - kDelta);
      double x0, y0, xu, yu, xv, yv;
      if (!m.Map(u, v, x0, y0) || !m.Map(u + kDelta, v, xu, yu) || !m.Map(u, v + kDelta, xv, yv)) continue;
      across = std::max(across, std::hypot(xu - x0, yu - y0) / kDelta);
      down = std::max(down, std::hypot(xv - x0, yv - y0) / kDelta);
    }
  }
  const double w = std::max(across, aspect * down);
  width = std::max<std::int64_t>(1, std::llround(w));
  height = std::max<std::int64_t>(1, std::llround(w / aspect));
}

namespace {

// Bilinear sample (or the nearest pixel) at a photo position, the edge
// pixels repeated outwards: the object lies inside the photo, and only the
// half pixel around its border can reach beyond.
void Sample(const TBitmap& p, double x, double y, bool nearest, double bgr[3]) {
  const int w = p.Width(), h = p.Height();
  if (nearest) {
    const int ix = std::clamp(static_cast<int>(std::floor(x + 0.5)), 0, w - 1);
    const int iy = std::clamp(static_cast<int>(std::floor(y + 0.5)), 0, h - 1);
    const std::uint8_t* q = p.ScanLine(iy) + 3 * ix;
    for (int k = 0; k < 3; ++k) bgr[k] = q[k];
    return;
  }
  x = std::clamp(x, 0.0, double(w - 1));
  y = std::clamp(y, 0.0, double(h - 1));
  const int x0 = std::min(static_cast<int>(x), w - 1), y0 = std::min(static_cast<int>(y), h - 1);
  const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
  const double fx = x - x0, fy = y - y0;
  const std::uint8_t* r0 = p.ScanLine(y0);
  const std::uint8_t* r1 = p.ScanLine(y1);
  for (int k = 0; k < 3; ++k) {
    const double top = r0[3 * x0 + k] * (1 - fx) + r0[3 * x1 + k] * fx;
    const double bottom = r1[3 * x0 + k] * (1 - fx) + r1[3 * x1 + k] * fx;
    bgr[k] = top * (1 - fy) + bottom * fy;
  }
}

// Samples per output pixel are capped: beyond this the average is as good
// as exact, and a huge reduction must not take forever.
constexpr int kMaxSamplesPerSide = 64;

void RectifyRows(const TBitmap& picture, const TQuadMap& m, TBitmap& out, bool nearest, int rowFrom, int rowTo) {
  const int W = out.Width(), H = out.Height();
  for (int row = rowFrom; row < rowTo; ++row) {
    std::uint8_t* line = out.ScanLine(row);
    for (int col = 0; col < W; ++col) {
      // The footprint of the pixel in the photo: its edges mapped through.
      double x00, y00, x10, y10, x01, y01;
      const bool ok = m.Map(double(col) / W, double(row) / H, x00, y00) &&
                      m.Map(double(col + 1) / W, double(row) / H, x10, y10) &&
                      m.Map(double(col) / W, double(row + 1) / H, x01, y01);
      // Samples half a photo pixel apart at most: bilinear taps that close
      // together average like a box over the footprint.
      int n = 1, k = 1;
      if (ok) {
        const double across = std::hypot(x10 - x00, y10 - y00), down = std::hypot(x01 - x00, y01 - y00);
        if (across > 1.0) n = std::min(static_cast<int>(std::ceil(2 * across)), kMaxSamplesPerSide);
        if (down > 1.0) k = std::min(static_cast<int>(std::ceil(2 * down)), kMaxSamplesPerSide);
      }
      double sum[3] = {0, 0, 0};
      int count = 0;
      for (int j = 0; j < k; ++j) {
        for (int i = 0; i < n; ++i) {
          double x, y, bgr[3];
          if (!m.Map((col + (i + 0.5) / n) / W, (row + (j + 0.5) / k) / H, x, y)) continue;
          Sample(picture, x, y, nearest, bgr);
          for (int c = 0; c < 3; ++c) sum[c] += bgr[c];
          ++count;
        }
      }
      for (int c = 0; c < 3; ++c) {
        // Pure red, as the photo frame marks a pixel without a source.
        const double v = count ? sum[c] / count : (c == 2 ? 255.0 : 0.0);
        line[3 * col + c] = static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
      }
    }
  }
}

}  // namespace

void RectifyObject(const TBitmap& picture, const double corners[4][2], TBitmap& out, bool nearest, int threads) {
  const TQuadMap m = TQuadMap::FromUnitSquare(corners);
  const int H = out.Height();
  int n = threads > 0 ? threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  n = std::clamp(n, 1, std::max(1, H));
  if (n == 1) {
    RectifyRows(picture, m, out, nearest, 0, H);
    return;
  }
  std::vector<std::thread> workers;
  for (int t = 0; t < n; ++t) {
    const int from = static_cast<int>(static_cast<long long>(H) * t / n);
    const int to = static_cast<int>(static_cast<long long>(H) * (t + 1) / n);
    workers.emplace_back(RectifyRows, std::cref(picture), std::cref(m), std::ref(out), nearest, from, to);
  }
  for (std::thread& w : workers) w.join();
}

}  // namespace planora
