// Generated test photos: a flat rectangular object (a sheet, a card, a
// screen) lying on a textured plane, photographed by a pinhole camera in a
// random pose, with uneven light, blur, sensor noise and, sometimes, a thumb
// over one corner. Every number behind a photo is known, so detection and
// rectification can be measured against the truth.
//
// Photos are the same for the same seed on a given standard library (the
// noise comes from std::normal_distribution).
#pragma once

#include <array>
#include <cstdint>

#include "apps/imageio/imageio.h"

namespace planora::scene {

struct TSceneOptions {
  int Width = 960;
  int Height = 720;
  std::uint32_t Seed = 1;
  // Turned about the horizontal axis only (no yaw, no roll): the pose for
  // which the corners alone cannot tell the focal length.
  bool OneAxis = false;
  // Allows a thumb over one corner (in about a quarter of the photos).
  bool Occlusion = true;
};

struct TScene {
  planora::TPhoto Photo;  // with the true focal length in its EXIF block
  // Corners a, b, c, d (upper right, upper left, lower left, lower right as
  // seen) in photo pixels: column, row, the pixel centre at whole numbers.
  std::array<std::array<double, 2>, 4> PixelCorners{};
  // The same in the camera solver's world units (pixels from the centre,
  // with the window's spacing of width / (width - 1)).
  std::array<std::array<double, 2>, 4> Corners{};
  double FocalRatio = 1.0;   // focal length over the picture diagonal
  double AspectRatio = 1.0;  // the object's width over its height
  bool Occluded = false;     // a corner lies under the thumb
  double BlurSigma = 0, NoiseSigma = 0;
};

TScene Render(const TSceneOptions& options);

// Points and directions in camera space, for both renderers.
struct TVec {
  double X = 0, Y = 0, Z = 0;
};
inline TVec operator+(TVec a, TVec b) { return {a.X + b.X, a.Y + b.Y, a.Z + b.Z}; }
inline TVec operator-(TVec a, TVec b) { return {a.X - b.X, a.Y - b.Y, a.Z - b.Z}; }
inline TVec operator*(double k, TVec a) { return {k * a.X, k * a.Y, k * a.Z}; }
inline double Dot(TVec a, TVec b) { return a.X * b.X + a.Y * b.Y + a.Z * b.Z; }
inline TVec Cross(TVec a, TVec b) { return {a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X}; }

// The textures' randomness, shared with the bundled sample's renderer: a
// hash of a lattice point, and smooth value noise in -1..1 with features of
// about `cell` units built on it. `salt` goes into the hash as it is: the
// two renderers mix their seeds each their own way, and the sample's bytes
// depend on its way.
std::uint32_t LatticeHash(std::int64_t a, std::int64_t b, std::uint64_t salt);
double ValueNoise(double s, double t, double cell, std::uint64_t salt);
// A hash as a number in 0..1.
inline double UnitOf(std::uint32_t h) { return h / 4294967296.0; }

}  // namespace planora::scene
