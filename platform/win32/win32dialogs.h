// The message dialog of the Win32 backend. The system's MessageBox cannot
// carry the framework's button texts, so the dialog is a small window of our
// own: an icon, the text and one button per answer. Internal to platform/win32/.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/win32widgetset.h"

namespace planora {

// The button Escape and the dialog's close box answer with: Cancel, else No,
// else OK, as the framework's dialogs do.
TMsgDlgBtn EscapeButton(const TMsgDlgButtons& buttons);

class TWin32MessageDialog {
 public:
  TWin32MessageDialog(TWin32WidgetSet& widgets, const std::string& caption, const std::string& text,
                      TMsgDlgType type, const TMsgDlgButtons& buttons);
  ~TWin32MessageDialog();
  TWin32MessageDialog(const TWin32MessageDialog&) = delete;
  TWin32MessageDialog& operator=(const TWin32MessageDialog&) = delete;

  // Shows the dialog and runs its modal loop; the modal result of the button
  // chosen, mrCancel when the dialog went without one (its owner was destroyed).
  int Run();
  HWND Window() const { return window_; }
  // Clicks the button with this modal result; false if there is none.
  bool Press(int modalResult);

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  struct Button {
    TMsgDlgBtn Kind;
    HWND Window;
    int Id;
  };

  void Layout(const std::string& text, TMsgDlgType type);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Answer(TMsgDlgBtn button);

  TWin32WidgetSet& widgets_;
  TMsgDlgBtn default_;
  TMsgDlgBtn escape_;
  std::vector<Button> buttons_;
  HWND window_ = nullptr;
  HWND owner_ = nullptr;
  HFONT font_ = nullptr;
  bool done_ = false;
  int result_ = mrCancel;
};

}  // namespace planora
