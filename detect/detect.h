// Automatic corners: finds the most prominent rectangle-like object in a
// photo (a sheet, a poster, a screen, a board) and puts its four corners
// on it to a fraction of a pixel.
//
// On OpenCV's image processing, in a module of its own that the first call
// loads (see detect/loader.h), so that programs carry no OpenCV until they
// look for corners; the engine does not depend on it. Candidates come from the photo's edges and from its light
// and dark regions, each outline reduced to the quadrilateral that hugs it
// (so a corner hidden under a thumb is still found where its two sides
// meet). The best-supported candidate is then refined on the full-size
// photo: each side is located across its length to a fraction of a pixel,
// a line is fitted through those points with outliers dropped, and each
// corner is where the lines of the two sides that meet there cross.
#pragma once

#include <string>

#include "platform/graphics.h"

namespace planora {

struct TDetection {
  bool Found = false;
  // Photo pixel positions (column, row; the pixel centre at whole numbers),
  // in outline order round the object; the caller sorts them as it needs.
  double Corners[4][2] = {};
  // 0..1: how much of the four sides the photo's edges support, and how
  // clearly. Below about 0.3 the result is best checked by eye.
  double Confidence = 0;
  std::string Reason;  // why nothing was found, for the message
};

// Without the module (not installed, or it does not load) nothing is found,
// and the Reason says so and why.
TDetection DetectRectangle(const TBitmap& picture);

// Whether the module is there and loads (it is loaded, once, if not yet).
bool AutomaticCornersAvailable();

}  // namespace planora
