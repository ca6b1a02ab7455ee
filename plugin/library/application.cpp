#include "plugin/library/application.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/headless/headless.h"
#include "platform/sysutils.h"

namespace planora {

namespace {

std::function<TApplication*()>& Factory() {
  static std::function<TApplication*()> factory;
  return factory;
}

// The headless widget set of a library without a screen: actions from the
// script, dialogs echoed to standard error.
class TScriptedWidgetSet : public THeadlessWidgetSet {
 public:
  int MessageDlg(const std::string& caption, const std::string& text, TMsgDlgType type,
                 const TMsgDlgButtons& buttons) override {
    const int answer = THeadlessWidgetSet::MessageDlg(caption, text, type, buttons);
    std::cerr << "planora: [" << caption << "] " << text << "\n";
    return answer;
  }
};

int AnswerFor(const std::string& word) {
  if (word == "ok") return mrOk;
  if (word == "abort") return mrAbort;
  if (word == "cancel") return mrCancel;
  if (word == "yes") return mrYes;
  if (word == "no") return mrNo;
  return mrNone;
}

// Queues the script's steps: menu clicks on the window that is open when
// each step comes, and dialog answers.
void QueueScript(TScriptedWidgetSet& ws, TApplication& app, const std::string& script) {
  std::istringstream in(script);
  for (std::string step; std::getline(in, step, ';');) {
    if (step.empty()) continue;
    if (const int answer = AnswerFor(step); answer != mrNone) {
      ws.AnswerDialogs({answer});
      continue;
    }
    ws.Post([&app, step] {
      for (auto it = app.Forms().rbegin(); it != app.Forms().rend(); ++it) {
        if (TMenuItem* item = (*it)->FindMenuItem(step)) {
          item->Click();
          return;
        }
      }
      throw Exception("No menu item \"" + step + "\" in the open windows");
    });
  }
}

}  // namespace

void SetApplicationFactory(std::function<TApplication*()> factory) { Factory() = std::move(factory); }

void EnsureApplication() {
  if (Application != nullptr) return;
  if (Factory()) {
    if (TApplication* app = Factory()()) {
      Application = app;
      return;
    }
  }
  // Kept for the life of the library, as a host's own would be; gone with it
  // when the host unloads the library.
  static TScriptedWidgetSet ws;
  static TApplication app(ws);
  Application = &app;
  if (const char* script = std::getenv("PLANORA_HEADLESS_SCRIPT")) QueueScript(ws, app, script);
}

}  // namespace planora
