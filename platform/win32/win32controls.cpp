// The controls as child windows: paint boxes (a class of our own), labels,
// edit and spin fields, the progress bar and memos (the system's classes).
#include "platform/win32/win32peers.h"
// after windows.h
#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace planora {

// ---- TWin32ControlPeer

TWin32ControlPeer::TWin32ControlPeer(TWin32WidgetSet& widgets, TControl& control, TWin32FormPeer& form)
    : widgets_(widgets), control_(control), form_(form) {}

TWin32ControlPeer::~TWin32ControlPeer() {
  // The child windows go with their form's window, which may be inside one of
  // its own messages now; they only stop answering for this control.
  if (window_) form_.UnregisterChild(window_);
}

void TWin32ControlPeer::Create() {
  if (form_.Window() == nullptr) return;
  createdStyle_ = Style();
  const DWORD style = WS_CHILD | createdStyle_ | (control_.Visible() ? WS_VISIBLE : 0) |
                      (control_.Enabled() ? 0 : WS_DISABLED);
  window_ = CreateWindowExA(ExStyle(), ClassName(), "", style, control_.Left(), control_.Top(), control_.Width(),
                            control_.Height(), form_.Window(), nullptr, ModuleInstance(), this);
  if (window_ == nullptr) return;
  form_.RegisterChild(window_, this);
  font_ = nullptr;
  bounds_ = RECT{-1, -1, -1, -1};
  AfterCreate();
}

void TWin32ControlPeer::SetText(HWND window, const std::string& text) {
  settingText_ = true;
  SetWindowTextA(window, text.c_str());
  settingText_ = false;
}

void TWin32ControlPeer::SyncBounds(const RECT& r) {
  MoveWindow(window_, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

void TWin32ControlPeer::Sync() {
  if (window_ == nullptr) {
    Create();
    if (window_ == nullptr) return;
  }
  if (Style() != createdStyle_) {
    // Styles such as a memo's scroll bars are fixed when the window is made.
    form_.UnregisterChild(window_);
    DestroyExtra();
    DestroyWindow(window_);
    window_ = nullptr;
    Create();
    if (window_ == nullptr) return;
  }
  // Font and text first: a label's size follows from them.
  HFONT font = widgets_.Font(control_.Font());
  if (font != font_) {
    font_ = font;
    SendMessageA(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  SyncOwn();
  RECT r{control_.Left(), control_.Top(), control_.Left() + control_.Width(), control_.Top() + control_.Height()};
  if (AutoSize() && (control_.Width() == 0 || control_.Height() == 0)) {
    char text[1024];
    const int length = GetWindowTextA(window_, text, sizeof text);
    HDC dc = GetDC(window_);
    HGDIOBJ old = SelectObject(dc, font);
    RECT measured{0, 0, 0, 0};
    DrawTextA(dc, text, length, &measured, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(dc, old);
    ReleaseDC(window_, dc);
    r.right = r.left + measured.right;
    r.bottom = r.top + measured.bottom;
  }
  if (!EqualRect(&bounds_, &r)) {
    bounds_ = r;
    SyncBounds(r);
  }
  const bool shown = (GetWindowLongPtrA(window_, GWL_STYLE) & WS_VISIBLE) != 0;
  if (shown != control_.Visible()) ShowWindow(window_, control_.Visible() ? SW_SHOWNA : SW_HIDE);
  if ((IsWindowEnabled(window_) != FALSE) != control_.Enabled()) EnableWindow(window_, control_.Enabled());
}

HWND ControlWindow(const TPeer* peer) {
  auto* p = dynamic_cast<const TWin32ControlPeer*>(peer);
  return p ? p->Window() : nullptr;
}

namespace {

TShiftState ShiftOf(WPARAM keys) {
  TShiftState shift;
  if (keys & MK_SHIFT) shift += ssShift;
  if (keys & MK_CONTROL) shift += ssCtrl;
  // The mouse messages do not carry the Alt key.
  if (GetKeyState(VK_MENU) < 0) shift += ssAlt;
  if (keys & MK_LBUTTON) shift += ssLeft;
  if (keys & MK_RBUTTON) shift += ssRight;
  if (keys & MK_MBUTTON) shift += ssMiddle;
  return shift;
}

// ---- paint box

class TWin32PaintBoxPeer : public TWin32ControlPeer {
 public:
  TWin32PaintBoxPeer(TWin32WidgetSet& widgets, TPaintBox& box, TWin32FormPeer& form)
      : TWin32ControlPeer(widgets, box, form), box_(box) {
    Create();
  }
  ~TWin32PaintBoxPeer() override {
    if (window_) SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
  }

  // Part of the screen image changed. InvalidateRect may be called from any
  // thread: a worker that drew the rectangle hands it over to the interface
  // thread's next paint this way.
  void Invalidate(const TRect& area) override {
    HWND window = window_;
    if (window == nullptr || area.Width() <= 0 || area.Height() <= 0) return;
    const RECT r{area.Left, area.Top, area.Right, area.Bottom};
    InvalidateRect(window, &r, FALSE);
  }

  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  const char* ClassName() const override { return kPaintBoxClass; }

 private:
  void Paint(HWND window);
  void Blit(HDC dc, const RECT& area);
  void Press(TMouseButton button, WPARAM keys, LPARAM position, bool doubleClick);
  void Release(TMouseButton button, WPARAM keys, LPARAM position);

  TPaintBox& box_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::vector<std::uint8_t> rows_;
};

void TWin32PaintBoxPeer::Paint(HWND window) {
  // The program's own paint first: what it draws lands in the area this
  // paint message puts on the screen. It may free the window meanwhile.
  if (box_.PaintPending() && box_.Visible() && box_.Owner()->Visible()) {
    const std::weak_ptr<bool> alive = alive_;
    TPaintBox* box = &box_;
    widgets_.Deliver([box] { box->Paint(); });
    if (alive.expired()) {
      ValidateRect(window, nullptr);
      return;
    }
  }
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  Blit(dc, ps.rcPaint);
  EndPaint(window, &ps);
}

void TWin32PaintBoxPeer::Blit(HDC dc, const RECT& area) {
  TBitmap& image = box_.ScreenImage();
  // Nobody draws on the image while it goes to the screen.
  TCanvasLock lock(image.Canvas());
  RECT inside{std::max<LONG>(area.left, 0), std::max<LONG>(area.top, 0), std::min<LONG>(area.right, image.Width()),
              std::min<LONG>(area.bottom, image.Height())};
  if (inside.right > inside.left && inside.bottom > inside.top) {
    const int rows = inside.bottom - inside.top;
    const int dibStride = (image.Width() * 3 + 3) & ~3;
    const std::uint8_t* bits = image.ScanLine(inside.top);
    if (image.BytesPerRow() != dibStride) {
      // The system's rows are padded to four bytes; copy when ours differ.
      rows_.resize(static_cast<std::size_t>(dibStride) * rows);
      for (int y = 0; y < rows; ++y) {
        std::copy_n(image.ScanLine(inside.top + y), image.Width() * 3, rows_.data() + static_cast<std::size_t>(y) * dibStride);
      }
      bits = rows_.data();
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = image.Width();
    info.bmiHeader.biHeight = -rows;  // top-down: the rows in the order the bitmap keeps them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    // The band of rows starts at the rectangle's top; the whole band is the
    // source, so that no bottom-up origin rule applies.
    StretchDIBits(dc, inside.left, inside.top, inside.right - inside.left, rows, inside.left, 0,
                  inside.right - inside.left, rows, bits, &info, DIB_RGB_COLORS, SRCCOPY);
  }
  // Beyond the image (a box larger than its picture) the window's face shows.
  HBRUSH face = GetSysColorBrush(COLOR_BTNFACE);
  if (area.right > image.Width()) {
    RECT right{std::max<LONG>(area.left, image.Width()), area.top, area.right, area.bottom};
    FillRect(dc, &right, face);
  }
  if (area.bottom > image.Height()) {
    RECT below{area.left, std::max<LONG>(area.top, image.Height()), std::min<LONG>(area.right, image.Width()),
               area.bottom};
    if (below.right > below.left) FillRect(dc, &below, face);
  }
}

void TWin32PaintBoxPeer::Press(TMouseButton button, WPARAM keys, LPARAM position, bool doubleClick) {
  // Moves and the release reach the box also outside it while a button is held.
  SetCapture(window_);
  TShiftState shift = ShiftOf(keys);
  if (doubleClick) shift += ssDouble;
  TPaintBox* box = &box_;
  const int x = GET_X_LPARAM(position), y = GET_Y_LPARAM(position);
  widgets_.Deliver([&] { box->MouseDown(button, shift, x, y); });
}

void TWin32PaintBoxPeer::Release(TMouseButton button, WPARAM keys, LPARAM position) {
  if ((keys & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0 && GetCapture() == window_) ReleaseCapture();
  const TShiftState shift = ShiftOf(keys);
  TPaintBox* box = &box_;
  const int x = GET_X_LPARAM(position), y = GET_Y_LPARAM(position);
  widgets_.Deliver([&] { box->MouseUp(button, shift, x, y); });
}

LRESULT TWin32PaintBoxPeer::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: Paint(window); return 0;
    case WM_ERASEBKGND: return 1;  // the image covers the box
    case WM_LBUTTONDOWN: Press(mbLeft, wParam, lParam, false); return 0;
    case WM_RBUTTONDOWN: Press(mbRight, wParam, lParam, false); return 0;
    case WM_MBUTTONDOWN: Press(mbMiddle, wParam, lParam, false); return 0;
    case WM_LBUTTONDBLCLK: Press(mbLeft, wParam, lParam, true); return 0;
    case WM_RBUTTONDBLCLK: Press(mbRight, wParam, lParam, true); return 0;
    case WM_MBUTTONDBLCLK: Press(mbMiddle, wParam, lParam, true); return 0;
    case WM_LBUTTONUP: Release(mbLeft, wParam, lParam); return 0;
    case WM_RBUTTONUP: Release(mbRight, wParam, lParam); return 0;
    case WM_MBUTTONUP: Release(mbMiddle, wParam, lParam); return 0;
    case WM_MOUSEMOVE: {
      TPaintBox* box = &box_;
      const TShiftState shift = ShiftOf(wParam);
      const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
      widgets_.Deliver([&] { box->MouseMove(shift, x, y); });
      return 0;
    }
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT) {
        // The screen cursor (the hourglass of a run) wins over the box's own.
        TCursor cursor = widgets_.ScreenCursor();
        if (cursor == crDefault) cursor = box_.Cursor();
        SetCursor(LoadCursorA(nullptr, Win32CursorName(cursor)));
        return TRUE;
      }
      break;
    default: break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK PaintBoxWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* peer = static_cast<TWin32ControlPeer*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(peer));
  }
  auto* peer = dynamic_cast<TWin32PaintBoxPeer*>(
      reinterpret_cast<TWin32ControlPeer*>(GetWindowLongPtrA(window, GWLP_USERDATA)));
  if (peer == nullptr) {
    if (message == WM_PAINT) ValidateRect(window, nullptr);
    return message == WM_PAINT ? 0 : DefWindowProcA(window, message, wParam, lParam);
  }
  LRESULT result = 0;
  bool answered = false;
  TWin32WidgetSet* widgets = CurrentWidgetSet();
  auto handle = [&] {
    result = peer->Handle(window, message, wParam, lParam);
    answered = true;
  };
  if (widgets) widgets->Deliver(handle);
  if (!answered) {
    if (message == WM_PAINT) ValidateRect(window, nullptr);
    return message == WM_PAINT ? 0 : DefWindowProcA(window, message, wParam, lParam);
  }
  return result;
}

namespace {

// ---- labels, edit and spin fields, progress bar, memo

class TWin32LabelPeer : public TWin32ControlPeer {
 public:
  TWin32LabelPeer(TWin32WidgetSet& widgets, TLabel& label, TWin32FormPeer& form)
      : TWin32ControlPeer(widgets, label, form), label_(label) {
    Create();
  }

 protected:
  const char* ClassName() const override { return "STATIC"; }
  DWORD Style() const override { return SS_LEFT; }
  void SyncOwn() override {
    char now[1024];
    GetWindowTextA(window_, now, sizeof now);
    if (label_.Caption() != now) SetText(window_, label_.Caption());
  }
  bool AutoSize() const override { return true; }

 private:
  TLabel& label_;
};

class TWin32EditPeer : public TWin32ControlPeer {
 public:
  TWin32EditPeer(TWin32WidgetSet& widgets, TEdit& edit, TWin32FormPeer& form)
      : TWin32ControlPeer(widgets, edit, form), edit_(edit) {}

  void Command(WORD code) override {
    if (code != EN_CHANGE || settingText_) return;
    // What the user typed; the program's own texts do not come back here.
    const std::string text = WindowText();
    TEdit* edit = &edit_;
    widgets_.Deliver([&] { edit->UserTyped(text); });
  }

 protected:
  const char* ClassName() const override { return "EDIT"; }
  DWORD Style() const override { return WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT; }
  DWORD ExStyle() const override { return WS_EX_CLIENTEDGE; }
  void SyncOwn() override {
    // What the user just typed is the control's text already: the field is
    // only written when the program changed it, so the caret stays put.
    if (edit_.Text() != WindowText()) SetText(window_, edit_.Text());
  }
  std::string WindowText() const {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window_)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(window_, text.data(), static_cast<int>(text.size()))));
    return text;
  }

  TEdit& edit_;
};

class TWin32PlainEditPeer : public TWin32EditPeer {
 public:
  TWin32PlainEditPeer(TWin32WidgetSet& widgets, TEdit& edit, TWin32FormPeer& form)
      : TWin32EditPeer(widgets, edit, form) {
    Create();
  }
};

// An edit field with an up-down control beside it. The field keeps the
// control's rules: what is typed stays as typed (also beyond the bounds) until
// the field loses the focus, and the arrows step through the control. The
// up-down control's own position is never used.
class TWin32SpinPeer : public TWin32EditPeer {
 public:
  TWin32SpinPeer(TWin32WidgetSet& widgets, TSpinEdit& spin, TWin32FormPeer& form)
      : TWin32EditPeer(widgets, spin, form), spin_(spin) {
    Create();
  }
  ~TWin32SpinPeer() override {
    if (arrows_) form_.UnregisterChild(arrows_);
  }

  void Command(WORD code) override {
    if (code == EN_KILLFOCUS) {
      // Leaving the field for another control of the window clamps what was
      // typed. Switching to another window or program is not leaving it: a
      // menu command or a dialog reads the value as typed.
      HWND focus = GetFocus();
      if (focus == nullptr || (focus != form_.Window() && !IsChild(form_.Window(), focus))) return;
      TSpinEdit* spin = &spin_;
      widgets_.Deliver([spin] { spin->Exit(); });
      return;
    }
    TWin32EditPeer::Command(code);
  }

  LRESULT Notify(NMHDR* header) override {
    if (header->code != UDN_DELTAPOS) return 0;
    const int delta = reinterpret_cast<NMUPDOWN*>(header)->iDelta;
    TSpinEdit* spin = &spin_;
    if (delta != 0) {
      widgets_.Deliver([spin, delta] {
        for (int i = 0; i < std::abs(delta); ++i) delta > 0 ? spin->StepUp() : spin->StepDown();
      });
    }
    return TRUE;  // the arrows' own position stays
  }

 protected:
  void AfterCreate() override {
    arrows_ = CreateWindowExA(0, UPDOWN_CLASSA, nullptr,
                              WS_CHILD | (control_.Visible() ? WS_VISIBLE : 0) | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0, 0,
                              0, 0, form_.Window(), nullptr, ModuleInstance(), nullptr);
    if (arrows_ == nullptr) return;
    SendMessageA(arrows_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(window_), 0);
    // Room to step both ways from the middle: the arrows always report a step.
    SendMessageA(arrows_, UDM_SETRANGE32, static_cast<WPARAM>(-1000000), 1000000);
    SendMessageA(arrows_, UDM_SETPOS32, 0, 0);
    form_.RegisterChild(arrows_, this);
  }
  void DestroyExtra() override {
    if (!arrows_) return;
    form_.UnregisterChild(arrows_);
    DestroyWindow(arrows_);
    arrows_ = nullptr;
  }
  void SyncBounds(const RECT& r) override {
    const int arrowWidth = std::min<int>(GetSystemMetrics(SM_CXVSCROLL) + 1, (r.right - r.left) / 2);
    MoveWindow(window_, r.left, r.top, r.right - r.left - arrowWidth, r.bottom - r.top, TRUE);
    if (arrows_) MoveWindow(arrows_, r.right - arrowWidth, r.top, arrowWidth, r.bottom - r.top, TRUE);
  }
  void SyncOwn() override {
    TWin32EditPeer::SyncOwn();
    if (!arrows_) return;
    if ((IsWindowEnabled(arrows_) != FALSE) != control_.Enabled()) EnableWindow(arrows_, control_.Enabled());
    const bool shown = (GetWindowLongPtrA(arrows_, GWL_STYLE) & WS_VISIBLE) != 0;
    if (shown != control_.Visible()) ShowWindow(arrows_, control_.Visible() ? SW_SHOWNA : SW_HIDE);
  }

 private:
  TSpinEdit& spin_;
  HWND arrows_ = nullptr;
};

class TWin32ProgressPeer : public TWin32ControlPeer {
 public:
  TWin32ProgressPeer(TWin32WidgetSet& widgets, TProgressBar& bar, TWin32FormPeer& form)
      : TWin32ControlPeer(widgets, bar, form), bar_(bar) {
    Create();
  }

 protected:
  const char* ClassName() const override { return PROGRESS_CLASSA; }
  void SyncOwn() override {
    const int mx = std::max(bar_.Min(), bar_.Max());
    if (bar_.Min() != min_ || mx != max_) {
      min_ = bar_.Min();
      max_ = mx;
      SendMessageA(window_, PBM_SETRANGE32, static_cast<WPARAM>(min_), static_cast<LPARAM>(max_));
    }
    if (static_cast<int>(SendMessageA(window_, PBM_GETPOS, 0, 0)) != bar_.Position()) {
      SendMessageA(window_, PBM_SETPOS, static_cast<WPARAM>(bar_.Position()), 0);
    }
  }

 private:
  TProgressBar& bar_;
  int min_ = INT_MIN, max_ = INT_MIN;
};

class TWin32MemoPeer : public TWin32ControlPeer {
 public:
  TWin32MemoPeer(TWin32WidgetSet& widgets, TMemo& memo, TWin32FormPeer& form)
      : TWin32ControlPeer(widgets, memo, form), memo_(memo) {
    Create();
  }

 protected:
  const char* ClassName() const override { return "EDIT"; }
  DWORD Style() const override {
    const TScrollStyle s = memo_.ScrollBars();
    const bool horizontal = s == ssHorizontal || s == ssBoth;
    const bool vertical = s == ssVertical || s == ssBoth;
    // Lines are wrapped only where no horizontal scroll bar could reach their ends.
    return WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | (horizontal ? ES_AUTOHSCROLL | WS_HSCROLL : 0) |
           (vertical ? WS_VSCROLL : 0) | (memo_.WantReturns() ? ES_WANTRETURN : 0);
  }
  DWORD ExStyle() const override { return WS_EX_CLIENTEDGE; }
  // Read-only, but a page to read: the system's window colour, not the
  // grey of a disabled field.
  HBRUSH StaticBackground(HDC dc) override {
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    return GetSysColorBrush(COLOR_WINDOW);
  }
  void SyncOwn() override {
    // A memo is filled line by line: one rewrite per line, none when nothing changed.
    std::string text;
    for (std::size_t i = 0; i < memo_.Lines().size(); ++i) {
      if (i) text += "\r\n";
      text += memo_.Lines()[i];
    }
    if (text != shown_ || !created_) {
      shown_ = text;
      created_ = true;
      SetText(window_, text);
    }
  }
  void AfterCreate() override { created_ = false; }

 private:
  TMemo& memo_;
  std::string shown_;
  bool created_ = false;
};

}  // namespace

std::unique_ptr<TPeer> MakeControlPeer(TWin32WidgetSet& widgets, TControl& control, TWin32FormPeer& form) {
  if (auto* box = dynamic_cast<TPaintBox*>(&control)) return std::make_unique<TWin32PaintBoxPeer>(widgets, *box, form);
  if (auto* spin = dynamic_cast<TSpinEdit*>(&control)) return std::make_unique<TWin32SpinPeer>(widgets, *spin, form);
  if (auto* edit = dynamic_cast<TEdit*>(&control)) return std::make_unique<TWin32PlainEditPeer>(widgets, *edit, form);
  if (auto* label = dynamic_cast<TLabel*>(&control)) return std::make_unique<TWin32LabelPeer>(widgets, *label, form);
  if (auto* bar = dynamic_cast<TProgressBar*>(&control)) return std::make_unique<TWin32ProgressPeer>(widgets, *bar, form);
  if (auto* memo = dynamic_cast<TMemo*>(&control)) return std::make_unique<TWin32MemoPeer>(widgets, *memo, form);
  return nullptr;
}

}  // namespace planora
