// Camera geometry of the rectification: from the four marker corners, which
// the user has put on the corners of a photographed rectangle, the solver
// rebuilds that rectangle in camera space, estimates the focal length and
// sets up the two projections between picture points and plane coordinates
// that the resampler uses.
//
// The camera is a pinhole whose optical axis passes through the picture
// centre, with equal scale in x and y. Picture points are world coordinates
// in picture pixels from the centre, x to the right and y downwards; a point
// (x, y) is seen along the ray (x, y, FocalLength).
//
// The state lives in public fields because the rectification window reads
// and fills them directly (corners from the marker, picture size from the
// host) and the batch tool does the same without a window. Callers run, in
// this order: FocalRatio := 1.0, SolveCamera, EstimateFocalRatio, and then
// resample only if FrameValid().
#pragma once

#include <cstdint>
#include <string>

#include "engine/matrices.h"

namespace planora {

// Shown by the caller when EstimateFocalRatio finds that the corners cannot
// be the photo of a rectangle. Kept in the users' language, UTF-8.
inline constexpr const char* PlausibilityMessage =
    "Die Anwahl scheint kein ursprüngliches rechteck zu markieren.";

// The text of the "Focal Length/Diagonal" read-out: three decimals, the
// user's decimal separator.
std::string FormatFocalRatio(double ratio);

class TCameraSolver {
 public:
  // Sizes every vector to three elements and both matrices to 3 x 3, all zero.
  TCameraSolver();

  std::int32_t ImageHeight = 0;  // picture height in pixels
  std::int32_t ImageWidth = 0;   // picture width in pixels
  double FocalLength = 0.0;      // Diagonal * FocalRatio, set by SolveCamera
  double FocalRatio = 0.0;       // focal length over the picture diagonal
  double Diagonal = 0.0;         // sqrt(W*W + H*H) of the picture
  // Elements 0 and 1: marker corners a, b, c, d (upper right, upper left,
  // lower left, lower right on the screen). Element 2 becomes FocalLength.
  TVector CornerA, CornerB, CornerC, CornerD;
  // Depths of corners a, b, c along their rays, corner d at depth 1.
  TVector DepthFactors;
  // The reconstructed corners in camera space.
  TVector PointA, PointB, PointC, PointD;
  // The plane frame: P = PlaneOrigin + s * AxisU + t * AxisV.
  TVector AxisU, AxisV, PlaneNormal, PlaneOrigin;
  TMatrix CornerMatrix;  // columns CornerA, CornerB, CornerC
  TVector EdgeAB, EdgeBC, EdgeCD;
  TMatrix InverseMatrix;  // inverse of CornerMatrix after a successful solve
  std::int32_t CornerWindow = 0;  // window number of the marker read; 0: none

  // Writes the marker corners into elements 0 and 1 of CornerA..CornerD.
  // EConvertError (nothing written) when a coordinate is NaN or infinite.
  void SetCorners(double ax, double ay, double bx, double by, double cx, double cy, double dx,
                  double dy);

  // Rebuilds the rectangle and the plane frame for the current corners and
  // FocalRatio. False when three of a, b, c lie on one line, a side a-b or
  // b-c is one pixel or shorter, or the frame comes out non-finite; the frame
  // fields then keep their previous values but FrameValid() turns false.
  // EConvertError when a corner is not a finite number.
  bool SolveCamera();

  // Sets FocalRatio from the right angle at corner b and solves again with
  // it. Returns false when no focal length can make that angle right
  // (FocalRatio is then 1.0) or a corner comes out at or behind the camera;
  // the caller then shows PlausibilityMessage and the work goes on. FrameValid() tells whether the final solve worked.
  bool EstimateFocalRatio();

  // Picture point -> plane coordinates. False, outputs untouched, without a
  // valid frame, with FocalLength 0, or for a ray parallel to the plane.
  bool ImageToPlane(double x, double y, double& s, double& t) const;
  // Plane coordinates -> picture point. False, outputs untouched, without a
  // valid frame or for a plane point at or behind the camera.
  bool PlaneToImage(double s, double t, double& x, double& y) const;

  // True when the last SolveCamera produced a frame for the current corners.
  bool FrameValid() const { return FFrameValid; }

 private:
  void ScaleCornerRays();

  bool FFrameValid = false;
};

}  // namespace planora
