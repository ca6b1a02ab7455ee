#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "platform/forms.h"
#include "platform/headless/headless.h"
#include "platform/sysutils.h"
#include "plot/glib2.h"
#include "tests/support/pane.h"

using namespace planora;

namespace {

struct Note {
  TShiftState shift;
  bool found;
  double x, y;
};

// A 201 x 151 pane in mouse mode 5, window 1 laid out as the rectification
// window does it: pixel (px, py) is world (px - 100, py - 75), y downwards.
struct Pane : test::TTestPane {
  TEdit* ex = form.Add<TEdit>("Edit1");
  TEdit* ey = form.Add<TEdit>("Edit2");
  std::vector<Note> notes;
  TBitmap bare;

  Pane() : TTestPane(201, 151) {
    SetDecimalSeparator('.');
    s.SetOption(TransparentMarker, true);
    s.DefineWindow(1, -100, 100, 75, -75, 0, 1, 0, 1);
    bare.Assign(pb->ScreenImage());
  }
  ~Pane() { ResetDecimalSeparator(); }
  void Enter() {
    s.EnterMouseMode(ex, ey, 5, [this](TShiftState sh, bool f, double x, double y) { notes.push_back({sh, f, x, y}); });
  }
  void Drag(int x0, int y0, int x1, int y1) {
    pb->MouseDown(mbLeft, {ssLeft}, x0, y0);
    pb->MouseMove({ssLeft}, x1, y1);
    pb->MouseUp(mbLeft, {}, x1, y1);
  }
  int Hover(int x, int y) {
    pb->MouseMove({}, x, y);
    return s.PickedCorner;
  }
  void Place(std::array<TPoint, 4> c) {
    s.SetMarkerCorners(1, c[0].X - 100, c[0].Y - 75, c[1].X - 100, c[1].Y - 75, c[2].X - 100, c[2].Y - 75,
                       c[3].X - 100, c[3].Y - 75);
  }
  // The screen holds the bare picture plus exactly one outline at the current corners.
  bool OnlyMarkerShown() {
    TBitmap now;
    now.Assign(pb->ScreenImage());
    s.DrawMarker();
    const bool erased = pb->ScreenImage() == bare;
    s.DrawMarker();
    return erased && pb->ScreenImage() == now;
  }
};

using Quad = std::array<TPoint, 4>;

}  // namespace

TEST(MouseModes, EnterAndLeaveSwapHandlers) {
  Pane p;
  std::string own;
  p.pb->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { own += "d"; };
  p.pb->OnMouseMove = [&](TObject*, TShiftState, int, int) { own += "m"; };
  p.pb->OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int, int) { own += "u"; };
  p.pb->OnClick = [&](TObject*) { own += "c"; };
  p.pb->SetEnabled(false);
  p.ex->SetText("old");

  TPlottFlaeche off;  // no paint box: only the mode and the notification are recorded
  off.InitOffscreen(10, 10);
  off.EnterMouseMode(p.ex, p.ey, 5, [](TShiftState, bool, double, double) {});
  EXPECT_EQ(off.MouseMode, 5);
  EXPECT_TRUE(off.NotifyMouse);
  EXPECT_FALSE(off.MouseModeActive);
  EXPECT_EQ(p.ex->Text(), "old");

  p.Place({TPoint{150, 30}, {50, 30}, {50, 120}, {150, 120}});  // forgotten on entering
  p.Enter();
  EXPECT_EQ(p.s.MarkerState, MarkerNone);
  EXPECT_TRUE(p.s.MouseModeActive);
  EXPECT_TRUE(p.pb->Enabled());
  EXPECT_EQ(p.pb->Cursor(), crCross);
  EXPECT_EQ(p.ex->Text(), "");
  EXPECT_EQ(p.s.CurrentWindow, 0);
  p.Drag(60, 40, 140, 100);
  EXPECT_EQ(own, "");  // neither the own handlers nor the click ran
  p.s.EnterMouseMode(nullptr, nullptr, 3);  // already active: the mode number only
  EXPECT_EQ(p.s.MouseMode, 3);
  EXPECT_EQ(p.s.XReadout, p.ex);

  p.s.LeaveMouseMode();
  EXPECT_TRUE(p.pb->ScreenImage() == p.bare);
  EXPECT_EQ(p.pb->Cursor(), crDefault);
  EXPECT_FALSE(p.pb->Enabled());
  EXPECT_FALSE(p.s.MouseModeActive);
  EXPECT_FALSE(p.s.NotifyMouse);
  EXPECT_EQ(p.s.MarkerState, MarkerNone);
  EXPECT_EQ(p.ex->Text(), "");
  p.pb->SetEnabled(true);
  p.Drag(60, 40, 140, 100);
  EXPECT_EQ(own, "dmuc");

  // Other modes take the mouse moves only.
  own.clear();
  p.s.EnterMouseMode(p.ex, p.ey, 1);
  p.Drag(60, 40, 140, 100);
  EXPECT_EQ(own, "duc");
  EXPECT_EQ(p.ex->Text(), "40.000  ");
  EXPECT_TRUE(p.ws.Dialogs().empty());
}

TEST(MouseModes, CreateReshapeMoveAndDelete) {
  Pane p;
  p.Enter();
  p.pb->ScreenImage().SetPixel(5, 5, clRed);  // stale drawing, wiped by the repaint on creation

  p.pb->MouseDown(mbLeft, {ssLeft, ssShift}, 60, 40);
  EXPECT_EQ(p.s.MarkerState, MarkerDragging);
  EXPECT_TRUE(p.s.Creating);
  EXPECT_EQ(p.s.MarkerWindow, 1);
  EXPECT_EQ(p.s.Corners, (Quad{TPoint{60, 40}, {60, 40}, {60, 40}, {60, 40}}));
  EXPECT_TRUE(p.pb->ScreenImage() == p.bare);
  EXPECT_EQ(p.ex->Text(), "-40.000  ");
  EXPECT_EQ(p.ey->Text(), "-35.000  ");
  ASSERT_EQ(p.notes.size(), 1u);
  EXPECT_EQ(p.notes[0].shift, (TShiftState{ssLeft, ssShift}));
  EXPECT_TRUE(p.notes[0].found);
  EXPECT_EQ(p.notes[0].x, -40.0);
  EXPECT_EQ(p.notes[0].y, -35.0);

  p.pb->MouseMove({ssLeft}, 140, 100);
  EXPECT_EQ(p.s.Corners, (Quad{TPoint{140, 100}, {60, 100}, {60, 40}, {140, 40}}));
  EXPECT_TRUE(p.OnlyMarkerShown());
  double x[4], y[4];
  int w = 0;
  p.s.GetMarkerCorners(x[0], y[0], x[1], y[1], x[2], y[2], x[3], y[3], w);  // unsorted while dragging
  EXPECT_EQ(w, 1);
  EXPECT_EQ(x[0], 40.0);
  EXPECT_EQ(y[2], -35.0);
  // Outside the window the drag waits and the read-outs go blank.
  p.pb->MouseMove({ssLeft}, 300, 300);
  EXPECT_EQ(p.s.Corners[0], (TPoint{140, 100}));
  EXPECT_EQ(p.ex->Text(), "");
  EXPECT_FALSE(p.notes.back().found);
  const std::size_t notesBefore = p.notes.size();
  p.pb->MouseUp(mbLeft, {}, 300, 300);
  EXPECT_EQ(p.s.MarkerState, MarkerShown);
  EXPECT_FALSE(p.s.Creating);
  EXPECT_EQ(p.s.Corners, (Quad{TPoint{140, 40}, {60, 40}, {60, 100}, {140, 100}}));
  EXPECT_EQ(p.notes.size(), notesBefore);

  // Corner handles: cursor by the diagonal they move on.
  const std::pair<TPoint, TCursor> handles[] = {
      {{147, 33}, crSizeNESW}, {{53, 47}, crSizeNWSE}, {{63, 103}, crSizeNESW}, {{140, 100}, crSizeNWSE}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(p.Hover(handles[k].first.X, handles[k].first.Y), k);
    EXPECT_EQ(p.s.OppositeCorner, (k + 2) % 4);
    EXPECT_EQ(p.pb->Cursor(), handles[k].second);
    EXPECT_TRUE(p.notes.back().found);
  }
  EXPECT_EQ(p.Hover(148, 40), -1);  // 8 pixels off is out
  EXPECT_EQ(p.pb->Cursor(), crCross);
  p.Hover(140, 100);
  p.Drag(140, 100, 160, 120);
  EXPECT_EQ(p.pb->Cursor(), crSizeNWSE);
  EXPECT_EQ(p.s.Corners, (Quad{TPoint{140, 40}, {60, 40}, {60, 100}, {160, 120}}));
  EXPECT_TRUE(p.OnlyMarkerShown());

  // Inside: width of the upper edge, height of the left edge (negative: y runs downwards).
  p.Hover(100, 70);
  EXPECT_TRUE(p.s.MoveWhole);
  EXPECT_EQ(p.pb->Cursor(), crSizeAll);
  EXPECT_EQ(p.ex->Text(), "B: 80.000  ");
  EXPECT_EQ(p.ey->Text(), "H: -60.000  ");
  EXPECT_FALSE(p.notes.back().found);
  EXPECT_EQ(p.notes.back().x, 80.0);
  EXPECT_EQ(p.notes.back().y, -60.0);
  p.pb->MouseDown(mbLeft, {ssLeft}, 100, 70);
  p.pb->MouseMove({ssLeft}, 103, 66);
  EXPECT_EQ(p.s.Corners, (Quad{TPoint{143, 36}, {63, 36}, {63, 96}, {163, 116}}));
  p.pb->MouseMove({ssLeft}, 105, 66);
  EXPECT_EQ(p.s.Corners, (Quad{TPoint{145, 36}, {65, 36}, {65, 96}, {165, 116}}));
  EXPECT_EQ(p.ex->Text(), "5.0000  ");
  p.pb->MouseUp(mbLeft, {}, 105, 66);
  EXPECT_TRUE(p.OnlyMarkerShown());

  // On an edge is outside.
  p.Hover(100, 36);
  EXPECT_FALSE(p.s.MoveWhole);
  EXPECT_EQ(p.pb->Cursor(), crCross);
  EXPECT_EQ(p.ex->Text(), "0");
  // Left outside the marker and the middle button anywhere do nothing.
  const Quad kept = p.s.Corners;
  p.Drag(20, 20, 30, 30);
  p.Hover(100, 70);
  p.pb->MouseDown(mbMiddle, {ssMiddle}, 100, 70);
  p.pb->MouseMove({ssMiddle}, 110, 80);
  EXPECT_EQ(p.s.MarkerState, MarkerShown);
  EXPECT_EQ(p.s.Corners, kept);
  EXPECT_TRUE(p.OnlyMarkerShown());

  p.pb->MouseDown(mbRight, {ssRight}, 20, 20);
  EXPECT_EQ(p.s.MarkerState, MarkerNone);
  EXPECT_EQ(p.pb->Cursor(), crCross);
  EXPECT_TRUE(p.pb->ScreenImage() == *p.s.Bitmap);
  // Right click with no marker: next window; the next move finds window 1 again.
  p.pb->MouseDown(mbRight, {ssRight}, 20, 20);
  EXPECT_EQ(p.s.CurrentWindow, 2);
  p.Hover(20, 20);
  EXPECT_EQ(p.s.CurrentWindow, 1);
  p.s.CurrentWindow = 20;
  p.pb->MouseDown(mbRight, {ssRight}, 20, 20);
  EXPECT_EQ(p.s.CurrentWindow, 1);
  p.pb->MouseDown(mbMiddle, {ssMiddle}, 20, 20);
  EXPECT_EQ(p.s.MarkerState, MarkerNone);

  // Dragged out towards the lower left: corner 0 still upper right.
  p.Drag(140, 40, 60, 100);
  EXPECT_EQ(p.s.Corners, (Quad{TPoint{140, 40}, {60, 40}, {60, 100}, {140, 100}}));
  EXPECT_TRUE(p.OnlyMarkerShown());
  EXPECT_TRUE(p.ws.Dialogs().empty());
}

TEST(MouseModes, AReleaseThatRenumbersTheCornersLeavesOnlyTheMarkerAndPicksTheCornerUnderThePointer) {
  // Upper left dragged past the lower right: the sort reverses the outline.
  Pane p;
  p.Enter();
  p.Place({TPoint{150, 30}, {50, 30}, {50, 100}, {150, 100}});
  ASSERT_EQ(p.Hover(50, 30), 1);
  p.Drag(50, 30, 170, 120);
  EXPECT_TRUE(p.OnlyMarkerShown());
  // Pressed again without a move: the corner under the pointer is the one that follows.
  ASSERT_GE(p.s.PickedCorner, 0);
  EXPECT_EQ(p.s.Corners[p.s.PickedCorner], (TPoint{170, 120}));
  p.pb->MouseDown(mbLeft, {ssLeft}, 170, 120);
  p.pb->MouseMove({ssLeft}, 160, 110);
  p.pb->MouseUp(mbLeft, {}, 160, 110);
  std::vector<TPoint> now(p.s.Corners.begin(), p.s.Corners.end());
  std::sort(now.begin(), now.end(), [](TPoint a, TPoint b) { return std::pair(a.X, a.Y) < std::pair(b.X, b.Y); });
  EXPECT_EQ(now, (std::vector<TPoint>{{50, 100}, {150, 30}, {150, 100}, {160, 110}}));
  EXPECT_TRUE(p.OnlyMarkerShown());

  // Random single-corner drags, some collapsing the marker when they end.
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> px(5, 195), py(5, 145), corner(0, 3);
  for (int round = 0; round < 500; ++round) {
    Quad q;
    for (TPoint& c : q) c = TPoint{px(rng), py(rng)};
    p.Place(q);
    const TPoint from = p.s.Corners[corner(rng)];
    p.Hover(from.X, from.Y);
    p.Drag(from.X, from.Y, px(rng), py(rng));
    ASSERT_TRUE(p.OnlyMarkerShown()) << "round " << round;
    const TPoint at = p.s.PickedCorner >= 0 ? p.s.Corners[p.s.PickedCorner] : TPoint{-1, -1};
    if (p.s.PickedCorner >= 0) {
      ASSERT_EQ(p.Hover(at.X, at.Y), p.s.PickedCorner) << "round " << round;
    }
  }
}

TEST(MouseModes, HandleTolerances) {
  Pane p;
  p.Enter();
  // A click without moving: corners coincide, nothing can be picked.
  p.pb->MouseDown(mbLeft, {ssLeft}, 50, 50);
  p.pb->MouseUp(mbLeft, {}, 50, 50);
  EXPECT_EQ(p.Hover(50, 50), -1);
  EXPECT_FALSE(p.s.MoveWhole);
  p.pb->MouseDown(mbLeft, {ssLeft}, 50, 50);
  EXPECT_EQ(p.s.MarkerState, MarkerShown);
  p.pb->MouseUp(mbLeft, {}, 50, 50);

  p.Place({TPoint{52, 50}, {50, 50}, {50, 52}, {52, 52}});  // tolerance 1: exactly on the corner
  EXPECT_EQ(p.Hover(52, 50), 0);
  EXPECT_EQ(p.Hover(53, 50), -1);
  EXPECT_EQ(p.Hover(51, 51), -1);
  EXPECT_TRUE(p.s.MoveWhole);

  p.Place({TPoint{105, 40}, {100, 40}, {100, 100}, {105, 100}});  // 5 wide: TolX 2
  EXPECT_EQ(p.Hover(106, 40), 0);
  EXPECT_EQ(p.Hover(107, 40), -1);
  EXPECT_EQ(p.Hover(104, 47), 0);
  EXPECT_EQ(p.Hover(104, 48), -1);
  EXPECT_EQ(p.Hover(101, 40), 1);

  p.Place({TPoint{123, 40}, {100, 40}, {100, 63}, {123, 63}});  // 23 apart: 15 x 15 squares
  EXPECT_EQ(p.Hover(130, 47), 0);
  EXPECT_EQ(p.Hover(116, 33), 0);
  EXPECT_EQ(p.Hover(131, 40), -1);
  EXPECT_EQ(p.Hover(123, 32), -1);
  p.Place({TPoint{122, 40}, {100, 40}, {100, 62}, {122, 62}});  // 22 apart: 13 x 13
  EXPECT_EQ(p.Hover(128, 40), 0);
  EXPECT_EQ(p.Hover(129, 40), -1);

  // Overlapping squares: the lower-numbered corner wins.
  p.Place({TPoint{150, 30}, {145, 32}, {100, 120}, {150, 120}});
  EXPECT_EQ(p.Hover(147, 31), 0);
  EXPECT_EQ(p.Hover(140, 33), 1);
  EXPECT_TRUE(p.OnlyMarkerShown());
  EXPECT_TRUE(p.ws.Dialogs().empty());
}

// Clearing a pane whose pointer last hovered inside its marker forgets the
// whole marker state: the next press creates a fresh rectangle instead of
// moving stale corners.
TEST(MouseModes, ClearForgetsTheHoverStateOfTheMarker) {
  Pane p;
  p.Enter();
  p.Place({TPoint{150, 30}, TPoint{50, 30}, TPoint{50, 120}, TPoint{150, 120}});
  p.Hover(100, 75);
  ASSERT_TRUE(p.s.MoveWhole);
  p.s.Clear();
  EXPECT_FALSE(p.s.MoveWhole);
  EXPECT_EQ(p.s.MarkerWindow, -1);
  EXPECT_TRUE(p.pb->ScreenImage() == *p.s.Bitmap);  // no outline left on the cleared screen
  p.s.DefineWindow(1, -100, 100, 75, -75, 0, 1, 0, 1);
  p.Enter();
  p.Drag(20, 20, 60, 50);
  EXPECT_EQ(p.s.Corners[0], (TPoint{60, 20}));
  EXPECT_EQ(p.s.Corners[2], (TPoint{20, 50}));
}
