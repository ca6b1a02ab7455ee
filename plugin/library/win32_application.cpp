// The plug-in's windows on Windows: the Win32 backend, made on the host's
// interface thread the first time Execute needs it and kept for the life of
// the DLL. Registered with the application module when the DLL is loaded.
#include <windows.h>

#include <functional>
#include <iostream>
#include <memory>

#include "platform/win32/win32widgetset.h"
#include "plugin/library/application.h"

namespace planora {

namespace {

constexpr UINT kTakeStep = WM_APP + 1;

// Carries out PLANORA_SCRIPT on real windows as the script player decides:
// on every tick it asks the player what to do now and does it, or waits.
// Ticks come inside every modal loop, ours and the system's.
//
// A click or a close is carried out from a message of its own, not inside
// the tick: its command may open a message box whose answer is the next
// step, and ticks do not nest.
class TWin32ScriptRunner {
 public:
  TWin32ScriptRunner(TApplication& app, TWin32WidgetSet& widgets) : app_(app), widgets_(widgets), player_(app) {
    mailbox_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (mailbox_ != nullptr) {
      SetWindowLongPtrA(mailbox_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      SetWindowLongPtrA(mailbox_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MailboxProc));
    }
    player_.OnRestart = [this] {
      pending_ = false;
      later_ = nullptr;
      if (player_.Playing()) widgets_.SetIdleTick([this] { Tick(); }, 50);
    };
    SetScriptPlayer(&player_);
  }
  ~TWin32ScriptRunner() {
    SetScriptPlayer(nullptr);
    widgets_.SetIdleTick({}, 0);
    if (mailbox_ != nullptr) DestroyWindow(mailbox_);
  }
  TWin32ScriptRunner(const TWin32ScriptRunner&) = delete;
  TWin32ScriptRunner& operator=(const TWin32ScriptRunner&) = delete;

 private:
  void Tick() {
    if (pending_) return;  // the last step has not started yet
    const bool boxUp = widgets_.DialogOpen();
    const TScriptPlayer::TAction a = player_.Next(boxUp);
    switch (a.Kind) {
      case TScriptPlayer::skIdle:
        widgets_.SetIdleTick({}, 0);
        return;
      case TScriptPlayer::skWait:
        return;
      case TScriptPlayer::skShot:
        Shoot(a.Shot);
        return;
      case TScriptPlayer::skAnswer:
        if (!boxUp) return;
        // The button with that result; without one (or for mrNone) the default, as Enter gives.
        if (a.Answer == mrNone || !widgets_.AnswerOpenDialog(a.Answer))
          PostMessageA(widgets_.DialogWindow(), WM_COMMAND, IDOK, 0);
        return;
      case TScriptPlayer::skClick: {
        const std::string name = a.Item->Name();
        Later([this, name] {
          // Still the item to choose: nothing in between took it away.
          if (TMenuItem* item = ChoosableMenuItem(app_, name)) item->Click();
        });
        return;
      }
      case TScriptPlayer::skClose: {
        TForm* window = a.Window;
        Later([this, window] {
          if (app_.Owns(window) && window->Visible()) window->Close();
        });
        return;
      }
    }
  }

  void Later(std::function<void()> step) {
    pending_ = true;
    later_ = std::move(step);
    if (mailbox_ == nullptr || !PostMessageA(mailbox_, kTakeStep, 0, 0)) pending_ = false;
  }

  static LRESULT CALLBACK MailboxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kTakeStep) return DefWindowProcA(window, message, wParam, lParam);
    auto* runner = reinterpret_cast<TWin32ScriptRunner*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    std::function<void()> step = std::move(runner->later_);
    runner->later_ = nullptr;
    runner->pending_ = false;
    // May run a modal loop of its own; ticks go on inside it.
    if (step) runner->widgets_.Deliver(step);
    return 0;
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
  TScriptPlayer player_;
  HWND mailbox_ = nullptr;
  std::function<void()> later_;
  bool pending_ = false;
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
