// The set-up every rectification shares, whoever drives it: the window,
// the batch tool, the benchmark and the tests. The promise that a corner
// set gives the same pixels everywhere rests on these being one code path:
// the picture's world window, its diagonal, and the camera's solve
// sequence.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/camera.h"
#include "plot/glib2.h"

namespace planora {

// The window of every surface of a run that holds picture coordinates.
inline constexpr int PictureWindowNumber = 1;

// Defines window PictureWindowNumber of `surface` over a picture of
// `width` x `height` pixels: picture pixels from its centre, x to the right,
// y downwards, the half sizes unrounded. The surface's own pixel size may
// differ (a pane shows the picture scaled).
void DefinePictureWindow(TPlottFlaeche& surface, double width, double height);

// sqrt(w * w + h * h): the unit of the focal ratio.
double PictureDiagonal(std::int32_t width, std::int32_t height);

// What the camera set-up found, for the caller to tell the user.
struct TCameraSetUp {
  // False: the corners outline no usable quadrilateral (three in a line,
  // two too close); nothing after the first solve ran.
  bool Solved = false;
  // False: no focal length makes the angle at b right; the ratio fell back
  // to 1 and the work goes on (the window shows PlausibilityMessage).
  bool Plausible = false;
  // The last solve left a frame: only then may the picture be resampled.
  bool FrameValid = false;
  bool Ready() const { return Solved && FrameValid; }
};

// The solve sequence on the corners already in camera.CornerA..CornerD:
// the picture's size and diagonal, FocalRatio 1, SolveCamera,
// EstimateFocalRatio, then `chooseFocal` where given (it may put another
// FocalRatio and solve again, as the batch tool does with a known focal
// length), and last the frame's validity.
TCameraSetUp SetUpCamera(TCameraSolver& camera, std::int32_t imageWidth, std::int32_t imageHeight,
                         const std::function<void(TCameraSolver&)>& chooseFocal = nullptr);

// What is known of the camera and the object besides the corners.
struct TFocalKnowledge {
  std::optional<double> FocalRatio;  // given by the user: always wins
  std::optional<double> ExifRatio;   // the photo's EXIF focal length
  std::optional<double> Aspect;      // the object's proportions, width over height
  // A named sheet (A4, letter ...): either orientation, the one the marked
  // object shows is taken; written W:H, the proportions are taken as written
  // first.
  bool AspectNamed = false;
};

// Which focal ratio a run uses and why.
struct TFocalChoice {
  std::string Source;  // corners, diagonal, given, exif, proportions
  TFocalEstimate Estimate;  // what the corners alone say
  double AspectMeasured = std::nan("");
  double AspectUsed = std::nan("");  // the known proportions as oriented, else the measured ones
  // False when the known proportions cannot be given to the marked rectangle.
  bool AspectImposed = true;
};

// The known proportions turned to the object's orientation: a sheet lying on
// its side is still A4.
double OrientedAspect(double aspect, double measured);

// SetUpCamera's middle step for a caller that knows more than the corners
// (corners a..d as in the solver, world units). A given ratio always wins;
// the corners' estimate is used where it is well determined; otherwise the
// EXIF focal length, then the one the known proportions give, then the
// estimate even though it is loose (what the window would use), and the
// diagonal where the corners fix no focal length at all. The camera is left
// solved with the chosen ratio and, with known proportions, stretched to
// them.
TFocalChoice ChooseFocalRatio(TCameraSolver& camera, const double corners[4][2], const TFocalKnowledge& known);

// The whole set-up of a run that knows more than the corners (the batch
// tool, the desktop view): the corners a..d (world units) into the camera,
// then SetUpCamera with ChooseFocalRatio as its middle step, whose choice
// goes to `focal` (left as it was when the corners are unusable).
TCameraSetUp SetUpCamera(TCameraSolver& camera, std::int32_t imageWidth, std::int32_t imageHeight,
                         const double corners[4][2], const TFocalKnowledge& known, TFocalChoice& focal);

}  // namespace planora
