// The JSON report of a run: what the camera solver found and how the
// output frame was laid out, for scripts and for checking a result.
#pragma once

#include <cmath>
#include <string>

#include "engine/camera.h"
#include "engine/rectify.h"

namespace planora {

struct TReport {
  int Width = 0, Height = 0;
  double Corners[4][2] = {};  // sorted, world units
  const TCameraSolver* Camera = nullptr;
  TRectifyResult Frame;
  bool Plausible = true;
  double AspectRatio = 0;
  std::string FocalSource = "corners";
  double FocalEstimate = 0;     // the corners' estimate; NaN when they give none
  double FocalUncertainty = 0;  // its move for half a pixel; infinite when unknown
  double FocalExif = 0;         // the photo's EXIF focal ratio; NaN when none
  double AspectMeasured = 0, AspectUsed = 0;
  std::string FrameKind = "photo";  // photo or object
  std::string CornerSource = "given";  // given, settings or auto
  double Confidence = 0;  // of automatic corners; NaN otherwise
  int OutputWidth = 0, OutputHeight = 0;
  int Crop = 90;
  bool Interpolated = true;
  double Seconds = 0;
};

// One JSON object, numbers in the shortest form that reads back exactly;
// focal_ratio_text is as the window shows it,
// with the locale's decimal separator.
std::string ReportJson(const TReport& report);

}  // namespace planora
