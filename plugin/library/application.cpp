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

// Headless there is no waiting: each menu step is the next user action of
// the modal loop, each answer the next dialog's.
void QueueScript(TScriptedWidgetSet& ws, TApplication& app) {
  for (const TScriptStep& step : ReadScript()) {
    if (!step.Shot.empty()) continue;  // nothing to see without a screen
    if (step.MenuItem.empty()) {
      ws.AnswerDialogs({step.Answer});
      continue;
    }
    ws.Post([&app, name = step.MenuItem] {
      TMenuItem* item = ChoosableMenuItem(app, name);
      if (item == nullptr) throw Exception("No menu item \"" + name + "\" can be chosen in the open windows");
      item->Click();
    });
  }
}

}  // namespace

std::deque<TScriptStep> ReadScript() {
  std::deque<TScriptStep> steps;
  const char* script = std::getenv("PLANORA_SCRIPT");
  if (script == nullptr) return steps;
  std::istringstream in(script);
  for (std::string word; std::getline(in, word, ';');) {
    if (word.empty()) continue;
    const int answer = AnswerFor(word);
    if (word.rfind("shot:", 0) == 0) {
      steps.push_back(TScriptStep{"", mrNone, word.substr(5)});
    } else {
      steps.push_back(answer != mrNone ? TScriptStep{"", answer, ""} : TScriptStep{word, mrNone, ""});
    }
  }
  return steps;
}

TMenuItem* ChoosableMenuItem(TApplication& app, const std::string& name) {
  for (auto it = app.Forms().rbegin(); it != app.Forms().rend(); ++it) {
    if (!(*it)->Visible()) continue;
    TMenuItem* item = (*it)->FindMenuItem(name);
    if (item == nullptr) continue;
    for (const TMenuItem* m = item; m != nullptr; m = m->Parent())
      if (!m->Enabled()) return nullptr;
    return item;
  }
  return nullptr;
}

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
  QueueScript(ws, app);
}

}  // namespace planora
