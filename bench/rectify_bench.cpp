// Speed users feel: the resampling (the per-pixel reference pass, the
// row-wise pass on one thread and on all cores, and, when built with OpenCV,
// cv::warpPerspective with the same homography, sampling and thread count),
// the whole batch run against the same job done with OpenCV, and the
// rectification window's opening. Prints a table, or with --json one JSON
// object per measurement. Run with --help for the cases.
//
// Times are medians of several runs, with the range the runs fell in.
// `ratio` compares with the path named in `vs`: our time over theirs, so
// below 1 means faster. Compared paths run alternately, so that a noisy
// neighbour on a shared machine slows both alike; `load` is the system's
// one-minute load average when the figure was taken.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/camera.h"
#include "engine/rectify.h"
#include "engine/setup.h"
#include "engine/rectify_kernels.h"
#include "engine/rectify_rows.h"
#include "plot/glib2.h"

#ifdef PLANORA_BENCH_BATCH
#include "apps/imageio/imageio.h"
#include "apps/rectify/batch.h"
#endif
#ifdef PLANORA_BENCH_WINDOW
#include "platform/headless/headless.h"
#include "plugin/plgint.h"
#include "window/UJPGEntzerren.h"
#endif

#ifdef PLANORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#ifdef PLANORA_HAVE_OPENCV_IMGCODECS
#include <opencv2/imgcodecs.hpp>
#endif
#endif

namespace {

using namespace planora;

const char* const kHelp =
    "usage: planora-bench [--json] [--quick] [--runs N] [--kernels SET] [--case NAME]...\n"
    "\n"
    "Times what users wait for, as medians of several runs with their spread:\n"
    "  warp     the resampling of a 20-megapixel photo (5472 x 3648), nearest and\n"
    "           bilinear: the per-pixel reference pass, the row-wise pass on 1 thread\n"
    "           and on all cores, and OpenCV's warpPerspective on the same homography\n"
    "           and thread count (when built with OpenCV)\n"
    "  pane     the same for the preview panes of a 20-megapixel photo: 490 x 385 and\n"
    "           936 x 624 (the window's pane on a 1600-pixel-wide screen)\n"
    "  batch    the whole batch run on a 20-megapixel JPEG, read, rectified (bilinear)\n"
    "           and written at quality 95, against the same job done by a short OpenCV\n"
    "           program (imread, getPerspectiveTransform, warpPerspective, imwrite);\n"
    "           each run is a fresh process, so the peak resident memory is its own;\n"
    "           also the JPEG writer with and without optimised Huffman tables\n"
    "  window   the rectification window opening on a 20-megapixel picture, headless:\n"
    "           from the host's copy of the picture to the modal loop's first event\n"
    "  scaling  the row-wise pass at 100 megapixels, per pixel against 20\n"
    "Without --case every case runs. --quick takes one run of each (a smoke test),\n"
    "--runs N that many. With --json every figure is one JSON object on its own\n"
    "line: case, path, threads, median_ms, min_ms, max_ms, load (the one-minute\n"
    "load average), and vs and ratio where two paths are compared.\n"
    "--kernels scalar, avx2 or avx512 holds the row-wise pass of this process's\n"
    "cases (not the batch tool's) to that set of kernels; by default it takes the\n"
    "best the processor has (the Windows plug-in's best is avx2).\n";

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
  DefinePictureWindow(*s, worldW, worldH);
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

// The corners of an oblique poster as fractions of the picture's size from
// its centre (x right, y down): the far edge shorter, the sides converging,
// as a photo taken from below and to the left would show it.
constexpr double kCorners[4][2] = {{0.36, -0.30}, {-0.30, -0.38}, {-0.40, 0.40}, {0.42, 0.31}};

// The camera as the window and the batch tool set it up for these corners.
void Pose(TCameraSolver& cam, double w, double h) {
  cam.SetCorners(kCorners[0][0] * w, kCorners[0][1] * h, kCorners[1][0] * w, kCorners[1][1] * h, kCorners[2][0] * w,
                 kCorners[2][1] * h, kCorners[3][0] * w, kCorners[3][1] * h);
  SetUpCamera(cam, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h));
}

struct Stats {
  double median = 0, min = 0, max = 0;
};

Stats Summary(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return Stats{ms[ms.size() / 2], ms.front(), ms.back()};
}

double TimeMs(const std::function<void()>& run) {
  const auto t0 = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

Stats TimeRuns(int runs, const std::function<void()>& run) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) ms.push_back(TimeMs(run));
  return Summary(ms);
}

double LoadAverage() {
  double load[1] = {-1};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

struct Options {
  bool json = false;
  bool quick = false;
  int runs = 0;  // 0: per case
  std::vector<std::string> cases;
  bool Wants(const std::string& name) const {
    return cases.empty() || std::find(cases.begin(), cases.end(), name) != cases.end();
  }
};

void Report(const Options& o, const std::string& name, const std::string& path, int threads, const Stats& t,
            const char* vs = nullptr, double vsMs = 0, const std::string& extra = "") {
  const double load = LoadAverage();
  if (o.json) {
    std::printf("{\"case\":\"%s\",\"path\":\"%s\",\"threads\":%d,\"median_ms\":%.3f,\"min_ms\":%.3f,\"max_ms\":%.3f,"
                "\"load\":%.2f",
                name.c_str(), path.c_str(), threads, t.median, t.min, t.max, load);
    if (vs != nullptr) std::printf(",\"vs\":\"%s\",\"ratio\":%.3f", vs, t.median / vsMs);
    if (!extra.empty()) std::printf(",%s", extra.c_str());
    std::printf("}\n");
  } else {
    std::printf("  %-26s %-14s %2d thr %10.3f ms (%.3f..%.3f) load %.2f", name.c_str(), path.c_str(), threads,
                t.median, t.min, t.max, load);
    if (vs != nullptr) std::printf("   %6.3f x %s", t.median / vsMs, vs);
    std::printf("\n");
  }
  std::fflush(stdout);
}

// A ratio's spread: the ratios of the runs taken pairwise, in the order
// they alternated.
Stats PairedRatios(const std::vector<double>& ours, const std::vector<double>& theirs) {
  std::vector<double> r;
  for (std::size_t i = 0; i < ours.size() && i < theirs.size(); ++i) r.push_back(ours[i] / theirs[i]);
  return Summary(r);
}

[[maybe_unused]] void ReportRatio(const Options& o, const std::string& name, const std::string& path, int threads,
                 const std::vector<double>& ours, const std::vector<double>& theirs, const char* vs) {
  const Stats r = PairedRatios(ours, theirs);
  char extra[160];
  std::snprintf(extra, sizeof extra, "\"ratio_min\":%.3f,\"ratio_max\":%.3f", r.min, r.max);
  if (o.json) {
    Report(o, name, path, threads, Summary(ours), vs, Summary(theirs).median, extra);
  } else {
    Report(o, name, path, threads, Summary(ours), vs, Summary(theirs).median);
    std::printf("  %-26s %-14s        ratio of paired runs %.3f..%.3f\n", name.c_str(), path.c_str(), r.min, r.max);
  }
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
  return cv::Mat(s.Bitmap->Height(), s.Bitmap->Width(), CV_8UC3, s.Bitmap->ScanLine(0),
                 static_cast<std::size_t>(s.Bitmap->BytesPerRow()));
}
#endif

void RunWarp(const Options& o, const std::string& label, int w, int h, double worldW, double worldH, bool nearest,
             int slowRuns, int fastRuns) {
  auto src = Surface(static_cast<int>(worldW), static_cast<int>(worldH), worldW, worldH, true);
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
  const Stats ref1 = TimeRuns(slowRuns, [&] { frame = Rectify(job(ref.get(), true, 0), ui); });
  Report(o, name, "reference", 1, ref1);
#ifdef PLANORA_HAVE_OPENCV
  const cv::Matx33d m = Homography(cam, frame, *src, *fast);
  cv::Mat in = Wrap(*src);
  cv::Mat out(h, w, CV_8UC3);
  const int flags = (nearest ? cv::INTER_NEAREST : cv::INTER_LINEAR) | cv::WARP_INVERSE_MAP;
#endif
  // One thread, then what users get by default: one per core where the
  // work is large enough to share (the count actually used is printed).
  const long long perStep = static_cast<long long>(worldW) * static_cast<long long>(worldH) / 100;
  for (int requested : {1, 0}) {
    const int threads = detail::WorkerThreadsFor(requested, perStep);
    if (requested == 0 && threads == 1) continue;  // the same as the line before
    std::vector<double> ours, theirs;
    for (int i = 0; i < fastRuns; ++i) {
      ours.push_back(TimeMs([&] { Rectify(job(fast.get(), false, requested), ui); }));
#ifdef PLANORA_HAVE_OPENCV
      cv::setNumThreads(threads);
      theirs.push_back(TimeMs([&] {
        cv::warpPerspective(in, out, cv::Mat(m), out.size(), flags, cv::BORDER_CONSTANT, cv::Scalar(0, 0, 255));
      }));
#endif
    }
    const std::string path = requested == 0 ? "rows-auto" : "rows";
    Report(o, name, path, threads, Summary(ours), "reference", ref1.median);
    if (!(*fast->Bitmap == *ref->Bitmap)) {
      std::fprintf(stderr, "%s: the row-wise pass differs from the reference\n", name.c_str());
      std::exit(1);
    }
#ifdef PLANORA_HAVE_OPENCV
    Report(o, name, "opencv", threads, Summary(theirs));
    ReportRatio(o, name, path, threads, ours, theirs, "opencv");
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
      std::printf("  %-26s pixels equal to OpenCV's: %.2f %%\n", name.c_str(),
                  100.0 * static_cast<double>(same) / (static_cast<double>(w) * h));
  }
#endif
}

// The row-wise pass's time per pixel at 100 megapixels over that at 20,
// one thread, bilinear: linear scaling gives 1.
void RunScaling(const Options& o, int runs) {
  double perPixel[2] = {};
  const int sizes[2][2] = {{5472, 3648}, {12240, 8160}};
  for (int k = 0; k < 2; ++k) {
    const int w = sizes[k][0], h = sizes[k][1];
    auto src = Surface(w, h, w, h, true);
    auto dst = Surface(w, h, w, h, false);
    TCameraSolver cam;
    Pose(cam, w, h);
    QuietUi ui;
    ui.nearest = false;
    const Stats t = TimeRuns(runs, [&] {
      Rectify(TRectifyJob{&cam, src.get(), dst.get(), false, 90, w, h, nullptr, false, 1}, ui);
    });
    perPixel[k] = t.median / (static_cast<double>(w) * h);
    Report(o, std::to_string(w) + "x" + std::to_string(h) + " bilinear", "rows", 1, t);
  }
  if (!o.json) std::printf("  100 MP over 20 MP, per pixel: %.3f\n", perPixel[1] / perPixel[0]);
  else std::printf("{\"case\":\"scaling\",\"per_pixel_ratio\":%.3f,\"load\":%.2f}\n", perPixel[1] / perPixel[0], LoadAverage());
}

// ------------------------------------------------------------------ batch

#ifdef PLANORA_BENCH_BATCH
struct ChildRun {
  double ms = 0;
  long peakKb = 0;
};

// Runs this program again with `args` (one of the --child jobs below), as
// a user's command would run: a fresh process with its own page faults.
// The child reports its own peak resident memory on its standard output:
// the system's count for a child would include the benchmark's own pages,
// which the child shares until it starts the job.
ChildRun InChild(const std::vector<std::string>& args, const std::string& program = "/proc/self/exe") {
  std::fflush(stdout);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) std::exit(1);
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    // Warnings would only break the table; a failure shows in the exit code.
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) dup2(quiet, 2);
    close(out[0]);
    close(out[1]);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string said;
  char buffer[256];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "a benchmark run failed: %s\n", args.front().c_str());
    std::exit(1);
  }
  ChildRun r;
  r.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  // Another program cannot say: the system's count is right for it as long
  // as the benchmark itself is smaller than the child's peak.
  r.peakKb = program == "/proc/self/exe" ? std::atol(said.c_str()) : usage.ru_maxrss;
  return r;
}

// This process's peak resident memory in kB (VmHWM).
long PeakKb() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return 0;
  char line[256];
  long kb = 0;
  while (std::fgets(line, sizeof line, f) != nullptr)
    if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atol(line + 6);
  std::fclose(f);
  return kb;
}

// A 20-megapixel JPEG with the kind of content a photo has: smooth shading,
// edges and some sensor noise.
void MakePhoto(const std::string& path, int w, int h) {
  TPhoto p;
  p.Width = w;
  p.Height = h;
  p.Pixels.resize(static_cast<std::size_t>(w) * h * 3);
  std::mt19937 rng(7);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = p.Pixels.data() + static_cast<std::size_t>(y) * w * 3;
    for (int x = 0; x < w; ++x) {
      const int noise = static_cast<int>(rng() % 9) - 4;
      const bool stripe = ((x / 97) + (y / 61)) % 2 == 0;
      const int base[3] = {40 + 150 * x / w, 60 + 120 * y / h, stripe ? 200 : 90};
      for (int c = 0; c < 3; ++c) row[3 * x + c] = static_cast<std::uint8_t>(std::clamp(base[c] + noise, 0, 255));
    }
  }
  WritePhoto(path, p, TWriteOptions{95});
}

void RunBatch(const Options& o, int runs) {
  const int w = 5472, h = 3648;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("planora-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string in = (dir / "photo.jpg").string(), ours = (dir / "ours.jpg").string();
  MakePhoto(in, w, h);
  const double decodedBytes = static_cast<double>(w) * h * 3;

  // The corners in photo pixels, as a user marks them.
  std::ostringstream corners;
  corners.imbue(std::locale::classic());
  for (int k = 0; k < 4; ++k)
    corners << (k > 0 ? "," : "") << (kCorners[k][0] + 0.5) * w << "," << (kCorners[k][1] + 0.5) * h;
  // The batch tool itself where it is built beside the benchmark, so that
  // its peak memory is what a user's run takes; the benchmark's own copy of
  // the run otherwise (its libraries, OpenCV's among them, add to that).
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path tool = self.parent_path().parent_path() / "apps" / "rectify" / "planora-rectify";
  const bool haveTool = !ec && std::filesystem::exists(tool);
  auto runOurs = [&](bool optimize) {
    if (optimize) return InChild({"--child-jpeg", in, ours, "optimized"});
    if (haveTool) return InChild({"--pixel-corners", corners.str(), in, ours}, tool.string());
    return InChild({"--child-batch", in, ours, corners.str()});
  };
#ifdef PLANORA_HAVE_OPENCV_IMGCODECS
  const std::string theirs = (dir / "opencv.jpg").string();
  const std::string pipeline = (self.parent_path() / "planora-bench-opencv-pipeline").string();
  auto runOpenCv = [&] { return InChild({in, theirs, corners.str()}, pipeline); };
#endif
  std::vector<double> oursMs, theirsMs;
  long oursPeak = 0;
  [[maybe_unused]] long theirsPeak = 0;
  for (int i = 0; i < runs; ++i) {
    const ChildRun a = runOurs(false);
    oursMs.push_back(a.ms);
    oursPeak = std::max(oursPeak, a.peakKb);
#ifdef PLANORA_HAVE_OPENCV_IMGCODECS
    const ChildRun b = runOpenCv();
    theirsMs.push_back(b.ms);
    theirsPeak = std::max(theirsPeak, b.peakKb);
#endif
  }
  const std::string name = "batch 5472x3648 jpeg";
  char extra[200];
  std::snprintf(extra, sizeof extra, "\"peak_mb\":%.1f,\"peak_over_picture\":%.2f,\"file_mb\":%.2f",
                static_cast<double>(oursPeak) / 1024, static_cast<double>(oursPeak) * 1024 / decodedBytes,
                static_cast<double>(std::filesystem::file_size(ours)) / 1048576);
  Report(o, name, "planora", 0, Summary(oursMs), nullptr, 0, extra);
  if (!o.json)
    std::printf("  %-26s peak resident %.0f MB = %.2f x the decoded picture, file %.2f MB\n", name.c_str(),
                static_cast<double>(oursPeak) / 1024, static_cast<double>(oursPeak) * 1024 / decodedBytes,
                static_cast<double>(std::filesystem::file_size(ours)) / 1048576);
#ifdef PLANORA_HAVE_OPENCV_IMGCODECS
  std::snprintf(extra, sizeof extra, "\"peak_mb\":%.1f,\"peak_over_picture\":%.2f",
                static_cast<double>(theirsPeak) / 1024, static_cast<double>(theirsPeak) * 1024 / decodedBytes);
  Report(o, name, "opencv", 0, Summary(theirsMs), nullptr, 0, extra);
  if (!o.json)
    std::printf("  %-26s peak resident %.0f MB = %.2f x the decoded picture\n", name.c_str(),
                static_cast<double>(theirsPeak) / 1024, static_cast<double>(theirsPeak) * 1024 / decodedBytes);
  ReportRatio(o, name, "planora", 0, oursMs, theirsMs, "opencv");
#endif

  // The JPEG writer's choice: read and write alone, plain against
  // optimised Huffman tables.
  std::vector<double> plainMs, optimizedMs;
  std::uintmax_t plainBytes = 0, optimizedBytes = 0;
  long plainPeak = 0, optimizedPeak = 0;
  for (int i = 0; i < runs; ++i) {
    ChildRun a = InChild({"--child-jpeg", in, ours, "plain"});
    plainMs.push_back(a.ms);
    plainPeak = std::max(plainPeak, a.peakKb);
    plainBytes = std::filesystem::file_size(ours);
    ChildRun b = runOurs(true);
    optimizedMs.push_back(b.ms);
    optimizedPeak = std::max(optimizedPeak, b.peakKb);
    optimizedBytes = std::filesystem::file_size(ours);
  }
  const std::string jname = "jpeg read+write 20 MP";
  std::snprintf(extra, sizeof extra, "\"peak_mb\":%.1f,\"file_mb\":%.2f", static_cast<double>(plainPeak) / 1024,
                static_cast<double>(plainBytes) / 1048576);
  Report(o, jname, "plain-huffman", 1, Summary(plainMs), nullptr, 0, extra);
  std::snprintf(extra, sizeof extra, "\"peak_mb\":%.1f,\"file_mb\":%.2f", static_cast<double>(optimizedPeak) / 1024,
                static_cast<double>(optimizedBytes) / 1048576);
  Report(o, jname, "optimized", 1, Summary(optimizedMs), "plain-huffman", Summary(plainMs).median, extra);
  if (!o.json)
    std::printf("  %-26s files %.2f MB plain, %.2f MB optimised; peak %.0f / %.0f MB\n", jname.c_str(),
                static_cast<double>(plainBytes) / 1048576, static_cast<double>(optimizedBytes) / 1048576,
                static_cast<double>(plainPeak) / 1024, static_cast<double>(optimizedPeak) / 1024);
  std::filesystem::remove_all(dir);
}

// The jobs the batch case runs in processes of their own: argv[2] the
// photo, argv[3] the output, argv[4] the corners in photo pixels (or for
// the JPEG job, plain or optimized). Returns the exit code. (OpenCV's
// pipeline is a program of its own: opencv_pipeline.cpp.)
int ChildJob(const std::string& job, char** argv) {
  const std::string in = argv[2], out = argv[3], extra = argv[4];
  if (job == "--child-batch") {
    const TBatchOptions b = ParseBatchArguments({"--pixel-corners", extra, in, out});
    std::ostringstream sink;
    return planora::RunBatch(b, sink, sink, false);
  }
  if (job == "--child-jpeg") {
    TBitmap picture;
    const TPhoto meta = ReadPhoto(in, picture);
    TWriteOptions wo{95};
    wo.OptimizeJpegCoding = extra == "optimized";
    WritePhoto(out, picture, meta, wo);
    return 0;
  }
  return 2;
}
#endif

// ----------------------------------------------------------------- window

#ifdef PLANORA_BENCH_WINDOW
struct BenchHost {
  static std::vector<std::uint8_t> rows;  // the host's picture, tightly packed
  static int width, height;
  static std::chrono::steady_clock::time_point copied;
  static int32_t ShowText(const char*, int32_t) { return 1; }
  static int32_t NotifyClose() { return 1; }
  static int32_t GetImage(TPluginBitmap* b) {
    copied = std::chrono::steady_clock::now();
    const std::size_t row = static_cast<std::size_t>(b->Width) * 3;
    for (int y = 0; y < b->Height; ++y) std::memcpy(b->Bits + static_cast<std::size_t>(y) * b->BytesPerRow,
                                                    rows.data() + y * row, row);
    return 1;
  }
  static int32_t PutImage(TPluginBitmap*) { return 1; }
  static const char* IniFileName(char* buffer, int32_t) {
    buffer[0] = '\0';  // no settings file: nothing is written at the close
    return buffer;
  }
};
std::vector<std::uint8_t> BenchHost::rows;
int BenchHost::width = 0, BenchHost::height = 0;
std::chrono::steady_clock::time_point BenchHost::copied;

void RunWindow(const Options& o, int runs) {
  const int w = 5472, h = 3648;
  BenchHost::width = w;
  BenchHost::height = h;
  BenchHost::rows.resize(static_cast<std::size_t>(w) * h * 3);
  std::mt19937 rng(3);
  for (auto& b : BenchHost::rows) b = static_cast<std::uint8_t>(rng());
  std::memset(&HostRecord, 0, sizeof HostRecord);
  HostRecord.ImageRect = {0, 0, w, h};
  HostRecord.ShowText = &BenchHost::ShowText;
  HostRecord.NotifyClose = &BenchHost::NotifyClose;
  HostRecord.GetImage = &BenchHost::GetImage;
  HostRecord.PutImage = &BenchHost::PutImage;
  HostRecord.GetIniFileName = &BenchHost::IniFileName;

  std::vector<double> fromCopy, whole;
  for (int i = 0; i < runs; ++i) {
    THeadlessWidgetSet ws;
    ws.SetWorkArea(TRect{0, 0, 1600, 900});
    ws.SetFrame(4, 22, 20);
    TApplication app{ws};
    TFEntzerren* form = nullptr;
    std::chrono::steady_clock::time_point opened;
    ws.Post([&] {
      opened = std::chrono::steady_clock::now();
      form->Close();
    });
    const auto t0 = std::chrono::steady_clock::now();
    form = app.CreateForm<TFEntzerren>();
    form->ShowModal();
    fromCopy.push_back(std::chrono::duration<double, std::milli>(opened - BenchHost::copied).count());
    whole.push_back(std::chrono::duration<double, std::milli>(opened - t0).count());
  }
  Report(o, "window opening 5472x3648", "from-host-copy", 1, Summary(fromCopy));
  Report(o, "window opening 5472x3648", "from-create", 1, Summary(whole));
  std::vector<std::uint8_t>().swap(BenchHost::rows);
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef PLANORA_BENCH_BATCH
  if (argc == 5 && std::strncmp(argv[1], "--child-", 8) == 0) {
    const int rc = ChildJob(argv[1], argv);
    std::printf("%ld\n", PeakKb());
    return rc;
  }
#endif
  Options o;
  const char* const kCases[] = {"warp", "pane", "batch", "window", "scaling"};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--json") {
      o.json = true;
    } else if (a == "--quick") {
      o.quick = true;
    } else if (a == "--kernels" && i + 1 < argc) {
      const std::string set = argv[++i];
      if (set != "scalar" && set != "avx2" && set != "avx512") {
        std::fputs(kHelp, stderr);
        return 2;
      }
      const detail::TKernelSet chosen = set == "scalar" ? detail::TKernelSet::Scalar
                                        : set == "avx2"  ? detail::TKernelSet::Avx2
                                                         : detail::TKernelSet::Avx512;
      if (!detail::KernelSetAvailable(chosen)) {
        std::fprintf(stderr, "planora-bench: this processor has no %s\n", set.c_str());
        return 2;
      }
      detail::LimitKernels(chosen);
    } else if (a == "--runs" && i + 1 < argc) {
      o.runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--case" && i + 1 < argc &&
               std::find_if(std::begin(kCases), std::end(kCases), [&](const char* c) { return argv[i + 1] == std::string(c); }) != std::end(kCases)) {
      o.cases.push_back(argv[++i]);
    } else if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else {
      std::fputs(kHelp, stderr);
      return 2;
    }
  }
  if (!o.json) {
    const detail::TKernelSet set = detail::KernelSetInUse();
    std::printf("Median times, range of the runs in brackets (%u cores%s, %s kernels)\n",
                std::max(1u, std::thread::hardware_concurrency()),
#ifdef PLANORA_HAVE_OPENCV
                ", with OpenCV",
#else
                ", without OpenCV",
#endif
                set == detail::TKernelSet::Avx512 ? "AVX-512" : set == detail::TKernelSet::Avx2 ? "AVX2" : "scalar");
  }
  const int big = o.runs > 0 ? o.runs : (o.quick ? 1 : 7);
  const int small = o.runs > 0 ? o.runs : (o.quick ? 5 : 201);
  const int process = o.runs > 0 ? o.runs : (o.quick ? 1 : 5);
  if (o.Wants("warp")) {
    for (bool nearest : {true, false}) RunWarp(o, "5472x3648", 5472, 3648, 5472, 3648, nearest, o.quick ? 1 : 3, big);
  }
  if (o.Wants("pane")) {
    for (const auto& pane : {std::pair{490, 385}, std::pair{936, 624}}) {
      const std::string label = "pane " + std::to_string(pane.first) + "x" + std::to_string(pane.second);
      for (bool nearest : {true, false})
        RunWarp(o, label, pane.first, pane.second, 5472, 3648, nearest, o.quick ? 1 : 21, small);
    }
  }
#ifdef PLANORA_BENCH_BATCH
  if (o.Wants("batch")) RunBatch(o, process);
#endif
#ifdef PLANORA_BENCH_WINDOW
  if (o.Wants("window")) RunWindow(o, process);
#endif
  if (o.Wants("scaling")) RunScaling(o, o.quick ? 1 : 3);
  return 0;
}
