// Renders the bundled sample photo: a poster of known proportions hung on a
// brick wall, photographed at an angle by a pinhole camera of known focal
// length. Because every number behind the picture is known, the sample
// doubles as a check of the whole chain: marking its corners must bring
// back the focal ratio and the poster's proportions written beside it.
//
//   planora-render-sample [output folder]    (default: resources/samples)
//
// Writes poster.jpg and poster.json. The output is the same on every run:
// the texture comes from a hash of the position, never from a random seed.
//
// Coordinates are those of the camera solver: picture pixels from the
// picture centre, x to the right, y downwards, a picture point (x, y) seen
// along the ray (x, y, focal length). Pixels sit where the rectification
// window's coordinate window puts them: the first column at -width/2, the
// last at +width/2, so column c is at c * width / (width - 1) - width/2 (and
// likewise for rows); a "pixel_corners" entry converts back the same way.
//
// Also writes poster.corners, the world corners as one line
// "AX,AY,BX,BY,CX,CY,DX,DY" for the batch tool's --corners.
//
//   planora-render-sample --many N [--seed S] [--one-axis] [--no-thumb] folder
//
// writes N generated photos instead (tools/scene.h: random poses, focal
// lengths, grounds, light, blur, noise, now and then a thumb over a corner),
// scene-SEED.jpg with the true focal length in EXIF and scene-SEED.json
// with the truth, for trying the tools and the detector by hand.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

#include "apps/imageio/imageio.h"
#include "tools/scene.h"
#include "platform/sysutils.h"

namespace {

constexpr int kWidth = 2048;
constexpr int kHeight = 1536;
constexpr int kSuper = 3;             // samples per pixel in each direction
constexpr double kFocalRatio = 0.9;   // focal length over the picture diagonal
constexpr double kPosterW = 1000.0;   // poster size in its own units: 10 : 7
constexpr double kPosterH = 700.0;
constexpr double kYawDegrees = 34.0;  // turn about the vertical axis
constexpr double kPitchDegrees = -21.0;  // tilt about the horizontal axis
constexpr double kFill = 0.80;        // the poster's extent over the half-picture, largest side
constexpr int kJpegQuality = 92;

using planora::scene::TVec;

struct TColour {
  double R = 0, G = 0, B = 0;
};

// The poster's plane in camera space: P(s, t) = Origin + s * U + t * V,
// with (s, t) in poster units from its upper left corner. The wall shares
// the plane, so (s, t) also address the bricks around the poster.
struct TPlane {
  TVec Origin, U, V, Normal;
};

TPlane PlacePoster(double distance) {
  const double yaw = kYawDegrees * std::numbers::pi / 180, pitch = kPitchDegrees * std::numbers::pi / 180;
  // Turned about y first, then tilted about x: two axes, so that neither pair
  // of opposite edges stays parallel in the picture and both vanishing
  // points are finite. That is what makes the focal length recoverable.
  const auto rotate = [&](TVec p) {
    const TVec a{p.X * std::cos(yaw) + p.Z * std::sin(yaw), p.Y, -p.X * std::sin(yaw) + p.Z * std::cos(yaw)};
    return TVec{a.X, a.Y * std::cos(pitch) - a.Z * std::sin(pitch), a.Y * std::sin(pitch) + a.Z * std::cos(pitch)};
  };
  TPlane plane;
  plane.U = rotate({1, 0, 0});
  plane.V = rotate({0, 1, 0});
  plane.Normal = Cross(plane.U, plane.V);
  // The centre sits a little off the optical axis, as in a real snapshot.
  const TVec centre = distance * TVec{0.04, -0.03, 1.0};
  plane.Origin = centre - (kPosterW / 2) * plane.U - (kPosterH / 2) * plane.V;
  return plane;
}

double FocalLength() { return kFocalRatio * std::hypot(kWidth, kHeight); }

std::array<double, 2> Project(const TPlane& plane, double s, double t) {
  const TVec p = plane.Origin + s * plane.U + t * plane.V;
  return {FocalLength() * p.X / p.Z, FocalLength() * p.Y / p.Z};
}

// The poster corners a, b, c, d: upper right, upper left, lower left, lower
// right, in the order the camera solver takes them.
std::array<std::array<double, 2>, 4> Corners(const TPlane& plane) {
  return {Project(plane, kPosterW, 0), Project(plane, 0, 0), Project(plane, 0, kPosterH),
          Project(plane, kPosterW, kPosterH)};
}

// The largest corner coordinate as a share of the half-picture.
double Extent(const TPlane& plane) {
  double extent = 0;
  for (const auto& c : Corners(plane))
    extent = std::max({extent, std::abs(c[0]) / (kWidth / 2.0), std::abs(c[1]) / (kHeight / 2.0)});
  return extent;
}

// ---------------------------------------------------------------------------
// Texture

// The sample's seeds go into the hash unspread, as when it was rendered.
std::uint32_t Hash(std::int64_t a, std::int64_t b, std::uint32_t seed) { return planora::scene::LatticeHash(a, b, seed); }
double Unit(std::uint32_t h) { return planora::scene::UnitOf(h); }
double Noise(double s, double t, double cell, std::uint32_t seed) { return planora::scene::ValueNoise(s, t, cell, seed); }

TColour Wall(double s, double t) {
  constexpr double kBrickW = 250, kBrickH = 84, kMortar = 11;
  // The bricks do not line up with the poster, so its edges stand against
  // brick or mortar by chance, as on a real wall.
  s += 97;
  t += 31;
  const double row = std::floor(t / kBrickH);
  const double shift = std::fmod(row, 2.0) != 0 ? kBrickW / 2 : 0;
  const double col = std::floor((s + shift) / kBrickW);
  const double inS = s + shift - col * kBrickW, inT = t - row * kBrickH;
  const double grain = 9 * Noise(s, t, 7, 1) + 5 * Noise(s, t, 2.5, 2);
  if (inS < kMortar || inT < kMortar) return {196 + grain, 190 + grain, 178 + grain};
  const std::uint32_t h = Hash(static_cast<std::int64_t>(col), static_cast<std::int64_t>(row), 3);
  const double tone = 22 * (Unit(h) - 0.5), warm = 14 * (Unit(h * 2654435761u) - 0.5);
  const double patch = 10 * Noise(s, t, 40, 4);
  return {150 + tone + warm + patch + grain, 82 + tone + patch + grain, 60 + tone - warm + patch + grain};
}

// Distance from (s, t) to the segment (a, b).
double SegmentDistance(double s, double t, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay;
  const double len2 = dx * dx + dy * dy;
  double k = len2 > 0 ? ((s - ax) * dx + (t - ay) * dy) / len2 : 0;
  k = std::clamp(k, 0.0, 1.0);
  return std::hypot(s - (ax + k * dx), t - (ay + k * dy));
}

// Letters as strokes on a 4 x 6 grid (y downwards), drawn with round ends.
struct TStroke {
  double X0, Y0, X1, Y1;
};
const std::vector<TStroke>& Glyph(char c) {
  static const std::vector<TStroke> P = {{0, 6, 0, 0}, {0, 0, 3, 0}, {3, 0, 4, 1}, {4, 1, 4, 2}, {4, 2, 3, 3}, {3, 3, 0, 3}};
  static const std::vector<TStroke> L = {{0, 0, 0, 6}, {0, 6, 4, 6}};
  static const std::vector<TStroke> A = {{0, 6, 2, 0}, {2, 0, 4, 6}, {0.8, 3.6, 3.2, 3.6}};
  static const std::vector<TStroke> N = {{0, 6, 0, 0}, {0, 0, 4, 6}, {4, 6, 4, 0}};
  static const std::vector<TStroke> O = {{1, 0, 3, 0}, {3, 0, 4, 1}, {4, 1, 4, 5}, {4, 5, 3, 6},
                                         {3, 6, 1, 6}, {1, 6, 0, 5}, {0, 5, 0, 1}, {0, 1, 1, 0}};
  static const std::vector<TStroke> R = {{0, 6, 0, 0}, {0, 0, 3, 0}, {3, 0, 4, 1}, {4, 1, 4, 2},
                                         {4, 2, 3, 3}, {3, 3, 0, 3}, {2, 3, 4, 6}};
  static const std::vector<TStroke> One = {{1, 1, 2, 0}, {2, 0, 2, 6}, {1, 6, 3, 6}};
  static const std::vector<TStroke> Zero = {{1, 0, 3, 0}, {3, 0, 4, 1}, {4, 1, 4, 5}, {4, 5, 3, 6}, {3, 6, 1, 6},
                                            {1, 6, 0, 5}, {0, 5, 0, 1}, {0, 1, 1, 0}, {0.5, 5, 3.5, 1}};
  static const std::vector<TStroke> Seven = {{0, 0, 4, 0}, {4, 0, 1.5, 6}};
  static const std::vector<TStroke> Colon = {{2, 1.6, 2, 1.7}, {2, 4.4, 2, 4.5}};
  static const std::vector<TStroke> None;
  switch (c) {
    case 'P': return P;
    case 'L': return L;
    case 'A': return A;
    case 'N': return N;
    case 'O': return O;
    case 'R': return R;
    case '1': return One;
    case '0': return Zero;
    case '7': return Seven;
    case ':': return Colon;
    default: return None;
  }
}

// True when (s, t) lies on the text set from (left, top) with letters
// `size` units high.
bool OnText(const std::string& text, double left, double top, double size, double weight, double s, double t) {
  const double unit = size / 6, advance = 6 * unit;
  if (t < top - weight || t > top + size + weight || s < left - weight ||
      s > left + advance * static_cast<double>(text.size()) + weight)
    return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const double x0 = left + advance * static_cast<double>(i);
    for (const TStroke& k : Glyph(text[i]))
      if (SegmentDistance(s, t, x0 + k.X0 * unit, top + k.Y0 * unit, x0 + k.X1 * unit, top + k.Y1 * unit) <= weight / 2)
        return true;
  }
  return false;
}

TColour Poster(double s, double t) {
  const TColour paper{246, 243, 235}, ink{28, 34, 52};
  // A frame line near the edge, the title, a row of colour fields, and below
  // them a grid with a ring and a chequered square: straight lines, right
  // angles and a circle all show how well a correction worked.
  const double inset = 22;
  const bool inFrame = s > inset && s < kPosterW - inset && t > inset && t < kPosterH - inset;
  if (!inFrame) return paper;
  if (s < inset + 5 || s > kPosterW - inset - 5 || t < inset + 5 || t > kPosterH - inset - 5) return ink;
  if (OnText("PLANORA", 70, 60, 90, 15, s, t)) return {22, 52, 120};
  if (OnText("10:7", 730, 86, 64, 11, s, t)) return {170, 40, 40};

  static const TColour fields[6] = {{200, 40, 45}, {235, 140, 30}, {240, 205, 40},
                                    {60, 150, 70}, {40, 95, 180}, {120, 60, 150}};
  if (t >= 215 && t < 335 && s >= 70 && s < 930) {
    const int i = static_cast<int>((s - 70) / (860.0 / 6));
    const double inField = s - 70 - i * (860.0 / 6);
    if (inField >= 8 && inField < 860.0 / 6 - 8) return fields[std::min(i, 5)];
    return paper;
  }
  if (t >= 370 && t < 640 && s >= 70 && s < 930) {
    // Chequered square on the left.
    if (s >= 100 && s < 340 && t >= 385 && t < 625) {
      const int cx = static_cast<int>((s - 100) / 40), cy = static_cast<int>((t - 385) / 40);
      return (cx + cy) % 2 == 0 ? ink : paper;
    }
    // Ring on the right.
    const double r = std::hypot(s - 740, t - 505);
    if (r >= 92 && r <= 118) return {170, 40, 40};
    if (r < 40) return {40, 95, 180};
    // Grid lines every 30 units over the rest.
    const double gs = std::fmod(s - 70, 30.0), gt = std::fmod(t - 370, 30.0);
    if (gs < 2.2 || gt < 2.2) return {150, 150, 150};
    return paper;
  }
  return paper;
}

TColour Shade(double s, double t) {
  if (s >= 0 && s <= kPosterW && t >= 0 && t <= kPosterH) {
    // Paper is never perfectly even.
    const TColour c = Poster(s, t);
    const double k = 1 + 0.018 * Noise(s, t, 60, 5);
    return {c.R * k, c.G * k, c.B * k};
  }
  return Wall(s, t);
}

std::uint8_t Byte(double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); }

// World units per pixel step, as window 1 spans the picture.
constexpr double kPixelX = kWidth / (kWidth - 1.0);
constexpr double kPixelY = kHeight / (kHeight - 1.0);

planora::TPhoto Render(const TPlane& plane) {
  planora::TPhoto photo;
  photo.Width = kWidth;
  photo.Height = kHeight;
  photo.Pixels.resize(static_cast<std::size_t>(kWidth) * kHeight * 3);
  const double f = FocalLength();
  const double halfDiagonal = std::hypot(kWidth, kHeight) / 2;
  const double planeDistance = Dot(plane.Normal, plane.Origin);
  for (int row = 0; row < kHeight; ++row) {
    for (int col = 0; col < kWidth; ++col) {
      TColour sum;
      for (int j = 0; j < kSuper; ++j) {
        for (int i = 0; i < kSuper; ++i) {
          const double x = (col + (i + 0.5) / kSuper - 0.5) * kPixelX - kWidth / 2.0;
          const double y = (row + (j + 0.5) / kSuper - 0.5) * kPixelY - kHeight / 2.0;
          const TVec ray{x, y, f};
          const double along = planeDistance / Dot(plane.Normal, ray);
          TColour c{90, 110, 140};  // beyond the wall's horizon; does not occur with this pose
          if (along > 0) {
            const TVec p = along * ray - plane.Origin;
            c = Shade(Dot(p, plane.U), Dot(p, plane.V));
          }
          sum = {sum.R + c.R, sum.G + c.G, sum.B + c.B};
        }
      }
      // Mild lens vignetting, as any real photo has.
      const double r = std::hypot(col - kWidth / 2.0, row - kHeight / 2.0) / halfDiagonal;
      const double k = (1 - 0.16 * r * r) / (kSuper * kSuper);
      std::uint8_t* out = &photo.Pixels[(static_cast<std::size_t>(row) * kWidth + col) * 3];
      out[0] = Byte(sum.B * k);
      out[1] = Byte(sum.G * k);
      out[2] = Byte(sum.R * k);
    }
  }
  return photo;
}

std::string Number(double v, int decimals = 6) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

std::string Json(const std::array<std::array<double, 2>, 4>& corners) {
  const char* names[4] = {"a", "b", "c", "d"};
  const auto pairs = [&](bool pixels) {
    std::string s = "{";
    for (int i = 0; i < 4; ++i) {
      const double x = pixels ? (corners[i][0] + kWidth / 2.0) / kPixelX : corners[i][0];
      const double y = pixels ? (corners[i][1] + kHeight / 2.0) / kPixelY : corners[i][1];
      s += std::string(i > 0 ? ", " : "") + "\"" + names[i] + "\": [" + Number(x) + ", " + Number(y) + "]";
    }
    return s + "}";
  };
  std::string json = "{\n";
  json += "  \"width\": " + std::to_string(kWidth) + ",\n";
  json += "  \"height\": " + std::to_string(kHeight) + ",\n";
  json += "  \"focal_ratio\": " + Number(kFocalRatio, 12) + ",\n";
  json += "  \"aspect_ratio\": " + Number(kPosterW / kPosterH, 12) + ",\n";
  json += "  \"corners\": " + pairs(false) + ",\n";
  json += "  \"pixel_corners\": " + pairs(true) + "\n";
  return json + "}\n";
}

std::string CornerList(const std::array<std::array<double, 2>, 4>& corners) {
  std::string s;
  for (int i = 0; i < 8; ++i) s += (i > 0 ? "," : "") + Number(corners[i / 2][i % 2]);
  return s + "\n";
}

// Small text through a temporary file and a rename, like every file the
// system writes.
void WriteText(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::filesystem::remove(temp);
      throw planora::EInOutError("Cannot write \"" + path + "\"");
    }
  }
  std::error_code error;
  std::filesystem::rename(temp, path, error);
  if (error) {
    std::filesystem::remove(temp);
    throw planora::EInOutError("Cannot write \"" + path + "\": " + error.message());
  }
}

}  // namespace

// The --many mode; returns the exit code.
int RenderMany(int argc, char** argv) {
  int count = 0;
  std::uint32_t seed = 1;
  planora::scene::TSceneOptions options;
  std::string folder;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--many" && i + 1 < argc) {
      count = std::atoi(argv[++i]);
    } else if (a == "--seed" && i + 1 < argc) {
      seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--one-axis") {
      options.OneAxis = true;
    } else if (a == "--no-thumb") {
      options.Occlusion = false;
    } else if (folder.empty() && a[0] != '-') {
      folder = a;
    } else {
      std::cerr << "render-sample: unknown argument " << a << "\n";
      return 2;
    }
  }
  if (count < 1 || folder.empty()) {
    std::cerr << "usage: planora-render-sample --many N [--seed S] [--one-axis] [--no-thumb] folder\n";
    return 2;
  }
  try {
    for (int k = 0; k < count; ++k) {
      options.Seed = seed + static_cast<std::uint32_t>(k);
      const planora::scene::TScene s = planora::scene::Render(options);
      const std::string base = folder + "/scene-" + std::to_string(options.Seed);
      planora::WritePhoto(base + ".jpg", s.Photo, {kJpegQuality});
      std::string json = "{\n  \"seed\": " + std::to_string(options.Seed) + ",\n";
      json += "  \"focal_ratio\": " + Number(s.FocalRatio, 12) + ",\n";
      json += "  \"aspect_ratio\": " + Number(s.AspectRatio, 12) + ",\n";
      json += std::string("  \"occluded\": ") + (s.Occluded ? "true" : "false") + ",\n";
      json += "  \"pixel_corners\": [";
      for (int c = 0; c < 4; ++c)
        json += std::string(c ? ", " : "") + "[" + Number(s.PixelCorners[c][0]) + ", " + Number(s.PixelCorners[c][1]) + "]";
      json += "]\n}\n";
      WriteText(base + ".json", json);
    }
  } catch (const planora::Exception& e) {
    std::cerr << "render-sample: " << e.Message() << "\n";
    return 1;
  }
  std::cout << "wrote " << count << " photos to " << folder << "\n";
  return 0;
}

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--many") return RenderMany(argc, argv);
  const std::string folder = argc > 1 ? argv[1] : PLANORA_SAMPLES_DIR;
  // Move the poster away until its largest extent is kFill of the
  // half-picture: a margin on every side, whatever the pose.
  double nearZ = 1, farZ = 1e6;
  for (int i = 0; i < 200; ++i) {
    const double mid = std::sqrt(nearZ * farZ);
    (Extent(PlacePoster(mid)) > kFill ? nearZ : farZ) = mid;
  }
  const TPlane plane = PlacePoster(farZ);
  const auto corners = Corners(plane);
  // On the screen a must be right of b, d right of c, c below b, d below a.
  if (!(corners[0][0] > corners[1][0] && corners[3][0] > corners[2][0] && corners[2][1] > corners[1][1] &&
        corners[3][1] > corners[0][1])) {
    std::cerr << "render-sample: the pose turns the poster over\n";
    return 1;
  }
  try {
    // The bundled sample was written with fitted Huffman tables: a smaller
    // file in the repository, and its bytes are what the tests hold it to.
    planora::WritePhoto(folder + "/poster.jpg", Render(plane), {kJpegQuality, /*OptimizeJpegCoding=*/true});
    WriteText(folder + "/poster.json", Json(corners));
    WriteText(folder + "/poster.corners", CornerList(corners));
  } catch (const planora::Exception& e) {
    std::cerr << "render-sample: " << e.Message() << "\n";
    return 1;
  }
  std::cout << Json(corners);
  return 0;
}
