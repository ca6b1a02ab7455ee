// Shared set-up of the Win32 backend tests: a widget set and an application
// object per test, a host window that plays the host program's main window,
// and a script that plays the user from the idle tick while a modal loop runs.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/win32widgetset.h"
// after windows.h
#include <commctrl.h>

namespace planora::test {

inline std::string WindowText(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

inline std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The direct children of a window, in creation order.
inline std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> out;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) out.push_back(child);
  return out;
}

class Win32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    widgets_ = std::make_unique<TWin32WidgetSet>();
    app_ = std::make_unique<TApplication>(*widgets_);
    host_ = CreateWindowExA(0, "STATIC", "Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 200, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    SetForegroundWindow(host_);
    SetFocus(host_);
  }

  void TearDown() override {
    widgets_->SetIdleTick({}, 0);
    app_.reset();
    widgets_->ProcessMessages();
    DestroyWindow(host_);
    widgets_.reset();
  }

  // Handles messages until `done` holds or the time is up.
  bool PumpUntil(const std::function<bool()>& done, int milliseconds = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      widgets_->ProcessMessages();
      Sleep(5);
    }
    return true;
  }

  // Plays the user during a modal run: each step runs on a tick of the
  // interface thread and returns true when it is done. A run that does not
  // get through its steps in time fails the test and is ended, instead of
  // hanging: open dialogs are confirmed and the window given a result.
  void Script(std::vector<std::function<bool()>> steps, TForm* form, int milliseconds = 5000) {
    steps_.assign(steps.begin(), steps.end());
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    widgets_->SetIdleTick(
        [this, end, form] {
          if (std::chrono::steady_clock::now() > end) {
            ADD_FAILURE() << "the script did not finish; " << steps_.size() << " steps left";
            steps_.clear();
            while (widgets_->DialogOpen() && widgets_->AnswerOpenDialog(mrOk)) {}
            if (form && app_->Owns(form)) form->SetModalResult(mrCancel);
            return;
          }
          if (!steps_.empty() && steps_.front()()) steps_.pop_front();
        },
        20);
  }

  bool ScriptDone() const { return steps_.empty(); }

  std::unique_ptr<TWin32WidgetSet> widgets_;
  std::unique_ptr<TApplication> app_;
  HWND host_ = nullptr;

 private:
  std::deque<std::function<bool()>> steps_;
};

}  // namespace planora::test
