// Surfaces and cameras set up as the window and the batch tool set them
// up, through the engine's own set-up, for the tests that drive the engine.
#pragma once

#include <memory>

#include "engine/setup.h"

namespace planora::test {

// An off-screen surface of w x h pixels over the world window of a picture
// of pictureW x pictureH pixels (by default the surface's own size).
inline void InitPictureSurface(TPlottFlaeche& surface, int w, int h, double pictureW = 0, double pictureH = 0) {
  surface.InitOffscreen(w, h);
  DefinePictureWindow(surface, pictureW > 0 ? pictureW : w, pictureH > 0 ? pictureH : h);
}

inline std::unique_ptr<TPlottFlaeche> PictureSurface(int w, int h, double pictureW = 0, double pictureH = 0) {
  auto s = std::make_unique<TPlottFlaeche>();
  InitPictureSurface(*s, w, h, pictureW, pictureH);
  return s;
}

// Corners a, b, c, d (x, y pairs, world units) on a picture of w x h
// pixels, solved with the window's sequence.
inline TCameraSetUp SetUpCorners(TCameraSolver& camera, const double (&q)[8], int w, int h) {
  camera.SetCorners(q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7]);
  return SetUpCamera(camera, w, h);
}

}  // namespace planora::test
