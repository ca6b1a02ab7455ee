// Resampling speed: the per-pixel reference pass, the row-wise pass on one
// thread and on all cores, and (when built with OpenCV) cv::warpPerspective
// with the same homography, sampling and thread count. Prints a table, or
// with --json one JSON object per measurement.
//
//   planora-bench [--json] [--quick] [--runs N]
//
// Times are medians of several runs. `ratio` compares with the path named
// in `vs`: our time over theirs, so below 1 means faster.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/camera.h"
#include "engine/rectify.h"
#include "engine/rectify_rows.h"
#include "plot/glib2.h"

#ifdef PLANORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using namespace planora;

struct QuietUi : TRectifyUi {
  bool nearest = true;
  void BeginRun() override {}
  void EndRun() override {}
  void SetProgress(int) override {}
  void ProcessMessages() override {}
  bool NearestOnly() override { return nearest; }
  void CornersUsed(const double[4][2]) override {}
  void PreviewShownChanged(bool) override {}
};

// A picture of the given size over window 1 (pixels from the centre, y
// down), filled with smooth gradients and noise so that neither sampling
// meets long runs of equal pixels.
std::unique_ptr<TPlottFlaeche> Surface(int w, int h, double worldW, double worldH, bool fill) {
  auto s = std::make_unique<TPlottFlaeche>();
  s->InitOffscreen(w, h);
  s->DefineWindow(1, -worldW / 2, worldW / 2, worldH / 2, -worldH / 2, 0, 1, 0, 1);
  if (fill) {
    std::mt19937 rng(1);
    for (int y = 0; y < h; ++y) {
      std::uint8_t* row = s->Bitmap->ScanLine(y);
      for (int x = 0; x < w; ++x) {
        row[3 * x] = static_cast<std::uint8_t>(x * 255 / w);
        row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / h);
        row[3 * x + 2] = static_cast<std::uint8_t>(rng());
      }
    }
  }
  return s;
}

// An oblique poster: the far edge shorter, the sides converging, as a
// photo taken from below and to the left would show it.
void Pose(TCameraSolver& cam, double w, double h) {
  cam.Diagonal = std::hypot(w, h);
  cam.SetCorners(0.36 * w, -0.30 * h, -0.30 * w, -0.38 * h, -0.40 * w, 0.40 * h, 0.42 * w, 0.31 * h);
  cam.FocalRatio = 1.0;
  cam.SolveCamera();
  cam.EstimateFocalRatio();
}

double Median(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

double MedianMs(int runs, const std::function<void()>& run) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  return Median(ms);
}

struct Options {
  bool json = false;
  bool quick = false;
  int runs = 0;  // 0: per case
};

void Report(const Options& o, const std::string& name, const std::string& path, int threads, double ms,
            const char* vs = nullptr, double vsMs = 0) {
  if (o.json) {
    std::printf("{\"case\":\"%s\",\"path\":\"%s\",\"threads\":%d,\"median_ms\":%.3f", name.c_str(), path.c_str(),
                threads, ms);
    if (vs != nullptr) std::printf(",\"vs\":\"%s\",\"ratio\":%.3f", vs, ms / vsMs);
    std::printf("}\n");
  } else {
    std::printf("  %-24s %-10s %2d thr %10.3f ms", name.c_str(), path.c_str(), threads, ms);
    if (vs != nullptr) std::printf("   %6.3f x %s", ms / vsMs, vs);
    std::printf("\n");
  }
  std::fflush(stdout);
}

#ifdef PLANORA_HAVE_OPENCV
// The whole chain from a target pixel to a source pixel as one 3 x 3
// matrix: target pixel -> output world -> plane -> camera ray -> picture
// world -> source pixel.
cv::Matx33d Homography(const TCameraSolver& cam, const TRectifyResult& f, const TPlottFlaeche& src,
                       const TPlottFlaeche& dst) {
  const PlotWindow& t = dst.Windows[1];
  const PlotWindow& s = src.Windows[1];
  const cv::Matx33d pixelToOut(1 / t.XScale, 0, t.XOffset, 0, -1 / t.YScale, dst.MaxY / t.YScale + t.YOffset, 0, 0,
                               1);
  const cv::Matx33d outToPlane(1 / f.OutputScale, 0, f.SMid, 0, 1 / f.OutputScale, f.TMid, 0, 0, 1);
  const double F = cam.FocalLength;
  const cv::Matx33d planeToRay(F * cam.AxisU[0], F * cam.AxisV[0], F * cam.PlaneOrigin[0], F * cam.AxisU[1],
                               F * cam.AxisV[1], F * cam.PlaneOrigin[1], cam.AxisU[2], cam.AxisV[2],
                               cam.PlaneOrigin[2]);
  const cv::Matx33d worldToPixel(s.XScale, 0, -s.XOffset * s.XScale, 0, -s.YScale, src.MaxY + s.YOffset * s.YScale,
                                 0, 0, 1);
  return worldToPixel * planeToRay * outToPlane * pixelToOut;
}

cv::Mat Wrap(TPlottFlaeche& s) {
  const int stride = static_cast<int>(s.Bitmap->ScanLine(1 < s.Bitmap->Height() ? 1 : 0) - s.Bitmap->ScanLine(0));
  return cv::Mat(s.Bitmap->Height(), s.Bitmap->Width(), CV_8UC3, s.Bitmap->ScanLine(0),
                 static_cast<std::size_t>(stride > 0 ? stride : s.Bitmap->Width() * 3));
}
#endif

void RunCase(const Options& o, const std::string& label, int w, int h, double worldW, double worldH, bool nearest,
             int slowRuns, int fastRuns) {
  auto src = Surface(w, h, worldW, worldH, true);
  auto ref = Surface(w, h, worldW, worldH, false);
  auto fast = Surface(w, h, worldW, worldH, false);
  TCameraSolver cam;
  Pose(cam, worldW, worldH);
  QuietUi ui;
  ui.nearest = nearest;
  const std::string name = label + (nearest ? " nearest" : " bilinear");

  auto job = [&](TPlottFlaeche* target, bool reference, int threads) {
    return TRectifyJob{&cam, src.get(), target, false, 90, static_cast<int>(worldW), static_cast<int>(worldH),
                       nullptr, reference, threads};
  };
  TRectifyResult frame;
  const double refMs = MedianMs(slowRuns, [&] { frame = Rectify(job(ref.get(), true, 0), ui); });
  Report(o, name, "reference", 1, refMs);
#ifdef PLANORA_HAVE_OPENCV
  const cv::Matx33d m = Homography(cam, frame, *src, *fast);
  cv::Mat in = Wrap(*src);
  cv::Mat out(h, w, CV_8UC3);
  const int flags = (nearest ? cv::INTER_NEAREST : cv::INTER_LINEAR) | cv::WARP_INVERSE_MAP;
#endif
  // One thread, then what users get by default: one per core where the
  // work is large enough to share (the count actually used is printed).
  const long long perStep = static_cast<long long>(w) * h / 100;
  for (int requested : {1, 0}) {
    const int threads = detail::WorkerThreadsFor(requested, perStep);
    if (requested == 0 && threads == 1) continue;  // the same as the line before
    // Ours and OpenCV's runs alternate, so that a noisy neighbour on a
    // shared machine slows both alike.
    std::vector<double> ours, theirs;
    for (int i = 0; i < fastRuns; ++i) {
      ours.push_back(MedianMs(1, [&] { Rectify(job(fast.get(), false, requested), ui); }));
#ifdef PLANORA_HAVE_OPENCV
      cv::setNumThreads(threads);
      theirs.push_back(MedianMs(1, [&] {
        cv::warpPerspective(in, out, cv::Mat(m), out.size(), flags, cv::BORDER_CONSTANT, cv::Scalar(0, 0, 255));
      }));
#endif
    }
    const double ms = Median(ours);
    Report(o, name, requested == 0 ? "rows-auto" : "rows", threads, ms, "reference", refMs);
    if (!(*fast->Bitmap == *ref->Bitmap)) {
      std::fprintf(stderr, "%s: the row-wise pass differs from the reference\n", name.c_str());
      std::exit(1);
    }
#ifdef PLANORA_HAVE_OPENCV
    Report(o, name, "opencv", threads, Median(theirs));
    Report(o, name, requested == 0 ? "rows-auto" : "rows", threads, ms, "opencv", Median(theirs));
#endif
  }
#ifdef PLANORA_HAVE_OPENCV
  // How closely the two agree, as a check that the homography is the same.
  if (nearest) {
    cv::setNumThreads(1);
    cv::warpPerspective(in, out, cv::Mat(m), out.size(), flags, cv::BORDER_CONSTANT, cv::Scalar(0, 0, 255));
    const cv::Mat ours = Wrap(*fast);
    std::size_t same = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) same += ours.at<cv::Vec3b>(y, x) == out.at<cv::Vec3b>(y, x);
    if (!o.json)
      std::printf("  %-24s pixels equal to OpenCV's: %.2f %%\n", name.c_str(),
                  100.0 * static_cast<double>(same) / (static_cast<double>(w) * h));
  }
#endif
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--json") {
      o.json = true;
    } else if (a == "--quick") {
      o.quick = true;
    } else if (a == "--runs" && i + 1 < argc) {
      o.runs = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: planora-bench [--json] [--quick] [--runs N]\n");
      return 2;
    }
  }
  if (!o.json) {
    std::printf("Resampling, median times (%u cores%s)\n", std::max(1u, std::thread::hardware_concurrency()),
#ifdef PLANORA_HAVE_OPENCV
                ", with OpenCV"
#else
                ", without OpenCV"
#endif
    );
  }
  const int big = o.runs > 0 ? o.runs : (o.quick ? 1 : 7);
  const int small = o.runs > 0 ? o.runs : (o.quick ? 5 : 201);
  for (bool nearest : {true, false}) {
    // A 20-megapixel photo at full resolution.
    RunCase(o, "5472x3648", 5472, 3648, 5472, 3648, nearest, o.quick ? 1 : 3, big);
  }
  for (bool nearest : {true, false}) {
    // The preview pane: a 490 x 385 pane showing a 20-megapixel photo.
    RunCase(o, "pane 490x385", 490, 385, 5472, 3648, nearest, small, small);
  }
  return 0;
}
