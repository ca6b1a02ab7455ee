#include "platform/win32/win32widgetset.h"
// after windows.h
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <fstream>

#include "platform/sysutils.h"
#include "platform/win32/win32dialogs.h"
#include "platform/win32/win32peers.h"

namespace planora {

namespace {

// The one widget set, for the thread timer's procedure (a timer without a
// window carries no pointer of ours).
TWin32WidgetSet* gWidgetSet = nullptr;

TWin32FormPeer* FormPeer(const TForm& form) { return dynamic_cast<TWin32FormPeer*>(form.Peer()); }

void RequireInterfaceThread(DWORD thread, const char* what) {
  if (GetCurrentThreadId() != thread) {
    throw Exception(std::string(what) + " is only possible on the user-interface thread");
  }
}

bool IsTypewriterFamily(const std::string& name) {
  std::string n = name;
  std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* family : {"courier", "mono", "consol", "fixedsys", "terminal", "lucida console", "typewriter"}) {
    if (n.find(family) != std::string::npos) return true;
  }
  return false;
}

BOOL CALLBACK CollectEnabledWindow(HWND window, LPARAM list) {
  auto* state = reinterpret_cast<TWin32WidgetSet::TModalState*>(list);
  if (window != state->Window && IsWindowVisible(window) && IsWindowEnabled(window)) {
    state->Disabled.push_back(window);
  }
  return TRUE;
}

}  // namespace

TWin32WidgetSet* CurrentWidgetSet() { return gWidgetSet; }

LPCSTR Win32CursorName(TCursor cursor) {
  switch (cursor) {
    case crCross: return IDC_CROSS;
    case crIBeam: return IDC_IBEAM;
    case crSizeNESW: return IDC_SIZENESW;
    case crSizeNS: return IDC_SIZENS;
    case crSizeNWSE: return IDC_SIZENWSE;
    case crSizeWE: return IDC_SIZEWE;
    case crHourGlass: return IDC_WAIT;
    case crSizeAll: return IDC_SIZEALL;
    default: return IDC_ARROW;
  }
}

TWin32WidgetSet::TWin32WidgetSet() : thread_(GetCurrentThreadId()) {
  if (gWidgetSet != nullptr) throw Exception("Only one Win32 widget set can exist at a time");
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  RegisterWindowClasses();
  gWidgetSet = this;
}

TWin32WidgetSet::~TWin32WidgetSet() {
  if (tickTimer_ != 0) KillTimer(nullptr, tickTimer_);
  // Windows freed from their own messages wait for a message loop to go;
  // the last chance for that is now.
  for (HWND window : dying_) {
    if (IsWindow(window)) DestroyWindow(window);
  }
  for (auto& [key, font] : fonts_) DeleteObject(font);
  UnregisterWindowClasses();
  if (gWidgetSet == this) gWidgetSet = nullptr;
}

// ---- hooks

HWND TWin32WidgetSet::WindowOf(const TForm& form) const {
  TWin32FormPeer* peer = FormPeer(form);
  return peer ? peer->Window() : nullptr;
}

HWND TWin32WidgetSet::WindowOf(const TControl& control) const { return ControlWindow(control.Peer()); }

HWND TWin32WidgetSet::DialogWindow() const { return dialogs_.empty() ? nullptr : dialogs_.back()->Window(); }

bool TWin32WidgetSet::AnswerOpenDialog(int modalResult) {
  return !dialogs_.empty() && dialogs_.back()->Press(modalResult);
}

bool TWin32WidgetSet::SaveWindowBitmap(const TForm& form, const std::string& path) const {
  HWND window = WindowOf(form);
  if (window == nullptr || !IsWindowVisible(window)) return false;
  RECT r;
  GetWindowRect(window, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return false;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as the file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetWindowDC(window);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = section != nullptr;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, section);
    // What is on the screen; a window the system cannot read from is asked
    // to draw itself instead.
    if (!BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY)) {
      ok = PrintWindow(window, memory, 0) != FALSE;
    }
    GdiFlush();
    SelectObject(memory, old);
  }
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
  const std::size_t imageBytes = stride * static_cast<std::size_t>(height);
  if (ok) {
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = static_cast<DWORD>(file.bfOffBits + imageBytes);
    info.bmiHeader.biSizeImage = static_cast<DWORD>(imageBytes);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(BITMAPINFOHEADER));
    out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(imageBytes));
    ok = static_cast<bool>(out);
  }
  if (section) DeleteObject(section);
  DeleteDC(memory);
  ReleaseDC(window, screen);
  return ok;
}

void TWin32WidgetSet::SetIdleTick(std::function<void()> tick, unsigned milliseconds) {
  RequireInterfaceThread(thread_, "The idle tick");
  if (tickTimer_ != 0) {
    KillTimer(nullptr, tickTimer_);
    tickTimer_ = 0;
  }
  tick_ = std::move(tick);
  if (tick_) tickTimer_ = SetTimer(nullptr, 0, std::max(1u, milliseconds), &TWin32WidgetSet::TickProc);
}

void CALLBACK TWin32WidgetSet::TickProc(HWND, UINT, UINT_PTR timer, DWORD) {
  TWin32WidgetSet* self = gWidgetSet;
  if (self == nullptr || timer != self->tickTimer_ || !self->tick_ || self->ticking_) return;
  self->ticking_ = true;
  // The tick may replace itself: run a copy.
  std::function<void()> tick = self->tick_;
  self->Deliver(tick);
  self->ticking_ = false;
}

// ---- windows

void TWin32WidgetSet::ShowForm(TForm& form, bool modal) {
  RequireInterfaceThread(thread_, "Showing a window");
  TWin32FormPeer* peer = FormPeer(form);
  if (peer == nullptr) {
    auto made = std::make_unique<TWin32FormPeer>(*this, form);
    peer = made.get();
    form.SetPeer(std::move(made));
  }
  peer->AddControlPeers();
  if (modal) {
    auto known = std::find_if(modalForms_.begin(), modalForms_.end(), [&](const auto& m) { return m.first == &form; });
    if (known == modalForms_.end()) modalForms_.emplace_back(&form, BeginModal(peer->Window()));
  }
  peer->Show(modal);
  RethrowPending();
}

void TWin32WidgetSet::HideForm(TForm& form) {
  RequireInterfaceThread(thread_, "Hiding a window");
  // The other windows come back before this one goes, so that the system
  // activates one of them and not some other program's window.
  auto modal = std::find_if(modalForms_.begin(), modalForms_.end(), [&](const auto& m) { return m.first == &form; });
  TModalState state;
  bool wasModal = modal != modalForms_.end();
  if (wasModal) {
    state = std::move(modal->second);
    modalForms_.erase(modal);
    for (HWND w : state.Disabled) {
      if (IsWindow(w)) EnableWindow(w, TRUE);
    }
  }
  if (TWin32FormPeer* peer = FormPeer(form)) peer->Hide();
  if (wasModal) {
    state.Disabled.clear();
    EndModal(state);
  }
}

void TWin32WidgetSet::FormDestroyed(TForm& form) {
  if (std::any_of(modalForms_.begin(), modalForms_.end(), [&](const auto& m) { return m.first == &form; })) {
    HideForm(form);
  }
  if (TWin32FormPeer* peer = FormPeer(form)) peer->Detach();
}

void TWin32WidgetSet::DestroyLater(HWND window) {
  if (window == nullptr) return;
  dying_.push_back(window);
  // Destroyed from the queue: by then the message that freed the object has
  // returned. The window's procedure does it, so that the system's own
  // modal loops (a menu, a moving window) deliver it as well.
  PostMessageA(window, kDestroyLaterMessage, 0, 0);
}

void TWin32WidgetSet::WindowGone(HWND window) {
  dying_.erase(std::remove(dying_.begin(), dying_.end(), window), dying_.end());
}

TWin32WidgetSet::TModalState TWin32WidgetSet::BeginModal(HWND window) {
  TModalState state;
  state.Window = window;
  // A button held on a paint box must not keep its mouse input past the
  // disabled window.
  ReleaseCapture();
  state.Focus = GetFocus();
  state.Active = GetActiveWindow();
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow, reinterpret_cast<LPARAM>(&state));
  for (HWND w : state.Disabled) EnableWindow(w, FALSE);
  return state;
}

void TWin32WidgetSet::EndModal(TModalState& state) {
  for (HWND w : state.Disabled) {
    if (IsWindow(w)) EnableWindow(w, TRUE);
  }
  state.Disabled.clear();
  if (state.Active && IsWindow(state.Active) && IsWindowVisible(state.Active)) SetActiveWindow(state.Active);
  if (state.Focus && IsWindow(state.Focus) && IsWindowVisible(state.Focus)) SetFocus(state.Focus);
}

void TWin32WidgetSet::PopDialog(TWin32MessageDialog* dialog) {
  dialogs_.erase(std::remove(dialogs_.begin(), dialogs_.end(), dialog), dialogs_.end());
}

// ---- message loops

void TWin32WidgetSet::Dispatch(MSG& msg) {
  // Tab, Enter and Escape in a message dialog.
  for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it) {
    HWND dialog = (*it)->Window();
    if (dialog && (msg.hwnd == dialog || IsChild(dialog, msg.hwnd)) && IsDialogMessageA(dialog, &msg)) return;
  }
  // Tab moves between the fields of a window, as in a dialog.
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB && msg.hwnd != nullptr) {
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    char name[32] = {};
    if (root != nullptr && root != msg.hwnd && GetClassNameA(root, name, sizeof name) &&
        std::string(name) == kFormClass && IsDialogMessageA(root, &msg)) {
      return;
    }
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void TWin32WidgetSet::HandleMessage() {
  RethrowPending();
  MSG msg;
  const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
  if (got == 0) {
    // The thread is asked to end: the caller's own loop must see it too.
    PostQuitMessage(static_cast<int>(msg.wParam));
    throw Exception("The application is ending");
  }
  if (got > 0) Dispatch(msg);
  RethrowPending();
}

void TWin32WidgetSet::ProcessMessages() {
  RethrowPending();
  // Paints and timer ticks come back as long as something invalidates or
  // time passes: workers drawing all the while would keep this loop going.
  // Each window is painted and each timer ticks at most once per call; the
  // next comes with the next call.
  std::vector<HWND> painted;
  std::vector<UINT_PTR> ticked;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (msg.message == WM_PAINT) {
      if (std::find(painted.begin(), painted.end(), msg.hwnd) != painted.end()) break;
      painted.push_back(msg.hwnd);
    } else if (msg.message == WM_TIMER) {
      if (std::find(ticked.begin(), ticked.end(), msg.wParam) != ticked.end()) break;
      ticked.push_back(msg.wParam);
    }
    Dispatch(msg);
    if (HasPending()) break;
  }
  RethrowPending();
}

int TWin32WidgetSet::MessageDlg(const std::string& caption, const std::string& text, TMsgDlgType type,
                                const TMsgDlgButtons& buttons) {
  RequireInterfaceThread(thread_, "A message dialog");
  int result = mrCancel;
  {
    TWin32MessageDialog dialog(*this, caption, text, type, buttons);
    result = dialog.Run();
  }
  RethrowPending();
  return result;
}

void TWin32WidgetSet::SetScreenCursor(TCursor cursor) {
  RequireInterfaceThread(thread_, "Setting the screen cursor");
  screenCursor_ = cursor;
  // The window under the pointer chooses its cursor again, as the system
  // asks it to when the pointer moves; the pointer itself stays where it is,
  // so that no mouse move reaches the program.
  POINT p;
  if (!GetCursorPos(&p)) return;
  HWND under = WindowFromPoint(p);
  if (under == nullptr || GetWindowThreadProcessId(under, nullptr) != thread_) return;
  const LRESULT hit = SendMessageA(under, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
  SendMessageA(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(LOWORD(hit), WM_MOUSEMOVE));
}

TRect TWin32WidgetSet::WorkArea() const {
  RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0);
  return TRect{r.left, r.top, r.right, r.bottom};
}

HFONT TWin32WidgetSet::Font(const TFont& font) {
  const auto key = std::make_pair(font.Name, font.Height);
  auto it = fonts_.find(key);
  if (it != fonts_.end()) return it->second;
  const bool typewriter = IsTypewriterFamily(font.Name);
  // Windows picks the closest font it has; the pitch and family tell it
  // what to fall back to for a name it does not know.
  HFONT made = CreateFontA(font.Height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           typewriter ? (FIXED_PITCH | FF_MODERN) : (DEFAULT_PITCH | FF_SWISS), font.Name.c_str());
  if (made == nullptr) made = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  fonts_.emplace(key, made);
  return made;
}

}  // namespace planora
