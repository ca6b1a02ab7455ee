// TFEntzerren: the marker set-up when the window opens, and the left pane's
// marker notification.

#include "engine/setup.h"
#include "window/UJPGEntzerren.h"

#include <cmath>

namespace planora {

void TFEntzerren::MarkerSetUp() {
  PictureSurface->EnterMouseMode(Edit1, Edit2, 5,
                                 [this](TShiftState s, bool f, double x, double y) { MarkerNotify(s, f, x, y); });
  PreviewSurface->EnterMouseMode(Edit1, Edit2, 5);
  // Another picture than the one the settings remember, or stored corners
  // that cannot lie on this picture (no marker this window makes has a
  // corner outside it): the default rectangle over the middle 80 %.
  if (PictureHash != StoredHash || !StoredCornersUsable()) {
    const double rw = Round(ImageWidth * 0.4);
    const double rh = Round(ImageHeight * 0.4);
    LastCornerA[0] = rw;
    LastCornerA[1] = -rh;
    LastCornerB[0] = -rw;
    LastCornerB[1] = -rh;
    LastCornerC[0] = -rw;
    LastCornerC[1] = rh;
    LastCornerD[0] = rw;
    LastCornerD[1] = rh;
  }
  PictureSurface->SetOption(TransparentMarker, true);
  PreviewSurface->SetOption(TransparentMarker, true);
  PictureSurface->SetMarkerCorners(PictureWindowNumber, LastCornerA[0], LastCornerA[1], LastCornerB[0],
                                   LastCornerB[1], LastCornerC[0], LastCornerC[1], LastCornerD[0], LastCornerD[1]);
}

bool TFEntzerren::StoredCornersUsable() const {
  const double halfW = ImageWidth / 2.0, halfH = ImageHeight / 2.0;
  for (const double* c : {LastCornerA, LastCornerB, LastCornerC, LastCornerD}) {
    // Written so that NaN fails as well.
    if (!(std::fabs(c[0]) <= halfW && std::fabs(c[1]) <= halfH)) return false;
  }
  return true;
}

void TFEntzerren::MarkerNotify(TShiftState Shift, bool /*Found*/, double /*X*/, double /*Y*/) {
  if (!Shift.Contains(ssLeft)) return;
  // Only the window number is kept: every command reads the corners again.
  double x[4], y[4];
  PictureSurface->GetMarkerCorners(x[0], y[0], x[1], y[1], x[2], y[2], x[3], y[3], CornerWindow);
  // The read-out no longer belongs to the marker being dragged.
  if (CornerWindow > 0) Edit3->SetText("-");
}

}  // namespace planora
