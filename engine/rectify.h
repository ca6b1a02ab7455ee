// The resampling that builds the rectified picture from a solved camera.
//
// It is an inverse mapping: every pixel of a target surface is visited once,
// its world coordinates are carried back through the output frame and the
// camera model to a point of the picture, and the colour found there on a
// source surface is written to the target pixel. Pixels whose picture point
// does not exist (outside the picture, beyond the horizon of the object's
// plane, or too far away to have a pixel position) become pure red.
//
// The output frame places the four marked corners, mapped onto the object's
// plane, so that their bounding box fills CropPercent per cent of the
// picture's width or height (whichever is reached first) and is centred.
// All surfaces share world coordinates in window 1: picture pixels from the
// picture centre, x to the right, y downwards.
//
// Rectify works on surfaces and a UI seam only, so the rectification window
// and the batch tool drive the same code.
#pragma once

#include <cstdint>
#include <string>

#include "engine/camera.h"
#include "platform/sysutils.h"
#include "plot/glib2.h"

namespace planora {

// What a run shows and asks while it works. The rectification window
// implements it with its progress bar, cursor and menu; a batch tool with a
// terminal progress bar.
class TRectifyUi {
 public:
  virtual ~TRectifyUi() = default;
  // The run starts (busy cursor) and ends (default cursor). EndRun comes
  // after every BeginRun, also when the run fails.
  virtual void BeginRun() = 0;
  virtual void EndRun() = 0;
  // Progress on a scale of 0..100.
  virtual void SetProgress(int position) = 0;
  // Lets pending window messages through: called at the progress steps only,
  // never per pixel.
  virtual void ProcessMessages() = 0;
  // True for nearest-pixel sampling in the full-resolution pass. Asked for
  // every pixel, so that the user's choice takes effect at once even during
  // a long run; the preview always takes the nearest pixel and never asks.
  virtual bool NearestOnly() = 0;
  // The marker corners a, b, c, d (x, y) the run works from, reported before
  // the first pixel so that "last marker" can restore them.
  virtual void CornersUsed(const double corners[4][2]) = 0;
  // True after a preview pass, false after a full-resolution pass.
  virtual void PreviewShownChanged(bool shown) = 0;
};

struct TRectifyJob {
  TCameraSolver* Camera = nullptr;  // solved; FrameValid() must hold
  TPlottFlaeche* Source = nullptr;  // the picture, window 1 in picture coordinates
  TPlottFlaeche* Target = nullptr;  // receives the rectified picture; not Source
  bool Preview = false;  // true: nearest pixel, bulk writes with screen updates off
  int CropPercent = 90;  // share of the output the marked area fills; clamped to 1..100
  int ImageWidth = 0;    // picture size in pixels: the extent of window 1
  int ImageHeight = 0;
  // The preview pane that gets the output corners as its marker; may be
  // nullptr (batch).
  TPlottFlaeche* MarkerSurface = nullptr;
  // The row-wise pass on worker threads (0: one per core) is what users
  // run; the per-pixel pass over the surface interface is the yardstick it
  // is measured and tested against. Both give the same pixels. The row-wise
  // pass asks NearestOnly once per progress step rather than per pixel: the
  // answer can only change while messages are let through.
  bool Reference = false;
  int Threads = 0;
};

struct TRectifyResult {
  // Bounding box of the marked corners in plane coordinates.
  double SMin = 0, SMax = 0, TMin = 0, TMax = 0;
  // Output world units per plane unit, and the plane point at the output's centre.
  double OutputScale = 0, SMid = 0, TMid = 0;
  // Corners a, b, c, d in output world coordinates, exact and rounded to
  // the nearest integer (ties to even) as the marker receives them.
  double OutputCorners[4][2] = {};
  std::int32_t RoundedCorners[4][2] = {};
};

// A run that cannot be done: no camera frame, corners that do not map onto
// the plane, a marked area without extent, unusable surfaces. Raised before
// anything is shown or written.
class ERectifyError : public Exception {
 public:
  explicit ERectifyError(const std::string& message) : Exception(message) {}
};

// The output frame alone: corners onto the plane, bounding box, scale,
// centre and output corners. CropPercent outside 1..100 is clamped.
// ERectifyError when the frame cannot be formed.
TRectifyResult ComputeOutputFrame(const TCameraSolver& Camera, int CropPercent, int ImageWidth,
                                  int ImageHeight);

// Plane coordinates to output world coordinates of a frame, and back.
void PlaneToOutput(const TRectifyResult& Frame, double s, double t, double& X, double& Y);
void OutputToPlane(const TRectifyResult& Frame, double X, double Y, double& s, double& t);

// The progress steps of a pass, both paths alike: a fiftieth of the source's
// pixels in the preview (the bar moves 2 a step), a hundredth in the full
// pass (1 a step). A step of 0 (a tiny source) is never divided by.
std::int64_t ProgressStep(std::int64_t sourcePixels, bool preview);
// The bar's position after `done` output pixels of a pass whose step is
// `step` (> 0); capped at 100, since a target larger than its source (the
// batch tool's) would run it past its end.
int ProgressPosition(std::int64_t done, std::int64_t step, bool preview);

// One whole run: frame, then the preview or the full-resolution pass, then
// the output corners as the marker of job.MarkerSurface. Returns the frame.
TRectifyResult Rectify(const TRectifyJob& job, TRectifyUi& ui);

}  // namespace planora
