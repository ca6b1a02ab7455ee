// The plug-in's windows on Windows: the Win32 backend, made on the host's
// interface thread the first time Execute needs it and kept for the life of
// the DLL. Registered with the application module when the DLL is loaded.
#include <windows.h>

#include <deque>
#include <iostream>
#include <memory>

#include "platform/win32/win32widgetset.h"
#include "plugin/library/application.h"

namespace planora {

namespace {

constexpr UINT kChooseMenuItem = WM_APP + 1;

// Carries out PLANORA_SCRIPT on real windows: every tick it takes the next
// step if it can be taken now (an answer when a message dialog is up, a
// menu item when none is up, the windows are not busy and the item can be
// chosen) and otherwise waits. Ticks come inside every modal loop, ours and
// the system's.
//
// A menu item is chosen from a message of its own, not inside the tick: its
// command may open a message box whose answer is the next step, and ticks
// do not nest.
class TWin32ScriptRunner {
 public:
  TWin32ScriptRunner(TApplication& app, TWin32WidgetSet& widgets, std::deque<TScriptStep> steps)
      : app_(app), widgets_(widgets), steps_(std::move(steps)) {
    if (steps_.empty()) return;
    mailbox_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SetWindowLongPtrA(mailbox_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(mailbox_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MailboxProc));
    widgets_.SetIdleTick([this] { Tick(); }, 50);
  }
  ~TWin32ScriptRunner() {
    widgets_.SetIdleTick({}, 0);
    if (mailbox_ != nullptr) DestroyWindow(mailbox_);
  }
  TWin32ScriptRunner(const TWin32ScriptRunner&) = delete;
  TWin32ScriptRunner& operator=(const TWin32ScriptRunner&) = delete;

 private:
  void Tick() {
    if (steps_.empty()) {
      widgets_.SetIdleTick({}, 0);
      return;
    }
    const TScriptStep step = steps_.front();
    if (!step.Shot.empty()) {
      steps_.pop_front();
      Shoot(step.Shot);
      return;
    }
    if (!step.MenuItem.empty()) {
      // Not while a dialog is up, nor while a run lets messages through.
      if (widgets_.DialogOpen() || app_.ScreenCursor() != crDefault) return;
      if (choosing_ || ChoosableMenuItem(app_, step.MenuItem) == nullptr) return;
      choosing_ = true;
      PostMessageA(mailbox_, kChooseMenuItem, 0, 0);
      return;
    }
    if (widgets_.DialogOpen() && widgets_.AnswerOpenDialog(step.Answer)) steps_.pop_front();
  }

  static LRESULT CALLBACK MailboxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kChooseMenuItem) return DefWindowProcA(window, message, wParam, lParam);
    auto* runner = reinterpret_cast<TWin32ScriptRunner*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    runner->ChooseMenuItem();
    return 0;
  }

  // Checked again: things may have changed since the tick saw the item.
  void ChooseMenuItem() {
    choosing_ = false;
    if (steps_.empty() || steps_.front().MenuItem.empty()) return;
    TMenuItem* item = ChoosableMenuItem(app_, steps_.front().MenuItem);
    if (item == nullptr || widgets_.DialogOpen()) return;
    steps_.pop_front();
    // May run a modal loop of its own; ticks go on inside it.
    widgets_.Deliver([item] { item->Click(); });
  }

  void Shoot(const std::string& path) {
    for (auto it = app_.Forms().rbegin(); it != app_.Forms().rend(); ++it) {
      if (!(*it)->Visible()) continue;
      if (!widgets_.SaveWindowBitmap(**it, path)) std::cerr << "planora: cannot save " << path << "\n";
      return;
    }
  }

  TApplication& app_;
  TWin32WidgetSet& widgets_;
  std::deque<TScriptStep> steps_;
  HWND mailbox_ = nullptr;
  bool choosing_ = false;
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
  win32Side.Runner = std::make_unique<TWin32ScriptRunner>(*win32Side.App, *win32Side.Widgets, ReadScript());
  return win32Side.App.get();
}

struct TRegisterWin32 {
  TRegisterWin32() { SetApplicationFactory(MakeWin32Application); }
} registerWin32;

}  // namespace

}  // namespace planora
