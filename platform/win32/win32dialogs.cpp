// Message dialogs: a modal window of our own with the framework's captions
// and button texts, in the order the framework lists the buttons.
#include "platform/win32/win32dialogs.h"

#include <algorithm>

#include "platform/win32/win32peers.h"

namespace planora {

namespace {

constexpr int kMargin = 12;
constexpr int kIconSize = 32;
constexpr int kButtonHeight = 25;
constexpr int kButtonMinWidth = 75;
constexpr int kButtonGap = 8;
constexpr int kMaxTextWidth = 420;
// Button identifiers stay clear of IDOK and IDCANCEL, which the dialog
// manager sends for Enter and Escape.
constexpr int kFirstButtonId = 1000;

LPCSTR IconOf(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return IDI_WARNING;
    case mtError: return IDI_ERROR;
    case mtInformation: return IDI_INFORMATION;
    case mtConfirmation: return IDI_QUESTION;
    case mtCustom: break;
  }
  return nullptr;
}

SIZE TextSize(HDC dc, const std::string& text, int maxWidth) {
  RECT r{0, 0, maxWidth, 0};
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

SIZE LabelSize(HDC dc, const std::string& caption) {
  RECT r{0, 0, 0, 0};
  DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &r, DT_CALCRECT | DT_SINGLELINE);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

}  // namespace

TMsgDlgBtn EscapeButton(const TMsgDlgButtons& buttons) {
  if (buttons.Contains(mbCancel)) return mbCancel;
  if (buttons.Contains(mbNo)) return mbNo;
  return mbOK;
}

TWin32MessageDialog::TWin32MessageDialog(TWin32WidgetSet& widgets, const std::string& caption, const std::string& text,
                                         TMsgDlgType type, const TMsgDlgButtons& buttons)
    : widgets_(widgets), default_(MsgDlgDefaultButton(buttons)), escape_(EscapeButton(buttons)) {
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    font_ = CreateFontIndirectA(&metrics.lfMessageFont);
  }
  // Above the window that is active now (a modal window or the host's).
  owner_ = GetActiveWindow();
  window_ = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kMessageDialogClass, caption.c_str(),
                            WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, 100,
                            100, owner_, nullptr, ModuleInstance(), this);
  if (window_ == nullptr) return;

  std::vector<TMsgDlgBtn> list = buttons.List();
  if (list.empty()) list.push_back(mbOK);
  if (!buttons.Contains(default_)) default_ = list.front();
  if (!std::count(list.begin(), list.end(), escape_)) escape_ = default_;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const int id = kFirstButtonId + static_cast<int>(i);
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (list[i] == default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    HWND button = CreateWindowExA(0, "BUTTON", MsgDlgButtonCaption(list[i]).c_str(), style, 0, 0, 10, 10, window_,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleInstance(), nullptr);
    buttons_.push_back(Button{list[i], button, id});
  }
  Layout(text, type);
}

TWin32MessageDialog::~TWin32MessageDialog() {
  if (window_ != nullptr) {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  if (font_) DeleteObject(font_);
}

void TWin32MessageDialog::Layout(const std::string& text, TMsgDlgType type) {
  HINSTANCE instance = ModuleInstance();
  HDC dc = GetDC(window_);
  HGDIOBJ oldFont = SelectObject(dc, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
  const SIZE textSize = TextSize(dc, text, kMaxTextWidth);
  std::vector<int> widths;
  for (const Button& b : buttons_) {
    widths.push_back(std::max<int>(kButtonMinWidth, LabelSize(dc, MsgDlgButtonCaption(b.Kind)).cx + 20));
  }
  SelectObject(dc, oldFont);
  ReleaseDC(window_, dc);

  const LPCSTR iconName = IconOf(type);
  const int iconSpace = iconName ? kIconSize + kMargin : 0;
  int buttonsWidth = 0;
  for (int w : widths) buttonsWidth += w;
  buttonsWidth += kButtonGap * static_cast<int>(widths.size() > 0 ? widths.size() - 1 : 0);
  const int clientWidth = std::max<int>(iconSpace + textSize.cx, buttonsWidth) + 2 * kMargin;
  const int bodyHeight = std::max<int>(iconName ? kIconSize : 0, textSize.cy);
  const int clientHeight = kMargin + bodyHeight + kMargin + kButtonHeight + kMargin;

  WPARAM font = reinterpret_cast<WPARAM>(font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
  if (iconName) {
    HWND icon = CreateWindowExA(0, "STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, kMargin, kMargin, kIconSize,
                                kIconSize, window_, nullptr, instance, nullptr);
    SendMessageA(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, iconName)), 0);
  }
  const int textTop = kMargin + (bodyHeight - textSize.cy) / 2;
  HWND label = CreateWindowExA(0, "STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                               kMargin + iconSpace, textTop, textSize.cx, textSize.cy, window_, nullptr, instance,
                               nullptr);
  SendMessageA(label, WM_SETFONT, font, FALSE);
  int x = (clientWidth - buttonsWidth) / 2;
  const int y = clientHeight - kMargin - kButtonHeight;
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    SendMessageA(buttons_[i].Window, WM_SETFONT, font, FALSE);
    MoveWindow(buttons_[i].Window, x, y, widths[i], kButtonHeight, FALSE);
    x += widths[i] + kButtonGap;
  }

  RECT outer{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrA(window_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(window_, GWL_EXSTYLE)));
  const int width = outer.right - outer.left, height = outer.bottom - outer.top;
  // Centred over the owner when there is one on the screen, else in the work area.
  RECT area;
  if (!(owner_ && IsWindowVisible(owner_) && !IsIconic(owner_) && GetWindowRect(owner_, &area))) {
    const TRect work = widgets_.WorkArea();
    area = RECT{work.Left, work.Top, work.Right, work.Bottom};
  }
  const int left = area.left + (area.right - area.left - width) / 2;
  const int top = area.top + (area.bottom - area.top - height) / 2;
  SetWindowPos(window_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

int TWin32MessageDialog::Run() {
  if (window_ == nullptr) return mrCancel;
  widgets_.PushDialog(this);
  TWin32WidgetSet::TModalState modal = TWin32WidgetSet::BeginModal(window_);
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  for (const Button& b : buttons_) {
    if (b.Kind == default_) SetFocus(b.Window);
  }
  while (!done_) {
    MSG msg;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      // The thread is asked to end: leave, and let the caller's loop see it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got > 0) widgets_.Dispatch(msg);
  }
  widgets_.PopDialog(this);
  // The other windows come back before the dialog goes, so that the system
  // activates one of them and not some other program's window.
  for (HWND w : modal.Disabled) {
    if (IsWindow(w)) EnableWindow(w, TRUE);
  }
  modal.Disabled.clear();
  if (window_ != nullptr) {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    window_ = nullptr;
  }
  TWin32WidgetSet::EndModal(modal);
  return result_;
}

bool TWin32MessageDialog::Press(int modalResult) {
  for (const Button& b : buttons_) {
    if (MsgDlgButtonResult(b.Kind) == modalResult && IsWindow(b.Window)) {
      SendMessageA(b.Window, BM_CLICK, 0, 0);
      return true;
    }
  }
  return false;
}

void TWin32MessageDialog::Answer(TMsgDlgBtn button) {
  result_ = MsgDlgButtonResult(button);
  done_ = true;
}

LRESULT TWin32MessageDialog::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      for (const Button& b : buttons_) {
        if (b.Id == id) {
          Answer(b.Kind);
          return 0;
        }
      }
      if (id == IDCANCEL) Answer(escape_);
      if (id == IDOK) Answer(default_);
      return 0;
    }
    case DM_GETDEFID:
      for (const Button& b : buttons_) {
        if (b.Kind == default_) return MAKELRESULT(b.Id, DC_HASDEFID);
      }
      return 0;
    case WM_CLOSE:
      Answer(escape_);
      return 0;
    case WM_DESTROY:
      // Gone with its owner: the dialog ends without an answer of its own.
      if (!done_) {
        done_ = true;
        result_ = mrCancel;
      }
      window_ = nullptr;
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK TWin32MessageDialog::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* dialog = static_cast<TWin32MessageDialog*>(create->lpCreateParams);
    dialog->window_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(dialog));
  }
  auto* self = reinterpret_cast<TWin32MessageDialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  LRESULT result = 0;
  self->widgets_.Deliver([&] { result = self->Handle(window, message, wParam, lParam); });
  return result;
}

}  // namespace planora
