// Quality of the automatic corners and of the known-focal and
// known-proportion paths, on generated photos whose truth is known.
//
//   planora-detect-bench [--photos N] [--json] [--verbose]
//
// Detection: N random photos (default 200): the share in which an object
// was found, and the corner error in pixels (median, 95th percentile, worst)
// over the corners of the found ones. Known focal length: photos tilted
// about one axis only with the true focal length in EXIF, rectified by
// planora-rectify with automatic corners: the error of the proportions, and
// beside it the error of the diagonal fallback the corners alone give.
// Known proportions: the same photos with --aspect and no EXIF: the error of
// the focal length solved from them. Times are for information only; the
// machine is shared and they vary.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "apps/imageio/imageio.h"
#include "apps/rectify/batch.h"
#include "detect/detect.h"
#include "tools/scene.h"

namespace {

using namespace planora;

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return std::nan("");
  std::sort(v.begin(), v.end());
  const double at = p * (v.size() - 1);
  const std::size_t i = static_cast<std::size_t>(at);
  return i + 1 < v.size() ? v[i] + (v[i + 1] - v[i]) * (at - i) : v[i];
}

// Share (per cent) of the values at or below `limit`.
double Within(const std::vector<double>& v, double limit) {
  if (v.empty()) return std::nan("");
  return 100.0 * std::count_if(v.begin(), v.end(), [&](double x) { return x <= limit; }) / v.size();
}

// Errors of the four corners against the truth, under the pairing (any
// starting corner, either direction round) that fits best.
std::vector<double> CornerErrors(const double found[4][2], const std::array<std::array<double, 2>, 4>& truth) {
  std::vector<double> best;
  double bestMax = HUGE_VAL;
  for (int start = 0; start < 4; ++start)
    for (int dir : {1, -1}) {
      std::vector<double> e;
      for (int k = 0; k < 4; ++k) {
        const int j = ((start + dir * k) % 4 + 4) % 4;
        e.push_back(std::hypot(found[j][0] - truth[k][0], found[j][1] - truth[k][1]));
      }
      const double m = *std::max_element(e.begin(), e.end());
      if (m < bestMax) bestMax = m, best = e;
    }
  return best;
}

std::unique_ptr<TBitmap> ToBitmap(const TPhoto& p) {
  auto b = std::make_unique<TBitmap>(p.Width, p.Height);
  for (int y = 0; y < p.Height; ++y)
    std::memcpy(b->ScanLine(y), p.Pixels.data() + static_cast<std::size_t>(y) * p.Width * 3,
                static_cast<std::size_t>(p.Width) * 3);
  return b;
}

double Field(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return std::nan("");
  return std::strtod(json.c_str() + at + key.size() + 4, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  int photos = 200;
  bool json = false, verbose = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--photos") && i + 1 < argc) {
      photos = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--verbose")) {
      verbose = true;
    } else if (!std::strcmp(argv[i], "--json")) {
      json = true;
    } else {
      std::fprintf(stderr, "usage: planora-detect-bench [--photos N] [--json] [--verbose]\n");
      return 2;
    }
  }

  // ---- detection
  int found = 0, occluded = 0, occludedFound = 0;
  std::vector<double> errors;
  double worstPhoto = 0;
  std::uint32_t worstSeed = 0;
  double seconds = 0;
  for (int i = 0; i < photos; ++i) {
    scene::TSceneOptions o;
    o.Seed = static_cast<std::uint32_t>(i + 1);
    const scene::TScene s = scene::Render(o);
    const auto picture = ToBitmap(s.Photo);
    const auto started = std::chrono::steady_clock::now();
    const TDetection d = DetectRectangle(*picture);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    occluded += s.Occluded;
    const std::vector<double> e = d.Found ? CornerErrors(d.Corners, s.PixelCorners) : std::vector<double>{HUGE_VAL};
    if (verbose && (!d.Found || *std::max_element(e.begin(), e.end()) > 2)) {
      std::fprintf(stderr, "seed %u: %s, worst corner %.2f px, confidence %.2f%s\n", o.Seed,
                   d.Found ? "found" : d.Reason.c_str(), *std::max_element(e.begin(), e.end()), d.Confidence,
                   s.Occluded ? " (thumb)" : "");
    }
    if (!d.Found) continue;
    // Found means found where it is: an outline of something else is a miss.
    if (*std::max_element(e.begin(), e.end()) > 20) continue;
    ++found;
    occludedFound += s.Occluded;
    errors.insert(errors.end(), e.begin(), e.end());
    const double m = *std::max_element(e.begin(), e.end());
    if (m > worstPhoto) worstPhoto = m, worstSeed = o.Seed;
  }
  const double foundShare = 100.0 * found / photos;
  const double median = Percentile(errors, 0.5), p95 = Percentile(errors, 0.95);

  // ---- known focal length and known proportions, through the batch tool
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "planora-detect-bench";
  std::filesystem::create_directories(dir);
  const int tilted = std::min(photos, 40);
  std::vector<double> exifErr, fallbackErr, propFocalErr, propFocalTruthErr, diagonalErr;
  int tiltedRuns = 0;
  for (int i = 0; i < tilted; ++i) {
    scene::TSceneOptions o;
    o.Seed = static_cast<std::uint32_t>(1000 + i);
    o.OneAxis = true;
    o.Occlusion = false;
    scene::TScene s = scene::Render(o);
    const std::string in = (dir / "tilted.jpg").string(), out = (dir / "out.png").string();
    WritePhoto(in, s.Photo);
    auto run = [&](bool exif, bool aspect, bool truthCorners = false) {
      TBatchOptions b;
      b.Input = in;
      b.Output = out;
      if (truthCorners) {
        std::vector<double> c;
        for (const auto& p : s.PixelCorners) c.insert(c.end(), {p[0], p[1]});
        b.Corners = c;
        b.PixelCorners = true;
      } else {
        b.Auto = true;
      }
      b.Frame = "object";
      b.LongSide = 64;
      b.Report = "-";
      if (aspect) {
        b.Aspect = s.AspectRatio;
        b.AspectText = "the truth";
      }
      std::ostringstream report, err;
      if (!exif) {
        TPhoto bare = s.Photo;
        bare.Exif.clear();
        WritePhoto(in, bare);
      } else {
        WritePhoto(in, s.Photo);
      }
      if (RunBatch(b, report, err, false) != kExitOk) return std::string();
      return report.str();
    };
    const std::string withExif = run(true, false);
    const std::string without = run(false, false);
    const std::string withAspect = run(false, true);
    const std::string withAspectTruth = run(false, true, true);
    const std::string diagonalTruth = run(false, false, true);
    if (!diagonalTruth.empty()) {
      const double a = Field(diagonalTruth, "aspect_measured");
      diagonalErr.push_back(std::abs(((a >= 1) == (s.AspectRatio >= 1) ? a : 1 / a) / s.AspectRatio - 1) * 100);
    }
    if (verbose) {
      std::fprintf(stderr, "tilted seed %u: true corners and --aspect: focal %.5f (truth %.5f), source %s\n", o.Seed,
                   Field(withAspectTruth, "focal_ratio"), s.FocalRatio,
                   withAspectTruth.substr(withAspectTruth.find("focal_source") + 15, 12).c_str());
    }
    if (!withAspectTruth.empty()) {
      propFocalTruthErr.push_back(std::abs(Field(withAspectTruth, "focal_ratio") / s.FocalRatio - 1) * 100);
    }    if (verbose) {
      std::fprintf(stderr, "tilted seed %u: aspect %.4f, focal %.4f; exif %.4f, bare %.4f, from aspect %.4f %s\n", o.Seed,
                   s.AspectRatio, s.FocalRatio, Field(withExif, "aspect_measured"), Field(without, "aspect_measured"),
                   Field(withAspect, "focal_ratio"), withAspect.empty() ? "(failed)" : "");
    }
    if (withExif.empty() || without.empty() || withAspect.empty()) continue;
    ++tiltedRuns;
    const double truth = s.AspectRatio;
    auto oriented = [&](double a) { return (a >= 1) == (truth >= 1) ? a : 1 / a; };
    exifErr.push_back(std::abs(oriented(Field(withExif, "aspect_measured")) / truth - 1) * 100);
    fallbackErr.push_back(std::abs(oriented(Field(without, "aspect_measured")) / truth - 1) * 100);
    propFocalErr.push_back(std::abs(Field(withAspect, "focal_ratio") / s.FocalRatio - 1) * 100);
  }
  std::filesystem::remove_all(dir);

  if (json) {
    std::printf("{\"case\": \"detect\", \"photos\": %d, \"found_percent\": %.2f, \"median_px\": %.4f, "
                "\"p95_px\": %.4f, \"worst_px\": %.4f, \"ms_per_photo\": %.1f}\n",
                photos, foundShare, median, p95, worstPhoto, 1000 * seconds / photos);
    std::printf("{\"case\": \"known_focal_one_axis\", \"photos\": %d, \"aspect_error_percent_median\": %.4f, "
                "\"aspect_error_percent_max\": %.4f, \"diagonal_fallback_error_percent_median\": %.4f, "
                "\"corners_alone_error_percent_median\": %.4f}\n",
                tiltedRuns, Percentile(exifErr, 0.5), Percentile(exifErr, 1), Percentile(diagonalErr, 0.5),
                Percentile(fallbackErr, 0.5));
    std::printf("{\"case\": \"known_proportions_one_axis\", \"photos\": %d, \"focal_error_percent_median\": %.4f, "
                "\"focal_error_percent_max\": %.4f, \"within_1_percent\": %.2f, \"true_corners_focal_error_percent_max\": %.6f}\n",
                tiltedRuns, Percentile(propFocalErr, 0.5), Percentile(propFocalErr, 1), Within(propFocalErr, 1.0),
                Percentile(propFocalTruthErr, 1));
    return 0;
  }
  std::printf("Automatic corners on %d generated photos (%d with a corner under a thumb)\n", photos, occluded);
  std::printf("  found               %6.1f %%   (target >= 95 %%; under a thumb %d of %d)\n", foundShare,
              occludedFound, occluded);
  std::printf("  corner error median %6.3f px  (target <= 0.7)\n", median);
  std::printf("  corner error p95    %6.3f px  (target <= 2)\n", p95);
  std::printf("  worst photo         %6.3f px  (seed %u)\n", worstPhoto, worstSeed);
  std::printf("  time                %6.1f ms per photo (shared machine: indicative only)\n", 1000 * seconds / photos);
  std::printf("Tilted about one axis only, automatic corners, %d photos\n", tiltedRuns);
  std::printf("  proportions, EXIF focal length:  median %.3f %%, worst %.3f %% (target <= 0.3 %%)\n",
              Percentile(exifErr, 0.5), Percentile(exifErr, 1));
  std::printf("  proportions, diagonal fallback:  median %.3f %%, worst %.3f %% (true corners, no EXIF)\n",
              Percentile(diagonalErr, 0.5), Percentile(diagonalErr, 1));
  std::printf("  proportions, corners alone:      median %.3f %%, worst %.3f %% (no EXIF: the estimate or the\n"
              "                                   diagonal fallback, as the window would use them)\n",
              Percentile(fallbackErr, 0.5), Percentile(fallbackErr, 1));
  std::printf("  focal length from --aspect:      median %.3f %%, worst %.3f %%, within 1 %% in %.0f %% of the photos\n",
              Percentile(propFocalErr, 0.5), Percentile(propFocalErr, 1), Within(propFocalErr, 1.0));
  std::printf("    with the true corners:         worst %.6f %% (target <= 1 %%)\n", Percentile(propFocalTruthErr, 1));
  return 0;
}
