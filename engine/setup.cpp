#include "engine/setup.h"

#include <cmath>

namespace planora {

void DefinePictureWindow(TPlottFlaeche& surface, double width, double height) {
  surface.DefineWindow(PictureWindowNumber, -width / 2.0, width / 2.0, height / 2.0, -height / 2.0, 0, 1, 0, 1);
}

double PictureDiagonal(std::int32_t width, std::int32_t height) {
  // In double before squaring: the int product of a large picture overflows.
  return std::sqrt(static_cast<double>(width) * width + static_cast<double>(height) * height);
}

TCameraSetUp SetUpCamera(TCameraSolver& camera, std::int32_t imageWidth, std::int32_t imageHeight,
                         const std::function<void(TCameraSolver&)>& chooseFocal) {
  TCameraSetUp r;
  camera.ImageWidth = imageWidth;
  camera.ImageHeight = imageHeight;
  camera.Diagonal = PictureDiagonal(imageWidth, imageHeight);
  // Every run estimates afresh from ratio 1: the estimate of an earlier
  // marker must not steer this one.
  camera.FocalRatio = 1.0;
  r.Solved = camera.SolveCamera();
  if (!r.Solved) return r;
  r.Plausible = camera.EstimateFocalRatio();
  if (chooseFocal) chooseFocal(camera);
  r.FrameValid = camera.FrameValid();
  return r;
}

TCameraSetUp SetUpCamera(TCameraSolver& camera, std::int32_t imageWidth, std::int32_t imageHeight,
                         const double corners[4][2], const TFocalKnowledge& known, TFocalChoice& focal) {
  camera.SetCorners(corners[0][0], corners[0][1], corners[1][0], corners[1][1], corners[2][0], corners[2][1],
                    corners[3][0], corners[3][1]);
  return SetUpCamera(camera, imageWidth, imageHeight,
                     [&](TCameraSolver& c) { focal = ChooseFocalRatio(c, corners, known); });
}

double OrientedAspect(double aspect, double measured) {
  if (!std::isfinite(measured)) return aspect;
  return (aspect >= 1.0) == (measured >= 1.0) ? aspect : 1.0 / aspect;
}

TFocalChoice ChooseFocalRatio(TCameraSolver& camera, const double corners[4][2], const TFocalKnowledge& known) {
  TFocalChoice c;
  c.Estimate = EstimateFocalFromCorners(corners, camera.Diagonal);
  c.Source = c.Estimate.Found ? "corners" : "diagonal";
  std::optional<double> chosen;
  if (known.FocalRatio) {
    chosen = *known.FocalRatio;
    c.Source = "given";
  } else if (c.Estimate.WellDetermined()) {
    // Already solved with it.
  } else if (known.ExifRatio) {
    chosen = *known.ExifRatio;
    c.Source = "exif";
  } else if (known.Aspect) {
    // Here the corners say little about the orientation: what they measure
    // with a focal length that is only a guess can be off by far more than a
    // nearly square object's two orientations differ. Proportions written
    // as W:H are therefore taken as written first; a name takes the
    // orientation measured.
    double ratio = 0;
    const double first = known.AspectNamed ? OrientedAspect(*known.Aspect, camera.MarkedAspectRatio()) : *known.Aspect;
    if (camera.FocalRatioForAspect(first, ratio) || camera.FocalRatioForAspect(1.0 / first, ratio)) {
      chosen = ratio;
      c.Source = "proportions";
    }
  }
  if (chosen && *chosen != camera.FocalRatio) {
    camera.FocalRatio = *chosen;
    camera.SolveCamera();
  }
  c.AspectMeasured = camera.MarkedAspectRatio();
  c.AspectUsed = c.AspectMeasured;
  if (known.Aspect) {
    c.AspectUsed = OrientedAspect(*known.Aspect, c.AspectMeasured);
    c.AspectImposed = camera.ImposeAspectRatio(c.AspectUsed);
  }
  return c;
}

}  // namespace planora
