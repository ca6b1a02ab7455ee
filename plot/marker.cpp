// The polygon marker: four corners drawn not-xor straight onto the paint
// box, so that drawing the same outline again takes it off without keeping a
// copy of what lay underneath. The bitmap never holds the marker; every copy
// of the bitmap to the screen wipes it and Paint draws it again.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "platform/sysutils.h"
#include "plot/glib2.h"

namespace planora {

namespace {

// A handle square's edge, x - 3 or x + 3, cut to the int range. Corners far
// off the paint box only ever give squares that are clipped away, so the cut
// changes nothing on screen and avoids an overflow for extreme corners.
int HandleEdge(std::int32_t v, int delta) {
  const std::int64_t e = static_cast<std::int64_t>(v) + delta;
  return static_cast<int>(std::clamp<std::int64_t>(e, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

}  // namespace

void TPlottFlaeche::DrawMarker() {
  if (!PaintBox) return;
  TCanvas& canvas = PaintBox->Canvas();
  TCanvasLock lock(canvas);
  // Not-xor with the canvas's own (black, one-pixel) pen inverts what it
  // covers; the same drawing a second time restores it exactly.
  canvas.Pen.Mode = pmNotXor;
  canvas.Pen.Style = psSolid;
  canvas.Brush.Color = clYellow;
  canvas.Brush.Style = Options[TransparentMarker] ? bsClear : bsDiagCross;
  canvas.Polygon({Corners[0], Corners[1], Corners[2], Corners[3]});
  // Handle squares, 6 x 6 pixels each (right and bottom edges excluded).
  canvas.Brush.Color = clBlack;
  canvas.Brush.Style = bsSolid;
  for (const TPoint& c : Corners) {
    canvas.Rectangle(HandleEdge(c.X, -3), HandleEdge(c.Y, -3), HandleEdge(c.X, 3), HandleEdge(c.Y, 3));
  }
}

void TPlottFlaeche::ForgetMarker() {
  PickedCorner = 2;
  OppositeCorner = 0;
  MoveWhole = false;
  MarkerWindow = -1;
  MarkerState = MarkerNone;
}

void TPlottFlaeche::DeleteMarker() {
  DrawMarker();  // not-xor: drawing it again erases it
  ForgetMarker();
  if (PaintBox) PaintBox->SetCursor(crCross);
}

void TPlottFlaeche::SortCorners() {
  const std::array<TPoint, 4> q = Corners;
  // The two rightmost corners; with equal x the lower index ranks higher.
  int max1 = -20000, max2 = -20000;
  int a = -1, b = -1;
  for (int k = 0; k < 4; ++k) {
    if (q[k].X > max1) {
      max2 = max1;
      b = a;
      max1 = q[k].X;
      a = k;
    } else if (q[k].X > max2) {
      max2 = q[k].X;
      b = k;
    }
  }
  // Corners this far off to the left give no pair to start from; the marker
  // then keeps the order it has.
  if (a < 0 || b < 0) return;
  int upper = b, lower = a;
  if (q[a].Y < q[b].Y) {
    upper = a;
    lower = b;
  }
  // The corner diagonally opposite each of the two is two steps round the
  // outline, whichever way the outline ran.
  Corners[0] = q[upper];
  Corners[3] = q[lower];
  Corners[2] = q[(upper + 2) % 4];
  Corners[1] = q[(lower + 2) % 4];
}

void TPlottFlaeche::SetMarkerCorners(int Window, double X0, double Y0, double X1, double Y1, double X2, double Y2,
                                     double X3, double Y3) {
  // The pixels first: a window number or corner that fails the range check
  // then leaves the marker, on screen and in the fields, as it was.
  const std::array<TPoint, 4> placed{
      TPoint{WorldToPixelX(Window, X0), WorldToPixelY(Window, Y0)},
      TPoint{WorldToPixelX(Window, X1), WorldToPixelY(Window, Y1)},
      TPoint{WorldToPixelX(Window, X2), WorldToPixelY(Window, Y2)},
      TPoint{WorldToPixelX(Window, X3), WorldToPixelY(Window, Y3)},
  };
  if (MarkerState == MarkerShown) {
    DrawMarker();  // takes the old outline off
    MouseMode = 5;
  } else {
    CurrentWindow = Window;
    MarkerWindow = Window;
  }
  Corners = placed;
  SortCorners();
  MarkerState = MarkerShown;
  Creating = false;
  DrawMarker();
}

void TPlottFlaeche::GetMarkerCorners(double& X0, double& Y0, double& X1, double& Y1, double& X2, double& Y2,
                                     double& X3, double& Y3, int& Window) const {
  if (MarkerState == MarkerNone) {
    Window = 0;
    return;
  }
  Window = MarkerWindow;
  if (Window <= 0) {
    Window = 0;
    return;
  }
  // Every corner is converted, also after one has been found outside, so the
  // caller gets all four positions.
  bool inside = true;
  inside = PixelInWindow(Corners[0].X, Corners[0].Y, X0, Y0, Window) && inside;
  inside = PixelInWindow(Corners[1].X, Corners[1].Y, X1, Y1, Window) && inside;
  inside = PixelInWindow(Corners[2].X, Corners[2].Y, X2, Y2, Window) && inside;
  inside = PixelInWindow(Corners[3].X, Corners[3].Y, X3, Y3, Window) && inside;
  if (!inside) Window = 0;
}

}  // namespace planora
