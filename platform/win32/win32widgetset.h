// The Win32 backend of the platform layer, on USER32, GDI32 and COMCTL32:
// windows become top-level windows with their main menu, controls become
// child windows of the system's classes (paint boxes a class of our own),
// message dialogs are small modal windows of our own that carry the
// framework's texts, and the modal loops run on the thread's message queue.
//
//   TWin32WidgetSet widgets;       // on the thread that will own the windows
//   TApplication app(widgets);
//   auto* form = app.CreateForm<TMyForm>();
//   form->ShowModal();
//
// Texts are in the Windows ANSI code page (the "A" functions throughout).
// Every window belongs to the thread that made the widget set; other threads
// may only draw on paint boxes (their peers hand the change over).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/forms.h"

namespace planora {

// The system cursor (an IDC_ resource name) for a cursor of the platform
// layer; crDefault and unknown cursors give the arrow.
LPCSTR Win32CursorName(TCursor cursor);

class TWin32MessageDialog;

class TWin32WidgetSet : public TWidgetSet, public TInputDelivery {
 public:
  // Registers the window classes and loads the common controls. One widget
  // set per process; it must outlive the application object and its windows.
  TWin32WidgetSet();
  ~TWin32WidgetSet() override;
  TWin32WidgetSet(const TWin32WidgetSet&) = delete;
  TWin32WidgetSet& operator=(const TWin32WidgetSet&) = delete;

  // ---- hooks for automation (the plug-in's script runner) and tests

  // The window of a form, once it has been shown (nullptr before and after).
  HWND WindowOf(const TForm& form) const;
  // The child window of a control, once its form has been shown.
  HWND WindowOf(const TControl& control) const;
  // True while a message dialog of this widget set is open.
  bool DialogOpen() const { return !dialogs_.empty(); }
  // The innermost open message dialog's window (nullptr when none): its
  // caption, text and buttons can be read back with GetWindowText.
  HWND DialogWindow() const;
  // Presses the button of the innermost open message dialog whose modal
  // result is modalResult, as a click would; false if it has none.
  bool AnswerOpenDialog(int modalResult);
  // Writes the form's window as it is on the screen (frame and menu
  // included) to a 24-bit .bmp file; false if the window is not shown or
  // the file cannot be written.
  bool SaveWindowBitmap(const TForm& form, const std::string& path) const;
  // Runs tick every `milliseconds` on the interface thread, also inside
  // nested modal loops (the system's and ours): a thread timer. A tick that
  // is still running is not entered again. An empty function stops it.
  void SetIdleTick(std::function<void()> tick, unsigned milliseconds);

  // ---- TWidgetSet
  void ShowForm(TForm& form, bool modal) override;
  void HideForm(TForm& form) override;
  void FormDestroyed(TForm& form) override;
  // Waits for one message and handles it. WM_QUIT is put back for the
  // caller's own loop and ends the run with an exception.
  void HandleMessage() override;
  void ProcessMessages() override;
  int MessageDlg(const std::string& caption, const std::string& text, TMsgDlgType type,
                 const TMsgDlgButtons& buttons) override;
  void SetScreenCursor(TCursor cursor) override;
  TRect WorkArea() const override;

  // ---- for the peers

  // Deliver and RethrowPending (TInputDelivery): nothing unwinds through a
  // window procedure.

  TCursor ScreenCursor() const { return screenCursor_; }
  // A font of the given name and height, made once and kept for the widget
  // set's life (controls share them).
  HFONT Font(const TFont& font);
  DWORD Thread() const { return thread_; }
  // The window is to go once the message that freed its object has returned.
  void DestroyLater(HWND window);
  // A window of ours reached WM_NCDESTROY.
  void WindowGone(HWND window);

  // Disables the thread's other top-level windows for a modal run and
  // remembers where the focus was; Restore gives both back.
  struct TModalState {
    HWND Window = nullptr;
    std::vector<HWND> Disabled;
    HWND Focus = nullptr;
    HWND Active = nullptr;
  };
  static TModalState BeginModal(HWND window);
  static void EndModal(TModalState& state);

  // Translates and dispatches one message of the thread's queue (the message
  // dialogs' keys go to the dialog manager first).
  void Dispatch(MSG& msg);

  // The message dialogs open now, innermost last (kept by the dialogs).
  void PushDialog(TWin32MessageDialog* dialog) { dialogs_.push_back(dialog); }
  void PopDialog(TWin32MessageDialog* dialog);

 private:
  static void CALLBACK TickProc(HWND, UINT, UINT_PTR, DWORD);

  DWORD thread_;
  TCursor screenCursor_ = crDefault;
  std::map<std::pair<std::string, int>, HFONT> fonts_;
  std::vector<HWND> dying_;
  std::vector<std::pair<const TForm*, TModalState>> modalForms_;
  std::vector<TWin32MessageDialog*> dialogs_;
  std::function<void()> tick_;
  UINT_PTR tickTimer_ = 0;
  bool ticking_ = false;
};

}  // namespace planora
