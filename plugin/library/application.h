// The application object the plug-in's windows use. A host may store its
// own through RegisterApplication before Execute; otherwise the library
// makes one the first time it is needed: with the toolkit backend a build
// registers (see SetApplicationFactory) when there is a screen, else
// headless.
//
// Automation: the environment variable PLANORA_SCRIPT lists, separated by
// ';', menu item names ("Vorschau1;Fertigstellen1"), dialog answers ("ok",
// "abort", "cancel", "yes", "no"), "close" (close the topmost window as its
// close box would) and, on a screen, "shot:FILE.png" (save a picture of the
// topmost plug-in window, for documentation). Each Execute plays the script
// from its start. Steps are taken in order as if a user took them, also
// inside the modal loops that a step's handler opens:
//   - a menu item as soon as it can be chosen: its window is the topmost
//     modal one (or no window is modal), it and its parents are enabled, no
//     message box is up and the windows are not busy (hourglass);
//   - an answer on the message box that is up; a box that comes while the
//     next step is not an answer gets its default button;
//   - when the steps are used up, the windows still open are closed through
//     their normal close path, the topmost first, and a close question is
//     answered OK: the settings are written and the host is notified as
//     after a user's close.
// Headless, where nothing else can happen, a step that cannot be taken is
// reported on standard error and skipped, message boxes are also written to
// standard error, and the window is closed when there is nothing left to
// do even without a script. Automated hosts and tests drive the plug-in
// this way.
//
// The runners (headless here, the toolkit backends beside it) only wait,
// press a box's button and carry out what TScriptPlayer decides.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "platform/forms.h"

namespace planora {

// Makes the application object if there is none yet.
void EnsureApplication();

// A backend that can show real windows registers how to make its
// application object; the factory returns nullptr when it cannot (no
// screen), and the headless one is made instead.
void SetApplicationFactory(std::function<TApplication*()> factory);

// One step of PLANORA_SCRIPT.
struct TScriptStep {
  std::string MenuItem;  // empty for an answer, a close or a shot
  int Answer = mrNone;
  std::string Shot;  // a picture of the window to save
  bool Close = false;
};
std::deque<TScriptStep> ReadScript();

// The window a user can reach now: the topmost visible modal window, or
// without one the topmost visible window; nullptr when none is visible.
TForm* ReachableWindow(TApplication& app);

// The enabled menu item of that name in a window the user can reach (under
// a modal window only that window's own items), or nullptr (not there yet,
// or not to be chosen now).
TMenuItem* ChoosableMenuItem(TApplication& app, const std::string& name);

// Decides, step by step, what a script does next on an application's
// windows. A runner asks Next whenever it can act (on each tick of its own
// timer, or whenever its modal loop would wait) and carries out the answer.
class TScriptPlayer {
 public:
  explicit TScriptPlayer(TApplication& app) : app_(app) {}

  enum TKind {
    skIdle,    // nothing to do: no script, or it is done and no window is open
    skWait,    // the next step cannot be taken yet
    skClick,   // choose Item
    skAnswer,  // press the box's button with modal result Answer (mrNone: its default)
    skClose,   // close Window through its close path
    skShot,    // save a picture of the topmost window to Shot
  };
  struct TAction {
    TKind Kind = skIdle;
    TMenuItem* Item = nullptr;
    int Answer = mrNone;
    TForm* Window = nullptr;
    std::string Shot;
  };

  // Plays these steps from now on. closeWhenDone: when they are used up,
  // close the windows still open.
  void Restart(std::deque<TScriptStep> steps, bool closeWhenDone);
  // What to do now; the step is counted as taken when an action other than
  // skWait or skIdle is returned. boxUp: a message box is showing.
  TAction Next(bool boxUp);
  // Gives up the step at the front (a runner on which it can never be
  // taken); returns its text for a report.
  std::string Drop();
  // Forgets what is left: the run it belonged to is over.
  void Stop();
  bool Playing() const { return !steps_.empty() || closeWhenDone_; }

  // Called by Restart: a runner starts its timer here.
  std::function<void()> OnRestart;
  // A headless runner closes the windows at the end even without a script.
  bool AlwaysCloseWhenDone = false;

 private:
  TApplication& app_;
  std::deque<TScriptStep> steps_;
  bool closeWhenDone_ = false;
};

// A runner on real windows, whatever the toolkit: a timer of the toolkit's
// ticks (also inside modal loops) and calls Tick, which asks the player and
// carries out its answer. A step's handler may run a modal loop of its own
// (a message box, a help window), so a click or a close is not carried out
// inside the tick: it is queued as an event of its own (Queue), and the
// toolkit calls TakeQueuedStep when that event arrives, while the timer goes
// on ticking inside whatever loop the step opens.
class TTickingScriptRunner {
 public:
  explicit TTickingScriptRunner(TApplication& app);
  virtual ~TTickingScriptRunner();
  TTickingScriptRunner(const TTickingScriptRunner&) = delete;
  TTickingScriptRunner& operator=(const TTickingScriptRunner&) = delete;

 protected:
  void Tick();
  void TakeQueuedStep();
  TApplication& App() { return app_; }

  // The toolkit's part.
  virtual void StartTicks() = 0;
  virtual void StopTicks() = 0;
  virtual bool BoxUp() = 0;
  // Presses the box's button with that modal result; without one (or for
  // mrNone) its default button, as Enter would.
  virtual void PressBox(int answer) = 0;
  // Saves a picture of the window; false when it cannot.
  virtual bool SaveWindow(TForm& form, const std::string& path) = 0;
  // Arranges for TakeQueuedStep to be called from the event loop soon;
  // false when it cannot (the step is then dropped).
  virtual bool Queue() = 0;

 private:
  void Later(std::function<void()> step);
  void Shoot(const std::string& path);

  TApplication& app_;
  TScriptPlayer player_;
  std::function<void()> queued_;
  bool pending_ = false;
};

// The player of the application object the library made (nullptr for a
// host's own application object); a runner registers its player here.
void SetScriptPlayer(TScriptPlayer* player);
// Execute calls this before each window: the player reads PLANORA_SCRIPT
// anew and plays it from its start.
void RestartScript();
// Execute calls this when its window has gone: the rest of the script is
// dropped, so that nothing of it touches the host's own windows.
void EndScript();

}  // namespace planora
