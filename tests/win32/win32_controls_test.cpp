// Controls of the Win32 backend: what a paint box shows and repaints, its
// mouse input and cursor, the spin field's arrows and focus, the other
// controls' texts, fonts and states, and a picture of a whole window.
#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>

#include "tests/win32/win32_fixture.h"

namespace planora::test {
namespace {

struct TMouseRecord {
  char Kind;  // 'd'own, 'm'ove, 'u'p, 'c'lick
  TMouseButton Button;
  TShiftState Shift;
  int X, Y;
};

class TBoxForm : public TForm {
 public:
  explicit TBoxForm(TApplication* owner) : TForm(owner, "BoxForm") {
    SetBounds(60, 60, 420, 320);
    Box = Add<TPaintBox>("Box");
    Box->SetBounds(10, 40, 200, 120);
    Box->OnPaint = [this](TObject*) {
      ++Paints;
      Box->Canvas().Brush.Color = PaintColour;
      Box->Canvas().FillRect(Rect(0, 0, Box->Width(), Box->Height()));
    };
    Box->OnMouseDown = [this](TObject*, TMouseButton b, TShiftState s, int x, int y) {
      Mouse.push_back({'d', b, s, x, y});
    };
    Box->OnMouseMove = [this](TObject*, TShiftState s, int x, int y) { Mouse.push_back({'m', mbLeft, s, x, y}); };
    Box->OnMouseUp = [this](TObject*, TMouseButton b, TShiftState s, int x, int y) {
      Mouse.push_back({'u', b, s, x, y});
    };
    Box->OnClick = [this](TObject*) { Mouse.push_back({'c', mbLeft, {}, 0, 0}); };
    Spin = Add<TSpinEdit>("Spin");
    Spin->SetBounds(230, 10, 65, 22);
    Spin->SetMinValue(1);
    Spin->SetMaxValue(100);
    Spin->SetValue(99);
    Other = Add<TEdit>("Other");
    Other->SetBounds(230, 40, 90, 21);
  }
  TPaintBox* Box;
  TSpinEdit* Spin;
  TEdit* Other;
  TColor PaintColour = clLime;
  int Paints = 0;
  std::vector<TMouseRecord> Mouse;
};

TColor ScreenPixel(HWND window, int x, int y) {
  HDC dc = GetDC(window);
  const COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return RGBColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

class ControlsTest : public Win32Test {
 protected:
  void SetUp() override {
    Win32Test::SetUp();
    form_ = app_->CreateForm<TBoxForm>();
    form_->Show();
    box_ = widgets_->WindowOf(*form_->Box);
    ASSERT_NE(nullptr, box_);
    ASSERT_TRUE(PumpUntil([&] { return form_->Paints > 0 && !form_->Box->PaintPending(); }));
    widgets_->ProcessMessages();
  }
  TBoxForm* form_ = nullptr;
  HWND box_ = nullptr;
};

TEST_F(ControlsTest, PaintBoxShowsItsImageAndRepaintsOnlyTheInvalidatedRectangle) {
  EXPECT_EQ(clLime, ScreenPixel(box_, 0, 0));
  EXPECT_EQ(clLime, ScreenPixel(box_, 199, 119));

  // Changed behind the screen's back: the screen keeps the old picture ...
  form_->Box->ScreenImage().Fill(clRed);
  // ... except where a drawing call reports a change.
  form_->Box->Canvas().Brush.Color = clBlue;
  form_->Box->Canvas().FillRect(Rect(20, 30, 60, 50));
  const int paints = form_->Paints;
  widgets_->ProcessMessages();
  EXPECT_EQ(clBlue, ScreenPixel(box_, 20, 30));
  EXPECT_EQ(clBlue, ScreenPixel(box_, 59, 49));
  EXPECT_EQ(clLime, ScreenPixel(box_, 60, 50));
  EXPECT_EQ(clLime, ScreenPixel(box_, 19, 30));
  EXPECT_EQ(clLime, ScreenPixel(box_, 150, 100));
  EXPECT_EQ(paints, form_->Paints);

  // Asking for a paint runs the program's paint handler again.
  form_->PaintColour = clYellow;
  form_->Box->Invalidate();
  ASSERT_TRUE(PumpUntil([&] { return form_->Paints > paints && ScreenPixel(box_, 150, 100) == clYellow; }));
  EXPECT_EQ(clYellow, ScreenPixel(box_, 20, 30));
}

TEST_F(ControlsTest, DrawingFromAWorkerThreadReachesTheScreen) {
  std::thread worker([&] {
    TCanvasLock lock(form_->Box->Canvas());
    form_->Box->Canvas().Brush.Color = clWhite;
    form_->Box->Canvas().FillRect(Rect(100, 0, 200, 60));
  });
  worker.join();
  ASSERT_TRUE(PumpUntil([&] { return ScreenPixel(box_, 150, 30) == clWhite; }));
  EXPECT_EQ(clLime, ScreenPixel(box_, 150, 90));
}

TEST_F(ControlsTest, ProcessMessagesReturnsWhileWorkersKeepDrawing) {
  std::atomic<bool> stop{false};
  // Draws for at most two seconds, so that a loop that never returns ends.
  std::thread worker([&] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int i = 0; !stop && std::chrono::steady_clock::now() < end; ++i) {
      // As a drawing call reports the rectangle it changed.
      form_->Box->Peer()->Invalidate(Rect(i % 180, 0, i % 180 + 20, 20));
    }
  });
  Sleep(50);
  std::vector<double> durations;
  for (int call = 0; call < 3; ++call) {
    const auto start = std::chrono::steady_clock::now();
    widgets_->ProcessMessages();
    durations.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  stop = true;
  worker.join();
  for (double d : durations) EXPECT_LT(d, 0.5);
}

TEST_F(ControlsTest, MouseMessagesReachTheEntryPointsWithButtonShiftAndPosition) {
  SendMessageA(box_, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(10, 20));
  EXPECT_EQ(box_, GetCapture());
  // Captured: positions left of and above the box are negative.
  SendMessageA(box_, WM_MOUSEMOVE, MK_LBUTTON | MK_CONTROL, MAKELPARAM(-5, -3));
  SendMessageA(box_, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(30, 40));
  SendMessageA(box_, WM_LBUTTONUP, 0, MAKELPARAM(30, 40));
  EXPECT_EQ(nullptr, GetCapture());
  SendMessageA(box_, WM_RBUTTONDOWN, MK_RBUTTON | MK_CONTROL, MAKELPARAM(7, 8));
  SendMessageA(box_, WM_RBUTTONUP, 0, MAKELPARAM(7, 8));
  SendMessageA(box_, WM_MBUTTONDOWN, MK_MBUTTON | MK_LBUTTON, MAKELPARAM(1, 2));
  SendMessageA(box_, WM_MBUTTONUP, MK_LBUTTON, MAKELPARAM(1, 2));
  SendMessageA(box_, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(3, 4));

  const std::vector<TMouseRecord>& m = form_->Mouse;
  ASSERT_EQ(10u, m.size());
  auto expect = [&](std::size_t i, char kind, TMouseButton button, TShiftState shift, int x, int y) {
    EXPECT_EQ(kind, m[i].Kind) << i;
    if (kind != 'm' && kind != 'c') {
      EXPECT_EQ(button, m[i].Button) << i;
    }
    if (kind != 'c') {
      EXPECT_EQ(shift, m[i].Shift) << i;
      EXPECT_EQ(x, m[i].X) << i;
      EXPECT_EQ(y, m[i].Y) << i;
    }
  };
  expect(0, 'd', mbLeft, TShiftState{ssShift, ssLeft}, 10, 20);
  expect(1, 'm', mbLeft, TShiftState{ssCtrl, ssLeft}, -5, -3);
  expect(2, 'm', mbLeft, TShiftState{ssLeft}, 30, 40);
  expect(3, 'u', mbLeft, TShiftState{}, 30, 40);
  expect(4, 'c', mbLeft, {}, 0, 0);
  expect(5, 'd', mbRight, TShiftState{ssCtrl, ssRight}, 7, 8);
  expect(6, 'u', mbRight, TShiftState{}, 7, 8);
  expect(7, 'd', mbMiddle, TShiftState{ssLeft, ssMiddle}, 1, 2);
  expect(8, 'u', mbMiddle, TShiftState{ssLeft}, 1, 2);
  expect(9, 'd', mbLeft, TShiftState{ssLeft, ssDouble}, 3, 4);
  // The middle button's release left the left one held: the capture stays.
  SendMessageA(box_, WM_LBUTTONUP, 0, MAKELPARAM(3, 4));
}

TEST_F(ControlsTest, CursorIsTheBoxsOwnUnlessTheScreenCursorIsSet) {
  auto cursorOverBox = [&] {
    SendMessageA(box_, WM_SETCURSOR, reinterpret_cast<WPARAM>(box_), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return GetCursor();
  };
  form_->Box->SetCursor(crCross);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_CROSS), cursorOverBox());
  form_->Box->SetCursor(crSizeNESW);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_SIZENESW), cursorOverBox());
  app_->SetScreenCursor(crHourGlass);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_WAIT), cursorOverBox());
  app_->SetScreenCursor(crDefault);
  form_->Box->SetCursor(crDefault);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), cursorOverBox());

  // With the pointer on the box the screen cursor shows at once, without a
  // move of the mouse, and no mouse event reaches the program.
  RECT r;
  GetWindowRect(box_, &r);
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  PumpUntil([] { return false; }, 100);
  form_->Mouse.clear();
  app_->SetScreenCursor(crHourGlass);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_WAIT), GetCursor());
  form_->Box->SetCursor(crSizeAll);
  app_->SetScreenCursor(crDefault);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_SIZEALL), GetCursor());
  widgets_->ProcessMessages();
  EXPECT_TRUE(form_->Mouse.empty());
}

TEST_F(ControlsTest, SpinFieldStepsAndClampsThroughTheControl) {
  HWND edit = widgets_->WindowOf(*form_->Spin);
  HWND arrows = GetWindow(edit, GW_HWNDNEXT);
  ASSERT_NE(nullptr, arrows);
  ASSERT_EQ(std::string(UPDOWN_CLASSA), ClassOf(arrows));
  EXPECT_EQ("99", WindowText(edit));
  int changes = 0;
  form_->Spin->OnChange = [&](TObject*) { ++changes; };

  // Clicks on the upper and lower arrow, as the user makes them.
  RECT r;
  GetClientRect(arrows, &r);
  auto click = [&](int y) {
    SendMessageA(arrows, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(r.right / 2, y));
    SendMessageA(arrows, WM_LBUTTONUP, 0, MAKELPARAM(r.right / 2, y));
  };
  click(2);
  EXPECT_EQ(100, form_->Spin->Value());
  click(2);  // at the maximum
  EXPECT_EQ(100, form_->Spin->Value());
  click(r.bottom - 3);
  EXPECT_EQ(99, form_->Spin->Value());
  EXPECT_EQ("99", WindowText(edit));
  EXPECT_EQ(2, changes);

  // Typed text stands until the field is left for another control.
  SetFocus(edit);
  SetWindowTextA(edit, "250");
  EXPECT_EQ("250", form_->Spin->Text());
  // Tab, as typed, moves on to the next field.
  PostMessageA(edit, WM_KEYDOWN, VK_TAB, 1);
  widgets_->ProcessMessages();
  EXPECT_EQ(widgets_->WindowOf(*form_->Other), GetFocus());
  EXPECT_EQ("100", form_->Spin->Text());
  EXPECT_EQ("100", WindowText(edit));

  // Switching to another window is not leaving the field: the text stands,
  // and the field has the focus again when the window is active again.
  SetFocus(edit);
  SetWindowTextA(edit, "0");
  SetActiveWindow(host_);
  EXPECT_NE(edit, GetFocus());
  EXPECT_EQ("0", form_->Spin->Text());
  SetActiveWindow(widgets_->WindowOf(*form_));
  EXPECT_EQ(edit, GetFocus());
  SetFocus(widgets_->WindowOf(*form_->Other));
  EXPECT_EQ("1", form_->Spin->Text());

  // The program's own values are not the user's typing.
  int typed = 0;
  form_->Other->OnChange = [&](TObject*) { ++typed; };
  form_->Other->SetText("abc");
  EXPECT_EQ(1, typed);
  EXPECT_EQ("abc", WindowText(widgets_->WindowOf(*form_->Other)));
  SetWindowTextA(widgets_->WindowOf(*form_->Other), "abcd");
  EXPECT_EQ(2, typed);
  EXPECT_EQ("abcd", form_->Other->Text());
}

TEST_F(ControlsTest, LabelsProgressBarsAndMemosShowTheirControls) {
  auto* label = form_->Add<TLabel>("Label", "x-position");
  label->SetBounds(10, 10, 0, 0);
  auto* bar = form_->Add<TProgressBar>("Bar");
  bar->SetBounds(10, 170, 200, 16);
  auto* memo = form_->Add<TMemo>("Memo");
  memo->SetBounds(220, 70, 180, 100);
  memo->SetFont(TFont{"Courier New", -13});
  memo->SetScrollBars(ssVertical);
  memo->Add("eins");
  form_->Hide();
  form_->Show();  // peers for the controls added meanwhile

  HWND labelWindow = widgets_->WindowOf(*label);
  EXPECT_EQ("x-position", WindowText(labelWindow));
  RECT r;
  GetClientRect(labelWindow, &r);
  EXPECT_GT(r.right, 20);  // sized to its caption
  label->SetCaption("y-position");
  EXPECT_EQ("y-position", WindowText(labelWindow));
  label->SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(labelWindow));

  HWND barWindow = widgets_->WindowOf(*bar);
  bar->SetRange(0, 50);
  bar->SetPosition(30);
  EXPECT_EQ(30, SendMessageA(barWindow, PBM_GETPOS, 0, 0));
  EXPECT_EQ(50, SendMessageA(barWindow, PBM_GETRANGE, FALSE, 0));
  bar->SetEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(barWindow));

  HWND memoWindow = widgets_->WindowOf(*memo);
  memo->Add("zwei");
  EXPECT_EQ("eins\r\nzwei", WindowText(memoWindow));
  const LONG_PTR style = GetWindowLongPtrA(memoWindow, GWL_STYLE);
  EXPECT_TRUE(style & ES_MULTILINE);
  EXPECT_TRUE(style & WS_VSCROLL);
  EXPECT_FALSE(style & WS_HSCROLL);
  memo->SetScrollBars(ssBoth);
  memoWindow = widgets_->WindowOf(*memo);
  EXPECT_TRUE(GetWindowLongPtrA(memoWindow, GWL_STYLE) & WS_HSCROLL);
  EXPECT_EQ("eins\r\nzwei", WindowText(memoWindow));
  // A page to read: the window colour behind the text.
  RedrawWindow(memoWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_FRAME);
  const COLORREF page = GetSysColor(COLOR_WINDOW);
  EXPECT_EQ(RGBColor(GetRValue(page), GetGValue(page), GetBValue(page)), ScreenPixel(memoWindow, 150, 60));
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(memoWindow, WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_EQ(-13, font.lfHeight);
  EXPECT_STREQ("Courier New", font.lfFaceName);
}

TEST_F(ControlsTest, WindowBitmapIsTheWindowAsShown) {
  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  const std::string path = std::string(folder) + "planora_window_test.bmp";
  ASSERT_TRUE(widgets_->SaveWindowBitmap(*form_, path));
  std::ifstream in(path, std::ios::binary);
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  in.read(reinterpret_cast<char*>(&file), sizeof file);
  in.read(reinterpret_cast<char*>(&info), sizeof info);
  std::vector<std::uint8_t> pixels(file.bfSize - file.bfOffBits);
  in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  ASSERT_TRUE(in);
  in.close();
  std::remove(path.c_str());
  EXPECT_EQ(0x4D42, file.bfType);
  EXPECT_EQ(24, info.biBitCount);
  EXPECT_EQ(form_->Width(), info.biWidth);
  EXPECT_EQ(form_->Height(), info.biHeight);

  // The middle of the paint box, in the file's bottom-up rows.
  RECT box;
  GetWindowRect(box_, &box);
  RECT window;
  GetWindowRect(widgets_->WindowOf(*form_), &window);
  const int x = box.left - window.left + 100, y = box.top - window.top + 60;
  const std::size_t stride = (static_cast<std::size_t>(info.biWidth) * 3 + 3) & ~std::size_t{3};
  const std::uint8_t* p = pixels.data() + (info.biHeight - 1 - y) * stride + x * 3;
  EXPECT_EQ(clLime, RGBColor(p[2], p[1], p[0]));

  form_->Hide();
  EXPECT_FALSE(widgets_->SaveWindowBitmap(*form_, path));
}

}  // namespace
}  // namespace planora::test
