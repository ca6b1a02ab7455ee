#include "engine/camera.h"

#include <algorithm>
#include <cmath>

#include "engine/matricesvec.h"
#include "platform/sysutils.h"

namespace planora {

namespace {

// A NaN or infinite corner would run through the elimination without any
// complaint and leave a frame of NaNs, so it is refused where it comes in.
void RequireFiniteCorner(char name, double x, double y) {
  if (!std::isfinite(x) || !std::isfinite(y)) {
    throw EConvertError(std::string("corner ") + name + " is not a finite number");
  }
}

bool AllFinite(const TVector& v) {
  for (const double e : v) {
    if (!std::isfinite(e)) return false;
  }
  return true;
}

}  // namespace

std::string FormatFocalRatio(double ratio) { return FloatToStrFixed(ratio, 5, 3); }

TCameraSolver::TCameraSolver() {
  for (TVector* v : {&CornerA, &CornerB, &CornerC, &CornerD, &DepthFactors, &PointA, &PointB,
                     &PointC, &PointD, &AxisU, &AxisV, &PlaneNormal, &PlaneOrigin, &EdgeAB,
                     &EdgeBC, &EdgeCD}) {
    SizeVector(*v, 2);
  }
  SizeMatrix(CornerMatrix, 2, 2);
  SizeMatrix(InverseMatrix, 2, 2);
}

void TCameraSolver::SetCorners(double ax, double ay, double bx, double by, double cx, double cy,
                               double dx, double dy) {
  // All four are checked before any is written, so a refused call leaves the
  // previous marker whole.
  RequireFiniteCorner('a', ax, ay);
  RequireFiniteCorner('b', bx, by);
  RequireFiniteCorner('c', cx, cy);
  RequireFiniteCorner('d', dx, dy);
  CornerA[0] = ax;
  CornerA[1] = ay;
  CornerB[0] = bx;
  CornerB[1] = by;
  CornerC[0] = cx;
  CornerC[1] = cy;
  CornerD[0] = dx;
  CornerD[1] = dy;
}

// Points along the corner rays at the depths of the last corner solve; d
// stays on its ray at depth 1 and so fixes the scale.
void TCameraSolver::ScaleCornerRays() {
  for (int i = 0; i <= 2; ++i) {
    PointA[i] = CornerA[i] * DepthFactors[0];
    PointB[i] = CornerB[i] * DepthFactors[1];
    PointC[i] = CornerC[i] * DepthFactors[2];
    PointD[i] = CornerD[i];
  }
}

bool TCameraSolver::SolveCamera() {
  // Whatever happens below, the frame from earlier corners does not fit these.
  FFrameValid = false;
  // The fields may have been written directly, bypassing SetCorners.
  RequireFiniteCorner('a', CornerA[0], CornerA[1]);
  RequireFiniteCorner('b', CornerB[0], CornerB[1]);
  RequireFiniteCorner('c', CornerC[0], CornerC[1]);
  RequireFiniteCorner('d', CornerD[0], CornerD[1]);

  FocalLength = Diagonal * FocalRatio;
  CornerA[2] = FocalLength;
  CornerB[2] = FocalLength;
  CornerC[2] = FocalLength;
  CornerD[2] = FocalLength;

  // A rectangle is a parallelogram: Pa - Pb + Pc = Pd with Pd = rd. With the
  // rays as columns that is CornerMatrix * (la, -lb, lc) = rd. Its third row
  // reads f * (la - lb + lc) = f, so the depths do not depend on f.
  SetColumn(CornerMatrix, CornerA, 0, 2, 0);
  SetColumn(CornerMatrix, CornerB, 0, 2, 1);
  SetColumn(CornerMatrix, CornerC, 0, 2, 2);
  const std::int32_t result = GaussJordan(CornerMatrix, CornerD, 0, 2, InverseMatrix, DepthFactors);
  DepthFactors[1] = -DepthFactors[1];
  // Done even for a singular matrix so the points always match DepthFactors.
  ScaleCornerRays();
  if (result != 0) return false;  // three of a, b, c on one line

  for (int i = 0; i <= 2; ++i) {
    EdgeAB[i] = PointB[i] - PointA[i];
    EdgeBC[i] = PointC[i] - PointB[i];
    EdgeCD[i] = PointD[i] - PointC[i];
  }
  double lengthAB = 0.0;
  double lengthBC = 0.0;
  DotProduct(EdgeAB, 0, 2, EdgeAB, 0, lengthAB);
  DotProduct(EdgeBC, 0, 2, EdgeBC, 0, lengthBC);
  // A side of a pixel or less gives no usable direction for the frame.
  if (lengthAB <= 1.0 || lengthBC <= 1.0) return false;

  // The frame is built aside and taken over only when it is finite, so a
  // failure here leaves the previous frame as the other failures do.
  TVector normal, origin, axisU, axisV;
  SizeVector(normal, 2);
  SizeVector(origin, 2);
  SizeVector(axisU, 2);
  SizeVector(axisV, 2);

  // For corners in the marker's order (a top right, b top left, c bottom
  // left, d bottom right) this normal points away from the camera.
  CrossProduct(EdgeBC, 0, EdgeAB, 0, normal);
  Normalize(normal, 0, 2);

  // Every corner lies on the plane; of a, b and c the one farthest from the
  // picture centre is taken. Strict comparisons: ties go to the later corner.
  const double da = std::sqrt(CornerA[0] * CornerA[0] + CornerA[1] * CornerA[1]);
  const double db = std::sqrt(CornerB[0] * CornerB[0] + CornerB[1] * CornerB[1]);
  const double dc = std::sqrt(CornerC[0] * CornerC[0] + CornerC[1] * CornerC[1]);
  const TVector* reference;
  if (da > db) {
    reference = da > dc ? &PointA : &PointC;
  } else {
    reference = db > dc ? &PointB : &PointC;
  }
  // Plane coordinates are measured from where the plane crosses the optical
  // axis, so the picture centre maps to (0, 0).
  double offset = 0.0;
  DotProduct(*reference, 0, 2, normal, 0, offset);
  origin[2] = offset / normal[2];

  // (Pa - Pb) + (Pd - Pc): both sides parallel to a-b, pointing from b to a,
  // so that s runs to the right for the marker's corner order.
  for (int i = 0; i <= 2; ++i) axisU[i] = EdgeCD[i] - EdgeAB[i];
  Normalize(axisU, 0, 2);
  CrossProduct(normal, 0, axisU, 0, axisV);
  Normalize(axisV, 0, 2);

  // A plane parallel to the optical axis puts the origin at infinity; such a
  // frame cannot be projected through.
  if (!AllFinite(normal) || !AllFinite(origin) || !AllFinite(axisU) || !AllFinite(axisV)) {
    return false;
  }
  PlaneNormal = normal;
  PlaneOrigin = origin;
  AxisU = axisU;
  AxisV = axisV;
  FFrameValid = true;
  return true;
}

bool TCameraSolver::EstimateFocalRatio() {
  ScaleCornerRays();
  const double la = DepthFactors[0];
  const double lb = DepthFactors[1];
  const double lc = DepthFactors[2];
  // The right angle at b, (Pb - Pa) . (Pc - Pb) = 0, splits into the part in
  // the picture plane, d, and the depth part f*f * (lb - la) * (lc - lb),
  // which is -f*f * q; so f*f = d / q. Neither d nor q needs the focal
  // length, which is why any earlier solve's DepthFactors will do.
  const double d =
      (PointB[0] - PointA[0]) * (PointC[0] - PointB[0]) + (PointB[1] - PointA[1]) * (PointC[1] - PointB[1]);
  const double q = -(la * lb - lb * lb - la * lc + lb * lc);
  bool plausible = true;
  const double squareOn = (la - 1.0) * (la - 1.0) + (lb - 1.0) * (lb - 1.0) + (lc - 1.0) * (lc - 1.0);
  if (squareOn < 1E-12) {
    // All depths equal: photographed square-on, so every focal length fits
    // and none can be told.
    FocalRatio = 1.0;
  } else if (d * q > 0.0) {
    FocalRatio = std::sqrt(d / q) / Diagonal;
  } else {
    // No real focal length makes the angle at b right: these corners are not
    // the photo of a rectangle. The result is still drawn with a neutral
    // focal length; the caller warns the user.
    FocalRatio = 1.0;
    plausible = false;
  }
  // A photographed rectangle lies in front of the camera: every corner has a
  // positive depth. A corner behind it (or at the camera) is no photo of a
  // rectangle, whatever the angle at b says.
  if (!(la > 0.0 && lb > 0.0 && lc > 0.0)) plausible = false;
  SolveCamera();
  return plausible;
}

bool TCameraSolver::ImageToPlane(double x, double y, double& s, double& t) const {
  if (!FFrameValid || FocalLength == 0.0) return false;
  const TVector& U = AxisU;
  const TVector& V = AxisV;
  const TVector& O = PlaneOrigin;
  // The plane point O + s*U + t*V is seen at (x, y) when x * P[2] = f * P[0]
  // and y * P[2] = f * P[1]: two linear equations in s and t.
  const double xf = x / FocalLength;
  const double yf = y / FocalLength;
  const double xU = xf * U[2] - U[0];
  const double xV = xf * V[2] - V[0];
  const double xO = O[0] - xf * O[2];
  const double yU = yf * U[2] - U[1];
  const double yV = yf * V[2] - V[1];
  const double yO = O[1] - yf * O[2];
  const double det = yU * xV - yV * xU;
  // Zero for a ray parallel to the plane (a point on its horizon).
  if (det == 0.0 || !std::isfinite(det)) return false;
  s = (yO * xV - xO * yV) / det;
  t = (xO * yU - yO * xU) / det;
  return true;
}

bool TCameraSolver::PlaneToImage(double s, double t, double& x, double& y) const {
  if (!FFrameValid) return false;
  // Plain doubles rather than a TVector: this runs once per output pixel.
  const double p0 = s * AxisU[0] + PlaneOrigin[0] + t * AxisV[0];
  const double p1 = s * AxisU[1] + PlaneOrigin[1] + t * AxisV[1];
  const double p2 = s * AxisU[2] + PlaneOrigin[2] + t * AxisV[2];
  // A point at or behind the camera has no picture; dividing anyway would
  // give a reflected point (or none).
  if (!(p2 > 0.0)) return false;
  const double k = FocalLength / p2;
  x = p0 * k;
  y = p1 * k;
  return true;
}

double TCameraSolver::MarkedAspectRatio() const {
  const TVector* c[4] = {&CornerA, &CornerB, &CornerC, &CornerD};
  double s[4], t[4];
  for (int k = 0; k < 4; ++k) {
    if (!ImageToPlane((*c[k])[0], (*c[k])[1], s[k], t[k])) return std::nan("");
  }
  auto side = [&](int i, int j) { return std::hypot(s[i] - s[j], t[i] - t[j]); };
  return (side(0, 1) + side(3, 2)) / 2 / ((side(1, 2) + side(0, 3)) / 2);
}

bool TCameraSolver::FocalRatioForAspect(double aspect, double& ratio) const {
  if (!(aspect > 0.0) || !std::isfinite(aspect) || !(Diagonal > 0.0)) return false;
  const double la = DepthFactors[0];
  const double lb = DepthFactors[1];
  const double lc = DepthFactors[2];
  // The sides a-b and b-c of the parallelogram the depths give, split into
  // the part in the picture plane and the part along the optical axis,
  // which grows with f^2.
  const double abx = lb * CornerB[0] - la * CornerA[0];
  const double aby = lb * CornerB[1] - la * CornerA[1];
  const double bcx = lc * CornerC[0] - lb * CornerB[0];
  const double bcy = lc * CornerC[1] - lb * CornerB[1];
  const double p = abx * abx + aby * aby;
  const double u = (lb - la) * (lb - la);
  const double q = bcx * bcx + bcy * bcy;
  const double v = (lc - lb) * (lc - lb);
  // aspect^2 = (p + f^2 u) / (q + f^2 v)  =>  f^2 = (p - aspect^2 q) / (aspect^2 v - u).
  const double r2 = aspect * aspect;
  const double f2 = (p - r2 * q) / (r2 * v - u);
  if (!(f2 > 0.0) || !std::isfinite(f2)) return false;
  ratio = std::sqrt(f2) / Diagonal;
  return std::isfinite(ratio) && ratio > 0.0;
}

bool TCameraSolver::ImposeAspectRatio(double aspect) {
  if (!FFrameValid || !(aspect > 0.0) || !std::isfinite(aspect)) return false;
  const TVector original = AxisV;
  // t scales with 1 / |AxisV|: a longer second axis makes the rectangle
  // shorter in t and so wider in proportion. Where the focal length does not
  // make the angle at b right the figure on the plane is a parallelogram
  // whose slanted sides do not scale in proportion, so the stretch is
  // repeated until the proportions stop moving.
  for (int round = 0; round < 60; ++round) {
    const double measured = MarkedAspectRatio();
    if (!(measured > 0.0) || !std::isfinite(measured)) {
      AxisV = original;
      return false;
    }
    const double k = aspect / measured;
    if (std::abs(k - 1.0) < 1e-15) break;
    for (int i = 0; i <= 2; ++i) AxisV[i] *= k;
  }
  return true;
}

namespace {

// The right-angle estimate for one corner set; Found false for the
// square-on and the no-real-solution fallbacks and for a corner behind the
// camera.
TFocalEstimate EstimateOnce(const double c[4][2], double diagonal) {
  TFocalEstimate e;
  TCameraSolver cam;
  cam.Diagonal = diagonal;
  cam.SetCorners(c[0][0], c[0][1], c[1][0], c[1][1], c[2][0], c[2][1], c[3][0], c[3][1]);
  cam.FocalRatio = 1.0;
  if (!cam.SolveCamera()) return e;
  const double la = cam.DepthFactors[0];
  const double lb = cam.DepthFactors[1];
  const double lc = cam.DepthFactors[2];
  const double squareOn = (la - 1.0) * (la - 1.0) + (lb - 1.0) * (lb - 1.0) + (lc - 1.0) * (lc - 1.0);
  const bool plausible = cam.EstimateFocalRatio();
  e.Ratio = cam.FocalRatio;
  e.Found = plausible && squareOn >= 1E-12 && std::isfinite(e.Ratio);
  return e;
}

}  // namespace

TFocalEstimate EstimateFocalFromCorners(const double corners[4][2], double diagonal) {
  TFocalEstimate e = EstimateOnce(corners, diagonal);
  if (!e.Found) {
    e.Uncertainty = HUGE_VAL;
    return e;
  }
  // Each coordinate moved half a pixel either way, the others held: the
  // central difference is that coordinate's share of the uncertainty.
  double sum = 0.0;
  for (int k = 0; k < 8; ++k) {
    double moved[4][2] = {};
    double ratios[2];
    for (int side = 0; side < 2; ++side) {
      std::copy(&corners[0][0], &corners[0][0] + 8, &moved[0][0]);
      moved[k / 2][k % 2] += side == 0 ? 0.5 : -0.5;
      const TFocalEstimate m = EstimateOnce(moved, diagonal);
      if (!m.Found) {
        e.Uncertainty = HUGE_VAL;
        return e;
      }
      ratios[side] = m.Ratio;
    }
    const double delta = (ratios[0] - ratios[1]) / 2;
    sum += delta * delta;
  }
  e.Uncertainty = std::sqrt(sum);
  return e;
}

double FocalRatioFrom35mm(double millimetres) {
  return millimetres / std::sqrt(36.0 * 36.0 + 24.0 * 24.0);
}

}  // namespace planora
