#include "engine/rectify.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/matrices.h"
#include "engine/rectify_rows.h"

namespace planora {

namespace {

// Every surface of a run is addressed through this window.
constexpr int kWindow = 1;

// EndRun must follow BeginRun even when a pass fails (a surface or the UI
// raises), or the window would stay on the busy cursor for good.
class RunGuard {
 public:
  explicit RunGuard(TRectifyUi& ui) : ui_(ui) { ui_.BeginRun(); }
  ~RunGuard() {
    if (!active_) return;
    try {
      ui_.EndRun();
    } catch (...) {
      // The failure that unwinds us is the one to report.
    }
  }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;
  // The normal end: EndRun's own failures may then propagate.
  void Finish() {
    active_ = false;
    ui_.EndRun();
  }

 private:
  TRectifyUi& ui_;
  bool active_ = true;
};

// A preview pass writes with screen updates off; if it fails half-way the
// pane is switched back on so that it does not stay frozen on its old image.
class ScreenUpdateGuard {
 public:
  explicit ScreenUpdateGuard(TPlottFlaeche& surface) : surface_(surface) {
    surface_.SetOption(NoScreenUpdate, true);
  }
  ~ScreenUpdateGuard() {
    if (!active_) return;
    try {
      surface_.SetOption(NoScreenUpdate, false);
    } catch (...) {
    }
  }
  ScreenUpdateGuard(const ScreenUpdateGuard&) = delete;
  ScreenUpdateGuard& operator=(const ScreenUpdateGuard&) = delete;
  void Finish() {
    active_ = false;
    surface_.SetOption(NoScreenUpdate, false);
  }

 private:
  TPlottFlaeche& surface_;
  bool active_ = true;
};

std::int64_t PixelCount(const TPlottFlaeche& surface) {
  return static_cast<std::int64_t>(surface.Bitmap->Width()) * surface.Bitmap->Height();
}


// Nearest source pixel of picture point (x, y), or red. Points close to the
// horizon of the object's plane map so far out that their pixel position
// does not fit 32 bits; the conversion reports that as a range error, which
// here only means "outside". NaN is caught before it reaches the rounding.
TColor NearestSample(TPlottFlaeche& source, double x, double y) {
  if (!std::isfinite(x) || !std::isfinite(y)) return NoSourceColor;
  std::int32_t px = 0;
  std::int32_t py = 0;
  try {
    px = source.WorldToPixelX(kWindow, x);
    py = source.WorldToPixelY(kWindow, y);
  } catch (const ERangeError&) {
    return NoSourceColor;
  }
  if (!source.SelectPixel(px, py)) return NoSourceColor;
  return source.GetPixel();
}

// Bilinear sample, or red where the neighbourhood is not wholly inside the
// picture; far-out points raise a range error in the floor of the position,
// which again means "outside".
TColor InterpolatedSample(TPlottFlaeche& source, double x, double y) {
  if (!std::isfinite(x) || !std::isfinite(y)) return NoSourceColor;
  try {
    return source.GetPixelInterpolated(kWindow, x, y);
  } catch (const ERangeError&) {
    return NoSourceColor;
  }
}

const char* const kCornerNames = "abcd";

}  // namespace

std::int64_t ProgressStep(std::int64_t sourcePixels, bool preview) { return sourcePixels / (preview ? 50 : 100); }

int ProgressPosition(std::int64_t done, std::int64_t step, bool preview) {
  return static_cast<int>(std::min<std::int64_t>(preview ? (2 * done) / step : done / step, 100));
}

namespace {

// The per-pixel pass over the surface interface, in either mode: the
// yardstick of the row-wise pass. A progress step of 0 (a source of fewer
// than 50 or 100 pixels) is never divided by: such a pass is over in an
// instant, so the bar then jumps from 0 straight to 100.
void ReferencePass(const TRectifyJob& job, const TRectifyResult& frame, TRectifyUi& ui) {
  TPlottFlaeche& source = *job.Source;
  TPlottFlaeche& target = *job.Target;
  const TCameraSolver& camera = *job.Camera;
  // Output point (X, Y) and picture point (x, y) of the current pixel.
  TVector out;
  TVector pic;
  SizeVector(out, 1);
  SizeVector(pic, 1);

  target.BeginScan(out[0], out[1], kWindow, 1);
  if (!job.Preview) ui.SetProgress(1);
  const std::int64_t step = ProgressStep(PixelCount(source), job.Preview);
  std::int64_t n = 0;
  do {
    double s = 0.0;
    double t = 0.0;
    OutputToPlane(frame, out[0], out[1], s, t);
    // Asked for every pixel of a full pass: the user may switch the
    // sampling mid-run. The preview always takes the nearest pixel.
    const bool nearest = job.Preview || ui.NearestOnly();
    TColor colour = NoSourceColor;
    // Beyond the horizon the plane point lies behind the camera; its
    // projection would be a reflected point that may well fall inside the
    // picture, so it gets no sample.
    if (camera.PlaneToImage(s, t, pic[0], pic[1])) {
      colour = nearest ? NearestSample(source, pic[0], pic[1]) : InterpolatedSample(source, pic[0], pic[1]);
    }
    target.PutPixel(colour);
    ++n;
    if (step > 0 && n % step == 0) {
      ui.SetProgress(ProgressPosition(n, step, job.Preview));
      ui.ProcessMessages();
    }
  } while (target.NextScan(out[0], out[1], kWindow));
  SizeVector(out, -1);
  SizeVector(pic, -1);
}

}  // namespace

void PlaneToOutput(const TRectifyResult& Frame, double s, double t, double& X, double& Y) {
  X = (s - Frame.SMid) * Frame.OutputScale;
  Y = (t - Frame.TMid) * Frame.OutputScale;
}

void OutputToPlane(const TRectifyResult& Frame, double X, double Y, double& s, double& t) {
  s = X / Frame.OutputScale + Frame.SMid;
  t = Y / Frame.OutputScale + Frame.TMid;
}

TRectifyResult ComputeOutputFrame(const TCameraSolver& Camera, int CropPercent, int ImageWidth,
                                  int ImageHeight) {
  // Before any successful solve the frame is all zeros, and a failed solve
  // leaves the frame of other corners: neither may be resampled through.
  if (!Camera.FrameValid()) {
    throw ERectifyError("The marked corners give no camera geometry; nothing was rectified.");
  }
  if (ImageWidth < 1 || ImageHeight < 1) {
    throw ERectifyError("The picture has no pixels; nothing was rectified.");
  }
  // While the user is still typing, the crop field can hold anything; 0
  // would be divided by below.
  const std::int64_t percent = std::clamp(CropPercent, 1, 100);

  const TVector* corners[4] = {&Camera.CornerA, &Camera.CornerB, &Camera.CornerC, &Camera.CornerD};
  double s[4];
  double t[4];
  for (int k = 0; k < 4; ++k) {
    const bool mapped = Camera.ImageToPlane((*corners[k])[0], (*corners[k])[1], s[k], t[k]);
    if (!mapped || !std::isfinite(s[k]) || !std::isfinite(t[k])) {
      throw ERectifyError(std::string("Corner ") + kCornerNames[k] +
                          " does not lie on the object's plane; nothing was rectified.");
    }
  }

  TRectifyResult r;
  r.SMin = r.SMax = s[0];
  r.TMin = r.TMax = t[0];
  for (int k = 1; k < 4; ++k) {
    if (s[k] < r.SMin) {
      r.SMin = s[k];
    } else if (s[k] > r.SMax) {
      r.SMax = s[k];
    }
    if (t[k] < r.TMin) {
      r.TMin = t[k];
    } else if (t[k] > r.TMax) {
      r.TMax = t[k];
    }
  }

  // The integer products first (in 64 bits, so no picture size overflows),
  // then the division in floating point.
  const double scaleT = (r.TMax - r.TMin) / (static_cast<double>(percent * ImageHeight) / 100.0);
  const double scaleS = (r.SMax - r.SMin) / (static_cast<double>(percent * ImageWidth) / 100.0);
  double scale = scaleT;
  if (scaleS > scaleT) scale = scaleS;
  // A marked area without extent would need an infinite magnification.
  if (!(scale > 0.0) || !std::isfinite(scale)) {
    throw ERectifyError("The marked area has no extent on the object's plane; nothing was rectified.");
  }
  r.OutputScale = 1.0 / scale;
  if (!std::isfinite(r.OutputScale)) {
    throw ERectifyError("The marked area is too small to be rectified.");
  }
  r.SMid = (r.SMax + r.SMin) / 2.0;
  r.TMid = (r.TMax + r.TMin) / 2.0;

  for (int k = 0; k < 4; ++k) {
    PlaneToOutput(r, s[k], t[k], r.OutputCorners[k][0], r.OutputCorners[k][1]);
    // The bounding box spans at most the picture, so these always fit.
    r.RoundedCorners[k][0] = Round(r.OutputCorners[k][0]);
    r.RoundedCorners[k][1] = Round(r.OutputCorners[k][1]);
  }
  return r;
}

TRectifyResult Rectify(const TRectifyJob& job, TRectifyUi& ui) {
  if (job.Camera == nullptr || job.Source == nullptr || job.Target == nullptr) {
    throw ERectifyError("Rectification needs a camera, a source and a target.");
  }
  // The scan and the sampling each move their own surface's pixel cursor;
  // on one surface they would also read pixels already overwritten.
  if (job.Source == job.Target) {
    throw ERectifyError("The rectified picture cannot replace its own source.");
  }
  // The scan always visits the first pixel, which an empty bitmap lacks.
  if (job.Target->Bitmap->Width() < 1 || job.Target->Bitmap->Height() < 1) {
    throw ERectifyError("The target has no pixels; nothing was rectified.");
  }
  const TCameraSolver& camera = *job.Camera;

  // Everything that can refuse the run is settled here, before the corners
  // are reported or the cursor changes: a refused run leaves no trace.
  const TRectifyResult frame = ComputeOutputFrame(camera, job.CropPercent, job.ImageWidth, job.ImageHeight);

  const double used[4][2] = {{camera.CornerA[0], camera.CornerA[1]},
                             {camera.CornerB[0], camera.CornerB[1]},
                             {camera.CornerC[0], camera.CornerC[1]},
                             {camera.CornerD[0], camera.CornerD[1]}};
  ui.CornersUsed(used);
  RunGuard run(ui);

  ui.SetProgress(0);
  ui.ProcessMessages();

  if (job.Preview) {
    ui.ProcessMessages();
    // The pane is refreshed once at the end rather than pixel by pixel.
    ScreenUpdateGuard screen(*job.Target);
    if (job.Reference) {
      ReferencePass(job, frame, ui);
    } else {
      detail::RectifyRows(job, frame, ui);
    }
    screen.Finish();
    ui.PreviewShownChanged(true);
  } else {
    if (job.Reference) {
      ReferencePass(job, frame, ui);
    } else {
      detail::RectifyRows(job, frame, ui);
    }
    ui.PreviewShownChanged(false);
  }

  ui.SetProgress(100);
  ui.ProcessMessages();

  // The marker goes on after both kinds of pass, so after a full run the
  // preview pane shows where the corners landed over its last preview.
  if (job.MarkerSurface != nullptr) {
    const auto& c = frame.RoundedCorners;
    job.MarkerSurface->SetMarkerCorners(kWindow, c[0][0], c[0][1], c[1][0], c[1][1], c[2][0], c[2][1], c[3][0],
                                        c[3][1]);
    job.MarkerSurface->Paint();
  }
  run.Finish();
  return frame;
}

}  // namespace planora
