// The object-only output: the marked rectangle alone, drawn into a picture
// of its own at the proportions the camera solve found (or the user gave).
//
// Four point pairs fix a projective map, so the output rectangle is mapped
// straight onto the four marked corners: whatever the focal length, the
// corners land exactly on the output's corners. The camera solve decides
// the proportions and, by default, the size.
//
// Where the output is smaller than the object appears in the photo, an
// output pixel covers many photo pixels; each is then the average of samples
// spread over its whole footprint, so fine detail turns grey instead of
// into a false coarse pattern.
#pragma once

#include <cstdint>

#include "platform/graphics.h"

namespace planora {

// The projective map from the unit square (u right, v down) onto a
// quadrilateral: (0,0) to the first corner, (1,0) the second, (1,1) the
// third, (0,1) the fourth.
struct TQuadMap {
  double A = 1, B = 0, C = 0, D = 0, E = 1, F = 0, G = 0, H = 0;

  static TQuadMap FromUnitSquare(const double corners[4][2]);
  // False for a point on or beyond the map's horizon.
  bool Map(double u, double v, double& x, double& y) const {
    const double w = G * u + H * v + 1.0;
    if (!(w > 0.0)) return false;
    x = (A * u + B * v + C) / w;
    y = (D * u + E * v + F) / w;
    return true;
  }
};

// The output size at which no part of the object loses resolution: as many
// output pixels across as the object has photo pixels where it is largest
// (its nearest part), in both directions, at width over height `aspect`.
// Corners in photo pixel positions: upper left, upper right, lower right,
// lower left of the object. At least 1 x 1.
void NaturalObjectSize(const double corners[4][2], double aspect, std::int64_t& width, std::int64_t& height);

// Draws the object into `out` (its size chosen by the caller): bilinear
// interpolation, or the nearest pixel, averaged over the footprint of each
// output pixel where that covers more than a photo pixel. Rows are shared
// among `threads` workers (0: one per core); the bytes do not depend on it.
void RectifyObject(const TBitmap& picture, const double corners[4][2], TBitmap& out, bool nearest, int threads);

}  // namespace planora
