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

}  // namespace planora
