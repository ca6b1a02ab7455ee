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

TScriptPlayer*& Player() {
  static TScriptPlayer* player = nullptr;
  return player;
}

int AnswerFor(const std::string& word) {
  if (word == "ok") return mrOk;
  if (word == "abort") return mrAbort;
  if (word == "cancel") return mrCancel;
  if (word == "yes") return mrYes;
  if (word == "no") return mrNo;
  return mrNone;
}

std::string Describe(const TScriptStep& step) {
  if (!step.MenuItem.empty()) return "menu item \"" + step.MenuItem + "\"";
  if (step.Close) return "close";
  if (!step.Shot.empty()) return "shot:" + step.Shot;
  return "answer " + std::to_string(step.Answer);
}

// The headless runner of a library without a screen. Nothing but the script
// can happen here, so its modal loops take the next step whenever they
// would wait, and a step that cannot be taken now never can be.
class TScriptedWidgetSet : public THeadlessWidgetSet {
 public:
  TScriptPlayer* Script = nullptr;

  int MessageDlg(const std::string& caption, const std::string& text, TMsgDlgType type,
                 const TMsgDlgButtons& buttons) override {
    if (Script != nullptr) {
      const TScriptPlayer::TAction a = Script->Next(true);
      if (a.Kind == TScriptPlayer::skAnswer && a.Answer != mrNone) AnswerDialogs({a.Answer});
    }
    const int answer = THeadlessWidgetSet::MessageDlg(caption, text, type, buttons);
    std::cerr << "planora: [" << caption << "] " << text << "\n";
    return answer;
  }

  void HandleMessage() override {
    while (Script != nullptr && PendingActions() == 0) {
      const TScriptPlayer::TAction a = Script->Next(false);
      if (a.Kind == TScriptPlayer::skClick) {
        Post([item = a.Item] { item->Click(); });
      } else if (a.Kind == TScriptPlayer::skClose) {
        // A window that will not close would be asked for ever.
        if (++closes_ > kMaxCloses) break;
        Post([window = a.Window] { window->Close(); });
      } else if (a.Kind == TScriptPlayer::skWait) {
        std::cerr << "planora: script step " << Script->Drop() << " cannot be taken in the open windows; skipped\n";
      } else if (a.Kind != TScriptPlayer::skShot) {
        break;  // nothing to see without a screen; idle: the loop gives up
      }
    }
    THeadlessWidgetSet::HandleMessage();
  }

  void Restarted() { closes_ = 0; }

 private:
  static constexpr int kMaxCloses = 16;
  int closes_ = 0;
};

}  // namespace

std::deque<TScriptStep> ReadScript() {
  std::deque<TScriptStep> steps;
  const char* script = std::getenv("PLANORA_SCRIPT");
  if (script == nullptr) return steps;
  std::istringstream in(script);
  for (std::string word; std::getline(in, word, ';');) {
    if (word.empty()) continue;
    TScriptStep step;
    if (word.rfind("shot:", 0) == 0) {
      step.Shot = word.substr(5);
    } else if (word == "close") {
      step.Close = true;
    } else if (const int answer = AnswerFor(word); answer != mrNone) {
      step.Answer = answer;
    } else {
      step.MenuItem = word;
    }
    steps.push_back(step);
  }
  return steps;
}

TForm* ReachableWindow(TApplication& app) {
  TForm* topmost = nullptr;
  for (auto it = app.Forms().rbegin(); it != app.Forms().rend(); ++it) {
    if (!(*it)->Visible()) continue;
    if ((*it)->Modal()) return it->get();
    if (topmost == nullptr) topmost = it->get();
  }
  return topmost;
}

TMenuItem* ChoosableMenuItem(TApplication& app, const std::string& name) {
  TForm* reachable = ReachableWindow(app);
  if (reachable == nullptr) return nullptr;
  const auto enabled = [](TMenuItem* item) {
    for (const TMenuItem* m = item; m != nullptr; m = m->Parent())
      if (!m->Enabled()) return false;
    return true;
  };
  // A modal window blocks every other window's menu.
  if (reachable->Modal()) {
    TMenuItem* item = reachable->FindMenuItem(name);
    return item != nullptr && enabled(item) ? item : nullptr;
  }
  for (auto it = app.Forms().rbegin(); it != app.Forms().rend(); ++it) {
    if (!(*it)->Visible()) continue;
    TMenuItem* item = (*it)->FindMenuItem(name);
    if (item == nullptr) continue;
    return enabled(item) ? item : nullptr;
  }
  return nullptr;
}

void TScriptPlayer::Restart(std::deque<TScriptStep> steps, bool closeWhenDone) {
  steps_ = std::move(steps);
  closeWhenDone_ = closeWhenDone || AlwaysCloseWhenDone;
  if (OnRestart) OnRestart();
}

TScriptPlayer::TAction TScriptPlayer::Next(bool boxUp) {
  TAction a;
  // While the windows are busy (the hourglass shows; a run lets messages
  // through) only a message box can be answered.
  const bool busy = app_.ScreenCursor() != crDefault;
  if (!steps_.empty()) {
    const TScriptStep& step = steps_.front();
    if (!step.Shot.empty()) {
      a.Kind = skShot;
      a.Shot = step.Shot;
      steps_.pop_front();
      return a;
    }
    if (step.Answer != mrNone) {
      if (!boxUp) {
        a.Kind = skWait;
        return a;
      }
      a.Kind = skAnswer;
      a.Answer = step.Answer;
      steps_.pop_front();
      return a;
    }
    if (boxUp) {
      // The script goes on after the box: the box gets its default button.
      a.Kind = skAnswer;
      return a;
    }
    a.Kind = skWait;
    if (busy) return a;
    if (step.Close) {
      if (TForm* window = ReachableWindow(app_)) {
        a.Kind = skClose;
        a.Window = window;
        steps_.pop_front();
      }
      return a;
    }
    if (TMenuItem* item = ChoosableMenuItem(app_, step.MenuItem)) {
      a.Kind = skClick;
      a.Item = item;
      steps_.pop_front();
    }
    return a;
  }
  if (!closeWhenDone_) return a;  // idle
  TForm* window = ReachableWindow(app_);
  if (window == nullptr) return a;  // idle: everything is closed
  if (boxUp) {
    // The close question, and whatever else comes on the way out: OK.
    a.Kind = skAnswer;
    a.Answer = mrOk;
    return a;
  }
  if (busy) {
    a.Kind = skWait;
    return a;
  }
  a.Kind = skClose;
  a.Window = window;
  return a;
}

void TScriptPlayer::Stop() {
  steps_.clear();
  closeWhenDone_ = false;
}

std::string TScriptPlayer::Drop() {
  if (steps_.empty()) return {};
  const std::string text = Describe(steps_.front());
  steps_.pop_front();
  return text;
}

void SetScriptPlayer(TScriptPlayer* player) { Player() = player; }

TTickingScriptRunner::TTickingScriptRunner(TApplication& app) : app_(app), player_(app) {
  // Virtual calls are safe here: Restart comes from Execute, long after construction.
  player_.OnRestart = [this] {
    pending_ = false;
    queued_ = nullptr;
    if (player_.Playing()) StartTicks();
  };
  SetScriptPlayer(&player_);
}

TTickingScriptRunner::~TTickingScriptRunner() {
  if (Player() == &player_) SetScriptPlayer(nullptr);
}

void TTickingScriptRunner::Tick() {
  if (pending_) return;  // the last step has not started yet
  const bool boxUp = BoxUp();
  const TScriptPlayer::TAction a = player_.Next(boxUp);
  switch (a.Kind) {
    case TScriptPlayer::skIdle:
      StopTicks();
      return;
    case TScriptPlayer::skWait:
      return;
    case TScriptPlayer::skShot:
      Shoot(a.Shot);
      return;
    case TScriptPlayer::skAnswer:
      if (boxUp) PressBox(a.Answer);
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

void TTickingScriptRunner::Later(std::function<void()> step) {
  queued_ = std::move(step);
  pending_ = Queue();
  if (!pending_) queued_ = nullptr;
}

void TTickingScriptRunner::TakeQueuedStep() {
  std::function<void()> step = std::move(queued_);
  queued_ = nullptr;
  pending_ = false;
  if (step) step();
}

void TTickingScriptRunner::Shoot(const std::string& path) {
  for (auto it = app_.Forms().rbegin(); it != app_.Forms().rend(); ++it) {
    if (!(*it)->Visible()) continue;
    if (!SaveWindow(**it, path)) std::cerr << "planora: cannot save " << path << "\n";
    return;
  }
}

void RestartScript() {
  if (TScriptPlayer* player = Player()) player->Restart(ReadScript(), std::getenv("PLANORA_SCRIPT") != nullptr);
}

void EndScript() {
  if (TScriptPlayer* player = Player()) player->Stop();
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
  static TScriptPlayer player(app);
  player.AlwaysCloseWhenDone = true;
  player.OnRestart = [] { ws.Restarted(); };
  ws.Script = &player;
  SetScriptPlayer(&player);
  Application = &app;
}

}  // namespace planora
