// The peers of the Win32 backend: what stands between a window or control
// object of the platform layer and its window handle. Internal to platform/win32/.
//
// Lifetimes: a peer belongs to its control or window object, a window handle
// to the system. The form's window keeps a pointer to its peer (the window's
// user data) and the peer clears it when the object goes; the window itself
// is hidden at once and destroyed later, because the object may go from
// inside one of the window's own messages (a window freed from its close box
// or from one of its menu commands). Child windows go with their form window.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/win32/win32widgetset.h"

namespace planora {

// Window classes of this backend.
inline constexpr const char* kFormClass = "PlanoraForm";
inline constexpr const char* kPaintBoxClass = "PlanoraPaintBox";
inline constexpr const char* kMessageDialogClass = "PlanoraMessageDlg";

// Posted to a form window whose object went: the window destroys itself.
inline constexpr UINT kDestroyLaterMessage = WM_APP + 1;

// The module (DLL or program) the backend is linked into; its classes are registered there.
HINSTANCE ModuleInstance();
// Registers the classes above unless they are; the last widget set
// unregisters them, so that a DLL unloaded and loaded again registers its new code.
void RegisterWindowClasses();
void UnregisterWindowClasses();
LRESULT CALLBACK PaintBoxWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The widget set that exists now (nullptr when none).
TWin32WidgetSet* CurrentWidgetSet();

class TWin32ControlPeer;

class TWin32FormPeer : public TPeer {
 public:
  TWin32FormPeer(TWin32WidgetSet& widgets, TForm& form);
  ~TWin32FormPeer() override;

  void Sync() override;

  HWND Window() const { return window_; }
  TForm* Form() const { return form_; }

  // Makes the window (owned by `owner`) and peers for the controls that have none yet.
  void AddControlPeers();
  void Show(bool modal);
  void Hide();
  // The window object is being destroyed: forget it and put the window away.
  void Detach();

  void RegisterChild(HWND child, TWin32ControlPeer* peer) { children_[child] = peer; }
  void UnregisterChild(HWND child) { children_.erase(child); }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:

  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateWindowHandle();
  DWORD Style() const;
  void SyncWindow();
  void SyncMenu();
  void BuildMenu();
  void BuildItems(const TMenuItem& parent, HMENU menu);
  void UpdateItem(const TMenuItem& item, HMENU menu, UINT id);
  void ApplyGeometry();
  void ReadBack();
  void ClientResized(int width, int height);
  void StateChanged();
  TWindowState ShownState() const;
  void KeepMaximized();
  void RememberMaximized();
  void MenuCommand(UINT id);
  void PopupOpening(HMENU popup);

  TWin32WidgetSet& widgets_;
  TForm* form_;
  HWND window_ = nullptr;
  // Lets code inside this peer see that the peer itself was destroyed.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::unordered_map<HWND, TWin32ControlPeer*> children_;

  HMENU menu_ = nullptr;
  std::vector<TMenuShape> menuShape_;
  // Command identifiers of the items, and the submenu of each item that has one.
  struct MenuEntry {
    const TMenuItem* Item;
    HMENU Container;
    UINT Id;
    HMENU Submenu;
  };
  std::vector<MenuEntry> entries_;
  bool inMenuLoop_ = false;
  bool rebuildAfterMenuLoop_ = false;

  // Our own changes to the window do not come back as the user's.
  int applying_ = 0;
  bool readingBack_ = false;
  TRect applied_{-1, -1, -1, -1};
  DWORD style_ = 0;
  // The outer rectangle the window had when the system last maximized it.
  RECT maximized_{0, 0, 0, 0};
  RECT maximizedIn_{0, 0, 0, 0};  // the work area it was maximized in
  HBRUSH background_ = nullptr;
  TColor backgroundColor_ = clBtnFace;
  // The control that had the focus when the window was last deactivated.
  HWND focus_ = nullptr;
  // The client size the controls' positions were last anchored to.
  SIZE anchorBase_{0, 0};
};

// A control's child window inside its form's window.
class TWin32ControlPeer : public TPeer {
 public:
  TWin32ControlPeer(TWin32WidgetSet& widgets, TControl& control, TWin32FormPeer& form);
  ~TWin32ControlPeer() override;

  void Sync() override;
  HWND Window() const { return window_; }
  TControl& Control() const { return control_; }

  // Notifications the form window receives for this control (WM_COMMAND
  // codes, WM_NOTIFY headers).
  virtual void Command(WORD /*code*/) {}
  virtual LRESULT Notify(NMHDR* /*header*/) { return 0; }
  // The background of a control the system draws as static (labels,
  // read-only fields); nullptr for the window's own.
  virtual HBRUSH StaticBackground(HDC /*dc*/) { return nullptr; }

 protected:
  // Makes the child window(s); called at once and whenever Style() changes.
  void Create();
  virtual const char* ClassName() const = 0;
  virtual DWORD Style() const { return 0; }
  virtual DWORD ExStyle() const { return 0; }
  virtual void AfterCreate() {}
  virtual void DestroyExtra() {}
  virtual void SyncOwn() {}
  virtual void SyncBounds(const RECT& r);
  // Labels without a size take the size of their text.
  virtual bool AutoSize() const { return false; }
  // SetWindowText that does not come back as the user's typing.
  void SetText(HWND window, const std::string& text);

  TWin32WidgetSet& widgets_;
  TControl& control_;
  TWin32FormPeer& form_;
  HWND window_ = nullptr;
  bool settingText_ = false;

 private:
  DWORD createdStyle_ = 0;
  HFONT font_ = nullptr;
  RECT bounds_{-1, -1, -1, -1};
};

// Gives a control its peer and child window; nullptr for a kind of control
// the backend does not know.
std::unique_ptr<TPeer> MakeControlPeer(TWin32WidgetSet& widgets, TControl& control, TWin32FormPeer& form);

HWND ControlWindow(const TPeer* peer);

}  // namespace planora
