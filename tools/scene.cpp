#include "tools/scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "apps/imageio/metadata.h"

namespace planora::scene {

namespace {


// The generated photos spread each seed over the whole hash.
std::uint64_t Salt(std::uint32_t seed) { return std::uint64_t{seed} * 0x94D049BB133111EBull; }
std::uint32_t Hash(std::int64_t a, std::int64_t b, std::uint32_t seed) { return LatticeHash(a, b, Salt(seed)); }
double Unit(std::uint32_t h) { return UnitOf(h); }
double Noise(double s, double t, double cell, std::uint32_t seed) { return ValueNoise(s, t, cell, Salt(seed)); }

struct TColour {
  double R = 0, G = 0, B = 0;
};
TColour Mix(TColour a, TColour b, double k) { return {a.R + (b.R - a.R) * k, a.G + (b.G - a.G) * k, a.B + (b.B - a.B) * k}; }

struct TLook {
  TColour Paper, Ink, Ground, GroundSecond;
  double GroundCell = 40;
  int GroundKind = 0;  // 0 mottled, 1 wood grain, 2 tiles
  std::uint32_t Seed = 0;
};

// The object: paper with lines of "text" and a block of "picture", inside a
// margin, so that its inside has edges of its own to mislead a detector.
TColour Object(const TLook& look, double s, double t, double w, double h) {
  const double margin = 0.08 * std::min(w, h);
  TColour c = look.Paper;
  c = Mix(c, {c.R * 0.92, c.G * 0.92, c.B * 0.92}, 0.5 + 0.5 * Noise(s, t, 0.2 * w, look.Seed + 3));
  if (s > margin && s < w - margin && t > margin && t < h - margin) {
    const double line = 0.035 * h;
    const auto row = static_cast<std::int64_t>(std::floor(t / line));
    const double inRow = t / line - std::floor(t / line);
    const double wordCell = 0.09 * w;
    const auto word = static_cast<std::int64_t>(std::floor(s / wordCell));
    const bool isText = inRow > 0.25 && inRow < 0.75 && Unit(Hash(row, word, look.Seed)) > 0.25 &&
                        s / wordCell - std::floor(s / wordCell) < 0.8 && Unit(Hash(row, -1, look.Seed)) > 0.2;
    if (isText) c = Mix(c, look.Ink, 0.85);
  }
  return c;
}

TColour Ground(const TLook& look, double s, double t) {
  double k = 0;
  switch (look.GroundKind) {
    case 0: k = 0.5 + 0.35 * Noise(s, t, look.GroundCell, look.Seed + 7) + 0.15 * Noise(s, t, look.GroundCell / 5, look.Seed + 8); break;
    case 1: {
      const double grain = std::sin((t + 8 * Noise(s, t, look.GroundCell * 3, look.Seed + 9)) / look.GroundCell * 6);
      k = 0.5 + 0.3 * grain + 0.2 * Noise(s, t, look.GroundCell / 3, look.Seed + 10);
      break;
    }
    default: {
      const double cell = look.GroundCell * 4;
      const double fs = s / cell - std::floor(s / cell), ft = t / cell - std::floor(t / cell);
      k = (fs < 0.04 || ft < 0.04) ? 1.0 : 0.3 + 0.1 * Noise(s, t, look.GroundCell, look.Seed + 11);
      break;
    }
  }
  return Mix(look.Ground, look.GroundSecond, std::clamp(k, 0.0, 1.0));
}

double Luma(TColour c) { return 0.299 * c.R + 0.587 * c.G + 0.114 * c.B; }

std::uint8_t Byte(double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); }

// Separable Gaussian blur of one channel plane.
void Blur(std::vector<double>& plane, int w, int h, double sigma) {
  if (sigma < 0.05) return;
  const int r = static_cast<int>(std::ceil(3 * sigma));
  std::vector<double> k(2 * r + 1);
  double sum = 0;
  for (int i = -r; i <= r; ++i) sum += k[i + r] = std::exp(-0.5 * i * i / (sigma * sigma));
  for (double& v : k) v /= sum;
  std::vector<double> tmp(plane.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double a = 0;
      for (int i = -r; i <= r; ++i) a += k[i + r] * plane[y * w + std::clamp(x + i, 0, w - 1)];
      tmp[y * w + x] = a;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double a = 0;
      for (int i = -r; i <= r; ++i) a += k[i + r] * tmp[std::clamp(y + i, 0, h - 1) * w + x];
      plane[y * w + x] = a;
    }
}

}  // namespace

TScene Render(const TSceneOptions& o) {
  std::mt19937 random(o.Seed * 2654435761u + 17);
  auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); };
  const int W = o.Width, H = o.Height;
  const double diagonal = std::hypot(W, H);
  TScene scene;
  scene.FocalRatio = uniform(0.55, 1.5);
  const double f = scene.FocalRatio * diagonal;
  // Sheets, cards, screens, boards: from tall to wide.
  scene.AspectRatio = std::exp(uniform(std::log(0.55), std::log(1.9)));
  const double objH = 1000, objW = objH * scene.AspectRatio;

  const double deg = std::numbers::pi / 180;
  const double yaw = o.OneAxis ? 0 : uniform(-40, 40) * deg;
  double pitch = uniform(15, 45) * deg * (uniform(0, 1) < 0.5 ? -1 : 1);
  if (!o.OneAxis && uniform(0, 1) < 0.3) pitch = uniform(-12, 12) * deg;
  const double roll = o.OneAxis ? 0 : uniform(-25, 25) * deg;
  const auto rotate = [&](TVec p) {
    TVec a{p.X * std::cos(yaw) + p.Z * std::sin(yaw), p.Y, -p.X * std::sin(yaw) + p.Z * std::cos(yaw)};
    a = {a.X, a.Y * std::cos(pitch) - a.Z * std::sin(pitch), a.Y * std::sin(pitch) + a.Z * std::cos(pitch)};
    return TVec{a.X * std::cos(roll) - a.Y * std::sin(roll), a.X * std::sin(roll) + a.Y * std::cos(roll), a.Z};
  };
  const TVec U = rotate({1, 0, 0}), V = rotate({0, 1, 0});
  const TVec N = Cross(U, V);
  const double pixelX = W / (W - 1.0), pixelY = H / (H - 1.0);
  const double fill = uniform(0.45, 0.85);
  const double offX = uniform(-0.15, 0.15), offY = uniform(-0.15, 0.15);
  TVec origin;
  std::array<std::array<double, 2>, 4> world{};
  // Moved away until the object spans `fill` of the half-picture at most,
  // then shifted a little off centre when that keeps it inside.
  const auto place = [&](double distance, double dx, double dy) {
    const TVec centre = distance * TVec{dx, dy, 1.0};
    origin = centre - (objW / 2) * U - (objH / 2) * V;
    const double st[4][2] = {{objW, 0}, {0, 0}, {0, objH}, {objW, objH}};
    double extent = 0;
    for (int k = 0; k < 4; ++k) {
      const TVec p = origin + st[k][0] * U + st[k][1] * V;
      world[k] = {f * p.X / p.Z, f * p.Y / p.Z};
      extent = std::max({extent, std::abs(world[k][0]) / (W / 2.0), std::abs(world[k][1]) / (H / 2.0)});
      if (p.Z <= 0) extent = 1e9;
    }
    return extent;
  };
  double nearZ = 1, farZ = 1e7;
  for (int i = 0; i < 100; ++i) {
    const double mid = std::sqrt(nearZ * farZ);
    (place(mid, 0, 0) > fill ? nearZ : farZ) = mid;
  }
  // Off centre by as much of the chosen shift as keeps a margin.
  double shift = 1;
  while (shift > 0.01 && place(farZ, shift * offX, shift * offY) > 0.92) shift /= 2;
  if (shift <= 0.01) place(farZ, 0, 0);
  scene.Corners = world;
  for (int k = 0; k < 4; ++k)
    scene.PixelCorners[k] = {(world[k][0] + W / 2.0) / pixelX, (world[k][1] + H / 2.0) / pixelY};

  TLook look;
  look.Seed = o.Seed;
  const double paper = uniform(200, 250);
  look.Paper = {paper * uniform(0.95, 1.0), paper * uniform(0.95, 1.0), paper * uniform(0.9, 1.0)};
  look.Ink = {uniform(10, 80), uniform(10, 80), uniform(10, 90)};
  look.GroundKind = static_cast<int>(uniform(0, 3));
  look.GroundCell = uniform(15, 80);
  // A ground clearly darker than the paper most of the time, as a desk or
  // a wall is; now and then a pale one with little contrast.
  const double groundLevel = uniform(0, 1) < 0.15 ? uniform(120, 170) : uniform(30, 140);
  look.Ground = {groundLevel * uniform(0.7, 1.3), groundLevel * uniform(0.7, 1.2), groundLevel * uniform(0.6, 1.1)};
  look.GroundSecond = Mix(look.Ground, {0, 0, 0}, uniform(0.2, 0.5));
  (void)Luma;

  // Light: a slope across the picture, an overall level and vignetting.
  const double gain = uniform(0.75, 1.1), slopeX = uniform(-0.25, 0.25), slopeY = uniform(-0.25, 0.25);
  // A thumb (a round, skin-coloured blot) over one corner, sometimes.
  scene.Occluded = o.Occlusion && uniform(0, 1) < 0.25;
  const int thumbCorner = static_cast<int>(uniform(0, 4));
  const double thumbR = uniform(0.02, 0.045) * diagonal;
  const double thumbAngle = uniform(0, 2 * std::numbers::pi);
  const double thumbX = scene.PixelCorners[thumbCorner][0] + 0.5 * thumbR * std::cos(thumbAngle);
  const double thumbY = scene.PixelCorners[thumbCorner][1] + 0.5 * thumbR * std::sin(thumbAngle);
  const TColour skin{uniform(150, 220), uniform(110, 160), uniform(90, 130)};

  constexpr int kSuper = 3;
  std::vector<double> planes[3];
  for (auto& p : planes) p.assign(static_cast<std::size_t>(W) * H, 0);
  const double planeDistance = Dot(N, origin);
  for (int row = 0; row < H; ++row) {
    for (int col = 0; col < W; ++col) {
      TColour sum;
      for (int j = 0; j < kSuper; ++j)
        for (int i = 0; i < kSuper; ++i) {
          const double px = col + (i + 0.5) / kSuper - 0.5, py = row + (j + 0.5) / kSuper - 0.5;
          TColour c{150, 170, 200};  // beyond the plane's horizon
          if (scene.Occluded && std::hypot(px - thumbX, py - thumbY) < thumbR) {
            c = skin;
          } else {
            const TVec ray{px * pixelX - W / 2.0, py * pixelY - H / 2.0, f};
            const double along = planeDistance / Dot(N, ray);
            if (along > 0) {
              const TVec p = along * ray - origin;
              const double s = Dot(p, U), t = Dot(p, V);
              c = (s >= 0 && s <= objW && t >= 0 && t <= objH) ? Object(look, s, t, objW, objH) : Ground(look, s, t);
            }
          }
          sum = {sum.R + c.R, sum.G + c.G, sum.B + c.B};
        }
      const double nx = col / (W - 1.0) - 0.5, ny = row / (H - 1.0) - 0.5;
      const double r2 = (nx * nx + ny * ny) * 2;
      const double k = gain * (1 + slopeX * nx + slopeY * ny) * (1 - 0.15 * r2) / (kSuper * kSuper);
      const std::size_t at = static_cast<std::size_t>(row) * W + col;
      planes[0][at] = sum.B * k;
      planes[1][at] = sum.G * k;
      planes[2][at] = sum.R * k;
    }
  }
  scene.BlurSigma = uniform(0, 1) < 0.4 ? 0.0 : uniform(0.3, 1.3);
  scene.NoiseSigma = uniform(0.5, 5);
  std::normal_distribution<double> noise(0, scene.NoiseSigma);
  TPhoto& photo = scene.Photo;
  photo.Width = W;
  photo.Height = H;
  photo.Pixels.resize(static_cast<std::size_t>(W) * H * 3);
  for (int c = 0; c < 3; ++c) Blur(planes[c], W, H, scene.BlurSigma);
  for (std::size_t at = 0; at < planes[0].size(); ++at)
    for (int c = 0; c < 3; ++c) photo.Pixels[at * 3 + c] = Byte(planes[c][at] + noise(random));
  // A sensor of 200 pixels per millimetre for the EXIF focal length.
  SetExifFocalLength(photo.Exif, f / 200.0, 200.0, W, H);
  return scene;
}

std::uint32_t LatticeHash(std::int64_t a, std::int64_t b, std::uint64_t salt) {
  std::uint64_t h = static_cast<std::uint64_t>(a) * 0x9E3779B97F4A7C15ull ^
                    static_cast<std::uint64_t>(b) * 0xC2B2AE3D27D4EB4Full ^ salt;
  h ^= h >> 31;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 27;
  return static_cast<std::uint32_t>(h >> 32);
}

double ValueNoise(double s, double t, double cell, std::uint64_t salt) {
  const double x = s / cell, y = t / cell;
  const double fx = std::floor(x), fy = std::floor(y);
  const auto ix = static_cast<std::int64_t>(fx), iy = static_cast<std::int64_t>(fy);
  const double u = x - fx, v = y - fy;
  const double su = u * u * (3 - 2 * u), sv = v * v * (3 - 2 * v);
  const double a = UnitOf(LatticeHash(ix, iy, salt)), b = UnitOf(LatticeHash(ix + 1, iy, salt));
  const double c = UnitOf(LatticeHash(ix, iy + 1, salt)), d = UnitOf(LatticeHash(ix + 1, iy + 1, salt));
  return 2 * ((a + (b - a) * su) + ((c + (d - c) * su) - (a + (b - a) * su)) * sv) - 1;
}

}  // namespace planora::scene
