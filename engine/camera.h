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
// host) and the batch tool does the same without a window. The order of
// the steps (FocalRatio := 1.0, SolveCamera, EstimateFocalRatio, resample
// only if FrameValid()) is SetUpCamera's, in engine/setup.h.
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

  // Width over height of the marked rectangle on the object's plane: the
  // sides a-b and d-c over the sides b-c and a-d, each pair averaged. NaN
  // without a valid frame or when a corner does not map onto the plane.
  double MarkedAspectRatio() const;

  // The focal ratio that gives the marked rectangle the proportions
  // `aspect` (width over height). A parallelogram in space has the sides
  // |Pb - Pa|^2 = dab + f^2 (lb - la)^2 and |Pc - Pb|^2 = dbc + f^2 (lc -
  // lb)^2, so the proportions fix f^2: one equation, one unknown. Needs the
  // DepthFactors of a solve (any focal length). False, ratio untouched,
  // when no positive focal length gives these proportions (square-on, or
  // proportions the corners cannot have).
  bool FocalRatioForAspect(double aspect, double& ratio) const;

  // Stretches the plane's second axis so that the marked rectangle gets
  // exactly the proportions `aspect`, whatever the focal length made of it.
  // The resampler then draws the given proportions. False, nothing changed,
  // without a valid frame or a usable measured aspect.
  bool ImposeAspectRatio(double aspect);

 private:

  void ScaleCornerRays();

  bool FFrameValid = false;
};

// What the corners alone say about the focal ratio, and how firmly.
struct TFocalEstimate {
  // The right angle at b gave a focal length: no fallback (not square-on,
  // and some real focal length fits).
  bool Found = false;
  double Ratio = 1.0;  // the estimate, or the fallback 1.0
  // How far the ratio moves when the corners move by half a pixel: the root
  // of the sum of squares of the moves for each coordinate shifted alone.
  // Infinite when a shift makes the estimate fall back.
  double Uncertainty = 0.0;
  // Found, and the uncertainty no more than `RelativeLimit` of the ratio.
  bool WellDetermined(double RelativeLimit = 0.03) const {
    return Found && Uncertainty <= RelativeLimit * Ratio;
  }
};

// Runs the solver's estimate on copies, so the caller's solver is left
// alone. Corners a..d in the marker's order, world units.
TFocalEstimate EstimateFocalFromCorners(const double corners[4][2], double diagonal);

// The focal ratio of a 35 mm film equivalent focal length in millimetres:
// the equivalent is defined on the 36 x 24 mm frame's diagonal.
double FocalRatioFrom35mm(double millimetres);

}  // namespace planora
