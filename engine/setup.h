// The set-up every rectification shares, whoever drives it: the window,
// the batch tool, the benchmark and the tests. The promise that a corner
// set gives the same pixels everywhere rests on these being one code path:
// the picture's world window, its diagonal, and the camera's solve
// sequence.
#pragma once

#include <cstdint>
#include <functional>

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

}  // namespace planora
