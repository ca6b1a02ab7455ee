// The mouse modes: while one is active the surface takes over its paint
// box's mouse events to create, reshape, move and delete the polygon marker,
// and shows the pointer's world coordinates in the two read-out fields.

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "platform/sysutils.h"
#include "plot/glib2.h"

namespace planora {

namespace {

// The mode with the free four-corner marker, the only one that drags.
constexpr int FreeMarkerMode = 5;

// Hit tolerance of the corner handles along one axis: a third of the
// marker's extent, so the handles of a small marker do not swallow it, and
// never more than 8 pixels.
std::int64_t Tolerance(std::int32_t a, std::int32_t b) {
  const std::int64_t extent = std::llabs(static_cast<std::int64_t>(a) - b);
  return std::min<std::int64_t>((extent + 1) / 3, 8);
}

}  // namespace

void TPlottFlaeche::EnterMouseMode(TEdit* XReadoutEdit, TEdit* YReadoutEdit, int Mode,
                                   TMarkerMouseEvent OnMarkerMouseEvent) {
  if (OnMarkerMouseEvent) {
    OnMarkerMouse = std::move(OnMarkerMouseEvent);
    NotifyMouse = true;
  }
  MouseMode = Mode;
  // A second call on an active surface only records the mode (and handler).
  if (!PaintBox || MouseModeActive) return;

  XReadout = XReadoutEdit;
  YReadout = YReadoutEdit;
  ShowReadout(false, "", 0, 0, "", 0);

  SavedOnMouseMove = PaintBox->OnMouseMove;
  SavedOnMouseDown = PaintBox->OnMouseDown;
  SavedOnMouseUp = PaintBox->OnMouseUp;
  SavedOnClick = PaintBox->OnClick;

  PaintBox->OnMouseMove = [this](TObject* Sender, TShiftState Shift, int X, int Y) {
    MarkerMouseMove(Sender, Shift, X, Y);
  };
  if (Mode == FreeMarkerMode) {
    PaintBox->OnMouseDown = [this](TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y) {
      MarkerMouseDown(Sender, Button, Shift, X, Y);
    };
    PaintBox->OnMouseUp = [this](TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y) {
      MarkerMouseUp(Sender, Button, Shift, X, Y);
    };
    // A press and release would otherwise also run the owner's click.
    PaintBox->OnClick = nullptr;
  }

  PaintBox->SetCursor(crCross);
  PaintBox->SetEnabled(true);
  CurrentWindow = 0;
  // Whatever marker was on screen is no longer the mode's business.
  MarkerState = MarkerNone;
  MouseModeActive = true;
}

void TPlottFlaeche::LeaveMouseMode() {
  if (!MouseModeActive || !PaintBox) return;
  if (MarkerState == MarkerDragging || MarkerState == MarkerShown) DeleteMarker();
  PaintBox->SetCursor(crDefault);
  PaintBox->SetEnabled(false);
  PaintBox->OnMouseMove = SavedOnMouseMove;
  PaintBox->OnMouseDown = SavedOnMouseDown;
  PaintBox->OnMouseUp = SavedOnMouseUp;
  PaintBox->OnClick = SavedOnClick;
  NotifyMouse = false;
  ShowReadout(false, "", 0, 0, "", 0);
  MarkerState = MarkerNone;
  MouseModeActive = false;
}

void TPlottFlaeche::MarkerMouseDown(TObject* /*Sender*/, TMouseButton Button, TShiftState Shift, int X, int Y) {
  double wx = 0, wy = 0;
  int window = 0;
  const bool found = WindowAt(X, Y, wx, wy, window);
  ShowReadout(found, "", wx, wy, "", window);

  if (found && Button != mbMiddle) {
    const bool left = Button == mbLeft;
    switch (MarkerState) {
      case MarkerNone:
        if (left) {
          // A new marker: corner 0 follows the pointer, corner 2 stays at
          // the press point.
          PickedCorner = 0;
          Creating = true;
          OppositeCorner = 2;
          Corners[0] = Corners[2] = TPoint{X, Y};
          DragTo(X, Y);
          CurrentWindow = window;
          MarkerState = MarkerDragging;
          // Wipes whatever outline an earlier use left on the screen; the
          // drag steps draw the new one from here on.
          if (PaintBox) PaintBox->Repaint();
          MarkerWindow = window;
        } else {
          // With no marker a right click steps to the next window, for
          // surfaces whose windows overlap.
          NextWindow();
        }
        break;
      case MarkerShown:
        if (left) {
          // Only a press on a handle or inside (as the last move found it)
          // starts a drag; a new marker needs the old one deleted first.
          if (MoveWhole || PickedCorner >= 0) {
            MarkerState = MarkerDragging;
            LastMouseX = X;
            LastMouseY = Y;
          }
        } else {
          DeleteMarker();
        }
        break;
      default:
        break;
    }
  }

  if (NotifyMouse && OnMarkerMouse) OnMarkerMouse(Shift, found, wx, wy);
}

void TPlottFlaeche::MarkerMouseMove(TObject* /*Sender*/, TShiftState Shift, int X, int Y) {
  double wx = 0, wy = 0;
  int window = 0;
  const bool found = WindowAt(X, Y, wx, wy, window);
  bool notifyFound = found;

  if (!found) {
    // Outside every window nothing follows the pointer; a drag waits at the
    // last in-window position, so corners cannot leave the window.
    ShowReadout(false, "", wx, wy, "", window);
  } else {
    CurrentWindow = window;
    switch (MarkerState) {
      case MarkerDragging:
        ShowReadout(true, "", wx, wy, "", window);
        DrawMarker();  // erase at the old place
        DragTo(X, Y);
        DrawMarker();  // draw at the new one
        break;

      case MarkerShown:
        notifyFound = HoverMarker(X, Y, wx, wy, window);
        break;
      default:
        ShowReadout(true, "", wx, wy, "", window);
        break;
    }
  }

  if (NotifyMouse && OnMarkerMouse) OnMarkerMouse(Shift, notifyFound, wx, wy);
}

bool TPlottFlaeche::HoverMarker(int X, int Y, double& wx, double& wy, int window) {
  const std::int64_t tolX = Tolerance(Corners[0].X, Corners[2].X);
  const std::int64_t tolY = Tolerance(Corners[0].Y, Corners[2].Y);
  int hit = -1;
  for (int k = 0; k < 4 && hit < 0; ++k) {
    const std::int64_t dx = std::llabs(static_cast<std::int64_t>(X) - Corners[k].X);
    const std::int64_t dy = std::llabs(static_cast<std::int64_t>(Y) - Corners[k].Y);
    if (dx < tolX && dy < tolY) hit = k;
  }
  if (hit >= 0) {
    PickedCorner = hit;
    OppositeCorner = (hit + 2) % 4;
    // Corners 0 and 2 sit upper right and lower left, 1 and 3 upper left
    // and lower right: the cursor shows the diagonal they move on.
    if (PaintBox) PaintBox->SetCursor(hit % 2 == 0 ? crSizeNESW : crSizeNWSE);
    ShowReadout(true, "", wx, wy, "", window);
    MoveWhole = false;
    return true;
  }
  PickedCorner = -1;
  // Inside when the pointer is strictly on the same side of all four edges;
  // in the sorted order (clockwise on screen) that side gives negative cross
  // products. 64 bits hold every product exactly.
  bool inside = true;
  for (int j = 0; j < 4; ++j) {
    const TPoint& c = Corners[j];
    const TPoint& n = Corners[(j + 1) % 4];
    const std::int64_t d = (static_cast<std::int64_t>(c.X) - X) * (static_cast<std::int64_t>(n.Y) - Y) -
                           (static_cast<std::int64_t>(c.Y) - Y) * (static_cast<std::int64_t>(n.X) - X);
    if (d >= 0) inside = false;
  }
  if (inside) {
    // Width of the upper edge and height of the left edge in world units,
    // signed like the window's scales.
    const PlotWindow& w = Win(window);
    wx = Divide(static_cast<double>(std::llabs(static_cast<std::int64_t>(Corners[0].X) - Corners[1].X)), w.XScale);
    wy = Divide(static_cast<double>(std::llabs(static_cast<std::int64_t>(Corners[1].Y) - Corners[2].Y)), w.YScale);
    ShowReadout(true, "B: ", wx, wy, "H: ", window);
    if (PaintBox) PaintBox->SetCursor(crSizeAll);
    MoveWhole = true;
  } else {
    ShowReadout(true, "", wx, wy, "", window);
    if (PaintBox) PaintBox->SetCursor(crCross);
    MoveWhole = false;
  }
  return false;
}

void TPlottFlaeche::MarkerMouseUp(TObject* /*Sender*/, TMouseButton /*Button*/, TShiftState /*Shift*/, int X,
                                  int Y) {
  // Any button ends a drag, wherever the pointer is.
  if (MarkerState != MarkerDragging) return;
  // Sorting may reverse the outline or collapse it (two rightmost corners
  // diagonally opposite), and a repaint during the drag may have left a
  // second image: the pane is drawn afresh with the sorted marker, so the
  // screen shows exactly the marker.
  SortCorners();
  MarkerState = MarkerShown;
  Creating = false;
  Paint();
  // The corners may have been renumbered: a press without a move in between
  // must pick the corner that is under the pointer now.
  double wx = 0, wy = 0;
  int window = 0;
  if (WindowAt(X, Y, wx, wy, window) && window == MarkerWindow) {
    HoverMarker(X, Y, wx, wy, window);
  } else {
    PickedCorner = -1;
    MoveWhole = false;
  }
}

void TPlottFlaeche::DragTo(int X, int Y) {
  if (MoveWhole) {
    // Shift by the step since the last move, so each move adds its own
    // whole-pixel amount and nothing accumulates as rounding.
    const std::int32_t dx = CheckedSub(X, LastMouseX);
    const std::int32_t dy = CheckedSub(Y, LastMouseY);
    for (TPoint& c : Corners) {
      c.X = CheckedAdd(c.X, dx);
      c.Y = CheckedAdd(c.Y, dy);
    }
    LastMouseX = X;
    LastMouseY = Y;
  } else if (Creating) {
    // The axis-parallel rectangle spanned by the press point (corner 2) and
    // the pointer (corner 0).
    Corners[0] = TPoint{X, Y};
    Corners[1] = TPoint{Corners[2].X, Y};
    Corners[3] = TPoint{X, Corners[2].Y};
  } else {
    if (PickedCorner < 0 || PickedCorner > 3) throw ERangeError();
    Corners[PickedCorner] = TPoint{X, Y};
  }
}

void TPlottFlaeche::NextWindow() {
  ++CurrentWindow;
  if (CurrentWindow > 20) CurrentWindow = 1;
}

}  // namespace planora
