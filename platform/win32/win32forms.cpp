// Windows as top-level windows: caption, bounds and frame, border icons,
// window state and position, the main menu, anchored controls and the close box.
#include <algorithm>
#include <cmath>
#include <functional>

#include "platform/sysutils.h"
#include "platform/win32/win32dialogs.h"
#include "platform/win32/win32peers.h"

namespace planora {

namespace {

// Menu command identifiers: never reused soon, so that a command that
// arrives after a rebuild of the menu finds no item instead of another one.
UINT gNextMenuId = 100;
constexpr UINT kLastMenuId = 0xEFFF;  // below the system's own commands

UINT NextMenuId() {
  if (gNextMenuId >= kLastMenuId) gNextMenuId = 100;
  return gNextMenuId++;
}

// The frame around the client area, from the window as the system has it
// now (the top includes the caption and the menu bar).
TRect FrameOf(HWND window) {
  RECT outer, client;
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  return TRect{origin.x - outer.left, origin.y - outer.top, outer.right - (origin.x + client.right),
               outer.bottom - (origin.y + client.bottom)};
}

}  // namespace

HINSTANCE ModuleInstance() {
  // The module this code is in: the plug-in's DLL, not the host's program.
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ModuleInstance), &module);
  return module;
}

void RegisterWindowClasses() {
  HINSTANCE instance = ModuleInstance();
  WNDCLASSEXA known{};
  known.cbSize = sizeof known;
  if (GetClassInfoExA(instance, kFormClass, &known)) return;
  WNDCLASSEXA form{};
  form.cbSize = sizeof form;
  form.lpfnWndProc = &TWin32FormPeer::WindowProc;
  form.hInstance = instance;
  form.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  form.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  form.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  form.lpszClassName = kFormClass;
  RegisterClassExA(&form);

  WNDCLASSEXA box{};
  box.cbSize = sizeof box;
  // Double clicks arrive as such (ssDouble); the box paints every pixel itself.
  box.style = CS_DBLCLKS;
  box.lpfnWndProc = &PaintBoxWindowProc;
  box.hInstance = instance;
  box.lpszClassName = kPaintBoxClass;
  RegisterClassExA(&box);

  WNDCLASSEXA dialog{};
  dialog.cbSize = sizeof dialog;
  dialog.lpfnWndProc = &TWin32MessageDialog::WindowProc;
  dialog.hInstance = instance;
  dialog.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  dialog.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  dialog.lpszClassName = kMessageDialogClass;
  RegisterClassExA(&dialog);
}

void UnregisterWindowClasses() {
  // The system keeps a DLL's classes after the DLL is unloaded: a host that
  // loads the plug-in again would get window procedures that are gone.
  HINSTANCE instance = ModuleInstance();
  for (const char* name : {kFormClass, kPaintBoxClass, kMessageDialogClass}) UnregisterClassA(name, instance);
}

// ---- TWin32FormPeer

TWin32FormPeer::TWin32FormPeer(TWin32WidgetSet& widgets, TForm& form) : widgets_(widgets), form_(&form) {
  // The controls stand where their window put them, relative to the client area.
  anchorBase_ = SIZE{form.ClientWidth(), form.ClientHeight()};
}

TWin32FormPeer::~TWin32FormPeer() {
  Detach();
  if (background_) DeleteObject(background_);
}

void TWin32FormPeer::Detach() {
  if (window_) {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    ShowWindow(window_, SW_HIDE);
    widgets_.DestroyLater(window_);
    window_ = nullptr;
  }
  children_.clear();
  entries_.clear();
  form_ = nullptr;
}

DWORD TWin32FormPeer::Style() const {
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN;
  const TBorderIcons icons = form_->BorderIcons();
  // Minimize and maximize boxes show only beside a system menu, as on the desktop.
  if (icons & biSystemMenu) style |= WS_SYSMENU;
  if (icons & biMinimize) style |= WS_MINIMIZEBOX;
  if (icons & biMaximize) style |= WS_MAXIMIZEBOX;
  return style;
}

void TWin32FormPeer::CreateWindowHandle() {
  // A modal window stays above the window that was active (the host's).
  HWND owner = form_->Modal() ? GetActiveWindow() : nullptr;
  style_ = Style();
  ++applying_;
  CreateWindowExA(WS_EX_CONTROLPARENT, kFormClass, form_->Caption().c_str(), style_, form_->Left(), form_->Top(),
                  std::max(1, form_->Width()), std::max(1, form_->Height()), owner, nullptr, ModuleInstance(),
                  this);
  --applying_;
  if (window_ == nullptr) throw Exception("The window " + form_->Name() + " cannot be created");
  applied_ = TRect{form_->Left(), form_->Top(), form_->Left() + form_->Width(), form_->Top() + form_->Height()};
}

void TWin32FormPeer::AddControlPeers() {
  if (!form_) return;
  if (!window_) {
    CreateWindowHandle();
    SyncMenu();
  }
  for (const auto& control : form_->Controls()) {
    if (control->Peer() == nullptr) {
      if (auto peer = MakeControlPeer(widgets_, *control, *this)) control->SetPeer(std::move(peer));
    }
  }
}

void TWin32FormPeer::Sync() {
  if (!form_ || !window_) return;
  SyncWindow();
  SyncMenu();
  if (!readingBack_) ApplyGeometry();
}

void TWin32FormPeer::SyncWindow() {
  ++applying_;
  char current[512];
  GetWindowTextA(window_, current, sizeof current);
  if (form_->Caption() != current) SetWindowTextA(window_, form_->Caption().c_str());

  const DWORD style = Style();
  if (style != style_) {
    const DWORD mask = WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    style_ = style;
    const LONG_PTR now = GetWindowLongPtrA(window_, GWL_STYLE);
    SetWindowLongPtrA(window_, GWL_STYLE, (now & ~static_cast<LONG_PTR>(mask)) | (style & mask));
    SetWindowPos(window_, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  // While the system's changes are read back, the system's state stands.
  bool stateChanged = false;
  if (IsWindowVisible(window_) && !readingBack_) {
    const TWindowState shown = ShownState();
    if (shown != form_->WindowState()) {
      stateChanged = true;
      switch (form_->WindowState()) {
        case wsMaximized: ShowWindow(window_, SW_MAXIMIZE); break;
        case wsMinimized: ShowWindow(window_, SW_MINIMIZE); break;
        case wsNormal: ShowWindow(window_, SW_RESTORE); break;
      }
      if (IsZoomed(window_)) RememberMaximized();
    }
  }

  // The button face is the system's colour: the class brush stays.
  if (form_->Color() != backgroundColor_) {
    backgroundColor_ = form_->Color();
    if (background_) DeleteObject(background_);
    background_ = backgroundColor_ == clBtnFace
                      ? nullptr
                      : CreateSolidBrush(RGB(ColorRed(backgroundColor_), ColorGreen(backgroundColor_),
                                             ColorBlue(backgroundColor_)));
    InvalidateRect(window_, nullptr, TRUE);
  }
  --applying_;
  // The size the system gave the window in its new state is the window's.
  if (stateChanged) ReadBack();
}

// ---- menu

void TWin32FormPeer::SyncMenu() {
  std::vector<TMenuShape> shape = MenuShapeOf(form_->MainMenu());
  if (shape != menuShape_) {
    if (inMenuLoop_) {
      // The system is showing the old menu: it is replaced once it is closed.
      rebuildAfterMenuLoop_ = true;
    } else {
      menuShape_ = std::move(shape);
      BuildMenu();
      return;
    }
  }
  // Captions, check marks and enabled states in place.
  bool barChanged = false;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const MenuEntry& e = entries_[i];
    if (e.Item->IsSeparator()) continue;
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
    char text[256] = {};
    info.dwTypeData = text;
    info.cch = sizeof text - 1;
    if (!GetMenuItemInfoA(e.Container, e.Id, FALSE, &info)) continue;
    const bool radio = (info.fType & MFT_RADIOCHECK) != 0;
    const bool checked = (info.fState & MFS_CHECKED) != 0;
    const bool enabled = (info.fState & MFS_DISABLED) == 0;
    if (radio != e.Item->RadioItem() || checked != e.Item->Checked() || enabled != e.Item->Enabled() ||
        e.Item->Caption() != text) {
      UpdateItem(*e.Item, e.Container, e.Id);
      if (e.Container == menu_) barChanged = true;
    }
  }
  if (barChanged) DrawMenuBar(window_);
}

void TWin32FormPeer::UpdateItem(const TMenuItem& item, HMENU menu, UINT id) {
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
  // A radio item shows the bullet instead of the tick when checked.
  info.fType = MFT_STRING | (item.RadioItem() ? MFT_RADIOCHECK : 0);
  info.fState = (item.Checked() ? MFS_CHECKED : MFS_UNCHECKED) | (item.Enabled() ? MFS_ENABLED : MFS_DISABLED);
  std::string caption = item.Caption();
  info.dwTypeData = caption.data();
  info.cch = static_cast<UINT>(caption.size());
  SetMenuItemInfoA(menu, id, FALSE, &info);
}

void TWin32FormPeer::BuildMenu() {
  entries_.clear();
  HMENU old = menu_;
  menu_ = nullptr;
  if (form_->HasMenu()) {
    menu_ = CreateMenu();
    BuildItems(form_->MainMenu(), menu_);
  }
  ++applying_;
  SetMenu(window_, menu_);
  --applying_;
  if (old) DestroyMenu(old);
  // The menu bar is part of the frame the window's layout reckons with.
  if (IsWindowVisible(window_)) {
    ReadBack();
  } else {
    form_->SetFrameExtents(FrameOf(window_));
  }
}

void TWin32FormPeer::BuildItems(const TMenuItem& parent, HMENU menu) {
  for (const auto& owned : parent.Items()) {
    const TMenuItem& item = *owned;
    const UINT id = NextMenuId();
    if (item.IsSeparator()) {
      AppendMenuA(menu, MF_SEPARATOR, id, nullptr);
      entries_.push_back(MenuEntry{&item, menu, id, nullptr});
      continue;
    }
    HMENU submenu = nullptr;
    if (!item.Items().empty()) {
      submenu = CreatePopupMenu();
      BuildItems(item, submenu);
    }
    // Captions keep '&' as the mnemonic marker, as the system's menus do.
    AppendMenuA(menu, MF_STRING | (submenu ? MF_POPUP : 0), submenu ? reinterpret_cast<UINT_PTR>(submenu) : id,
                item.Caption().c_str());
    // A popup's identifier is its menu handle; give it ours, so that every
    // entry is found by command.
    if (submenu) {
      MENUITEMINFOA info{};
      info.cbSize = sizeof info;
      info.fMask = MIIM_ID;
      info.wID = id;
      SetMenuItemInfoA(menu, static_cast<UINT>(GetMenuItemCount(menu) - 1), TRUE, &info);
    }
    UpdateItem(item, menu, id);
    entries_.push_back(MenuEntry{&item, menu, id, submenu});
  }
}

void TWin32FormPeer::MenuCommand(UINT id) {
  for (const MenuEntry& e : entries_) {
    if (e.Id == id && !e.Submenu) {
      auto* item = const_cast<TMenuItem*>(e.Item);
      // The command may free the window and this peer with it: nothing of
      // either is touched after it.
      widgets_.Deliver([item] { item->Click(); });
      return;
    }
  }
}

void TWin32FormPeer::PopupOpening(HMENU popup) {
  for (const MenuEntry& e : entries_) {
    if (e.Submenu == popup) {
      // Opening a submenu is its item's click, as on the desktop: programs
      // set the check marks of the items below there.
      auto* item = const_cast<TMenuItem*>(e.Item);
      widgets_.Deliver([item] { item->Click(); });
      return;
    }
  }
}

// ---- geometry

void TWin32FormPeer::ApplyGeometry() {
  if (!form_ || !window_) return;
  const TRect bounds{form_->Left(), form_->Top(), form_->Left() + form_->Width(), form_->Top() + form_->Height()};
  if (bounds == applied_) return;
  applied_ = bounds;
  // A maximized or minimized window has the size the system gives it; the
  // bounds are taken back from there.
  if (IsWindowVisible(window_) && (IsZoomed(window_) || IsIconic(window_))) return;
  ++applying_;
  SetWindowPos(window_, nullptr, bounds.Left, bounds.Top, std::max(1, bounds.Width()), std::max(1, bounds.Height()),
               SWP_NOZORDER | SWP_NOACTIVATE);
  --applying_;
}

void TWin32FormPeer::ReadBack() {
  if (!form_ || !window_ || !IsWindowVisible(window_) || IsIconic(window_)) return;
  RECT outer;
  GetWindowRect(window_, &outer);
  readingBack_ = true;
  form_->SetFrameExtents(FrameOf(window_));
  form_->SetBounds(outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top);
  readingBack_ = false;
  applied_ = TRect{form_->Left(), form_->Top(), form_->Left() + form_->Width(), form_->Top() + form_->Height()};
}

TWindowState TWin32FormPeer::ShownState() const {
  return IsIconic(window_) ? wsMinimized : IsZoomed(window_) ? wsMaximized : wsNormal;
}

void TWin32FormPeer::StateChanged() {
  // From the window's style, not from WM_SIZE: the system moves a window it
  // restores before it tells the new state.
  if (applying_ != 0 || !form_ || !window_) return;
  const TWindowState state = ShownState();
  if (state == form_->WindowState()) return;
  readingBack_ = true;
  form_->SetWindowState(state);
  readingBack_ = false;
  // Coming back from the task bar: the program paints its boxes again.
  if (state != wsMinimized) form_->InvalidatePaintBoxes();
}

void TWin32FormPeer::RememberMaximized() {
  GetWindowRect(window_, &maximized_);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &maximizedIn_, 0);
}

void TWin32FormPeer::KeepMaximized() {
  // A display without a window manager may hand a maximized window its
  // earlier size back, sooner or later (a slow start makes it later): the
  // window keeps the size it was maximized to. A new work area is the
  // system's to answer with a new size.
  if (!IsZoomed(window_) || maximized_.right <= maximized_.left) return;
  RECT workArea;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
  if (!EqualRect(&workArea, &maximizedIn_)) {
    RememberMaximized();
    return;
  }
  RECT now;
  GetWindowRect(window_, &now);
  if (EqualRect(&now, &maximized_)) return;
  ++applying_;
  SetWindowPos(window_, nullptr, maximized_.left, maximized_.top, maximized_.right - maximized_.left,
               maximized_.bottom - maximized_.top, SWP_NOZORDER | SWP_NOACTIVATE);
  --applying_;
}

void TWin32FormPeer::ClientResized(int width, int height) {
  if (!form_ || (anchorBase_.cx == width && anchorBase_.cy == height)) return;
  const SIZE from = anchorBase_;
  anchorBase_ = SIZE{width, height};
  form_->AnchorControls(from.cx, from.cy, width, height);
}

// ---- showing and closing

void TWin32FormPeer::Show(bool /*modal*/) {
  if (!form_) return;
  AddControlPeers();
  if (!window_) return;
  form_->SetFrameExtents(FrameOf(window_));

  CentreIfAsked(*form_, widgets_.WorkArea());
  // The design bounds are the restored window's, also for one shown maximized.
  Sync();

  ++applying_;
  switch (form_->WindowState()) {
    case wsMaximized: ShowWindow(window_, SW_SHOWMAXIMIZED); break;
    case wsMinimized: ShowWindow(window_, SW_SHOWMINIMIZED); break;
    case wsNormal: ShowWindow(window_, SW_SHOWNORMAL); break;
  }
  --applying_;
  if (!window_) return;
  if (IsZoomed(window_)) RememberMaximized();
  if (form_->WindowState() != wsMinimized) SetForegroundWindow(window_);
  UpdateWindow(window_);
  ReadBack();
  // Paint boxes get their first paint after the show handler, as on the desktop.
  form_->InvalidatePaintBoxes();
}

void TWin32FormPeer::Hide() {
  if (!window_) return;
  ++applying_;
  ShowWindow(window_, SW_HIDE);
  --applying_;
}

// ---- messages

LRESULT TWin32FormPeer::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // The window object decides (close question, close action) and hides
      // the window itself when it closes; the system never destroys it.
      if (TForm* form = form_) widgets_.Deliver([form] { form->Close(); });
      return 0;

    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) ClientResized(LOWORD(lParam), HIWORD(lParam));
      StateChanged();
      if (applying_ == 0) KeepMaximized();
      if (applying_ == 0) ReadBack();
      return 0;

    case WM_MOVE:
      StateChanged();
      if (applying_ == 0) ReadBack();
      return 0;

    case WM_COMMAND:
      if (lParam != 0) {
        auto child = children_.find(reinterpret_cast<HWND>(lParam));
        if (child != children_.end()) child->second->Command(HIWORD(wParam));
      } else if (HIWORD(wParam) == 0) {
        MenuCommand(LOWORD(wParam));
      }
      return 0;

    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      auto child = children_.find(header->hwndFrom);
      return child != children_.end() ? child->second->Notify(header) : 0;
    }

    case WM_ACTIVATE:
      // The control that had the focus gets it back when the window is
      // active again, as in a dialog.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window_, focus)) focus_ = focus;
      } else if (!HIWORD(wParam) && focus_ && IsWindow(focus_) && IsChild(window_, focus_)) {
        SetFocus(focus_);
        return 0;
      }
      break;

    case WM_INITMENUPOPUP:
      if (!HIWORD(lParam)) PopupOpening(reinterpret_cast<HMENU>(wParam));
      return 0;

    case WM_ENTERMENULOOP:
      inMenuLoop_ = true;
      return 0;

    case WM_EXITMENULOOP:
      inMenuLoop_ = false;
      if (rebuildAfterMenuLoop_) {
        rebuildAfterMenuLoop_ = false;
        SyncMenu();
      }
      return 0;

    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT) {
        // The screen cursor (the hourglass of a run) wins over every control's.
        TCursor cursor = widgets_.ScreenCursor();
        if (cursor == crDefault) {
          auto child = children_.find(reinterpret_cast<HWND>(wParam));
          if (child != children_.end()) cursor = child->second->Control().Cursor();
        }
        if (cursor != crDefault) {
          SetCursor(LoadCursorA(nullptr, Win32CursorName(cursor)));
          return TRUE;
        }
      }
      break;

    case WM_ERASEBKGND:
      if (background_) {
        RECT r;
        GetClientRect(window_, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, background_);
        return 1;
      }
      break;

    case WM_CTLCOLORSTATIC: {
      auto child = children_.find(reinterpret_cast<HWND>(lParam));
      if (child != children_.end()) {
        if (HBRUSH brush = child->second->StaticBackground(reinterpret_cast<HDC>(wParam))) {
          return reinterpret_cast<LRESULT>(brush);
        }
      }
      if (background_) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkColor(dc, RGB(ColorRed(backgroundColor_), ColorGreen(backgroundColor_), ColorBlue(backgroundColor_)));
        return reinterpret_cast<LRESULT>(background_);
      }
      break;
    }

    default:
      break;
  }
  return DefWindowProcA(window_, message, wParam, lParam);
}

LRESULT CALLBACK TWin32FormPeer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* peer = static_cast<TWin32FormPeer*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    peer->window_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(peer));
  }
  auto* peer = reinterpret_cast<TWin32FormPeer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == kDestroyLaterMessage && peer == nullptr) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_NCDESTROY) {
    if (TWin32WidgetSet* widgets = CurrentWidgetSet()) widgets->WindowGone(window);
    if (peer != nullptr) {
      // Destroyed by the system (with a window that owned it): the peer
      // keeps its object but has no window any more.
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      peer->window_ = nullptr;
      peer->children_.clear();
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }
  // Without its object the window only answers the system; its close box does nothing.
  if (peer == nullptr || peer->form_ == nullptr) {
    return message == WM_CLOSE ? 0 : DefWindowProcA(window, message, wParam, lParam);
  }
  TWin32WidgetSet& widgets = peer->widgets_;
  LRESULT result = 0;
  bool answered = false;
  widgets.Deliver([&] {
    result = peer->Handle(message, wParam, lParam);
    answered = true;
  });
  if (!answered && message != WM_CLOSE) return DefWindowProcA(window, message, wParam, lParam);
  return result;
}

}  // namespace planora
