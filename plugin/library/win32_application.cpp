// The plug-in's windows on Windows: the Win32 backend, made on the host's
// interface thread the first time Execute needs it and kept for the life of
// the DLL. Registered with the application module when the DLL is loaded.
#include <windows.h>

#include <memory>

#include "platform/win32/win32widgetset.h"
#include "plugin/library/application.h"

namespace planora {

namespace {

constexpr UINT kTakeStep = WM_APP + 1;

// Carries out PLANORA_SCRIPT on the Win32 windows: the widget set's idle
// tick (a thread timer, dispatched by every modal loop) ticks, and a step is
// queued as a message to a message-only window of the runner's own.
class TWin32ScriptRunner : public TTickingScriptRunner {
 public:
  TWin32ScriptRunner(TApplication& app, TWin32WidgetSet& widgets) : TTickingScriptRunner(app), widgets_(widgets) {
    mailbox_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (mailbox_ != nullptr) {
      SetWindowLongPtrA(mailbox_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      SetWindowLongPtrA(mailbox_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MailboxProc));
    }
  }
  ~TWin32ScriptRunner() override {
    widgets_.SetIdleTick({}, 0);
    if (mailbox_ != nullptr) DestroyWindow(mailbox_);
  }

 private:
  void StartTicks() override { widgets_.SetIdleTick([this] { Tick(); }, 50); }
  void StopTicks() override { widgets_.SetIdleTick({}, 0); }
  bool BoxUp() override { return widgets_.DialogOpen(); }

  void PressBox(int answer) override {
    // Without a button of that result (or for mrNone) the default, as Enter gives.
    if (answer == mrNone || !widgets_.AnswerOpenDialog(answer))
      PostMessageA(widgets_.DialogWindow(), WM_COMMAND, IDOK, 0);
  }

  bool SaveWindow(TForm& form, const std::string& path) override { return widgets_.SaveWindowBitmap(form, path); }

  bool Queue() override { return mailbox_ != nullptr && PostMessageA(mailbox_, kTakeStep, 0, 0); }

  static LRESULT CALLBACK MailboxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kTakeStep) return DefWindowProcA(window, message, wParam, lParam);
    auto* runner = reinterpret_cast<TWin32ScriptRunner*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    // May run a modal loop of its own; ticks go on inside it. Nothing may
    // unwind through the system.
    runner->widgets_.Deliver([runner] { runner->TakeQueuedStep(); });
    return 0;
  }

  TWin32WidgetSet& widgets_;
  HWND mailbox_ = nullptr;
};

struct TWin32Side {
  std::unique_ptr<TWin32WidgetSet> Widgets;
  std::unique_ptr<TApplication> App;
  std::unique_ptr<TWin32ScriptRunner> Runner;
  ~TWin32Side() {
    // At DLL unload the windows are gone with the host's process or were
    // closed by their runs; only our objects remain to be freed.
    Runner.reset();
    if (App && Application == App.get()) Application = nullptr;
    App.reset();
    Widgets.reset();
  }
};
TWin32Side win32Side;

TApplication* MakeWin32Application() {
  win32Side.Widgets = std::make_unique<TWin32WidgetSet>();
  win32Side.App = std::make_unique<TApplication>(*win32Side.Widgets);
  win32Side.Runner = std::make_unique<TWin32ScriptRunner>(*win32Side.App, *win32Side.Widgets);
  return win32Side.App.get();
}

struct TRegisterWin32 {
  TRegisterWin32() { SetApplicationFactory(MakeWin32Application); }
} registerWin32;

}  // namespace

}  // namespace planora
