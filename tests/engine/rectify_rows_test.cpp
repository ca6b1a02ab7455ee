// The row-wise pass against the per-pixel pass: the same bytes for every
// geometry, sampling, mode and thread count, and the same conversation with
// the user interface.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "engine/rectify.h"
#include "engine/rectify_kernels.h"
#include "engine/rectify_rows.h"
#include "platform/forms.h"
#include "platform/headless/headless.h"
#include "tests/support/pane.h"
#include "tests/support/picture.h"
#include "tests/support/test_ui.h"

namespace planora {
namespace {

using test::TTestUi;

// The user switches the sampling during the messages of step flipAtStep,
// after a pause (slowFlip) in which helper threads run ahead.
struct FlippingUi : TTestUi {
  bool nearestNow = true;
  int flipAtStep = -1;
  bool slowFlip = false;
  FlippingUi() {
    nearest = [this](int) { return nearestNow; };
    onMessages = [this] {
      if (messages - 1 != flipAtStep) return;
      if (slowFlip) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      nearestNow = !nearestNow;
    };
  }
  FlippingUi(const FlippingUi&) = delete;
};

struct Picture {
  int w, h;
  TPlottFlaeche surface;
  Picture(int width, int height, std::mt19937& rng) : w(width), h(height) {
    test::InitPictureSurface(surface, w, h);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int y = 0; y < h; ++y) {
      std::uint8_t* row = surface.Bitmap->ScanLine(y);
      for (int x = 0; x < 3 * w; ++x) row[x] = static_cast<std::uint8_t>(byte(rng));
    }
  }
};

// A target pane of its own size over the same world frame as the picture.
std::unique_ptr<TPlottFlaeche> Pane(int w, int h, const Picture& pic) {
  auto pane = test::PictureSurface(w, h, pic.w, pic.h);
  pane->Bitmap->Fill(clLime);
  return pane;
}

// Corners a, b, c, d near the picture's corners, moved at random: gentle
// tilts and steep ones whose far edge nearly closes, so that small crops
// show the plane beyond its horizon.
bool RandomCamera(TCameraSolver& cam, const Picture& pic, std::mt19937& rng, bool steep = false) {
  std::uniform_real_distribution<double> jitter(-0.45, 0.45);
  const double hw = pic.w / 2.0, hh = pic.h / 2.0;
  const double base[4][2] = {{hw, -hh}, {-hw, -hh}, {-hw, hh}, {hw, hh}};
  double q[8] = {};
  // Every eighth marker is an axis-parallel rectangle of whole pixels: the mapping is then a
  // plain enlargement whose sample positions often fall exactly halfway between pixels.
  const bool square = std::uniform_int_distribution<int>(0, 7)(rng) == 0;
  const double fx = square ? std::floor(hw * (0.5 + jitter(rng))) : 0, fy = square ? std::floor(hh * (0.5 + jitter(rng))) : 0;
  for (int k = 0; k < 4; ++k) {
    if (square) {
      q[2 * k] = base[k][0] > 0 ? fx : -fx;
      q[2 * k + 1] = base[k][1] > 0 ? fy : -fy;
      continue;
    }
    q[2 * k] = base[k][0] * (0.7 + jitter(rng));
    q[2 * k + 1] = base[k][1] * (0.7 + jitter(rng));
    if (steep && k < 2) q[2 * k] *= 0.15;  // the upper edge far away
  }
  return test::SetUpCorners(cam, q, pic.w, pic.h).Ready();
}

// A run of the row-wise pass: a set of kernels (where the processor has
// it) on a number of threads.
struct KernelRun {
  detail::TKernelSet set;
  int threads;
};

const char* SetName(detail::TKernelSet set) {
  switch (set) {
    case detail::TKernelSet::Scalar: return "scalar";
    case detail::TKernelSet::Avx2: return "avx2";
    case detail::TKernelSet::Avx512: return "avx512";
  }
  return "?";
}

// Runs the row-wise pass with the given kernels only, and the rest of the
// process back on the best ones afterwards.
void RectifyWith(const KernelRun& run, TRectifyJob job, TRectifyUi& ui) {
  const detail::TKernelSet was = detail::LimitKernels(run.set);
  job.Threads = run.threads;
  try {
    Rectify(job, ui);
  } catch (...) {
    detail::LimitKernels(was);
    throw;
  }
  detail::LimitKernels(was);
}

TEST(RectifyRows, SameBytesAsThePerPixelPass) {
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> size(2, 90);  // one pixel has no world extent to divide by
  std::uniform_int_distribution<int> crop(-5, 110);
  int runs = 0, withRed = 0, blends = 0;
  for (int trial = 0; trial < 160; ++trial) {
    Picture pic(size(rng) + (trial % 7 == 0 ? 200 : 0), size(rng), rng);
    TCameraSolver cam;
    const bool steep = trial % 4 == 1;
    if (!RandomCamera(cam, pic, rng, steep)) continue;
    // The preview's pane is smaller or larger than the picture; the full pass is the picture's size.
    const bool preview = trial % 3 == 0;
    const int tw = preview ? size(rng) : pic.w;
    const int th = preview ? size(rng) : pic.h;
    const int p = (trial % 5 == 0 || steep) ? 1 + trial % 13 : crop(rng);

    TTestUi refUi;
    const bool nearest = trial % 2 == 0;
    refUi.nearest = [nearest](int) { return nearest; };
    // Now and then the target ands the new pixels into what it holds.
    const bool andMode = trial % 5 == 2;
    auto want = Pane(tw, th, pic);
    want->SetOption(AndMode, andMode);
    try {
      Rectify({&cam, &pic.surface, want.get(), preview, p, pic.w, pic.h, nullptr, true, 0}, refUi);
    } catch (const ERectifyError&) {
      continue;  // a frame the corners cannot give: both paths refuse alike (below)
    }
    using detail::TKernelSet;
    for (const KernelRun run : {KernelRun{TKernelSet::Scalar, 1}, KernelRun{TKernelSet::Scalar, 3},
                                KernelRun{TKernelSet::Avx2, 1}, KernelRun{TKernelSet::Avx2, 2},
                                KernelRun{TKernelSet::Avx512, 1}, KernelRun{TKernelSet::Avx512, 3},
                                KernelRun{TKernelSet::Avx512, 0}}) {
      if (!detail::KernelSetAvailable(run.set)) continue;
      TTestUi ui;
      ui.nearest = refUi.nearest;
      auto got = Pane(tw, th, pic);
      got->SetOption(AndMode, andMode);
      RectifyWith(run, {&cam, &pic.surface, got.get(), preview, p, pic.w, pic.h, nullptr, false, 0}, ui);
      ASSERT_TRUE(*got->Bitmap == *want->Bitmap)
          << "trial " << trial << " threads " << run.threads << " " << SetName(run.set) << " picture " << pic.w
          << "x" << pic.h << " pane " << tw << "x" << th << " crop " << p
          << (preview ? " preview" : nearest ? " nearest" : " bilinear") << (andMode ? " and-mode" : "");
      ASSERT_EQ(ui.log, refUi.log) << "trial " << trial;
      EXPECT_EQ(got->CursorX, want->CursorX);
      EXPECT_EQ(got->CursorY, want->CursorY);
    }
    ++runs;
    blends += !preview && !nearest;
    bool red = false;
    for (int y = 0; y < th && !red; ++y)
      for (int x = 0; x < tw && !red; ++x) red = want->Bitmap->Pixel(x, y) == NoSourceColor;
    withRed += red;
  }
  // The random geometry really covered what it is meant to.
  EXPECT_GT(runs, 100);
  EXPECT_GT(blends, 20);
  EXPECT_GT(withRed, 10);
}

// The kernels work in blocks of 128 pixels and in vectors of four to
// sixteen lanes: rows of several blocks, with tails that neither width divides, over
// pictures of smooth ramps in all three channels, where neighbouring pixels
// differ by one or two and a great many blended sums end within a hair of a
// rounding boundary (k + 0.5), so that a kernel whose sums stray from the
// reference's by a hair (regrouped, or blended in single precision without
// the reference's arithmetic near a boundary) shows. Exact ties are the
// random test's above (its axis-parallel markers).
TEST(RectifyRows, WideRowsAndSumsAtRoundingBoundariesGiveTheSameBytes) {
  std::mt19937 rng(1357);
  int runs = 0;
  for (int trial = 0; trial < 24; ++trial) {
    const int widths[] = {513, 1029, 1543, 1100 + trial};
    Picture pic(widths[trial % 4], 24 + trial % 9, rng);
    for (int y = 0; y < pic.h; ++y) {
      std::uint8_t* row = pic.surface.Bitmap->ScanLine(y);
      for (int x = 0; x < pic.w; ++x) {
        // Steps of one (blue), two (green) and one every other pixel (red):
        // halfway between two pixels the sum is then exactly or nearly k + 0.5.
        row[3 * x] = static_cast<std::uint8_t>((x + 3 * y) & 255);
        row[3 * x + 1] = static_cast<std::uint8_t>((2 * x + y) & 255);
        row[3 * x + 2] = static_cast<std::uint8_t>((x / 2 + y / 2) & 255);
      }
    }
    TCameraSolver cam;
    if (!RandomCamera(cam, pic, rng, trial % 3 == 2)) continue;
    const int crop = 60 + trial % 41;
    TTestUi refUi;
    const bool nearest = trial % 4 == 3;  // mostly the blend, whose rounding is at stake
    refUi.nearest = [nearest](int) { return nearest; };
    auto want = Pane(pic.w, pic.h, pic);
    try {
      Rectify({&cam, &pic.surface, want.get(), false, crop, pic.w, pic.h, nullptr, true, 0}, refUi);
    } catch (const ERectifyError&) {
      continue;
    }
    using detail::TKernelSet;
    for (const KernelRun run : {KernelRun{TKernelSet::Scalar, 1}, KernelRun{TKernelSet::Avx2, 1},
                                KernelRun{TKernelSet::Avx2, 2}, KernelRun{TKernelSet::Avx512, 1},
                                KernelRun{TKernelSet::Avx512, 2}}) {
      if (!detail::KernelSetAvailable(run.set)) continue;
      TTestUi ui;
      ui.nearest = refUi.nearest;
      auto got = Pane(pic.w, pic.h, pic);
      RectifyWith(run, {&cam, &pic.surface, got.get(), false, crop, pic.w, pic.h, nullptr, false, 0}, ui);
      ASSERT_TRUE(*got->Bitmap == *want->Bitmap)
          << "trial " << trial << " threads " << run.threads << " " << SetName(run.set) << " width " << pic.w;
    }
    ++runs;
  }
  EXPECT_GT(runs, 16);
}

// A target is made without its white fill where a run follows (the batch
// tool's result): that holds only because both passes write every pixel of
// the target, inside the picture or not, whatever it held before.
TEST(RectifyRows, BothPassesWriteEveryPixelOfTheirTarget) {
  std::mt19937 rng(2468);
  int runs = 0;
  for (int trial = 0; trial < 24; ++trial) {
    Picture pic(30 + trial * 7, 20 + trial * 3, rng);
    TCameraSolver cam;
    if (!RandomCamera(cam, pic, rng, trial % 2 == 1)) continue;
    const bool preview = trial % 3 == 0;
    const int tw = preview ? 40 : pic.w, th = preview ? 25 : pic.h;
    for (bool reference : {true, false}) {
      TTestUi ui;
      const bool nearest = trial % 4 == 0;
      ui.nearest = [nearest](int) { return nearest; };
      std::unique_ptr<TPlottFlaeche> target[2];
      for (int k = 0; k < 2; ++k) {
        target[k] = Pane(tw, th, pic);
        target[k]->Bitmap->Fill(k == 0 ? clLime : clBlue);
      }
      try {
        for (auto& t : target)
          Rectify({&cam, &pic.surface, t.get(), preview, 20 + trial * 4, pic.w, pic.h, nullptr, reference, 0}, ui);
      } catch (const ERectifyError&) {
        continue;
      }
      ASSERT_TRUE(*target[0]->Bitmap == *target[1]->Bitmap) << "trial " << trial << (reference ? " reference" : " rows");
      ++runs;
    }
  }
  EXPECT_GT(runs, 30);
}

TEST(RectifyRows, SamplingSwitchedDuringARunTakesEffectAtTheSameStep) {
  std::mt19937 rng(7);
  Picture pic(120, 90, rng);
  TCameraSolver cam;
  ASSERT_TRUE(RandomCamera(cam, pic, rng));
  FlippingUi refUi, ui;
  refUi.flipAtStep = ui.flipAtStep = 40;  // after the initial message and 39 steps
  // Meanwhile the helpers finish the remaining steps with the old sampling: those must be redone.
  ui.slowFlip = true;
  auto want = Pane(120, 90, pic);
  auto got = Pane(120, 90, pic);
  Rectify({&cam, &pic.surface, want.get(), false, 80, 120, 90, nullptr, true, 0}, refUi);
  Rectify({&cam, &pic.surface, got.get(), false, 80, 120, 90, nullptr, false, 3}, ui);
  EXPECT_TRUE(*got->Bitmap == *want->Bitmap);
  EXPECT_FALSE(ui.nearestNow);
  // Both samplings really occur in the result: against an all-nearest run the rows differ only
  // after the switch.
  TTestUi plain;
  auto nearest = Pane(120, 90, pic);
  Rectify({&cam, &pic.surface, nearest.get(), false, 80, 120, 90, nullptr, false, 1}, plain);
  int firstDiff = -1;
  for (int i = 0; i < 120 * 90 && firstDiff < 0; ++i)
    if (nearest->Bitmap->Pixel(i % 120, i / 120) != got->Bitmap->Pixel(i % 120, i / 120)) firstDiff = i;
  EXPECT_GE(firstDiff, 39 * (120 * 90 / 100));
}

TEST(RectifyRows, NoHelperWritesIntoAPaneWhileMessagesGoThrough) {
  // A preview pane large enough for several threads: while the run lets
  // messages through, a repaint may copy the pane's bitmap, so nothing may
  // change it meanwhile.
  std::mt19937 rng(11);
  Picture pic(1000, 760, rng);
  TCameraSolver cam;
  ASSERT_TRUE(RandomCamera(cam, pic, rng));
  test::TTestPane screen(1000, 760, true, "PaintBox2");
  TPlottFlaeche& pane = screen.s;
  DefinePictureWindow(pane, pic.w, pic.h);
  TTestUi ui;
  int changedDuringMessages = 0;
  ui.onMessages = [&] {
    TBitmap before;
    before.Assign(*pane.Bitmap);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    if (!(before == *pane.Bitmap)) ++changedDuringMessages;
  };
  Rectify({&cam, &pic.surface, &pane, true, 90, pic.w, pic.h, nullptr, false, 4}, ui);
  EXPECT_EQ(changedDuringMessages, 0);
  // And the pixels are still those of the per-pixel pass.
  TTestUi refUi;
  auto want = Pane(1000, 760, pic);
  Rectify({&cam, &pic.surface, want.get(), true, 90, pic.w, pic.h, nullptr, true, 0}, refUi);
  EXPECT_TRUE(*pane.Bitmap == *want->Bitmap);
}

TEST(RectifyRows, ThreadsFollowTheRequestOrTheWork) {
  EXPECT_EQ(detail::WorkerThreadsFor(3, 10), 3);
  EXPECT_EQ(detail::WorkerThreadsFor(1, 1 << 30), 1);
  EXPECT_EQ(detail::WorkerThreadsFor(0, 3773), 1);  // a preview pane's step: not worth a second thread
  EXPECT_GE(detail::WorkerThreadsFor(0, 200000), 1);
  EXPECT_LE(detail::WorkerThreadsFor(0, 200000), 64);
}

}  // namespace
}  // namespace planora
