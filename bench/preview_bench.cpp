// planora-preview-bench: one live-preview update of the straightening view
// while a corner is dragged over a 24-megapixel photo (6000 x 4000): the
// camera solve and the resampling of the photo's reduced copy into the
// preview pane, as the view runs them for each mouse move. The reduced copy
// itself is made once, when the photo opens, and timed apart.
//
//   planora-preview-bench [--json] [--steps N] [--pane WxH]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "apps/planora/view/live_preview.h"

using namespace planora;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(std::ceil(p * v.size())) - 1);
  return v[i];
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  int steps = 300, paneW = 720, paneH = 480;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--json") {
      json = true;
    } else if (a == "--steps" && i + 1 < argc) {
      steps = std::max(10, std::atoi(argv[++i]));
    } else if (a == "--pane" && i + 1 < argc && std::sscanf(argv[++i], "%dx%d", &paneW, &paneH) == 2 && paneW > 0 &&
               paneH > 0) {
    } else {
      std::fprintf(stderr, "usage: planora-preview-bench [--json] [--steps N] [--pane WxH]\n");
      return 2;
    }
  }
  const int W = 6000, H = 4000;
  // A textured photo: the resampler's time does not depend on the colours,
  // but a flat one would flatter the averaging of the reduced copy nothing.
  std::vector<std::uint8_t> photo(static_cast<std::size_t>(W) * H * 3);
  std::uint32_t seed = 12345;
  for (std::size_t i = 0; i < photo.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    photo[i] = static_cast<std::uint8_t>(((i / 3) % W) / 24 + (seed >> 28));
  }
  const auto t0 = Clock::now();
  const auto source = MakePreviewSource(photo.data(), W, H, static_cast<std::size_t>(W) * 3);
  const double sourceMs = Ms(Clock::now() - t0);

  // A poster seen at an angle; corner a is dragged round a small circle,
  // as a hand placing it does.
  const double base[4][2] = {{4700, 700}, {1300, 1200}, {1150, 3300}, {4900, 3100}};
  for (const bool object : {false, true}) {
    TPreviewSettings s;
    s.ObjectFrame = object;
    std::vector<double> times;
    for (int k = 0; k < steps; ++k) {
      double c[4][2];
      std::memcpy(c, base, sizeof c);
      const double angle = 2 * M_PI * k / 60;
      c[0][0] += 40 * std::cos(angle) + k * 0.5;
      c[0][1] += 40 * std::sin(angle);
      const auto t = Clock::now();
      const TPreviewResult r = RenderPreview(*source, c, s, paneW, paneH);
      times.push_back(Ms(Clock::now() - t));
      if (!r.Ok) {
        std::fprintf(stderr, "preview failed: %s\n", r.Problem.c_str());
        return 1;
      }
    }
    const char* name = object ? "object only" : "whole photo";
    const double median = Percentile(times, 0.5), p95 = Percentile(times, 0.95);
    if (json) {
      std::printf("{\"case\":\"live preview 6000x4000, %s, %dx%d pane\",\"path\":\"preview\",\"threads\":1,"
                  "\"median_ms\":%.3f,\"p95_ms\":%.3f}\n",
                  name, paneW, paneH, median, p95);
    } else {
      if (!object) {
        std::printf("Live preview while dragging a corner, 6000 x 4000 photo, %d x %d pane, %d updates\n", paneW,
                    paneH, steps);
        std::printf("  reduced copy made once on opening: %.1f ms\n", sourceMs);
      }
      std::printf("  %-12s median %7.3f ms   95th percentile %7.3f ms\n", name, median, p95);
    }
  }
  if (json) std::printf("{\"case\":\"preview copy of 6000x4000\",\"path\":\"open\",\"threads\":1,\"median_ms\":%.3f}\n", sourceMs);
  return 0;
}
